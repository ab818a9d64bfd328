// --show and --compare given what is not a plain image: devices, pipes, directories, files that
// cannot be read or hold far more than an image. Each run is a process of its own under an
// address-space limit, so that reading without end fails fast instead of taking the machine's
// memory, and a hang shows as a run that does not end.
#include <Files.h>
#include <Sanitizers.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "RunDump.h"

namespace tessaly::test {
namespace {

struct InputCase {
    const char* name;
    QStringList arguments;   // "%D/" stands for a folder holding a.bin and b.bin (1 MiB each,
                             // differing everywhere), image.bin (1024 bytes), locked.bin (mode
                             // 000) and the FIFO fifo
    const char* fifoWriter;  // a shell command whose output goes into the FIFO; "" for none
    int exitCode;
    const char* says;  // on stdout or stderr
    bool unlessRoot = false;
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

class ImageInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ImageInputTest, IsReadWithinBoundsOrRefusedInOneSentence) {
    const InputCase& c = GetParam();
    if (c.unlessRoot && ::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("a.bin"), QByteArray(1 << 20, '\x55')));
    ASSERT_TRUE(writeFile(dir.filePath("b.bin"), QByteArray(1 << 20, '\xAA')));
    ASSERT_TRUE(writeFile(dir.filePath("image.bin"), QByteArray(1024, '\x01')));
    ASSERT_TRUE(writeFile(dir.filePath("locked.bin"), QByteArray(1024, '\x01')));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("locked.bin")).constData(), 0), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
    QProcess writer;
    if (*c.fifoWriter)
        writer.start(
            "sh", {"-c", QStringLiteral("cd \"$0\" && %1 > fifo").arg(c.fifoWriter), dir.path()});

    const RunResult run =
        runProgram(dumpProgram(), QStringList(c.arguments).replaceInStrings("%D", dir.path()), [] {
            const rlimit limit{256 << 20, 256 << 20};
            if (!kUnderSanitizers) setrlimit(RLIMIT_AS, &limit);
        });

    EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
    EXPECT_TRUE((run.out + run.err).contains(c.says)) << (run.out + run.err).toStdString();
    if (c.exitCode == 4) {
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
    writer.kill();
    EXPECT_TRUE(waitUntil([&] { return writer.state() == QProcess::NotRunning; }));
}

std::string nameOf(const ::testing::TestParamInfo<InputCase>& info) { return info.param.name; }

// clang-format off
INSTANTIATE_TEST_SUITE_P(SpecialAndEndlessFiles, ImageInputTest, ::testing::Values(
    InputCase{"zero", {"--show", "/dev/zero"}, "", 4, "Cannot read /dev/zero: it is a device"},
    InputCase{"zero_compared", {"--compare", "/dev/zero", "%D/a.bin"}, "", 4, "it is a device"},
    InputCase{"pseudo_terminal", {"--show", "/dev/ptmx"}, "", 4, "it is a device"},
    InputCase{"directory", {"--show", "%D/"}, "", 4, "it is a directory"},
    InputCase{"fifo_without_end", {"--show", "%D/fifo"}, "yes", 4, "holds more than 1 MiB"},
    InputCase{"fifo_without_writer", {"--show", "%D/fifo"}, "", 4, "did not end within 10 s"},
    InputCase{"fifo_with_image", {"--show", "%D/fifo"}, "cat image.bin", 0, "1024 bytes, data"},
    InputCase{"differing_everywhere", {"--compare", "%D/a.bin", "%D/b.bin"}, "", 1,
              "\n1048576 bytes differ, the first 1024 listed\n"},
    InputCase{"differing_everywhere_json", {"--compare", "%D/a.bin", "%D/b.bin", "--json"}, "",
              1, R"("offset":1023}],"differences_truncated":true,"differing_bytes":1048576)"}),
    nameOf);

INSTANTIATE_TEST_SUITE_P(ReadErrors, ImageInputTest, ::testing::Values(
    InputCase{"io_error", {"--show", "/proc/self/mem"}, "", 4,
              "Cannot read /proc/self/mem: Input/output error.\n"},
    InputCase{"io_errors_compared", {"--compare", "/proc/self/mem", "/proc/self/mem", "--json"},
              "", 4, "Input/output error"},
    InputCase{"permission", {"--show", "%D/locked.bin"}, "", 4, "Permission denied", true}),
    nameOf);
// clang-format on

}  // namespace
}  // namespace tessaly::test
