// Usage that tessaly-dump refuses or accepts, against the built-in box (runs under wine too).
#include <Files.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "RunDump.h"

namespace tessaly::test {
namespace {

class UsageTest : public ::testing::TestWithParam<QStringList> {};

TEST_P(UsageTest, IsRefusedWithStatus64BeforeAnythingHappens) {
    QTemporaryDir dir;
    const RunResult result = runDump(GetParam() + QStringList{"--simulate"}, dir.path());
    EXPECT_EQ(result.exitCode, 64) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("--help")) << result.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Options, UsageTest,
                         ::testing::Values(QStringList{"-t", "864001"},
                                           QStringList{"-t", "4294968"}, QStringList{"-t", "-1"},
                                           QStringList{"-t", "soon"}, QStringList{"--reads", "11"},
                                           QStringList{"--reads", "0"},
                                           QStringList{"--verify", "--reads", "1"},
                                           QStringList{"-o", "image.bin", "-d", "."},
                                           QStringList{"-p", "/dev/ttyS0"},
                                           QStringList{"--list-ports"}));

TEST(UsageLimitsTest, LongestTimeoutAndOutputFileAreAccepted) {
    QTemporaryDir dir;
    const RunResult result =
        runDump({"--simulate", "-t", "864000", "-o", "backup.bin", "-q"}, dir.path());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty()) << "--quiet prints errors and warnings only";
    EXPECT_EQ(readFile(dir.filePath("backup.bin")).size(), 1024);
}

// The help names the ports, paths and stop events of the system it runs on, never the other's.
TEST(UsageHelpTest, SpeaksOfThisSystemsPortsPathsAndStops) {
#ifdef Q_OS_WIN
    const QStringList expected{"--port COM5 --dir C:\\Backups", "DIRECTORY\\EEPROM.bin",
                               "130  stopped by Ctrl-C, Ctrl-Break or closing the console"};
    const QStringList foreign{"/dev", "SIGHUP", "SIGTERM", "129", "143", "DIRECTORY/"};
#else
    const QStringList expected{"--port /dev/ttyUSB0 --dir ~/backups", "DIRECTORY/EEPROM.bin",
                               "129  stopped by SIGHUP", "143  stopped by SIGTERM"};
    const QStringList foreign{"COM5", "C:\\", "Ctrl-Break", "console"};
#endif
    const RunResult result = runDump({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const QString& text : expected)
        EXPECT_TRUE(result.out.contains(text)) << text.toStdString();
    for (const QString& text : foreign)
        EXPECT_FALSE(result.out.contains(text)) << text.toStdString();
}

}  // namespace
}  // namespace tessaly::test
