// The window program as a whole: how it ends on the system's stop requests and where there is no
// display to show it on.
#include <Wait.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>

namespace tessaly::test {
namespace {

const QString kWindowProgram = QStringLiteral(TESSALY_BIN_DIR "/tessaly");

struct StopRequest {
    const char* name;
    int signalNumber;
    int exitStatus;
};

class StopRequestTest : public ::testing::TestWithParam<StopRequest> {};

// Whether the process handles `signalNumber` itself yet (its handler is installed).
bool catches(qint64 pid, int signalNumber) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
    }
    return false;
}

// The program ends by itself with the shell's status for the signal, instead of being killed.
TEST_P(StopRequestTest, EndsTheProgramWithItsOwnExitStatus) {
    if (!QFile::exists("/proc/self/status")) GTEST_SKIP() << "needs /proc";
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(kWindowProgram);
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return catches(program.processId(), GetParam().signalNumber); }));

    ::kill(pid_t(program.processId()), GetParam().signalNumber);

    ASSERT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().exitStatus);
}

INSTANTIATE_TEST_SUITE_P(, StopRequestTest,
                         ::testing::Values(StopRequest{"Interrupt", SIGINT, 130},
                                           StopRequest{"Terminate", SIGTERM, 143},
                                           StopRequest{"HangUp", SIGHUP, 129}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Surroundings {
    const char* name;
    const char* display;  // nullptr: none set
    QStringList arguments;
    int exitStatus;
    const char* stderrStart;  // the one line on stderr, or nullptr for none
};

class WithoutDesktopTest : public ::testing::TestWithParam<Surroundings> {};

TEST_P(WithoutDesktopTest, SaysInOneLineWhatIsMissing) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    if (GetParam().display) environment.insert("DISPLAY", GetParam().display);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(kWindowProgram, GetParam().arguments);
    ASSERT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }));

    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().exitStatus);
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    if (GetParam().stderrStart) {
        EXPECT_TRUE(errors.startsWith(GetParam().stderrStart)) << errors.toStdString();
        EXPECT_TRUE(errors.contains("tessaly-dump")) << errors.toStdString();
        EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
    } else {
        EXPECT_EQ(errors, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    , WithoutDesktopTest,
    ::testing::Values(
        Surroundings{"NoneSet", nullptr, {}, 1, "tessaly needs a desktop session (no display"},
        Surroundings{"Unreachable",
                     ":97",
                     {"--simulate"},
                     1,
                     "tessaly needs a desktop session (cannot connect to the display :97)"},
        Surroundings{"VersionNeedsNone", nullptr, {"--version"}, 0, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessaly::test
