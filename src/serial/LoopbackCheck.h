#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessaly::serial {

// The check of an adapter and cable whose TX is tied to RX (a jumper where the box would be),
// without I/O. The host opens the port at the link's usual settings, sends pattern(), feeds every
// read to receive() until complete() or quiet for kQuietMs, then reads the verdict. Nothing of
// the dump exchange is sent, so a box wired up after all is left alone.
class LoopbackCheck {
public:
    // Wait this long after the last byte back before judging: the pattern takes 22 ms at
    // 115200 baud, and an adapter passes bytes on in small batches.
    static constexpr int kQuietMs = 500;

    enum class Outcome { Ok, NothingBack, Changed };
    // For bytes that came back changed: what the way they changed points to.
    enum class Fault { None, Speed, Wiring, Noise };
    struct Verdict {
        Outcome outcome;
        Fault fault;
        std::size_t receivedCount;
        // One sentence for the technician: what happened and what it points to.
        std::string sentence;
    };

    // Every byte value once, 0x00 to 0xFF, so that each data bit is seen both ways.
    static std::span<const std::uint8_t> pattern();

    void receive(std::span<const std::uint8_t> bytes);
    // As many bytes have come back as were sent: no need to wait any longer.
    bool complete() const { return received_.size() >= pattern().size(); }
    Verdict verdict() const;

private:
    std::vector<std::uint8_t> received_;
};

}  // namespace tessaly::serial
