#include "sim/SpeedMismatch.h"

#include <cmath>
#include <cstdint>

namespace tessaly::sim {
namespace {

constexpr int kBitsPerFrame = 10;  // start bit, 8 data bits (lowest first), stop bit

// The line level during sender bit `index`; the line idles high after the last frame.
bool levelAt(const QByteArray& sent, qint64 index) {
    if (index >= sent.size() * kBitsPerFrame) return true;
    const int bit = int(index % kBitsPerFrame);
    if (bit == 0) return false;
    if (bit == kBitsPerFrame - 1) return true;
    return (std::uint8_t(sent[index / kBitsPerFrame]) >> (bit - 1)) & 1;
}

}  // namespace

QByteArray asReadAtOtherSpeed(const QByteArray& sent, double rateRatio) {
    const qint64 end = sent.size() * kBitsPerFrame;
    const double readerBit = 1.0 / rateRatio;  // one reader bit in sender bits
    QByteArray read;
    double time = 0;
    while (true) {
        // A frame starts where the line is low; the level only changes at sender bit boundaries.
        auto index = qint64(std::floor(time));
        if (levelAt(sent, index)) {
            while (index < end && levelAt(sent, index)) ++index;
            if (index >= end) return read;
            time = double(index);
        }
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const double middle = time + (bit + 1.5) * readerBit;
            if (levelAt(sent, qint64(std::floor(middle)))) byte |= std::uint8_t(1 << bit);
        }
        read.append(char(byte));
        time += (kBitsPerFrame - 0.5) * readerBit;  // the middle of the stop bit
    }
}

}  // namespace tessaly::sim
