// tessaly-dump against the simulated box over a pseudo-terminal: once started as a user starts it,
// otherwise in-process.
#include <Files.h>
#include <Wait.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "RunDump.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedBox.h"

namespace tessaly {
namespace {

using sim::SimOptions;
using sim::StbSimulator;
using test::RunResult;

class DumpCommandTest : public ::testing::Test {
protected:
    RunResult run(const QStringList& arguments) { return test::runDump(arguments); }

    QStringList dumpArguments(const SimOptions& options, QStringList extra = {}) {
        box_.emplace(options);
        return QStringList{"--port", box_->devicePath(), "--dir", dir_.path()} + extra;
    }

    RunResult dumpFrom(const SimOptions& options, QStringList extra = {}) {
        return run(dumpArguments(options, std::move(extra)));
    }

    QString imagePath() const { return dir_.filePath(QStringLiteral("EEPROM.bin")); }

    QByteArray image() const { return test::readFile(imagePath()); }

    QTemporaryDir dir_;
    std::optional<StbSimulator> box_;
};

QByteArray bytesOf(const SimOptions& options) { return test::bytesOf(options.image); }

TEST_F(DumpCommandTest, GoodDumpExitsZeroAndPrintsTheLog) {
    const SimOptions options;
    const RunResult result = test::runDumpProcess(dumpArguments(options));

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty());
    EXPECT_EQ(image(), bytesOf(options));
    const QStringList lines = result.out.split('\n');
    // request, empty, 64 listing lines, two result lines, empty, closed, after the last end
    ASSERT_EQ(lines.size(), 71);
    EXPECT_EQ(lines[0], "sending request...");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].size(), 48);
    EXPECT_EQ(lines[65].size(), 48);
    EXPECT_TRUE(lines[66].startsWith("saved " + imagePath())) << lines[66].toStdString();
    EXPECT_TRUE(lines[67].startsWith("SHA-256 "));
    EXPECT_EQ(lines[69], "Serial port closed.");
    EXPECT_EQ(lines[70], "");
    EXPECT_TRUE(box_->deviations().isEmpty());
    EXPECT_TRUE(box_->transcript().endsWith("E2PROMDOWN_SUCCESS\r\n"));
}

TEST_F(DumpCommandTest, ChecksumMismatchExitsOneAndKeepsTheData) {
    SimOptions options;
    options.wrongChecksum = true;
    const RunResult result = dumpFrom(options);

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(image(), bytesOf(options));
    EXPECT_TRUE(result.out.contains("CRC Error!!!\n"));
    EXPECT_TRUE(result.err.contains("checksum")) << result.err.toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return box_->transcript().endsWith("E2PROMDOWN_ERROR\r"); }));
}

TEST_F(DumpCommandTest, FailuresLeaveTheEarlierImageAndSayWhatToCheck) {
    ASSERT_TRUE(test::writeFile(imagePath(), "earlier image"));

    const RunResult missing = run({"--port", "/dev/pts/99999", "--dir", dir_.path()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains("/dev/pts/99999")) << missing.err.toStdString();
    EXPECT_FALSE(missing.out.contains("sending request")) << "the port never opened";

    SimOptions silent;
    silent.silentAfterMessage = 5;
    const RunResult timedOut = dumpFrom(silent, {"--timeout", "1"});
    EXPECT_EQ(timedOut.exitCode, 3);
    EXPECT_TRUE(timedOut.err.contains("\"PC___\"")) << timedOut.err.toStdString();
    EXPECT_TRUE(timedOut.err.contains("HOST - MODE"));

    SimOptions unplugged;
    unplugged.disconnectAfterReplyBytes = 300;
    const RunResult lost = dumpFrom(unplugged);
    EXPECT_EQ(lost.exitCode, 4);
    EXPECT_TRUE(
        lost.err.contains("lost: the adapter was unplugged or the cable came loose (the "
                          "device went away)"))
        << lost.err.toStdString();

    EXPECT_EQ(image(), "earlier image");
}

TEST_F(DumpCommandTest, MissingDirectoryIsRefusedBeforeTheBoxIsAsked) {
    box_.emplace();
    const RunResult result =
        run({"--port", box_->devicePath(), "--dir", dir_.filePath(QStringLiteral("missing"))});

    EXPECT_EQ(result.exitCode, 4);
    EXPECT_TRUE(result.err.contains("does not exist")) << result.err.toStdString();
    EXPECT_TRUE(box_->transcript().isEmpty());
}

TEST_F(DumpCommandTest, PortHeldByAnotherProgramExitsTwo) {
    box_.emplace();
    serial::SerialLink holder;
    holder.open(box_->devicePath());

    const RunResult result = run({"--port", box_->devicePath(), "--dir", dir_.path()});

    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(
        result.err.contains("in use by another program (it is open already in this "
                            "program under the name " +
                            box_->devicePath()))
        << result.err.toStdString();
}

TEST_F(DumpCommandTest, SimulateNeedsNoHardware) {
    const RunResult result = run({"--simulate", "--dir", dir_.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(image().size(), 1024);
}

}  // namespace
}  // namespace tessaly
