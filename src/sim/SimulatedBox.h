#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace tessaly::sim {

// How the simulated box behaves. The defaults give a well-behaved box serving a fixed,
// recognisable image as fast as its wire goes.
struct SimOptions {
    std::array<std::uint8_t, 1024> image = recognisableImage();
    bool wrongChecksum = false;
    // Stop answering after this host message (1 to 10) has arrived; the box stays connected.
    std::optional<int> silentAfterMessage;
    // Hang up after this many bytes of the reply have been sent (0 to 1024).
    std::optional<int> disconnectAfterReplyBytes;
    // Write every token one byte at a time, each in its own write.
    bool splitTokens = false;
    // Bytes of line noise sent before each token.
    int noiseBeforeTokens = 0;
    // Pace both directions at this rate (8N1, 10 bits a byte); 0 goes as fast as possible.
    int baud = 0;
    // With a baud rate: send and take bytes in bursts of this many microseconds of wire time,
    // each when its last byte is due, rather than byte by byte (the same 10 bits a byte on
    // average, far fewer wake-ups when one process hosts many boxes). 0 goes byte by byte.
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

// The wire a simulated box talks over: the box reads what the host sent, writes what it answers
// and can hang up. Kept apart from the exchange so that the box runs on a pseudo-terminal where
// there are some and inside the program everywhere.
class BoxWire : public QObject {
    Q_OBJECT
public:
    // The name the host opens.
    virtual QString devicePath() const = 0;
    // Whatever the host sent and the box has not read; never blocks.
    virtual QByteArray readAvailable() = 0;
    // Writes as much as the wire takes now; returns the count written (may be short).
    virtual qsizetype writeSome(const QByteArray& bytes) = 0;
    // Bytes written that the host has not read yet. Hanging up discards them on some wires, so a
    // hang-up meant to come after them waits until this is zero.
    virtual qsizetype unreadByProgram() const = 0;
    // Hangs up: the host sees the device go away.
    virtual void close() = 0;
    // Whether readable() and writable() are emitted.
    virtual void watchReadable(bool on) = 0;
    virtual void watchWritable(bool on) = 0;

signals:
    // The host sent something.
    void readable();
    // Room again after a short write.
    void writable();
};

// A set-top box in "HOST - MODE" on a wire of its own. It checks every byte the host sends
// against its own table of the exchange and serves dumps until destroyed.
class SimulatedBox : public QObject {
    Q_OBJECT
public:
    ~SimulatedBox() override;

    QString devicePath() const;
    // Everything the host sent, byte for byte, since the start.
    const QByteArray& transcript() const { return transcript_; }
    // Dumps the host acknowledged, with success and with error.
    int successAcknowledgements() const { return successAcks_; }
    int errorAcknowledgements() const { return errorAcks_; }
    // Each time the host sent something the box did not expect: what and where.
    const QStringList& deviations() const { return deviations_; }

signals:
    void acknowledged(bool success);
    void hostDeviated(const QString& what);
    void hungUp();
    // Bytes from the host, as they arrive (the transcript grows by exactly these).
    void received(const QByteArray& bytes);
    // The last byte of a complete reply is on the wire (for timing the host's reaction).
    void replySent();

protected:
    SimulatedBox(SimOptions options, std::unique_ptr<BoxWire> wire, QObject* parent);

private:
    // Implementation state is private to the .cpp.
    struct State;
    std::unique_ptr<BoxWire> wire_;
    std::unique_ptr<State> state_;
    QByteArray transcript_;
    int successAcks_ = 0;
    int errorAcks_ = 0;
    QStringList deviations_;
};

}  // namespace tessaly::sim
