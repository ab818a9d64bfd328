#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tessaly::sim {

// Instead of the exchange, the box can echo what the host sends, as a jumper from TX to RX does
// (for checking an adapter and cable); garbled, it echoes the bytes as a reader at twice the
// line's baud rate would see them.
enum class Loopback { Off, Echo, Garbled };

// How the simulated box behaves. The defaults give a well-behaved box serving a fixed,
// recognisable image as fast as its wire goes.
struct SimOptions {
    std::array<std::uint8_t, 1024> image = recognisableImage();
    bool wrongChecksum = false;
    // Stop answering after this host message (1 to 10) has arrived; the box stays connected.
    std::optional<int> silentAfterMessage;
    // Answer this many complete reads, then stay silent (still connected) in every exchange after.
    std::optional<int> readsThenSilent;
    // Hang up after this many bytes of the reply have been sent (0 to 1024).
    std::optional<int> disconnectAfterReplyBytes;
    // Write every token one byte at a time, each in its own write.
    bool splitTokens = false;
    // Bytes of line noise sent before each token.
    int noiseBeforeTokens = 0;
    Loopback loopback = Loopback::Off;
    // Pace both directions at this rate (8N1, 10 bits a byte); 0 goes as fast as possible.
    int baud = 0;
    // With a baud rate: bursts of this many microseconds of wire time both ways, each when its last
    // byte is due (far fewer wake-ups when one process hosts many boxes); 0 goes byte by byte.
    int paceStepMicroseconds = 0;

    // Hostile behaviour, for hosts that must cope with a misbehaving box.
    // Written onto the wire before the host opens it; a host must flush them.
    QByteArray staleBytes;
    // Bytes sent after the 1025-byte reply, making it overlong.
    int extraReplyBytes = 0;
    // Tokens in lower case ("pc___"), which a host must not accept.
    bool lowerCaseTokens = false;
    // Seeds the noise and the extra reply bytes, so that a run can be repeated.
    std::uint32_t seed = 1;

    static std::array<std::uint8_t, 1024> recognisableImage();
};

// One way the box can be asked to misbehave: an option of tessaly-stb-sim ("--noise 40") and an
// item of the built-in box's list ("noise=40").
struct BoxMisbehaviour {
    const char* name;
    const char* valueName;  // nullptr for a plain switch
    int lowest;
    int highest;
    const char* help;
    void (*apply)(SimOptions& options, int value);

    // Sets `options` as asked, reading `value` with wholeNumber().
    void applyTo(SimOptions& options, const QString& value, const QString& subject) const;
};

std::span<const BoxMisbehaviour> boxMisbehaviours();

// The whole number `value` holds from `lowest` to `highest`; throws std::invalid_argument naming
// `subject` for anything else.
int wholeNumber(const QString& value, int lowest, int highest, const QString& subject);

// The list's items as the built-in box takes them: "wrong-checksum, silent-after=N, ...".
QString boxBehaviourItems();

// How the built-in box should misbehave, from a comma-separated list of the items above:
// "wrong-checksum,silent-after=5,split-tokens,noise=40". An empty list is a well-behaved box.
// Throws std::invalid_argument with a sentence that names the offending item.
SimOptions boxBehaviourFrom(const QString& list);

}  // namespace tessaly::sim
