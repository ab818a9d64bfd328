// The loopback check judges what came back through a jumper from the bytes alone.
#include <gtest/gtest.h>

#include <functional>

#include "serial/LoopbackCheck.h"

namespace tessaly::serial {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Outcome = LoopbackCheck::Outcome;
using Fault = LoopbackCheck::Fault;

Bytes sent() {
    const auto pattern = LoopbackCheck::pattern();
    return Bytes(pattern.begin(), pattern.end());
}

Bytes changed(const std::function<void(Bytes&)>& change) {
    Bytes bytes = sent();
    change(bytes);
    return bytes;
}

struct EchoCase {
    const char* name;
    Bytes received;
    Outcome outcome;
    Fault fault;
    const char* sentenceSays;
};

void PrintTo(const EchoCase& echo, std::ostream* out) { *out << echo.name; }

class LoopbackCheckTest : public testing::TestWithParam<EchoCase> {};

TEST_P(LoopbackCheckTest, JudgesWhatCameBack) {
    const EchoCase& echo = GetParam();
    LoopbackCheck check;
    // Bytes come back in reads of any size.
    const std::span<const std::uint8_t> received = echo.received;
    check.receive(received.first(received.size() / 3));
    check.receive(received.subspan(received.size() / 3));

    const LoopbackCheck::Verdict verdict = check.verdict();
    EXPECT_EQ(verdict.outcome, echo.outcome);
    EXPECT_EQ(verdict.fault, echo.fault);
    EXPECT_EQ(verdict.receivedCount, echo.received.size());
    EXPECT_NE(verdict.sentence.find(echo.sentenceSays), std::string::npos) << verdict.sentence;
    EXPECT_EQ(check.complete(), echo.received.size() >= 256);
}

INSTANTIATE_TEST_SUITE_P(
    Echoes, LoopbackCheckTest,
    testing::Values(
        EchoCase{"Unchanged", sent(), Outcome::Ok, Fault::None, "loopback OK"},
        EchoCase{"Nothing",
                 {},
                 Outcome::NothingBack,
                 Fault::None,
                 "no jumper, or the adapter does not send"},
        EchoCase{"Bit7StuckLow", changed([](Bytes& bytes) {
                     for (auto& byte : bytes) byte &= 0x7F;
                 }),
                 Outcome::Changed, Fault::Wiring,
                 "first differences at 0x80 (sent 0x80, got 0x00), 0x81 (sent 0x81, got 0x01), "
                 "0x82 (sent 0x82, got 0x02), 0x83 (sent 0x83, got 0x03); bit 7 always reads 0: a "
                 "wiring or adapter fault, or the adapter is set to 7 data bits"},
        EchoCase{"EveryOtherByteLost", changed([](Bytes& bytes) {
                     std::erase_if(bytes, [](std::uint8_t byte) { return byte % 2 == 1; });
                 }),
                 Outcome::Changed, Fault::Speed, "128 bytes came back for 256 sent"},
        EchoCase{"SplitIntoTwoFrames", changed([](Bytes& bytes) {
                     Bytes split;
                     for (const auto byte : bytes) split.insert(split.end(), {0x00, byte});
                     bytes = split;
                 }),
                 Outcome::Changed, Fault::Speed, "different baud rates"},
        EchoCase{"OneByteChanged", changed([](Bytes& bytes) { bytes[0x41] = 0x40; }),
                 Outcome::Changed, Fault::Noise,
                 "at 0x41 (sent 0x41, got 0x40); a few bytes went astray"}),
    [](const testing::TestParamInfo<EchoCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessaly::serial
