// tessaly-dump in-process against its built-in box, as it runs on every platform (under wine
// too): each way the box can misbehave ends with its own exit status and sentence.
#include <Files.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "RunDump.h"
#include "sim/BoxBehaviour.h"

namespace tessaly {
namespace {

struct BoxCase {
    const char* name;
    const char* behaviour;
    QStringList extra;
    int exitCode;
    const char* errorSays;  // empty: stderr stays empty
    bool imageSaved;
};

class SimulatedBoxCommandTest : public ::testing::TestWithParam<BoxCase> {
protected:
    QString imagePath() const { return dir_.filePath(QStringLiteral("EEPROM.bin")); }
    QTemporaryDir dir_;
};

TEST_P(SimulatedBoxCommandTest, EndsWithItsStatusAndSentence) {
    const BoxCase& box = GetParam();
    ASSERT_TRUE(test::writeFile(imagePath(), "earlier image"));

    const test::RunResult result = test::runDump(
        QStringList{"--simulate-box", box.behaviour, "--dir", dir_.path()} + box.extra);

    EXPECT_EQ(result.exitCode, box.exitCode) << result.err.toStdString();
    if (*box.errorSays == '\0') {
        EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    } else {
        EXPECT_TRUE(result.err.contains(box.errorSays)) << result.err.toStdString();
    }
    const QByteArray served = test::bytesOf(sim::SimOptions::recognisableImage());
    EXPECT_EQ(test::readFile(imagePath()), box.imageSaved ? served : "earlier image");
    if (box.imageSaved) {
        EXPECT_TRUE(result.out.contains("Serial port closed."));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, SimulatedBoxCommandTest,
    ::testing::Values(
        BoxCase{"WellBehaved", "", {}, 0, "", true},
        BoxCase{"TokensSplitAndNoisy", "split-tokens,noise=40", {}, 0, "", true},
        BoxCase{"WrongChecksum", "wrong-checksum", {}, 1, "checksum", true},
        BoxCase{"Silent", "silent-after=5", {"--timeout", "1"}, 3, "\"PC___\"", false},
        BoxCase{"SavedNotVerified",
                "reads-then-silent=1",
                {"--verify", "--timeout", "1"},
                6,
                "not verified",
                true},
        BoxCase{"Unplugged", "disconnect-after-bytes=300", {}, 4, "lost", false},
        BoxCase{"UnknownBehaviour", "silent", {}, 64, "unknown box behaviour", false}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(PortNameCommandTest, MissingPortExitsTwoNamingIt) {
#ifdef Q_OS_WIN
    const QString missing = QStringLiteral("COM250");
#else
    const QString missing = QStringLiteral("/dev/ttyS250");
#endif
    QTemporaryDir dir;
    const test::RunResult result = test::runDump({"--port", missing, "--dir", dir.path()});

    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains(missing + " does not exist")) << result.err.toStdString();
}

}  // namespace
}  // namespace tessaly
