#include <gtest/gtest.h>

#include "ProtocolDriver.h"

namespace tessaly::dump::test {
namespace {

const Bytes kSuccessAck = bytesOf("E2PROMDOWN_SUCCESS\r\n");
const Bytes kErrorAck = bytesOf("E2PROMDOWN_ERROR\r");

class Reply : public testing::Test {
protected:
    void SetUp() override { driveTo(protocol_, Stage::AwaitingReply); }

    DumpProtocol protocol_;
};

struct ChecksumCase {
    const char* name;
    Bytes data;
    std::uint8_t checksum;
    bool matches;
};

void PrintTo(const ChecksumCase& checksumCase, std::ostream* out) { *out << checksumCase.name; }

Bytes zerosWithOne() {
    Bytes data(kDataSize, 0x00);
    data[517] = 0x01;
    return data;
}

class ReplyChecksum : public Reply, public testing::WithParamInterface<ChecksumCase> {};

TEST_P(ReplyChecksum, DecidesTheAcknowledgement) {
    const auto& [name, data, checksum, matches] = GetParam();
    Bytes reply = data;
    reply.push_back(checksum);
    protocol_.receive(reply);

    ASSERT_EQ(protocol_.stage(), Stage::ReplyReceived);
    EXPECT_TRUE(std::ranges::equal(protocol_.reply().first<kDataSize>(), data));
    EXPECT_EQ(protocol_.checksumMatches(), matches);
    EXPECT_EQ(sentBytes(protocol_.acknowledge()), matches ? kSuccessAck : kErrorAck);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyChecksum,
    testing::Values(ChecksumCase{"all FF sum to 00", Bytes(kDataSize, 0xFF), 0x00, true},
                    ChecksumCase{"all FF with checksum FF", Bytes(kDataSize, 0xFF), 0xFF, false},
                    ChecksumCase{"all 00", Bytes(kDataSize, 0x00), 0x00, true},
                    ChecksumCase{"one 01 among zeros", zerosWithOne(), 0x01, true},
                    ChecksumCase{"one 01 among zeros with checksum 00", zerosWithOne(), 0x00,
                                 false}));

TEST_F(Reply, CompletesAtExactly1025BytesWhateverTheReads) {
    const Bytes reply = validReply(countingData());
    const std::span<const std::uint8_t> all(reply);

    protocol_.receive(all.first(1));
    protocol_.receive(all.subspan(1, 1022));
    protocol_.receive(all.subspan(1023, 1));
    EXPECT_EQ(protocol_.stage(), Stage::AwaitingReply);
    EXPECT_TRUE(protocol_.receive(all.subspan(1024)).empty());
    EXPECT_EQ(protocol_.stage(), Stage::ReplyReceived);
    EXPECT_TRUE(std::ranges::equal(protocol_.reply(), reply));
}

TEST_F(Reply, BytesBeyondTheReplyAreDropped) {
    const Bytes reply = validReply(countingData());
    Bytes flood = reply;
    flood.insert(flood.end(), 500, 0xEE);
    protocol_.receive(flood);
    protocol_.receive(Bytes(100, 0xDD));

    EXPECT_EQ(protocol_.stage(), Stage::ReplyReceived);
    EXPECT_TRUE(std::ranges::equal(protocol_.reply(), reply));
}

TEST(ReplyAfterToken, BytesInTheTokensReadAreDroppedButLaterOnesShiftTheReply) {
    const Bytes boxReply = validReply(countingData());

    DumpProtocol sameRead;
    driveTo(sameRead, Stage::AwaitingBlock);
    feed(sameRead, "1984\r\n");
    sameRead.receive(boxReply);
    EXPECT_TRUE(std::ranges::equal(sameRead.reply(), boxReply));
    EXPECT_TRUE(sameRead.checksumMatches());

    DumpProtocol laterRead;
    driveTo(laterRead, Stage::AwaitingBlock);
    feed(laterRead, "1984");
    feed(laterRead, "\r\n");
    laterRead.receive(boxReply);
    Bytes shifted = bytesOf("\r\n");
    shifted.insert(shifted.end(), boxReply.begin(), boxReply.end() - 2);
    EXPECT_TRUE(std::ranges::equal(laterRead.reply(), shifted));
    EXPECT_FALSE(laterRead.checksumMatches());
    EXPECT_EQ(sentBytes(laterRead.acknowledge()), kErrorAck);
}

}  // namespace
}  // namespace tessaly::dump::test
