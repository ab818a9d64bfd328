// The dump run against the simulated box, over a real pseudo-terminal where there are some.
#include <Files.h>
#include <TestBox.h>
#include <Wait.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>

#include "dump/DumpLog.h"
#include "dump/DumpRun.h"
#include "dump/ImageFile.h"
#include "serial/SerialLink.h"

#ifdef Q_OS_UNIX
#include <FileSizeLimit.h>
#endif

namespace tessaly {
namespace {

using Outcome = dump::DumpRun::Outcome;
using sim::SimOptions;
using test::readFile;
using test::waitUntil;
using test::writeFile;

QByteArray imageBytes(const SimOptions& options) { return test::bytesOf(options.image); }

class DumpRunTest : public ::testing::Test {
protected:
    DumpRunTest() {
        QObject::connect(
            &run_, &dump::DumpRun::finished,
            [this](const dump::DumpRun::Result& result) { results_.push_back(result); });
    }

    void startBox(SimOptions options = {}) {
        options_ = options;
        box_.emplace(options);
        link_.open(box_->devicePath());
    }

    // Runs one dump to its end and returns how it ended.
    dump::DumpRun::Result dump() {
        const size_t before = results_.size();
        run_.start(imagePath());
        EXPECT_TRUE(waitUntil([&] { return results_.size() > before; }));
        return results_.empty() ? dump::DumpRun::Result{} : results_.back();
    }

    // Starts a dump and waits until the box has seen `hostBytes` bytes from the host.
    void startAndWaitForHostBytes(int hostBytes) {
        run_.start(imagePath());
        ASSERT_TRUE(waitUntil([&] { return box_->transcript().size() >= hostBytes; }));
    }

    QString imagePath() const { return dir_.filePath(QString::fromLatin1(dump::kImageFileName)); }

    QTemporaryDir dir_;
    SimOptions options_;
    std::optional<test::TestBox> box_;
    serial::SerialLink link_;
    dump::DumpRun run_{link_};
    std::vector<dump::DumpRun::Result> results_;
};

// Host bytes up to and including each message that ends a step of the exchange.
constexpr int kBytesThroughMessage5 = 14 + 15 + 32 + 1 + 14;
constexpr int kBytesThroughMessage6 = kBytesThroughMessage5 + 21;
constexpr int kBytesThroughMessage7 = kBytesThroughMessage6 + 15;
constexpr int kBytesThroughMessage10 = kBytesThroughMessage7 + 18 + 2 + 16;

TEST_F(DumpRunTest, GoodDumpSavesTheImageAndAcknowledgesSuccess) {
    startBox();
    const dump::DumpRun::Result result = dump();

    EXPECT_EQ(result.outcome, Outcome::Saved);
    EXPECT_EQ(readFile(imagePath()), imageBytes(options_));
    ASSERT_TRUE(result.reply);
    EXPECT_EQ(result.reply->data(), imageBytes(options_));
    ASSERT_TRUE(waitUntil([&] { return box_->successAcknowledgements() == 1; }));
    EXPECT_TRUE(box_->deviations().isEmpty()) << box_->deviations().join('\n').toStdString();
    EXPECT_EQ(box_->transcript().size(), kBytesThroughMessage10 + 20);
    EXPECT_TRUE(box_->transcript().endsWith("E2PROMDOWN_SUCCESS\r\n"));
}

TEST_F(DumpRunTest, ChecksumMismatchKeepsTheReceivedDataAndAcknowledgesTheError) {
    SimOptions options;
    options.wrongChecksum = true;
    startBox(options);
    const dump::DumpRun::Result result = dump();

    EXPECT_EQ(result.outcome, Outcome::ChecksumMismatch);
    EXPECT_EQ(readFile(imagePath()), imageBytes(options_));
    ASSERT_TRUE(waitUntil([&] { return box_->errorAcknowledgements() == 1; }));
    EXPECT_TRUE(box_->transcript().endsWith("REQUEST_E2PROM\r\nE2PROMDOWN_ERROR\r"));
    EXPECT_TRUE(dump::dumpResultLog(result, result.stored).text.endsWith("CRC Error!!!\r\n"));
}

TEST_F(DumpRunTest, ClosingTheLinkDuringAnyWaitCancelsQuietly) {
    for (const int silentAfter : {5, 6, 7, 10}) {
        SCOPED_TRACE(silentAfter);
        results_.clear();
        SimOptions options;
        options.silentAfterMessage = silentAfter;
        startBox(options);
        const int hostBytes = silentAfter == 5   ? kBytesThroughMessage5
                              : silentAfter == 6 ? kBytesThroughMessage6
                              : silentAfter == 7 ? kBytesThroughMessage7
                                                 : kBytesThroughMessage10;
        startAndWaitForHostBytes(hostBytes);
        link_.close();

        ASSERT_EQ(results_.size(), 1u);
        EXPECT_EQ(results_.front().outcome, Outcome::Cancelled);
        EXPECT_EQ(box_->transcript().size(), hostBytes) << "nothing is sent after a cancel";
        EXPECT_FALSE(QFile::exists(imagePath()));
    }
}

TEST_F(DumpRunTest, LinkLossDuringTheReplyEndsTheRunAndLeavesTheEarlierImage) {
    SimOptions options;
    options.disconnectAfterReplyBytes = 500;
    startBox(options);
    ASSERT_TRUE(writeFile(imagePath(), "earlier image"));

    const dump::DumpRun::Result result = dump();

    EXPECT_EQ(result.outcome, Outcome::LinkLost);
    EXPECT_FALSE(result.detail.isEmpty());
    EXPECT_FALSE(link_.isOpen());
    EXPECT_EQ(readFile(imagePath()), "earlier image");
    EXPECT_EQ(dump::linkLostSentence(QStringLiteral("/dev/ttyUSB0"), result.detail),
              QStringLiteral("The link to the box on /dev/ttyUSB0 was lost: the adapter was "
                             "unplugged or the cable came loose (%1). Nothing was saved.")
                  .arg(result.detail));
}

TEST_F(DumpRunTest, SilentBoxTimesOutNamingTheAwaitedToken) {
    SimOptions options;
    options.silentAfterMessage = 6;
    startBox(options);
    run_.setWaitLimit(std::chrono::milliseconds(200));

    const dump::DumpRun::Result result = dump();

    EXPECT_EQ(result.outcome, Outcome::TimedOut);
    EXPECT_EQ(result.detail, "\"0000\"");
    EXPECT_EQ(dump::arrivalsText(result.arrived), "nothing arrived");
}

TEST(ArrivalsTest, CountAndFirstBytesInHexAndText) {
    using dump::WaitArrivals;
    EXPECT_EQ(dump::arrivalsText(WaitArrivals{1, "P"}), "1 byte arrived: 50 (\"P\")");
    EXPECT_EQ(dump::arrivalsText(WaitArrivals{40, QByteArray("HELLO\r\n\0\xFFxxxxxxxx", 16)}),
              "40 bytes arrived: 48 45 4C 4C 4F 0D 0A 00 FF 78 78 78 78 78 78 78 ... "
              "(\"HELLO....xxxxxxx...\")");
}

// Each front end has its own wording: the window's is a line of its log, the command line's a
// warning that names the port.
TEST(ResultTextsTest, AcknowledgementThatMayNotHaveArrivedIsWordedForEachFrontEnd) {
    dump::DumpSession::Result result;
    result.read.acknowledgementFailure =
        QStringLiteral("it did not leave the port within a second");

    EXPECT_EQ(dump::resultTexts(result, "COM 1", dump::Wording::Window).acknowledgement,
              "The acknowledgement may not have reached the box: it did not leave the port "
              "within a second");
    EXPECT_EQ(dump::resultTexts(result, "/dev/ttyUSB0", dump::Wording::CommandLine).acknowledgement,
              "the acknowledgement may not have reached the box on /dev/ttyUSB0: it did not leave "
              "the port within a second.");
}

TEST_F(DumpRunTest, ImageReplacesALongerEarlierFileWhole) {
    startBox();
    ASSERT_TRUE(writeFile(imagePath(), QByteArray(4096, 'x')));

    EXPECT_EQ(dump().outcome, Outcome::Saved);
    EXPECT_EQ(readFile(imagePath()), imageBytes(options_));
}

#ifdef Q_OS_UNIX
using test::FileSizeLimit;

TEST_F(DumpRunTest, UnwritableImageLeavesTheEarlierFileAndAcknowledgesNothing) {
    startBox();
    ASSERT_TRUE(writeFile(imagePath(), "earlier image"));

    dump::DumpRun::Result result;
    {
        FileSizeLimit diskFull(100);
        result = dump();
    }

    EXPECT_EQ(result.outcome, Outcome::WriteFailed);
    EXPECT_FALSE(result.detail.isEmpty());
    EXPECT_EQ(readFile(imagePath()), "earlier image");
    EXPECT_TRUE(box_->transcript().endsWith("REQUEST_E2PROM\r\n"));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{dump::kImageFileName})
        << "no temporary file is left behind";
}
#endif

TEST_F(DumpRunTest, MissingDirectoryFailsTheWrite) {
    startBox();
    run_.start(dir_.filePath(QStringLiteral("missing/EEPROM.bin")));
    ASSERT_TRUE(waitUntil([&] { return !results_.empty(); }));
    EXPECT_EQ(results_.front().outcome, Outcome::WriteFailed);
}

TEST_F(DumpRunTest, SecondRunOnTheSameLinkStartsClean) {
    SimOptions options;
    options.noiseBeforeTokens = 40;
    options.splitTokens = true;
    startBox(options);

    EXPECT_EQ(dump().outcome, Outcome::Saved);
    EXPECT_EQ(dump().outcome, Outcome::Saved);
    ASSERT_TRUE(waitUntil([&] { return box_->successAcknowledgements() == 2; }));
    EXPECT_TRUE(box_->deviations().isEmpty());
    EXPECT_EQ(readFile(imagePath()), imageBytes(options_));
}

}  // namespace
}  // namespace tessaly
