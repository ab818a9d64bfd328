#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "dump/core/DumpProtocol.h"

namespace tessaly::dump {

inline void PrintTo(Stage stage, std::ostream* out) {
    static constexpr const char* kNames[] = {
        "NotStarted",    "AwaitingPcReady", "AwaitingStartBlock", "AwaitingBlock",
        "AwaitingReply", "ReplyReceived",   "Acknowledged",       "Cancelled",
    };
    *out << kNames[static_cast<int>(stage)];
}

}  // namespace tessaly::dump

// Helpers that feed the protocol core like a link would and write down what it asks for in a
// form that reads well in test failures.
namespace tessaly::dump::test {

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Commands feed(DumpProtocol& protocol, std::string_view text) {
    const Bytes bytes = bytesOf(text);
    return protocol.receive(bytes);
}

inline Bytes sentBytes(const Commands& commands) {
    Bytes sent;
    for (const auto& command : commands) {
        if (const auto* send = std::get_if<Send>(&command)) {
            sent.insert(sent.end(), send->bytes.begin(), send->bytes.end());
        }
    }
    return sent;
}

// "discard" or "send" followed by the bytes in hex.
inline std::vector<std::string> describe(const Commands& commands) {
    std::vector<std::string> lines;
    for (const auto& command : commands) {
        if (std::holds_alternative<DiscardInput>(command)) {
            lines.emplace_back("discard");
        } else {
            std::string line = "send";
            for (const auto byte : std::get<Send>(command).bytes) {
                char digits[4];
                std::snprintf(digits, sizeof digits, " %02X", byte);
                line += digits;
            }
            lines.push_back(line);
        }
    }
    return lines;
}

// A reply whose checksum byte matches its data.
inline Bytes validReply(const Bytes& data) {
    Bytes reply = data;
    unsigned sum = 0;
    for (const auto byte : data) sum += byte;
    reply.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return reply;
}

inline Bytes countingData() {
    Bytes data(kDataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return data;
}

// Runs a well-behaved exchange up to `target`.
inline void driveTo(DumpProtocol& protocol, Stage target) {
    if (target == Stage::NotStarted) return;
    protocol.start();
    if (target == Stage::Cancelled) {
        protocol.linkClosed();
        return;
    }
    for (const auto* token : {"PC___", "0000", "1984"}) {
        if (protocol.stage() == target) return;
        feed(protocol, token);
    }
    if (protocol.stage() == target) return;
    protocol.receive(validReply(countingData()));
    if (target == Stage::Acknowledged) protocol.acknowledge();
}

}  // namespace tessaly::dump::test
