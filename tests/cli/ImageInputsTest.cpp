// --show, --compare and --image given what is not an image, each run under an address-space limit.
#include <Files.h>
#include <Sanitizers.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include "RunDump.h"

namespace tessaly::test {

struct InputCase {
    const char* name;
    const char* writer;     // a command started first, in the background: "yes > %D/fifo &"
    QStringList arguments;  // %D: a folder with a.bin and b.bin (1 MiB, all differ) and fifo
    int exitCode;
    const char* says;  // on stdout or stderr
};

class ImageInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ImageInputTest, IsReadWithinBoundsOrRefusedInOneSentence) {
    const InputCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("a.bin"), QByteArray(1 << 20, '\x55')) &&
                writeFile(dir.filePath("b.bin"), QByteArray(1 << 20, '\xAA')) &&
                ::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
    const QString program = c.arguments[0] == "--image" ? "/tessaly-stb-sim" : "/tessaly-dump";
    const QString script = QString(c.writer) + " ulimit -v %1 && exec \"$0\" \"$@\"";
    QStringList arguments{"-c", script.arg(kUnderSanitizers ? "unlimited" : "262144"),
                          QCoreApplication::applicationDirPath() + program};
    const RunResult run =
        runProgram("sh", (arguments + c.arguments).replaceInStrings("%D", dir.path()));

    EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
    EXPECT_TRUE((run.out + run.err).contains(c.says)) << (run.out + run.err).toStdString();
    EXPECT_TRUE(c.exitCode < 2 || run.out.isEmpty()) << run.out.toStdString();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(SpecialFilesAndReadErrors, ImageInputTest, ::testing::Values(
    InputCase{"zero", "", {"--compare", "/dev/zero", "%D/a.bin"}, 4, "/dev/zero: it is a device"},
    InputCase{"directory", "", {"--show", "%D"}, 4, "it is a directory"},
    InputCase{"fifo_without_end", "yes > %D/fifo &", {"--show", "%D/fifo"}, 4, "more than 1 MiB"},
    InputCase{"fifo_without_writer", "", {"--show", "%D/fifo"}, 4, "did not end within 10 s"},
    InputCase{"fifo_with_image", "cat %D/a.bin > %D/fifo &", {"--show", "%D/fifo"}, 0,
              "\n1048576 bytes, data sum 0x00\n"},
    InputCase{"differing_everywhere", "", {"--compare", "%D/a.bin", "%D/b.bin"}, 1,
              "\n0x3FF 55 AA\n1048576 bytes differ, the first 1024 listed\n"},
    InputCase{"differing_everywhere_json", "", {"--compare", "%D/a.bin", "%D/b.bin", "--json"}, 1,
              R"("offset":1023}],"differences_truncated":true,"differing_bytes":1048576)"},
    InputCase{"simulator_terminal", "", {"--image", "/dev/ptmx"}, 64, "/dev/ptmx: it is a device"},
    InputCase{"io_error", "", {"--show", "/proc/self/mem"}, 4, "mem: Input/output error.\n"},
    InputCase{"io_errors_compared", "", {"--compare", "/proc/self/mem", "/proc/self/mem",
              "--json"}, 4, "Cannot read /proc/self/mem: Input/output error."},
    InputCase{"simulator_io_error", "", {"--image", "/proc/self/mem"}, 64, "Input/output error\n"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace tessaly::test
