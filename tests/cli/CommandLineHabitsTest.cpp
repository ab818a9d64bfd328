// What scripts and command-line users rely on: usage errors, checks before the box is asked,
// stop signals, a reader that goes away, quiet runs, colour, an output file, the list of ports.
// What needs a process of its own (signals, pipes, limits, another user) starts the program.
#include <Files.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include "RunDump.h"
#include "cli/DumpOptions.h"
#include "serial/SerialLink.h"
#include "sim/PseudoTerminal.h"
#include "sim/SimulatedBox.h"

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
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
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
                      DirectoryCase{"output_parent", "-o", "missing/x.bin", "does not exist"},
                      DirectoryCase{"output_is_a_directory", "-o", "folder", "is a directory"},
                      DirectoryCase{"output_parent_is_a_file", "-o", "file/x.bin",
                                    "is not a directory"}),
    [](const auto& info) { return info.param.name; });

struct NameCase {
    const char* option;
    const char* name;    // inside the temporary directory; a Latin-1 é at the end or within
    const char* folder;  // made first, so that nothing can be said not to exist
};

class NonUtf8NameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NonUtf8NameTest, IsRefusedBeforeTheBoxIsAskedAndSaidToBeSo) {
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + '/' + GetParam().name;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/' + GetParam().folder;
    if (*GetParam().folder != '\0') {
        ASSERT_EQ(::mkdir(folder, 0700), 0);
    }
    StbSimulator box;
    const bool port = GetParam().option == QByteArrayView("-p");
    const QByteArray device = QFile::encodeName(box.devicePath());
    const QByteArray target = QFile::encodeName(dir.path());
    const char* const argv[] = {"tessaly-dump", "-p", port ? name.constData() : device.constData(),
                                port ? "-d" : GetParam().option,
                                port ? target.constData() : name.constData()};
    QStringList arguments;
    for (const char* argument : argv) arguments << QString::fromLocal8Bit(argument);

    const RunResult result =
        runDump(arguments.mid(1), {}, cli::describeNonUtf8Argument(std::size(argv), argv));
    if (*GetParam().folder != '\0') ::rmdir(folder);  // out of Qt's reach when the dir goes

    EXPECT_EQ(result.exitCode, 64);
    EXPECT_TRUE(result.err.contains(QStringLiteral("with %1").arg(GetParam().option)))
        << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("is not valid UTF-8")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("rename it, or use a link with a plain name"));
    EXPECT_FALSE(result.err.contains("does not exist"));
    EXPECT_TRUE(box.transcript().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Names, NonUtf8NameTest,
                         ::testing::Values(NameCase{"-d", "caf\xe9", "caf\xe9"},
                                           NameCase{"-d", "\377", "\377"},
                                           NameCase{"-o", "caf\xe9/x.bin", "caf\xe9"},
                                           NameCase{"-o", "x\xe9.bin", ""},
                                           NameCase{"-p", "tty\xe9", ""}));

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
    EXPECT_TRUE(result.err.contains("is read-only")) << result.err.toStdString();
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
    serial::SerialLink next;
    EXPECT_NO_THROW(next.open(box.devicePath())) << "the lock went with the port";
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

struct UnwritableOutputCase {
    const char* name;
    const char* script;  // $0 the program, $1 a box, $2 a folder holding a.bin and b.bin
    const char* says;    // after "standard output cannot be written "
};

class UnwritableOutputTest : public ::testing::TestWithParam<UnwritableOutputCase> {};

TEST_P(UnwritableOutputTest, IsSaidAndEndsWith74WhileTheDumpStaysAsItIs) {
    QTemporaryDir dir;
    for (const char* name : {"a.bin", "b.bin"})
        ASSERT_TRUE(writeFile(dir.filePath(name), QByteArray(1024, name[0])));
    StbSimulator box;
    const RunResult result = runShell(GetParam().script, {box.devicePath(), dir.path()});

    EXPECT_EQ(result.exitCode, 74) << result.err.toStdString();
    EXPECT_TRUE(result.err.endsWith(QStringLiteral("written %1.\n").arg(GetParam().says)))
        << result.err.toStdString();
    if (QByteArrayView(GetParam().script).contains("-p $1")) {
        EXPECT_EQ(readFile(dir.filePath("EEPROM.bin")), bytesOf(SimOptions().image));
        EXPECT_TRUE(waitUntil([&] { return box.transcript().contains("E2PROMDOWN"); }));
    }
}

const UnwritableOutputCase kUnwritableOutputCases[] = {
    {"record_on_a_full_disk", "exec $0 -p $1 -d $2 --json >/dev/full",
     "(No space left on device): the JSON record is missing (exit status 74 instead of 0)"},
    {"listing_on_a_closed_descriptor", "exec $0 -p $1 -d $2 >&-",
     "(Bad file descriptor): the text meant for it is missing (exit status 74 instead of 0)"},
    {"file_listing_cut_by_a_file_size_limit", "ulimit -f 1; exec $0 --show $2/a.bin >$2/out",
     "(File too large): the text meant for it is incomplete (exit status 74 instead of 0)"},
    {"comparison_on_a_full_disk", "exec $0 --compare $2/a.bin $2/b.bin --json >/dev/full",
     "(No space left on device): the JSON record is missing (exit status 74 instead of 1)"},
    {"help_on_a_full_disk", "exec $0 --help >/dev/full",
     "(No space left on device): the text meant for it is missing (exit status 74 instead of 0)"},
};

INSTANTIATE_TEST_SUITE_P(Streams, UnwritableOutputTest, ::testing::ValuesIn(kUnwritableOutputCases),
                         [](const auto& info) { return info.param.name; });

// The damage in bold red and a changed byte highlighted, only where asked for.
TEST(ColorTest, MarksOnlyWhereAskedFor) {
    const struct {
        const char* color;    // --color's value; empty: not given
        bool onTerminal;      // stdout is a terminal rather than a file
        const char* noColor;  // NO_COLOR's value; null: not set
        bool colored;
    } cases[] = {{"always", false, nullptr, true}, {"always", true, "1", true},
                 {"never", true, nullptr, false},  {"auto", false, nullptr, false},
                 {"", true, nullptr, true},        {"auto", true, "", true},
                 {"auto", true, "1", false}};
    QByteArray earlier = bytesOf(SimOptions::recognisableImage());
    earlier[17] = char(~earlier[17]);
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("--color=%1 %2").arg(c.color).arg(c.onTerminal).toStdString());
        c.noColor ? qputenv("NO_COLOR", c.noColor) : qunsetenv("NO_COLOR");
        QTemporaryDir dir;
        ASSERT_TRUE(writeFile(dir.filePath("EEPROM.bin"), earlier));
        sim::PseudoTerminal terminal;
        std::FILE* out =
            c.onTerminal ? std::fopen(qPrintable(terminal.devicePath()), "w") : std::tmpfile();
        std::FILE* err = std::tmpfile();
        cli::Console console(out, err);
        QStringList arguments{"tessaly-dump", "--simulate-box", "wrong-checksum", "--dir",
                              dir.path()};
        if (*c.color) arguments << QStringLiteral("--color=") + c.color;
        cli::runDumpProgram(arguments, {}, console);
        std::fclose(err);
        const QString shown =
            c.onTerminal ? (std::fclose(out), QString(terminal.readAvailable())) : takeText(out);
        EXPECT_EQ(shown.contains("A5 \033[1;31mCRC Error!!!\033[0m\n\033[1;31msaved "), c.colored);
        EXPECT_EQ(shown.contains("\n50 \033[30;43m52\033[0m 4F "), c.colored);
        EXPECT_EQ(shown.contains('\033'), c.colored) << shown.toStdString();
    }
    qunsetenv("NO_COLOR");
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
