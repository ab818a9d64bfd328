#include "serial/LoopbackCheck.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <optional>

namespace tessaly::serial {
namespace {

constexpr std::array<std::uint8_t, 256> kPattern = [] {
    std::array<std::uint8_t, 256> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i);
    return bytes;
}();

constexpr std::size_t kDifferencesInSentence = 4;

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

struct StuckBit {
    int bit;
    bool high;
};

// Every change lies in one bit, and that bit reads the same in every byte that came back.
std::optional<StuckBit> stuckBitIn(std::span<const std::uint8_t> received) {
    unsigned changed = 0;
    for (std::size_t i = 0; i < received.size(); ++i) changed |= received[i] ^ kPattern[i];
    if (std::popcount(changed) != 1) return std::nullopt;
    const bool high = (received.front() & changed) != 0;
    for (const std::uint8_t byte : received)
        if (((byte & changed) != 0) != high) return std::nullopt;
    return StuckBit{std::countr_zero(changed), high};
}

std::string describeCounts(std::size_t received) {
    if (received == kPattern.size()) return "all 256 bytes came back";
    return std::to_string(received) + " bytes came back for 256 sent";
}

std::string describeDifferences(std::span<const std::uint8_t> received,
                                const std::vector<std::size_t>& changed) {
    if (changed.empty()) return "those that came back were right";
    std::string text = "first differences at";
    for (std::size_t i = 0; i < std::min(changed.size(), kDifferencesInSentence); ++i) {
        const std::size_t offset = changed[i];
        text += (i == 0 ? " " : ", ") + hex(unsigned(offset)) + " (sent " + hex(kPattern[offset]) +
                ", got " + hex(received[offset]) + ")";
    }
    return text;
}

}  // namespace

std::span<const std::uint8_t> LoopbackCheck::pattern() { return kPattern; }

void LoopbackCheck::receive(std::span<const std::uint8_t> bytes) {
    received_.insert(received_.end(), bytes.begin(), bytes.end());
}

LoopbackCheck::Verdict LoopbackCheck::verdict() const {
    Verdict verdict{Outcome::Changed, Fault::None, received_.size(), {}};
    const std::size_t compared = std::min(received_.size(), kPattern.size());
    std::vector<std::size_t> changed;  // offsets within the bytes that came back
    for (std::size_t i = 0; i < compared; ++i)
        if (received_[i] != kPattern[i]) changed.push_back(i);
    if (received_.empty()) {
        verdict.outcome = Outcome::NothingBack;
        verdict.sentence = "nothing came back: no jumper, or the adapter does not send";
        return verdict;
    }
    if (changed.empty() && received_.size() == kPattern.size()) {
        verdict.outcome = Outcome::Ok;
        verdict.sentence = "loopback OK: all 256 byte values came back unchanged";
        return verdict;
    }
    std::string hint;
    const auto stuck =
        received_.size() == kPattern.size() ? stuckBitIn(received_) : std::optional<StuckBit>();
    if (stuck) {
        verdict.fault = Fault::Wiring;
        hint = "bit " + std::to_string(stuck->bit) + " always reads " + (stuck->high ? "1" : "0") +
               ": a wiring or adapter fault";
        if (stuck->bit == 7 && !stuck->high) hint += ", or the adapter is set to 7 data bits";
    } else if (changed.size() * 4 > compared ||
               (!changed.empty() && received_.size() != kPattern.size())) {
        verdict.fault = Fault::Speed;
        hint =
            "bytes were split or merged as when the two ends run at different baud rates: a "
            "speed fault (adapter, driver, or a cable too long for the speed)";
    } else {
        verdict.fault = Fault::Noise;
        hint = "a few bytes went astray: a loose contact or noise on the line";
    }
    verdict.sentence = "bytes came back changed: " + describeCounts(received_.size()) + ", " +
                       describeDifferences(received_, changed) + "; " + hint;
    return verdict;
}

}  // namespace tessaly::serial
