#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The box's dump exchange as a state machine without I/O: it is fed what one read returned and
// link events, and answers with the commands the host must carry out on the link, in order.
namespace tessaly::dump {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kDataSize = 1024;
inline constexpr std::size_t kReplySize = kDataSize + 1;

// Throw away everything waiting in the receive buffer.
struct DiscardInput {
    bool operator==(const DiscardInput&) const = default;
};
// Write these bytes to the box.
struct Send {
    Bytes bytes;
    bool operator==(const Send&) const = default;
};
using Command = std::variant<DiscardInput, Send>;
using Commands = std::vector<Command>;

enum class Stage {
    NotStarted,
    AwaitingPcReady,     // waits for "PC___"
    AwaitingStartBlock,  // waits for "0000"
    AwaitingBlock,       // waits for "1984"
    AwaitingReply,       // waits for the 1025-byte reply
    ReplyReceived,       // reply complete; the host stores it, then calls acknowledge()
    Acknowledged,
    Cancelled,  // the link closed before the reply was complete
};

// Sum of the data bytes modulo 256, the way the box computes its checksum byte.
std::uint8_t checksumOf(std::span<const std::uint8_t> data);

// The listing shown for a dump: each byte as two upper-case hex digits and a space, with CR LF
// before every 16th byte (so the text starts with a line break and ends with a space).
std::string hexListing(std::span<const std::uint8_t> data);
// Where the two digits of byte `index` start in that listing.
constexpr std::size_t hexListingPosition(std::size_t i) { return i * 3 + (i / 16 + 1) * 2; }

class DumpProtocol {
public:
    // Begins a new exchange, whatever happened before: flush, messages 1 to 5, wait for "PC___".
    Commands start();

    // One read's worth of received bytes. In a token wait, the token may lie anywhere in the
    // text read during that wait; text after it in the same read is dropped. In the reply wait,
    // bytes beyond the 1025th are dropped, as the receive buffer would. Ignored in other stages.
    Commands receive(std::span<const std::uint8_t> read);

    // The link was closed (by the user or because it failed): a waiting exchange is cancelled.
    void linkClosed();

    // After the host has stored the reply: the acknowledgement that matches the checksum.
    Commands acknowledge();

    Stage stage() const { return stage_; }
    bool waiting() const;
    // The token the current wait looks for; empty outside token waits.
    std::string_view awaitedToken() const;

    // Valid from ReplyReceived on.
    std::span<const std::uint8_t, kReplySize> reply() const { return reply_; }
    bool checksumMatches() const;
    std::size_t replyBytesReceived() const { return replyLength_; }

private:
    Commands enter(Stage next);

    Stage stage_ = Stage::NotStarted;
    // Only the tail that could still begin the token is kept, so a babbling box costs no memory.
    std::string pending_;
    std::array<std::uint8_t, kReplySize> reply_{};
    std::size_t replyLength_ = 0;
};

}  // namespace tessaly::dump
