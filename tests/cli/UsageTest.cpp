// Usage that tessaly-dump refuses or accepts, in-process against the built-in box (runs under wine
// too).
#include <Files.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "RunDump.h"

namespace tessaly::test {
namespace {

struct UsageCase {
    QStringList arguments;
    const char* says;
};

void PrintTo(const UsageCase& usage, std::ostream* out) {
    *out << usage.arguments.join(' ').toStdString();
}

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, IsRefusedWithStatus64InOneFormBeforeAnythingHappens) {
    QTemporaryDir dir;
    const RunResult result = runDump(GetParam().arguments, dir.path());
    EXPECT_EQ(result.exitCode, 64) << result.err.toStdString();
    EXPECT_TRUE(result.err.startsWith("tessaly-dump: ")) << result.err.toStdString();
    EXPECT_TRUE(result.err.endsWith(". Try --help.\n")) << result.err.toStdString();
    EXPECT_EQ(result.err.count('\n'), 1);
    EXPECT_FALSE(result.err.contains("..")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(GetParam().says)) << result.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, UsageTest, ::testing::Values(
    UsageCase{{"--simulate", "-t", "864001"}, "from 0 to 864000"},
    UsageCase{{"--simulate", "-t", "4294968"}, "from 0 to 864000"},
    UsageCase{{"--simulate", "-t", "-1"}, "from 0 to 864000"},
    UsageCase{{"--simulate", "-t", "soon"}, "\"soon\""},
    UsageCase{{"--simulate", "--reads", "11"}, "from 1 to 10"},
    UsageCase{{"--simulate", "--reads", "0"}, "from 1 to 10"},
    UsageCase{{"--simulate", "--verify", "--reads", "1"}, "--reads 2 or more"},
    UsageCase{{"--simulate", "--color=yes"}, "--color takes auto, always or never, not \"yes\""},
    UsageCase{{"--simulate", "-o", "image.bin", "-d", "."}, "--output and --dir exclude"},
    UsageCase{{"--simulate", "-p", "/dev/ttyS0"}, "--simulate and --port exclude each other"},
    UsageCase{{"--simulate-box", "noise=2", "-p", "/dev/ttyS0"}, "--simulate-box and --port"},
    UsageCase{{"--simulate", "--list-ports"}, "--list-ports and --simulate exclude"},
    UsageCase{{"--list-ports", "-p", "/dev/ttyS0"}, "--list-ports and --port exclude"},
    UsageCase{{}, "Give --port DEVICE"},
    UsageCase{{"--bogus"}, "Unknown option 'bogus'"},
    UsageCase{{"--simulate", "--reads"}, "Missing value after '--reads'"},
    UsageCase{{"--simulate", "stray"}, "Unexpected argument \"stray\""},
    UsageCase{{"--simulate-box", "silent"}, "unknown box behaviour"},
    UsageCase{{"--simulate-box", "split-tokens,noise"}, "\"noise\" needs a number: noise=N"},
    UsageCase{{"--simulate-box", "wrong-checksum=1"}, "\"wrong-checksum\" takes no number"},
    UsageCase{{"--port", ""}, "--port was given an empty value"},
    UsageCase{{"-p", "/dev/ttyS0", "-p", " "}, "-p was given an empty value"},
    UsageCase{{"--simulate", "--dir", ""}, "--dir was given an empty value"},
    UsageCase{{"--simulate", "-o", ""}, "-o was given an empty value"},
    UsageCase{{"--simulate", "--timeout", ""}, "--timeout was given an empty value"},
    UsageCase{{"--simulate", "--reads", "\t"}, "--reads was given an empty value"},
    UsageCase{{"--simulate-box="}, "--simulate-box was given an empty value"},
    UsageCase{{"--compare", "a.bin"}, "--compare takes two files"},
    UsageCase{{"--compare", "a.bin", "b.bin", "-p", "/dev/ttyS0"}, "--compare and --port exclude"},
    UsageCase{{"--show", "a.bin", "--simulate"}, "--show and --simulate exclude each other"}));

// Only --port may repeat (several boxes); any other value given twice would go unused.
INSTANTIATE_TEST_SUITE_P(RepeatedOptions, UsageTest, ::testing::Values(
    UsageCase{{"--check-port", "A", "--check-port", "B"},
              "--check-port takes one value, but was given 2: \"A\", \"B\""},
    UsageCase{{"--show", "a.bin", "--show", "b.bin"}, "--show takes one value"},
    UsageCase{{"--simulate", "-d", ".", "--dir", "."}, "-d takes one value"},
    UsageCase{{"--simulate", "-o", "a.bin", "-o", "b.bin"}, "-o takes one value"},
    UsageCase{{"--simulate", "--timeout", "1", "-t", "2"}, "--timeout takes one value"},
    UsageCase{{"--simulate", "--reads", "2", "--reads", "3"}, "--reads takes one value"},
    UsageCase{{"--simulate-box", "noise=1", "--simulate-box", "noise=2"}, "--simulate-box takes"}));
// clang-format on

TEST(UsageLimitsTest, LongestTimeoutAndOutputFileAreAccepted) {
    QTemporaryDir dir;
    const RunResult result =
        runDump({"--simulate", "-t", "864000", "-o", "backup.bin", "-q", "-q"}, dir.path());
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
    const QStringList foreign{"COM5", "C:\\", "Ctrl-Break", "the console"};
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
