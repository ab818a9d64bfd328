// The window program ends on the system's stop requests by itself, with the shell's status.
#include <Wait.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <csignal>

#ifdef Q_OS_UNIX
namespace tessaly::test {
namespace {

// Whether the process handles `signalNumber` itself yet.
bool catches(qint64 pid, int signalNumber) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("SigCgt:");
    return at >= 0 &&
           (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
}

class StopRequestTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(StopRequestTest, EndsTheProgramWithItsOwnExitStatus) {
    const int signalNumber = GetParam().first;
    if (!QFile::exists("/proc/self/status")) GTEST_SKIP() << "needs /proc";
    QProcess program;
    program.start(QStringLiteral(TESSALY_BIN_DIR "/tessaly"), {"-platform", "offscreen"});
    ASSERT_TRUE(waitUntil([&] { return catches(program.processId(), signalNumber); }));

    ::kill(pid_t(program.processId()), signalNumber);

    ASSERT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(, StopRequestTest,
                         ::testing::Values(std::pair{SIGINT, 130}, std::pair{SIGTERM, 143},
                                           std::pair{SIGHUP, 129}));

// Only one of two folders or ports could be used: refused as the parser refuses a bad option.
TEST(WindowUsageTest, AnOptionGivenTwoValuesIsRefused) {
    QProcess program;
    program.start(QStringLiteral(TESSALY_BIN_DIR "/tessaly"),
                  {"-platform", "offscreen", "--dir", "/tmp", "--dir", "/srv"});
    ASSERT_TRUE(program.waitForFinished(10'000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_TRUE(program.readAllStandardError().contains("Tessaly: --dir takes one value"));
}

}  // namespace
}  // namespace tessaly::test
#endif
