#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>

#include "TestHost.h"
#include "Wait.h"
#include "serial/LoopbackCheck.h"
#include "sim/SimulatedBox.h"

using tessaly::sim::SimOptions;
using tessaly::sim::StbSimulator;
using namespace tessaly::test;

namespace {

bool waitForDeviations(const StbSimulator& box, qsizetype count) {
    return waitUntil([&] { return box.deviations().size() >= count; });
}

TEST(StbSimulator, ServesDumpsToAWellBehavedHostUntilDestroyed) {
    StbSimulator box;
    TestHost host(box.devicePath());
    ASSERT_TRUE(host.isOpen());
    QSignalSpy acknowledgements(&box, &StbSimulator::acknowledged);

    const QByteArray image = imageBytes(SimOptions::recognisableImage());
    ASSERT_NE(checksumOf(image), 0) << "a zero checksum would hide a box that sends none";
    for (int dump = 1; dump <= 2; ++dump) {
        const Exchange exchange = runUpToReply(host);
        EXPECT_EQ(exchange.tokenWaits, QList<QByteArray>({"PC___", "0000", "1984"}));
        ASSERT_EQ(exchange.reply.size(), 1025);
        EXPECT_EQ(exchange.reply.left(1024), image);
        EXPECT_EQ(std::uint8_t(exchange.reply.at(1024)), checksumOf(image));
        host.send(kSuccessAck);
        ASSERT_TRUE(waitUntil([&] { return acknowledgements.size() == dump; }));
        EXPECT_TRUE(acknowledgements.last().at(0).toBool());
    }
    EXPECT_EQ(box.successAcknowledgements(), 2);
    EXPECT_EQ(box.errorAcknowledgements(), 0);
    EXPECT_TRUE(box.deviations().isEmpty()) << box.deviations().join('\n').toStdString();
    EXPECT_EQ(box.transcript(), host.sent());
    EXPECT_EQ(box.transcript(), (hostMessages(1, 10) + kSuccessAck).repeated(2));
}

TEST(StbSimulator, ReportsAWrongByteAndAnswersNothingMoreInThatExchange) {
    StbSimulator box;
    TestHost host(box.devicePath());
    QSignalSpy deviated(&box, &StbSimulator::hostDeviated);

    QByteArray opening = hostMessages(1, 5);
    const qsizetype recordByte6 = hostMessages(1, 2).size() + 6;
    ASSERT_EQ(std::uint8_t(opening[recordByte6]), 0x82);
    opening[recordByte6] = 0x3F;
    host.send(opening);
    ASSERT_TRUE(waitForDeviations(box, 1));
    ASSERT_EQ(deviated.size(), 1);
    const QString what = box.deviations().first();
    for (const char* part : {"message 3", "offset 6", "0x82", "0x3F"})
        EXPECT_TRUE(what.contains(QLatin1String(part))) << what.toStdString();

    // Had the box answered the broken exchange, its "PC___" would come first.
    host.send(hostMessages(1, 5));
    ASSERT_TRUE(host.waitForText("PC___"));
    EXPECT_EQ(host.take(), "PC___");
    EXPECT_EQ(box.deviations().size(), 1);
}

TEST(StbSimulator, ReportsAFalseStartWhereTheFirstDifferenceIs) {
    StbSimulator box;
    TestHost host(box.devicePath());

    // Expecting the two-byte empty line, the box sees what looked like a fresh start go wrong.
    host.send(hostMessages(1, 8) + "REQUEST_V61X");
    ASSERT_TRUE(waitForDeviations(box, 1));
    EXPECT_EQ(box.deviations().first(),
              "message 9 (empty line CR LF), offset 0: expected 0x0D, got 0x52 'R'");
}

TEST(StbSimulator, ReportsBytesThatArriveWhileItIsAnswering) {
    SimOptions options;
    options.baud = 115200;  // keeps the reply on the wire long enough to be interrupted
    StbSimulator box(options);
    TestHost host(box.devicePath());

    runUpToReply(host, 0);
    host.send("\r\n");
    ASSERT_TRUE(waitForDeviations(box, 1));
    EXPECT_TRUE(box.deviations().first().contains("after message 10"))
        << box.deviations().first().toStdString();
}

TEST(StbSimulator, TakesOnlyTheAcknowledgementThatFitsTheChecksumItSent) {
    for (const bool wrongChecksum : {false, true}) {
        SCOPED_TRACE(wrongChecksum ? "wrong checksum" : "right checksum");
        SimOptions options;
        options.image.fill(0xFF);  // 1024 * 0xFF sums to 0 modulo 256
        options.wrongChecksum = wrongChecksum;
        StbSimulator box(options);
        TestHost host(box.devicePath());
        QSignalSpy acknowledgements(&box, &StbSimulator::acknowledged);

        const QByteArray reply = runUpToReply(host).reply;
        ASSERT_EQ(reply.size(), 1025);
        EXPECT_EQ(reply.at(1024) == '\0', !wrongChecksum);

        host.send(wrongChecksum ? kSuccessAck : kErrorAck);
        ASSERT_TRUE(waitForDeviations(box, 1));
        EXPECT_TRUE(box.deviations().first().contains("wrong acknowledgement"));
        EXPECT_TRUE(acknowledgements.isEmpty());

        // A fresh exchange acknowledged properly is counted.
        runUpToReply(host);
        host.send(wrongChecksum ? kErrorAck : kSuccessAck);
        ASSERT_TRUE(waitUntil([&] { return acknowledgements.size() == 1; }));
        EXPECT_EQ(acknowledgements.first().at(0).toBool(), !wrongChecksum);
        EXPECT_EQ(box.successAcknowledgements(), wrongChecksum ? 0 : 1);
        EXPECT_EQ(box.errorAcknowledgements(), wrongChecksum ? 1 : 0);
        EXPECT_EQ(box.deviations().size(), 1);
    }
}

TEST(StbSimulator, ReportsALineFeedAfterTheErrorAcknowledgement) {
    SimOptions options;
    options.wrongChecksum = true;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    runUpToReply(host);
    host.send(kErrorAck + "\n");
    ASSERT_TRUE(waitForDeviations(box, 1));
    EXPECT_EQ(box.errorAcknowledgements(), 1);
    EXPECT_TRUE(box.deviations().first().contains("after the acknowledgement"))
        << box.deviations().first().toStdString();
}

TEST(StbSimulator, StartsOverWhenTheHostDoes) {
    SimOptions options;
    options.silentAfterMessage = 6;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    // Gave up waiting for "PC___" before it came, then for "0000", which never comes.
    host.send(hostMessages(1, 5));
    host.send(hostMessages(1, 5));
    ASSERT_TRUE(host.waitForText("PC___PC___"));
    host.take();
    host.send(hostMessage(6));
    host.send(hostMessages(1, 5));
    ASSERT_TRUE(host.waitForText("PC___"));
    EXPECT_EQ(host.take(), "PC___") << "answered after the message it should stay silent after";
    EXPECT_TRUE(box.deviations().isEmpty()) << box.deviations().join('\n').toStdString();
}

TEST(StbSimulator, AnswersTheChosenNumberOfReadsThenStaysSilent) {
    SimOptions options;
    options.readsThenSilent = 1;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    EXPECT_EQ(runUpToReply(host).reply.size(), 1025);
    host.send(kSuccessAck);
    // A stray byte after message 5 tells whether the box is answering it.
    host.send(hostMessages(1, 5) + "X");
    ASSERT_TRUE(waitForDeviations(box, 1));
    EXPECT_TRUE(box.deviations().first().endsWith("while the box stays silent"))
        << box.deviations().first().toStdString();
    EXPECT_FALSE(host.take().contains("PC___"));
}

TEST(StbSimulator, HangsUpAfterExactlyTheChosenNumberOfReplyBytes) {
    for (const int bytes : {0, 100, 1024}) {
        SCOPED_TRACE(bytes);
        SimOptions options;
        options.disconnectAfterReplyBytes = bytes;
        StbSimulator box(options);
        TestHost host(box.devicePath());
        QSignalSpy hungUp(&box, &StbSimulator::hungUp);

        runUpToReply(host, 0);
        ASSERT_TRUE(host.waitForHangUp());
        EXPECT_EQ(host.pending(), imageBytes(options.image).left(bytes));
        EXPECT_EQ(hungUp.size(), 1);
    }
}

TEST(StbSimulator, SplitTokensArriveInSeveralReads) {
    SimOptions options;
    options.splitTokens = true;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    const Exchange exchange = runUpToReply(host);
    EXPECT_EQ(exchange.tokenWaits, QList<QByteArray>({"PC___", "0000", "1984"}));
    for (const int reads : exchange.tokenReads) EXPECT_GT(reads, 1);
    EXPECT_EQ(exchange.reply.size(), 1025);
}

TEST(StbSimulator, NoiseComesBeforeEveryTokenAndNeverSpellsOne) {
    SimOptions options;
    options.noiseBeforeTokens = 200;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    const Exchange exchange = runUpToReply(host);
    const QList<QByteArray> tokens = {"PC___", "0000", "1984"};
    ASSERT_EQ(exchange.tokenWaits.size(), 3);
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QByteArray& received = exchange.tokenWaits[i];
        EXPECT_EQ(received.size(), 200 + tokens[i].size());
        EXPECT_TRUE(received.endsWith(tokens[i]));
        const QByteArray noise = received.chopped(tokens[i].size()).toUpper();
        for (const QByteArray& token : tokens)
            EXPECT_FALSE(noise.contains(token)) << noise.constData();
    }
    ASSERT_EQ(exchange.reply.size(), 1025);
    EXPECT_EQ(std::uint8_t(exchange.reply.at(1024)), checksumOf(exchange.reply.left(1024)));
}

TEST(StbSimulator, PacesBothDirectionsAtTheChosenBaudRate) {
    {
        // 76 host bytes and 5 token bytes at 9600 baud take at least 84 ms on the wire.
        SimOptions options;
        options.baud = 9600;
        StbSimulator box(options);
        TestHost host(box.devicePath());
        QElapsedTimer clock;
        clock.start();
        host.send(hostMessages(1, 5));
        ASSERT_TRUE(host.waitForText("PC___"));
        EXPECT_GE(clock.elapsed(), 84);
    }
    {
        // The 1025-byte reply alone takes 89 ms at 115200 baud.
        SimOptions options;
        options.baud = 115200;
        StbSimulator box(options);
        TestHost host(box.devicePath());
        QElapsedTimer clock;
        const Exchange exchange = runUpToReply(host, 0);
        clock.start();
        ASSERT_TRUE(host.waitForBytes(1025));
        EXPECT_GE(clock.elapsed(), 88);
        host.send(kSuccessAck);
        EXPECT_TRUE(waitUntil([&] { return box.successAcknowledgements() == 1; }));
    }
}

TEST(StbSimulator, HostileOptionsMisbehaveAsAsked) {
    SimOptions options;
    options.staleBytes = "left over from before";
    options.extraReplyBytes = 7;
    options.lowerCaseTokens = true;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    ASSERT_TRUE(host.waitForText(options.staleBytes));
    EXPECT_EQ(host.take(), options.staleBytes);
    host.send(hostMessages(1, 5));
    ASSERT_TRUE(host.waitForText("pc___"));
    host.take();
    host.send(hostMessage(6));
    ASSERT_TRUE(host.waitForText("0000"));
    host.take();
    host.send(hostMessage(7));
    ASSERT_TRUE(host.waitForText("1984"));
    host.take();
    host.send(hostMessages(8, 10));
    ASSERT_TRUE(host.waitForBytes(1025 + 7));
    host.send(kSuccessAck);
    EXPECT_TRUE(waitUntil([&] { return box.successAcknowledgements() == 1; }));
    EXPECT_EQ(host.take().size(), 1025 + 7);
    EXPECT_TRUE(box.deviations().isEmpty()) << box.deviations().join('\n').toStdString();
}

using tessaly::serial::LoopbackCheck;
using tessaly::sim::Loopback;

struct LoopbackCase {
    const char* name;
    Loopback mode;
    LoopbackCheck::Outcome outcome;
    LoopbackCheck::Fault fault;
};

class StbSimulatorLoopback : public ::testing::TestWithParam<LoopbackCase> {};

TEST_P(StbSimulatorLoopback, EchoesAsTheCheckExpects) {
    SimOptions options;
    options.loopback = GetParam().mode;
    StbSimulator box(options);
    TestHost host(box.devicePath());

    const auto pattern = LoopbackCheck::pattern();
    host.send(QByteArray(reinterpret_cast<const char*>(pattern.data()), qsizetype(pattern.size())));
    std::string sentence;
    EXPECT_TRUE(waitUntil([&] {
        LoopbackCheck check;
        check.receive(std::span(reinterpret_cast<const std::uint8_t*>(host.pending().data()),
                                size_t(host.pending().size())));
        const LoopbackCheck::Verdict verdict = check.verdict();
        sentence = verdict.sentence;
        return verdict.outcome == GetParam().outcome && verdict.fault == GetParam().fault;
    })) << sentence;
    EXPECT_TRUE(box.deviations().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StbSimulatorLoopback,
    ::testing::Values(LoopbackCase{"Echo", Loopback::Echo, LoopbackCheck::Outcome::Ok,
                                   LoopbackCheck::Fault::None},
                      LoopbackCase{"Garbled", Loopback::Garbled, LoopbackCheck::Outcome::Changed,
                                   LoopbackCheck::Fault::Speed}),
    [](const ::testing::TestParamInfo<LoopbackCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
