// What the process finds itself in rather than what it is told: a working directory deleted or
// read-only, few descriptors or no thread to be had, a stop (Ctrl-Z) in the middle of an answer.
// Never a box asked for nothing, a crash, a hang, or bytes that arrived turned into a timeout.
#include <Files.h>
#include <Sanitizers.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <deque>

#include "RunDump.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

using sim::SimOptions;
using sim::StbSimulator;

struct CurrentDirectoryCase {
    const char* name;
    bool deleted;  // otherwise read-only
    QStringList arguments;
    const char* says;
};

class CurrentDirectoryTest : public ::testing::TestWithParam<CurrentDirectoryCase> {};

TEST_P(CurrentDirectoryTest, IsCheckedBeforeTheBoxIsAsked) {
    if (!GetParam().deleted && ::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    QTemporaryDir dir;
    const QString here = dir.filePath("here");
    ASSERT_TRUE(QDir().mkdir(here));
    StbSimulator box;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(here));
    if (GetParam().deleted)
        ASSERT_TRUE(QDir(dir.path()).rmdir("here"));
    else
        QFile::setPermissions(here, QFile::ReadOwner | QFile::ExeOwner);

    const RunResult result = runDump(QStringList{"-p", box.devicePath()} + GetParam().arguments);
    QDir::setCurrent(previous);

    EXPECT_EQ(result.exitCode, 4);
    EXPECT_TRUE(result.err.contains(GetParam().says)) << result.err.toStdString();
    EXPECT_TRUE(box.transcript().isEmpty());
}

const char kDeleted[] =
    "The current directory has been deleted; cd to a directory you can write to, or give --dir.";

INSTANTIATE_TEST_SUITE_P(
    Names, CurrentDirectoryTest,
    ::testing::Values(CurrentDirectoryCase{"deleted", true, {}, kDeleted},
                      CurrentDirectoryCase{"deleted_dot", true, {"-d", "."}, kDeleted},
                      CurrentDirectoryCase{"deleted_output",
                                           true,
                                           {"-o", "x.bin"},
                                           "has been deleted; cd to a directory you can write "
                                           "to, or give --output a full path."},
                      CurrentDirectoryCase{"read_only",
                                           false,
                                           {},
                                           "is read-only (Permission denied); cd to a directory "
                                           "you can write to, or give --dir."}),
    [](const auto& info) { return info.param.name; });

struct Limit {
    int resource;
    rlim_t soft;
    rlim_t hard;
};

struct ResourceCase {
    const char* name;
    std::vector<Limit> limits;
    int ports;  // 0: the built-in box
    int status;
    const char* says;
};

class ResourcesTest : public ::testing::TestWithParam<ResourceCase> {};

TEST_P(ResourcesTest, AreMadeSureOfBeforeAnyBoxIsAsked) {
    if (kUnderSanitizers) GTEST_SKIP() << "the sanitizers cannot run under these limits";
    QTemporaryDir dir;
    std::deque<StbSimulator> boxes(size_t(GetParam().ports));
    QStringList arguments{"-d", dir.path()};
    for (const StbSimulator& box : boxes) arguments << "-p" << box.devicePath();
    if (boxes.empty()) arguments << "--simulate";
    QProcess process;
    process.setChildProcessModifier([limits = GetParam().limits] {
        for (const Limit& limit : limits) {
            const rlimit value{limit.soft, limit.hard};
            ::setrlimit(limit.resource, &value);
        }
    });
    process.start(dumpProgram(), arguments);
    ASSERT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; },
                          std::chrono::seconds(30)));

    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(process.exitCode(), GetParam().status) << err.toStdString();
    EXPECT_TRUE(err.contains(GetParam().says)) << err.toStdString();
    for (const StbSimulator& box : boxes) {
        if (GetParam().status == 0) {
            EXPECT_TRUE(waitUntil([&] { return box.successAcknowledgements() == 1; }));
        } else {
            EXPECT_TRUE(box.transcript().isEmpty());
        }
    }
}

constexpr rlim_t kGiB = rlim_t(1) << 30;
// A thread's stack is as large as the stack limit: none fits in the address space.
const std::vector<Limit> kNoThread{{RLIMIT_STACK, 64 * kGiB, 64 * kGiB},
                                   {RLIMIT_AS, 4 * kGiB, 4 * kGiB}};

INSTANTIATE_TEST_SUITE_P(
    Limits, ResourcesTest,
    ::testing::Values(
        ResourceCase{"few_descriptors",
                     {{RLIMIT_NOFILE, 12, 12}},
                     4,
                     71,
                     "Too few file descriptors are left for 4 ports: 18 are needed and "},
        ResourceCase{"few_descriptors_built_in_box",
                     {{RLIMIT_NOFILE, 6, 6}},
                     0,
                     71,
                     "Too few file descriptors are left for 1 port: "},
        ResourceCase{"soft_limit_raised", {{RLIMIT_NOFILE, 12, 4096}}, 4, 0, ""},
        ResourceCase{"no_thread", kNoThread, 2, 0, ""}),
    [](const auto& info) { return info.param.name; });

struct StopCase {
    const char* name;
    QStringList arguments;  // before the device
    SimOptions box;
    const char* stopWhen;  // the box has received this
};

class StopAndContinueTest : public ::testing::TestWithParam<StopCase> {};

bool isStopped(qint64 pid) {
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
}

// The box goes on sending while the program is stopped for longer than it would wait.
TEST_P(StopAndContinueTest, TakesWhatArrivedMeanwhileBeforeGivingUp) {
    QTemporaryDir dir;
    StbSimulator box(GetParam().box);
    bool allSent = GetParam().box.loopback != sim::Loopback::Off;
    QObject::connect(&box, &sim::SimulatedBox::replySent, [&] { allSent = true; });
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(dumpProgram(), GetParam().arguments + QStringList{box.devicePath()});
    ASSERT_TRUE(waitUntil([&] { return box.transcript().contains(GetParam().stopWhen); }));

    ::kill(pid_t(process.processId()), SIGSTOP);
    ASSERT_TRUE(waitUntil([&] { return isStopped(process.processId()); }));
    QElapsedTimer stopped;
    stopped.start();
    ASSERT_TRUE(waitUntil([&] { return allSent && stopped.hasExpired(2500); }));
    ::kill(pid_t(process.processId()), SIGCONT);
    ASSERT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }));

    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    if (GetParam().box.loopback == sim::Loopback::Off) {
        EXPECT_EQ(readFile(dir.filePath("EEPROM.bin")), bytesOf(GetParam().box.image));
    }
}

SimOptions paced(sim::Loopback loopback, int baud) {
    SimOptions options;
    options.loopback = loopback;
    options.baud = baud;
    return options;
}

// The waits run out a second, or half a second, into the stop.
INSTANTIATE_TEST_SUITE_P(
    Waits, StopAndContinueTest,
    ::testing::Values(
        StopCase{"reply", {"-t", "1", "-p"}, paced(sim::Loopback::Off, 9600), "REQUEST_E2PROM"},
        StopCase{"loopback", {"--check-port"}, paced(sim::Loopback::Echo, 2400), "\x40"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tessaly::test
