#include <gtest/gtest.h>

#include "ProtocolDriver.h"

namespace tessaly::dump::test {
namespace {

using Steps = std::vector<std::vector<std::string>>;

const std::string kSuccessAck = "send 45 32 50 52 4F 4D 44 4F 57 4E 5F 53 55 43 43 45 53 53 0D 0A";
const std::string kErrorAck = "send 45 32 50 52 4F 4D 44 4F 57 4E 5F 45 52 52 4F 52 0D";

TEST(Exchange, GoodExchangeSendsEveryMessageByteExactAtTheRightMoment) {
    DumpProtocol protocol;
    Steps steps;
    steps.push_back(describe(protocol.start()));
    steps.push_back(describe(feed(protocol, "PC___")));
    steps.push_back(describe(feed(protocol, "0000")));
    steps.push_back(describe(feed(protocol, "1984")));
    steps.push_back(describe(protocol.receive(validReply(countingData()))));
    steps.push_back(describe(protocol.acknowledge()));

    const Steps expected{
        {
            "discard",
            "send 52 45 51 55 45 53 54 5F 56 36 31 36 0D 0A",
            "send 42 4C 5F 46 4C 41 53 48 5F 49 4E 46 4F 0D 0A",
            "send 4B 41 05 16 21 27 82 7F E0 7F F0 7F FE 40 0E 0F 10 11 12 13 14 15 16 17 18 19 "
            "1A 1B 4F 4E 0D 0A",
            "send 00",
            "send 42 4C 5F 46 4C 41 53 48 5F 45 4E 44 0D 0A",
        },
        {"send 52 45 51 55 45 53 54 5F 53 54 41 52 54 5F 42 4C 4F 43 4B 0D 0A"},
        {"send 52 45 51 55 45 53 54 5F 42 4C 4F 43 4B 0D 0A"},
        {
            "send 52 45 51 55 45 53 54 5F 44 4F 57 4E 4C 4F 41 44 0D 0A",
            "send 0D 0A",
            "send 52 45 51 55 45 53 54 5F 45 32 50 52 4F 4D 0D 0A",
        },
        {},
        {kSuccessAck},
    };
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(protocol.stage(), Stage::Acknowledged);
    EXPECT_FALSE(protocol.waiting());
}

TEST(Exchange, ChecksumMismatchIsAcknowledgedAsErrorWithCarriageReturnOnly) {
    DumpProtocol protocol;
    driveTo(protocol, Stage::AwaitingReply);
    Bytes reply = validReply(countingData());
    reply.back() ^= 0x01;
    protocol.receive(reply);

    EXPECT_FALSE(protocol.checksumMatches());
    EXPECT_EQ(describe(protocol.acknowledge()), std::vector<std::string>{kErrorAck});
    EXPECT_EQ(protocol.stage(), Stage::Acknowledged);
}

TEST(Exchange, WaitsReportTheirTokens) {
    struct Expectation {
        Stage stage;
        bool waiting;
        std::string_view token;
    };
    const Expectation expectations[] = {
        {Stage::NotStarted, false, ""},
        {Stage::AwaitingPcReady, true, "PC___"},
        {Stage::AwaitingStartBlock, true, "0000"},
        {Stage::AwaitingBlock, true, "1984"},
        {Stage::AwaitingReply, true, ""},
        {Stage::ReplyReceived, false, ""},
        {Stage::Acknowledged, false, ""},
        {Stage::Cancelled, false, ""},
    };
    for (const auto& expected : expectations) {
        DumpProtocol protocol;
        driveTo(protocol, expected.stage);
        ASSERT_EQ(protocol.stage(), expected.stage);
        EXPECT_EQ(protocol.waiting(), expected.waiting) << testing::PrintToString(expected.stage);
        EXPECT_EQ(protocol.awaitedToken(), expected.token)
            << testing::PrintToString(expected.stage);
    }
}

class LinkClosedWhileWaiting : public testing::TestWithParam<Stage> {};

TEST_P(LinkClosedWhileWaiting, CancelsAndNothingIsSentAfterwards) {
    DumpProtocol protocol;
    driveTo(protocol, GetParam());
    protocol.linkClosed();

    EXPECT_EQ(protocol.stage(), Stage::Cancelled);
    EXPECT_FALSE(protocol.waiting());
    for (const auto* text : {"PC___", "0000", "1984"}) EXPECT_TRUE(feed(protocol, text).empty());
    EXPECT_TRUE(protocol.receive(validReply(countingData())).empty());
    EXPECT_TRUE(protocol.acknowledge().empty());
    EXPECT_EQ(protocol.stage(), Stage::Cancelled);
}

INSTANTIATE_TEST_SUITE_P(EveryWait, LinkClosedWhileWaiting,
                         testing::Values(Stage::AwaitingPcReady, Stage::AwaitingStartBlock,
                                         Stage::AwaitingBlock, Stage::AwaitingReply));

TEST(Exchange, LinkClosedAfterTheReplyKeepsTheReplyForStoring) {
    DumpProtocol protocol;
    driveTo(protocol, Stage::ReplyReceived);
    protocol.linkClosed();

    EXPECT_EQ(protocol.stage(), Stage::ReplyReceived);
    const Bytes expected = validReply(countingData());
    EXPECT_TRUE(std::ranges::equal(protocol.reply(), expected));
}

class EveryStage : public testing::TestWithParam<Stage> {};

TEST_P(EveryStage, StartBeginsAFreshExchange) {
    DumpProtocol protocol;
    driveTo(protocol, GetParam());
    const Commands commands = protocol.start();

    EXPECT_EQ(commands, DumpProtocol{}.start());
    EXPECT_EQ(protocol.stage(), Stage::AwaitingPcReady);
}

TEST_P(EveryStage, AcknowledgeIsOnlyAnsweredOnceAfterACompleteReply) {
    DumpProtocol protocol;
    driveTo(protocol, GetParam());
    const Commands commands = protocol.acknowledge();

    if (GetParam() == Stage::ReplyReceived) {
        EXPECT_EQ(describe(commands), std::vector<std::string>{kSuccessAck});
        EXPECT_TRUE(protocol.acknowledge().empty());
    } else {
        EXPECT_TRUE(commands.empty());
        EXPECT_EQ(protocol.stage(), GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(All, EveryStage,
                         testing::Values(Stage::NotStarted, Stage::AwaitingPcReady,
                                         Stage::AwaitingStartBlock, Stage::AwaitingBlock,
                                         Stage::AwaitingReply, Stage::ReplyReceived,
                                         Stage::Acknowledged, Stage::Cancelled));

TEST(Exchange, RestartForgetsAPartialTokenAndAPartialReply) {
    DumpProtocol protocol;
    protocol.start();
    feed(protocol, "PC");
    protocol.start();
    EXPECT_TRUE(feed(protocol, "___").empty());
    EXPECT_EQ(protocol.stage(), Stage::AwaitingPcReady);

    driveTo(protocol, Stage::AwaitingReply);
    protocol.receive(Bytes(1000, 0xAA));
    driveTo(protocol, Stage::AwaitingReply);
    protocol.receive(Bytes(25, 0x00));
    EXPECT_EQ(protocol.stage(), Stage::AwaitingReply);

    const Bytes reply = validReply(countingData());
    driveTo(protocol, Stage::AwaitingReply);
    protocol.receive(reply);
    EXPECT_TRUE(std::ranges::equal(protocol.reply(), reply));
}

}  // namespace
}  // namespace tessaly::dump::test
