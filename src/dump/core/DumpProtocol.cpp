#include "dump/core/DumpProtocol.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace tessaly::dump {
namespace {

using namespace std::string_view_literals;

// The box wants its messages to arrive back to back, so each wait lists what is written just
// before it begins. The literals carry their own line ends because two messages break the rule:
// the lone NUL has none and the error acknowledgement ends in CR only.
constexpr std::array kAnnounce{
    "REQUEST_V616\r\n"sv,
    "BL_FLASH_INFO\r\n"sv,
    // Flash-information record: fixed bytes the box expects verbatim.
    "\x4B\x41\x05\x16\x21\x27\x82\x7F\xE0\x7F\xF0\x7F\xFE\x40\x0E\x0F"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x4F\x4E\r\n"sv,
    "\0"sv,
    "BL_FLASH_END\r\n"sv,
};
constexpr std::array kStartBlock{"REQUEST_START_BLOCK\r\n"sv};
constexpr std::array kBlock{"REQUEST_BLOCK\r\n"sv};
constexpr std::array kRequest{"REQUEST_DOWNLOAD\r\n"sv, "\r\n"sv, "REQUEST_E2PROM\r\n"sv};

constexpr std::string_view kSuccessAck = "E2PROMDOWN_SUCCESS\r\n";
constexpr std::string_view kErrorAck = "E2PROMDOWN_ERROR\r";

struct Wait {
    Stage stage;
    std::string_view token;  // empty for the wait for the binary reply
    std::span<const std::string_view> lead;
};

// The exchange in order: each token wait, once its token is found, leads into the next one.
constexpr std::array kWaits{
    Wait{Stage::AwaitingPcReady, "PC___", kAnnounce},
    Wait{Stage::AwaitingStartBlock, "0000", kStartBlock},
    Wait{Stage::AwaitingBlock, "1984", kBlock},
    Wait{Stage::AwaitingReply, {}, kRequest},
};

const Wait* waitFor(Stage stage) {
    const auto wait = std::ranges::find(kWaits, stage, &Wait::stage);
    return wait == kWaits.end() ? nullptr : &*wait;
}

Send sendOf(std::string_view message) { return Send{Bytes(message.begin(), message.end())}; }

}  // namespace

std::uint8_t checksumOf(std::span<const std::uint8_t> data) {
    return static_cast<std::uint8_t>(std::accumulate(data.begin(), data.end(), 0u) % 256);
}

std::string hexListing(std::span<const std::uint8_t> data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string listing;
    listing.reserve(hexListingPosition(data.size()));
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i % 16 == 0) listing += "\r\n";
        listing += kDigits[data[i] >> 4];
        listing += kDigits[data[i] & 0x0F];
        listing += ' ';
    }
    return listing;
}

Commands DumpProtocol::start() {
    reply_.fill(0);
    replyLength_ = 0;
    Commands commands{DiscardInput{}};
    std::ranges::move(enter(Stage::AwaitingPcReady), std::back_inserter(commands));
    return commands;
}

Commands DumpProtocol::receive(std::span<const std::uint8_t> read) {
    if (stage_ == Stage::AwaitingReply) {
        // The receive buffer holds one reply; whatever comes beyond it is lost.
        const auto taken = read.first(std::min(read.size(), kReplySize - replyLength_));
        std::ranges::copy(taken, reply_.begin() + static_cast<std::ptrdiff_t>(replyLength_));
        replyLength_ += taken.size();
        if (replyLength_ == kReplySize) stage_ = Stage::ReplyReceived;
        return {};
    }
    const std::string_view token = awaitedToken();
    if (token.empty()) return {};

    pending_.append(read.begin(), read.end());
    if (pending_.find(token) != std::string::npos) {
        const auto* next = waitFor(stage_) + 1;
        return enter(next->stage);
    }
    // Only a tail shorter than the token can still turn into it with the next read.
    pending_.erase(0, pending_.size() - std::min(pending_.size(), token.size() - 1));
    return {};
}

void DumpProtocol::linkClosed() {
    if (waiting()) stage_ = Stage::Cancelled;
}

Commands DumpProtocol::acknowledge() {
    if (stage_ != Stage::ReplyReceived) return {};
    stage_ = Stage::Acknowledged;
    return {sendOf(checksumMatches() ? kSuccessAck : kErrorAck)};
}

bool DumpProtocol::waiting() const { return waitFor(stage_) != nullptr; }

std::string_view DumpProtocol::awaitedToken() const {
    const auto* wait = waitFor(stage_);
    return wait ? wait->token : std::string_view{};
}

bool DumpProtocol::checksumMatches() const {
    return checksumOf(reply().first<kDataSize>()) == reply_[kDataSize];
}

Commands DumpProtocol::enter(Stage next) {
    stage_ = next;
    pending_.clear();
    const Wait& wait = *waitFor(next);
    Commands commands;
    std::ranges::transform(wait.lead, std::back_inserter(commands), sendOf);
    return commands;
}

}  // namespace tessaly::dump
