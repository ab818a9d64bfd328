// Several boxes read by one tessaly-dump at the same time.
#include <Files.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <deque>

#include "RunDump.h"
#include "cli/PortNames.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

using sim::SimOptions;
using sim::StbSimulator;

// Each box serves an image of its own, so that an image in the wrong directory shows.
SimOptions boxNumber(int number) {
    SimOptions options;
    options.image.fill(std::uint8_t(number));
    options.wrongChecksum = number == 2;
    return options;
}

QString nameOf(const StbSimulator& box) { return box.devicePath().mid(5).replace('/', '-'); }

class SeveralPortsTest : public ::testing::TestWithParam<bool> {
protected:
    SeveralPortsTest() {
        for (int number = 0; number < 3; ++number) boxes_.emplace_back(boxNumber(number));
    }

    QStringList portOptions() const {
        QStringList options;
        for (const StbSimulator& box : boxes_) options << "--port" << box.devicePath();
        return options;
    }

    QTemporaryDir dir_;
    std::deque<StbSimulator> boxes_;
};

TEST_P(SeveralPortsTest, EachBoxGoesToItsOwnDirectoryAndTheWorstStatusWins) {
    const bool json = GetParam();
    const RunResult result = runDump(portOptions() + QStringList{"--dir", dir_.path()} +
                                     (json ? QStringList{"--json"} : QStringList{}));

    EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
    const QString human = json ? result.err : result.out;
    EXPECT_FALSE(human.contains("sending request")) << "no listings with several ports";
    QStringList records = result.out.split('\n', Qt::SkipEmptyParts);
    for (int number = 0; number < 3; ++number) {
        const StbSimulator& box = boxes_[size_t(number)];
        const QString path = QDir(dir_.filePath(nameOf(box))).filePath("EEPROM.bin");
        EXPECT_EQ(readFile(path), bytesOf(boxNumber(number).image)) << path.toStdString();
        EXPECT_TRUE(human.contains(QStringLiteral("[%1] saved %2").arg(nameOf(box), path)));
        const QString outcome = number == 2 ? "checksum_mismatch" : "saved";
        EXPECT_TRUE(human.contains(QRegularExpression(
            QStringLiteral("\n%1 +%2 +[0-9a-f]{16} +[0-9.]+\n").arg(nameOf(box), outcome))))
            << human.toStdString();
        if (!json) continue;
        const auto record = std::find_if(records.begin(), records.end(), [&](const QString& line) {
            return QJsonDocument::fromJson(line.toUtf8())["port"] == box.devicePath();
        });
        ASSERT_NE(record, records.end()) << result.out.toStdString();
        const QJsonObject object = QJsonDocument::fromJson(record->toUtf8()).object();
        EXPECT_EQ(object["outcome"], outcome);
        EXPECT_EQ(object["exit_status"], number == 2 ? 1 : 0);
        EXPECT_EQ(object["checksum_data"], (number * 1024) % 256);
        EXPECT_EQ(object["path"], path);
        EXPECT_EQ(object["sha256"].toString().size(), 64);
        EXPECT_TRUE(
            object["started"].toString().contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
    }
    EXPECT_EQ(records.size(), json ? 3 : 3 * 2 + 4)
        << "a record a box, or two lines a box and a table";
}

INSTANTIATE_TEST_SUITE_P(Output, SeveralPortsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "json" : "human"; });

TEST(SeveralPortsUsageTest, OneDeviceNamedTwiceIsBadUsage) {
    StbSimulator box;
    QTemporaryDir dir;
    const QString alias = dir.filePath("alias");
    ASSERT_TRUE(QFile::link(box.devicePath(), alias));

    for (const QString& second : {box.devicePath(), alias}) {
        const RunResult result =
            runDump({"-p", box.devicePath(), "-p", second, "-d", dir.path(), "-t", "1"});
        EXPECT_EQ(result.exitCode, 64) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains("same device")) << result.err.toStdString();
    }
    EXPECT_TRUE(box.transcript().isEmpty()) << "refused before any box is asked";
}

struct FolderCase {
    const char* device;
    const char* folder;
};

class FolderNameTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderNameTest, IsPlainAndNeverHiddenOrAnOption) {
    EXPECT_EQ(cli::directoryNameFor(GetParam().device), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, FolderNameTest,
    ::testing::Values(FolderCase{"/dev/ttyUSB0", "ttyUSB0"},
                      FolderCase{"/dev/serial/by-id/usb-FTDI:0", "serial-by-id-usb-FTDI-0"},
                      FolderCase{"/tmp/box", "tmp-box"}, FolderCase{"./box", "box"},
                      FolderCase{"/dev/.hidden", "hidden"}, FolderCase{"--box", "box"},
                      FolderCase{"..", "port"}, FolderCase{"COM7", "COM7"}));

class SharedFolderTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SharedFolderTest, IsRefusedBeforeAnyBoxIsAsked) {
    QTemporaryDir dir;
    const auto [first, second] = GetParam();
    const RunResult result = runDump({"-p", first, "-p", second, "-d", dir.path()});
    EXPECT_EQ(result.exitCode, 64);
    EXPECT_TRUE(result.err.contains(
        QStringLiteral("\"%1\" and \"%2\" would share the folder").arg(first, second)))
        << result.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Ports, SharedFolderTest,
                         ::testing::Values(std::pair{"/x/a/b", "/x/a-b"},
                                           std::pair{"/dev/ttyA", "/dev/ttya"},
                                           std::pair{"/tmp/box", "tmp/box"}));

}  // namespace
}  // namespace tessaly::test
