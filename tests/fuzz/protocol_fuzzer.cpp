// Plays the input as a script of link events against the protocol core and checks, after every
// event, what the core did against a plain model of the exchange that keeps all text it is given.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "dump/core/DumpProtocol.h"

namespace {

using namespace tessaly::dump;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// The script: one operation byte, then what that operation consumes.
class Script {
public:
    explicit Script(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool done() const { return bytes_.empty(); }
    std::uint8_t next() {
        if (bytes_.empty()) return 0;
        const std::uint8_t byte = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return byte;
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        const auto taken = bytes_.first(std::min(count, bytes_.size()));
        bytes_ = bytes_.subspan(taken.size());
        return taken;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

enum Operation : std::uint8_t { Feed, CloseLink, Acknowledge, Start, AnswerLikeTheBox, Count };

constexpr std::array<std::string_view, 3> kTokens{"PC___", "0000", "1984"};
constexpr std::string_view kSuccessAck = "E2PROMDOWN_SUCCESS\r\n";
constexpr std::string_view kErrorAck = "E2PROMDOWN_ERROR\r";

bool isSend(const Command& command) { return std::holds_alternative<Send>(command); }

bool sends(const Commands& commands, std::string_view message) {
    if (commands.size() != 1 || !isSend(commands.front())) return false;
    const Bytes& bytes = std::get<Send>(commands.front()).bytes;
    return std::ranges::equal(bytes, message, {}, {}, [](char c) { return std::uint8_t(c); });
}

// What the exchange should be doing, kept the simplest way.
struct Model {
    Stage stage = Stage::NotStarted;
    std::size_t tokenIndex = 0;  // the token wait in progress, while stage is one of them
    std::string text;            // everything read during the current token wait
    Bytes reply;

    bool inTokenWait() const {
        return stage == Stage::AwaitingPcReady || stage == Stage::AwaitingStartBlock ||
               stage == Stage::AwaitingBlock;
    }
};

class Checker {
public:
    void run(Script& script) {
        while (!script.done()) {
            switch (script.next() % Operation::Count) {
                case Feed:
                    feed(script.take(script.next()));
                    break;
                case CloseLink:
                    closeLink();
                    break;
                case Acknowledge:
                    acknowledge();
                    break;
                case Start:
                    start();
                    break;
                case AnswerLikeTheBox:
                    answerLikeTheBox(script.next());
                    break;
            }
            checkQueries();
        }
    }

private:
    void start() {
        const Commands commands = protocol_.start();
        require(commands.size() == 6, "start flushes and sends five messages");
        require(std::holds_alternative<DiscardInput>(commands[0]), "start flushes first");
        require(std::all_of(commands.begin() + 1, commands.end(), isSend), "then sends");
        model_ = Model{};
        model_.stage = Stage::AwaitingPcReady;
    }

    void feed(std::span<const std::uint8_t> read) {
        const Commands commands = protocol_.receive(read);
        if (model_.inTokenWait()) {
            model_.text.append(read.begin(), read.end());
            if (model_.text.find(kTokens[model_.tokenIndex]) == std::string::npos) {
                require(commands.empty(), "nothing is sent before the token");
                return;
            }
            require(!commands.empty(), "a found token is answered");
            advanceModel(commands);
        } else {
            require(commands.empty(), "only a found token makes the host send");
            if (model_.stage != Stage::AwaitingReply) return;
            const auto room = kReplySize - model_.reply.size();
            model_.reply.insert(model_.reply.end(), read.begin(),
                                read.begin() + std::min(room, read.size()));
            if (model_.reply.size() == kReplySize) model_.stage = Stage::ReplyReceived;
        }
    }

    void advanceModel(const Commands& commands) {
        model_.text.clear();
        if (++model_.tokenIndex < kTokens.size()) {
            model_.stage = static_cast<Stage>(static_cast<int>(model_.stage) + 1);
            require(std::all_of(commands.begin(), commands.end(), isSend), "a token wait sends");
            return;
        }
        model_.stage = Stage::AwaitingReply;
        require(std::all_of(commands.begin(), commands.end(), isSend), "requests are sent");
    }

    void closeLink() {
        protocol_.linkClosed();
        if (model_.inTokenWait() || model_.stage == Stage::AwaitingReply) {
            model_.stage = Stage::Cancelled;
        }
    }

    void acknowledge() {
        const Commands commands = protocol_.acknowledge();
        if (model_.stage != Stage::ReplyReceived) {
            require(commands.empty(), "only a complete reply is acknowledged");
            return;
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i < kDataSize; ++i) sum += model_.reply[i];
        const bool matches = sum % 256 == model_.reply[kDataSize];
        require(sends(commands, matches ? kSuccessAck : kErrorAck), "the right acknowledgement");
        model_.stage = Stage::Acknowledged;
    }

    // Reaching the later stages by chance alone would take the fuzzer long.
    void answerLikeTheBox(std::uint8_t seed) {
        if (model_.inTokenWait()) {
            const std::string_view token = kTokens[model_.tokenIndex];
            feed(Bytes(token.begin(), token.end()));
            return;
        }
        Bytes reply(kDataSize);
        for (std::size_t i = 0; i < kDataSize; ++i) reply[i] = std::uint8_t(seed + i * 31);
        reply.push_back(checksumOf(reply));
        feed(reply);
    }

    void checkQueries() const {
        require(protocol_.stage() == model_.stage, "the stage follows the exchange");
        const bool waiting = model_.inTokenWait() || model_.stage == Stage::AwaitingReply;
        require(protocol_.waiting() == waiting, "waiting() matches the stage");
        const std::string_view token =
            model_.inTokenWait() ? kTokens[model_.tokenIndex] : std::string_view{};
        require(protocol_.awaitedToken() == token, "the awaited token matches the wait");
        if (model_.stage == Stage::ReplyReceived || model_.stage == Stage::Acknowledged) {
            require(std::ranges::equal(protocol_.reply(), model_.reply),
                    "the reply is the first 1025 bytes after the last token");
        }
    }

    DumpProtocol protocol_;
    Model model_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script({data, size});
    Checker checker;
    checker.run(script);
    return 0;
}
