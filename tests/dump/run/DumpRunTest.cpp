// The dump run against the simulated box, over a real pseudo-terminal where there are some.
#include <Files.h>
#include <TestBox.h>
#include <Wait.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>

#include "dump/DumpLog.h"
#include "dump/DumpRun.h"
#include "dump/ImageFile.h"
#include "serial/InProcessLink.h"
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
        // A power cut right after the acknowledgement must not take back the image.
        QObject::connect(&*box_, &sim::SimulatedBox::acknowledged, [this] {
            imageOnDiskAtAcknowledgement_.push_back(readFile(imagePath()) == imageBytes(options_));
        });
    }

    // Runs one dump to its end and returns how it ended. The loop never sleeps, so what the box
    // hears is taken as it comes, not only after a background store had time to end.
    dump::DumpRun::Result dump(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        const size_t before = results_.size();
        QEventLoop loop;
        QObject::connect(&run_, &dump::DumpRun::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(bound, &loop, &QEventLoop::quit);
        run_.start(imagePath());
        loop.exec();
        EXPECT_GT(results_.size(), before) << "the run did not end within its bound";
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
    std::vector<bool> imageOnDiskAtAcknowledgement_;
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
    EXPECT_EQ(imageOnDiskAtAcknowledgement_, std::vector<bool>{true});
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
    EXPECT_EQ(imageOnDiskAtAcknowledgement_, std::vector<bool>{true});
    EXPECT_TRUE(dump::dumpResultLog(result).text.endsWith("CRC Error!!!\r\n"));
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

// Bytes that never make up what is awaited do not keep a wait open: each ends at its limit, the
// first as the later ones. The box babbles through the in-process wire, which the test can write
// to; the limit is the run's, whatever the link.
TEST_F(DumpRunTest, EveryWaitEndsAtItsLimitHoweverMuchTheBoxBabbles) {
    const std::pair<int, const char*> waits[] = {
        {5, "\"PC___\""}, {6, "\"0000\""}, {7, "\"1984\""}, {10, "the 1025-byte reply"}};
    run_.setWaitLimit(std::chrono::milliseconds(250));
    for (const auto& [silentAfter, awaited] : waits) {
        SCOPED_TRACE(awaited);
        SimOptions options;
        options.silentAfterMessage = silentAfter;
        sim::InProcessBox box(options);
        link_.open(box.devicePath());
        // Far more often than the limit, and too slow to make up a reply within it.
        QTimer babble;
        QObject::connect(&babble, &QTimer::timeout, [&] {
            serial::InProcessLink::named(box.devicePath())->send(QByteArray(16, 'x'));
        });
        babble.start(10);

        const dump::DumpRun::Result result = dump(std::chrono::seconds(3));
        EXPECT_EQ(result.outcome, Outcome::TimedOut);
        EXPECT_EQ(result.detail.toStdString(), awaited);
        EXPECT_GT(result.arrived.count, 0) << "the box babbled in the wait that ran out";
        link_.close();
    }
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
