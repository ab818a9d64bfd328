// What scripts and command-line users rely on: usage errors, checks before the box is asked,
// stop signals, a reader that goes away, quiet runs, an output file, the list of ports. What
// needs a process of its own (signals, pipes, limits, another user) starts the program.
#include <Files.h>
#include <Sanitizers.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include "RunDump.h"
#include "cli/DumpOptions.h"
#include "serial/MSComm.h"
#include "sim/StbSimulator.h"

namespace tessaly::test {
namespace {

using sim::SimOptions;
using sim::StbSimulator;

RunResult runShell(const QString& script, const QStringList& arguments) {
    return runProgram(QStringLiteral("/bin/bash"),
                      QStringList{"-c", script, dumpProgram()} + arguments);
}

struct DirectoryCase {
    const char* name;
    const char* option;
    const char* target;  // inside the temporary directory
    const char* says;
};

class DirectoryCheckTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DirectoryCheckTest, IsMadeBeforeTheBoxIsAsked) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("file"), "not a directory"));
    StbSimulator box;
    const RunResult result =
        runDump({"-p", box.devicePath(), GetParam().option, dir.filePath(GetParam().target)});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_TRUE(result.err.contains(GetParam().says)) << result.err.toStdString();
    EXPECT_TRUE(box.transcript().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Directories, DirectoryCheckTest,
    ::testing::Values(DirectoryCase{"missing", "-d", "missing", "does not exist"},
                      DirectoryCase{"file", "-d", "file", "is not a directory"},
                      DirectoryCase{"output_parent", "-o", "missing/x.bin", "does not exist"}),
    [](const auto& info) { return info.param.name; });

TEST(DirectoryCheckTest, NamesThatAreNotUtf8AreSaidToBeSo) {
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/\377";
    const char* const argv[] = {"tessaly-dump", "--simulate", "--dir", name.constData()};
    const RunResult result = runDump({"--simulate", "--dir", QString::fromLocal8Bit(name)}, {},
                                     cli::describeNonUtf8Argument(4, argv));
    EXPECT_EQ(result.exitCode, 64);
    EXPECT_TRUE(result.err.contains("with --dir")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("not valid UTF-8"));
}

TEST(DirectoryCheckTest, ReadOnlyDirectoryIsAWriteFailure) {
    QTemporaryDir dir;
    const QString readOnly = dir.filePath("read-only");
    ASSERT_TRUE(QDir().mkdir(readOnly));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ExeGroup | QFile::ExeOther);
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner | QFile::ExeOther);
    // Root may write anywhere: run as nobody where possible.
    const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", dumpProgram()};
    const RunResult result =
        ::geteuid() == 0
            ? runProgram("setpriv", asNobody + QStringList{"--simulate", "-d", readOnly})
            : runDumpProcess({"--simulate", "-d", readOnly});
    EXPECT_EQ(result.exitCode, 4) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("is not writable")) << result.err.toStdString();
}

class StopSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(StopSignalTest, EndsTheWaitLikeCloseAndLeavesThePortFree) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("EEPROM.bin"), "earlier image"));
    SimOptions silent;
    silent.silentAfterMessage = 6;
    StbSimulator box(silent);
    QProcess process;
    process.start(dumpProgram(), {"-p", box.devicePath(), "-d", dir.path(), "-t", "0", "--verify"});
    ASSERT_TRUE(waitUntil([&] { return box.transcript().contains("REQUEST_START_BLOCK"); }));

    ::kill(pid_t(process.processId()), GetParam());
    ASSERT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }));

    EXPECT_EQ(process.exitCode(), 128 + GetParam());
    EXPECT_TRUE(process.readAllStandardError().contains("Interrupted"));
    EXPECT_FALSE(box.transcript().contains("E2PROMDOWN"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"EEPROM.bin"});
    EXPECT_EQ(readFile(dir.filePath("EEPROM.bin")), "earlier image");
    serial::MSComm next;
    next.setCommPort(next.AddDevice(box.devicePath()));
    EXPECT_NO_THROW(next.setPortOpen(true)) << "the lock went with the port";
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

class ClosedOutputTest : public ::testing::TestWithParam<bool> {};

TEST_P(ClosedOutputTest, NeverChangesTheExitStatus) {
    QTemporaryDir dir;
    SimOptions options;
    options.wrongChecksum = GetParam();
    StbSimulator box(options);
    const RunResult result = runShell(
        "\"$0\" -p \"$1\" -d \"$2\" | head -c 5 >/dev/null; echo \"status ${PIPESTATUS[0]}\"",
        {box.devicePath(), dir.path()});
    EXPECT_EQ(result.out.trimmed(), GetParam() ? "status 1" : "status 0")
        << result.err.toStdString();
    EXPECT_EQ(readFile(dir.filePath("EEPROM.bin")), bytesOf(options.image));
    EXPECT_TRUE(waitUntil([&] { return box.transcript().contains("E2PROMDOWN"); }));
}

INSTANTIATE_TEST_SUITE_P(Checksum, ClosedOutputTest, ::testing::Values(false, true));

TEST(SimulatedBoxTest, NoDescriptorsLeftIsAnOpenFailureNotACrash) {
    if (test::kUnderSanitizers) GTEST_SKIP() << "the sanitizers cannot run without descriptors";
    QTemporaryDir dir;
    const RunResult result =
        runShell("ulimit -n 6; exec \"$0\" --simulate -d \"$1\"", {dir.path()});
    EXPECT_EQ(result.exitCode, 2) << result.err.toStdString();
    EXPECT_TRUE(result.err.startsWith("tessaly-dump: ")) << result.err.toStdString();
}

TEST(ListPortsTest, GivesEveryPortOnALineInBothForms) {
    const RunResult text = runDump({"--list-ports"});
    const RunResult json = runDump({"--list-ports", "--json"});
    ASSERT_EQ(text.exitCode, 0);
    ASSERT_EQ(json.exitCode, 0);
    const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
    const QStringList records = json.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), records.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].count('\t'), 4) << lines[i].toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(records[i].toUtf8())["device"].toString(),
                  lines[i].section('\t', 0, 0));
    }
}

}  // namespace
}  // namespace tessaly::test
