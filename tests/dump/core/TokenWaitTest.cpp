#include <gtest/gtest.h>

#include "ProtocolDriver.h"

namespace tessaly::dump::test {
namespace {

struct TokenWait {
    Stage stage;
    std::string token;
    Stage next;
};

void PrintTo(const TokenWait& wait, std::ostream* out) { *out << wait.token; }

class EveryTokenWait : public testing::TestWithParam<TokenWait> {
protected:
    void SetUp() override { driveTo(protocol_, GetParam().stage); }

    bool advanced() const { return protocol_.stage() == GetParam().next; }

    DumpProtocol protocol_;
};

TEST_P(EveryTokenWait, TokenSplitAtAnyByteIsFound) {
    const std::string& token = GetParam().token;
    for (std::size_t split = 1; split < token.size(); ++split) {
        SCOPED_TRACE(split);
        driveTo(protocol_, GetParam().stage);
        EXPECT_TRUE(feed(protocol_, token.substr(0, split)).empty());
        EXPECT_FALSE(advanced());
        EXPECT_FALSE(feed(protocol_, token.substr(split)).empty());
        EXPECT_TRUE(advanced());
    }
}

TEST_P(EveryTokenWait, TokenFedOneByteAtATimeIsFoundAtItsLastByte) {
    const std::string& token = GetParam().token;
    for (std::size_t i = 0; i + 1 < token.size(); ++i) {
        EXPECT_TRUE(feed(protocol_, token.substr(i, 1)).empty());
    }
    EXPECT_FALSE(feed(protocol_, token.substr(token.size() - 1)).empty());
    EXPECT_TRUE(advanced());
}

TEST_P(EveryTokenWait, TokenAmidOtherTextIsFound) {
    feed(protocol_, "garbage\r\n");
    feed(protocol_, "more " + GetParam().token + " and after\r\n");
    EXPECT_TRUE(advanced());
}

TEST_P(EveryTokenWait, TokenIsStillFoundAfterAMebibyteOfNearMisses) {
    // Near misses throughout, and the long read ends in all but the token's last byte, which
    // only the next read brings.
    const std::string& token = GetParam().token;
    const std::string nearMiss = token.substr(0, token.size() - 1) + "x";
    std::string noise;
    while (noise.size() < 1024 * 1024) noise += nearMiss;
    noise += token.substr(0, token.size() - 1);

    EXPECT_TRUE(feed(protocol_, noise).empty());
    EXPECT_FALSE(advanced());
    EXPECT_FALSE(feed(protocol_, token.substr(token.size() - 1)).empty());
    EXPECT_TRUE(advanced());
}

INSTANTIATE_TEST_SUITE_P(
    All, EveryTokenWait,
    testing::Values(TokenWait{Stage::AwaitingPcReady, "PC___", Stage::AwaitingStartBlock},
                    TokenWait{Stage::AwaitingStartBlock, "0000", Stage::AwaitingBlock},
                    TokenWait{Stage::AwaitingBlock, "1984", Stage::AwaitingReply}));

TEST(TokenWait, TokenInAnotherCaseIsNotFound) {
    DumpProtocol protocol;
    protocol.start();
    for (const auto* text : {"pc___", "Pc___", "pC___", "PC__", "P C___"}) feed(protocol, text);
    EXPECT_EQ(protocol.stage(), Stage::AwaitingPcReady);
}

TEST(TokenWait, TextAfterTheTokenInTheSameReadIsDropped) {
    DumpProtocol protocol;
    protocol.start();
    feed(protocol, "PC___0000");
    EXPECT_EQ(protocol.stage(), Stage::AwaitingStartBlock);

    // The next token came along with the previous one and is gone; later zeros cannot complete it.
    feed(protocol, "00");
    EXPECT_EQ(protocol.stage(), Stage::AwaitingStartBlock);
    feed(protocol, "0000");
    EXPECT_EQ(protocol.stage(), Stage::AwaitingBlock);
}

TEST(TokenWait, LaterReadsBelongToTheNextWait) {
    DumpProtocol protocol;
    protocol.start();
    feed(protocol, "PC___\r\n");
    feed(protocol, "0000");
    EXPECT_EQ(protocol.stage(), Stage::AwaitingBlock);
}

}  // namespace
}  // namespace tessaly::dump::test
