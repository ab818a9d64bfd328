// What the process finds itself in: a deleted working directory, starved, stopped mid-answer.
#include <Files.h>
#include <Sanitizers.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <deque>

#include "RunDump.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

struct StartCase {
    const char* name;
    const char* setup;  // shell, in an empty current directory; may set `options`
    int ports;          // 0: the built-in box
    int status;
    const char* says;
};

// No box hears anything unless the run can end well; then every box is acknowledged.
class StartConditionTest : public ::testing::TestWithParam<StartCase> {};
TEST_P(StartConditionTest, IsMadeSureOfBeforeAnyBoxIsAsked) {
    const StartCase& start = GetParam();
    if (kUnderSanitizers && start.status != 4) GTEST_SKIP() << "the sanitizers need more";
    QTemporaryDir dir;
    std::deque<sim::StbSimulator> boxes(size_t(start.ports));
    QStringList arguments{boxes.empty() ? "--simulate" : "-q"};
    for (const sim::StbSimulator& box : boxes) arguments << "-p" << box.devicePath();
    const QString script = "cd \"$1\" && mkdir here && cd here && " + QString(start.setup) +
                           " && shift && exec \"$0\" \"$@\" $options";
    const RunResult result =
        runProgram("/bin/bash", QStringList{"-c", script, dumpProgram(), dir.path()} + arguments);
    EXPECT_EQ(result.exitCode, start.status) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(start.says)) << result.err.toStdString();
    for (const sim::StbSimulator& box : boxes)
        EXPECT_TRUE(start.status == 0
                        ? waitUntil([&] { return box.successAcknowledgements() == 1; })
                        : box.transcript().isEmpty());
}

const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(
    CurrentDirectory, StartConditionTest,
    ::testing::Values(
        StartCase{"deleted", "rmdir ../here", 1, 4,
                  "has been deleted; cd to a directory you can write to, or give --dir."},
        StartCase{"deleted_output", "rmdir ../here && options='-o x.bin'", 1, 4,
                  "has been deleted; cd to a directory you can write to, or give --output a "}),
    kCaseName);

INSTANTIATE_TEST_SUITE_P(
    Resources, StartConditionTest,
    ::testing::Values(
        StartCase{"few_descriptors", "ulimit -n 12", 4, 71,
                  "Too few file descriptors are left for 4 ports: 26 are needed and "},
        StartCase{"few_descriptors_built_in_box", "ulimit -n 6", 0, 71, "for 1 port: 8 are"},
        StartCase{"soft_limit_raised", "ulimit -Sn 12", 4, 0, ""},
        // A thread's stack is as large as the stack limit: none fits in the address space.
        StartCase{"no_thread", "ulimit -s 67108864 && ulimit -v 4194304", 2, 0, ""}),
    kCaseName);

class StopAndContinueTest : public ::testing::TestWithParam<bool> {};

// Stopped past its wait (1 s; the port check's 0.5 s) while a paced box goes on sending.
TEST_P(StopAndContinueTest, TakesWhatArrivedMeanwhileBeforeGivingUp) {
    const bool portCheck = GetParam();
    QTemporaryDir dir;
    sim::SimOptions paced;
    paced.loopback = portCheck ? sim::Loopback::Echo : sim::Loopback::Off;
    paced.baud = portCheck ? 2400 : 9600;
    sim::StbSimulator box(paced);
    bool allSent = portCheck;  // the echo is done long before the wait below is
    QObject::connect(&box, &sim::SimulatedBox::replySent, [&] { allSent = true; });
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(dumpProgram(),
                  QStringList{"-t", "1", portCheck ? "--check-port" : "-p", box.devicePath()});
    ASSERT_TRUE(waitUntil(
        [&] { return box.transcript().contains(portCheck ? "\x40" : "REQUEST_E2PROM"); }));
    const auto pid = pid_t(process.processId());
    ::kill(pid, SIGSTOP);
    QElapsedTimer stopped;
    stopped.start();
    ASSERT_TRUE(waitUntil([&] { return allSent && stopped.hasExpired(2500); }));
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_NE(QFile::exists(dir.filePath("EEPROM.bin")), portCheck);
}

INSTANTIATE_TEST_SUITE_P(DumpAndPortCheck, StopAndContinueTest, ::testing::Bool());

}  // namespace
}  // namespace tessaly::test
