// Several boxes read by one tessaly-dump at the same time.
#include <Files.h>
#include <Wait.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <deque>

#include "RunDump.h"
#include "cli/PortNames.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

using sim::SimOptions;
using sim::StbSimulator;
using namespace std::chrono_literals;

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

enum class Alias { SameName, Link, DeviceNode, BindMount };
const char* const kAliasNames[] = {"SameName", "Link", "DeviceNode", "BindMount"};

// A second name for a device, made as a container or an administrator would make it.
class DeviceAlias {
public:
    DeviceAlias(Alias kind, const QString& device, const QString& path)
        : path_(kind == Alias::SameName ? device : path) {
        const QByteArray from = QFile::encodeName(device), to = QFile::encodeName(path);
        struct stat status {};
        if (kind == Alias::Link) made_ = QFile::link(device, path);
        if (kind == Alias::DeviceNode)
            made_ = ::stat(from, &status) == 0 && ::mknod(to, S_IFCHR | 0600, status.st_rdev) == 0;
        if (kind == Alias::BindMount)
            mounted_ = made_ = QFile(path).open(QIODevice::WriteOnly) &&
                               ::mount(from, to, nullptr, MS_BIND, nullptr) == 0;
    }
    ~DeviceAlias() {
        if (mounted_) ::umount2(QFile::encodeName(path_), MNT_DETACH);
    }
    QString path_;
    bool made_ = true;
    bool mounted_ = false;
};

class DeviceAliasTest : public ::testing::TestWithParam<Alias> {};

TEST_P(DeviceAliasTest, IsBadUsageInOneRunAndInUseForAnotherRun) {
    StbSimulator box;
    QTemporaryDir dir;
    const DeviceAlias alias(GetParam(), box.devicePath(), dir.filePath("alias"));
    if (!alias.made_) GTEST_SKIP() << "device nodes and bind mounts need root";

    const RunResult together =
        runDump({"-p", box.devicePath(), "-p", alias.path_, "-d", dir.path(), "-t", "1"});
    EXPECT_EQ(together.exitCode, 64) << together.err.toStdString();
    EXPECT_TRUE(together.err.contains(
        QStringLiteral("\"%1\" and \"%2\" are the same device").arg(box.devicePath(), alias.path_)))
        << together.err.toStdString();
    EXPECT_TRUE(box.transcript().isEmpty()) << "refused before any box is asked";

    // The box answers no more until this thread's event loop runs again: the first run holds it.
    QSignalSpy asked(&box, &StbSimulator::received);
    QProcess first;
    first.start(dumpProgram(), {"-p", box.devicePath(), "-d", dir.path(), "-t", "60"});
    ASSERT_TRUE(asked.wait(30000));
    QProcess second;
    second.start(dumpProgram(), {"-p", alias.path_, "-d", dir.path(), "-t", "1"});
    ASSERT_TRUE(second.waitForFinished(30000));
    const QString refusal = second.readAllStandardError();
    EXPECT_EQ(second.exitCode(), 2) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains(QStringLiteral("is in use by another program (another Tessaly "
                                                "run, process %1, holds it under the name %2)")
                                     .arg(first.processId())
                                     .arg(box.devicePath())))
        << refusal.toStdString();
    ASSERT_TRUE(waitUntil([&] { return first.state() == QProcess::NotRunning; }, 60s));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceAliasTest,
                         ::testing::Values(Alias::SameName, Alias::Link, Alias::DeviceNode,
                                           Alias::BindMount),
                         [](const auto& info) { return kAliasNames[size_t(info.param)]; });

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

TEST(PortNameTest, NamesTheFirstFourPortsAsComPortsOrNumbersAndTakesOtherNamesAsDevices) {
    for (const auto& [port, device] : {std::pair{"3", "/dev/ttyS2"},
                                       {"COM 1", "/dev/ttyS0"},
                                       {" com4", "/dev/ttyS3"},
                                       {"5", "5"},
                                       {"COM7", "COM7"},
                                       {"/dev/pts/3", "/dev/pts/3"}})
        EXPECT_EQ(cli::devicePathFor(port), device) << port;
}

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
