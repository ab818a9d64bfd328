// Whole dumps started with the Open button against the simulated box: what the log, the file and
// the user end up with.
#include <Files.h>
#include <Wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCursor>
#include <cerrno>

#include "FormFixture.h"
#include "dump/DumpLog.h"
#include "dump/core/DumpProtocol.h"
#include "serial/SerialLink.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

using namespace std::chrono_literals;

const QString kRequestLine = QStringLiteral("sending request...\r\n");
const QString kCloseLine = QStringLiteral("\r\nSerial port closed.\r\n");

// Host bytes up to the end of the message after which each wait begins.
constexpr int kHostBytesBeforeWait[] = {76, 97, 112, 148};

class DumpFromWindowTest : public FormTest {
protected:
    // Presses Open against a box behaving as `options` say, saving into `target` (the temporary
    // directory when empty).
    void startDump(const sim::SimOptions& options = {}, QString target = {}) {
        box.emplace(options);
        selectDevice(box->devicePath());
        if (target.isEmpty())
            target = QDir::toNativeSeparators(directory.path()) + QDir::separator();
        Text2()->setText(target);
        Command1()->click();
    }

    // Runs one whole dump through the window.
    void dump(const sim::SimOptions& options = {}, QString target = {}) {
        startDump(options, target);
        ASSERT_TRUE(waitUntil([&] { return Command1()->isEnabled(); }));
    }

    void waitForHostBytes(int count) {
        ASSERT_TRUE(waitUntil([&] { return box->transcript().size() >= count; }));
    }

    // Starts a dump against a box that falls silent after host message `silentAfter` (5, 6, 7
    // or 10) and returns once the window waits for it.
    void startSilentDump(int silentAfter) {
        sim::SimOptions options;
        options.silentAfterMessage = silentAfter;
        startDump(options);
        waitForHostBytes(kHostBytesBeforeWait[silentAfter == 10 ? 3 : silentAfter - 5]);
    }

    static QString listingOf(const sim::SimOptions& options) {
        return QString::fromStdString(dump::hexListing(options.image));
    }

    QByteArray savedImage() const { return readFile(directory.filePath("EEPROM.bin")); }

    // The lines the window owes after the listing for an image stored in a fresh directory.
    QString resultLinesFor(const sim::SimOptions& options) const {
        dump::StoredImage stored;
        stored.path = dump::imagePathIn(directory.path(), "EEPROM.bin");
        stored.sha256 =
            QCryptographicHash::hash(bytesOf(options.image), QCryptographicHash::Sha256);
        std::array<std::uint8_t, dump::kReplySize> reply{};
        std::ranges::copy(options.image, reply.begin());
        reply.back() =
            std::uint8_t(dump::checksumOf(options.image) + (options.wrongChecksum ? 1 : 0));
        return dump::storedImageLog(stored, dump::Reply(reply), dump::Wording::Window).text;
    }

    // Whether the log's character at `position` (plain line breaks) is shown as damage.
    bool inRed(qsizetype position) {
        QTextCursor cursor(Text1()->document());
        cursor.setPosition(int(position) + 1);
        return cursor.charFormat().foreground().color() == QColor(204, 0, 0) &&
               cursor.charFormat().fontWeight() == QFont::Bold;
    }

    QTemporaryDir directory;
    std::optional<sim::StbSimulator> box;
};

struct CompletedDump {
    const char* name;
    bool wrongChecksum;
    bool trailingSeparator;  // whether the target text ends in a separator
};

class CompletedDumpTest : public DumpFromWindowTest,
                          public ::testing::WithParamInterface<CompletedDump> {};

// The listing, "CRC Error!!!" on a mismatch, then what was saved where with the box's byte and
// the data's sum, then the close line; the directory and the file name are joined as a path.
TEST_P(CompletedDumpTest, ListsSavesReportsAndAcknowledges) {
    sim::SimOptions options;
    options.wrongChecksum = GetParam().wrongChecksum;
    QString target = QDir::toNativeSeparators(directory.path());
    if (GetParam().trailingSeparator) target += QDir::separator();
    dump(options, target);

    const QString listingEnd = options.wrongChecksum ? "CRC Error!!!\r\n" : "\r\n";
    EXPECT_EQ(form.logText(), kRequestLine + listingOf(options) + listingEnd +
                                  resultLinesFor(options) + kCloseLine);
    const QString shown = Text1()->toPlainText();
    const qsizetype checksumLine = shown.indexOf("saved ");
    EXPECT_EQ(inRed(checksumLine), options.wrongChecksum);
    EXPECT_EQ(inRed(shown.indexOf('\n', checksumLine) - 1), options.wrongChecksum);
    EXPECT_FALSE(inRed(shown.indexOf('\n', checksumLine) + 1));  // the SHA-256 line
    EXPECT_EQ(savedImage(), bytesOf(options.image));
    EXPECT_TRUE(waitUntil([&] {
        return (options.wrongChecksum ? box->errorAcknowledgements()
                                      : box->successAcknowledgements()) == 1;
    }));
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), QColor(255, 0, 0));
    EXPECT_TRUE(desktop.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(, CompletedDumpTest,
                         ::testing::Values(CompletedDump{"Good", false, true},
                                           CompletedDump{"WrongChecksum", true, true},
                                           CompletedDump{"TargetWithoutSeparator", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// "CRC Error!!!" stays where it was, in red and bold; the checksum line names the earlier image
// that was kept aside, so the good copy is one glance away.
TEST_F(DumpFromWindowTest, DamagedDumpStandsOutAndNamesTheKeptEarlierImage) {
    ASSERT_TRUE(writeFile(directory.filePath("EEPROM.bin"), "earlier image"));
    sim::SimOptions options;
    options.wrongChecksum = true;
    dump(options);

    const QString shown = Text1()->toPlainText();
    const qsizetype crcError = shown.indexOf("CRC Error!!!");
    EXPECT_TRUE(inRed(crcError) && inRed(crcError + 11));
    EXPECT_FALSE(inRed(crcError - 2));  // the last byte of the listing
    const QStringList kept = QDir(directory.path()).entryList({"EEPROM-*.bin"});
    ASSERT_EQ(kept.size(), 1);
    const qsizetype checksumLine = shown.indexOf("saved ");
    EXPECT_EQ(
        shown.mid(checksumLine, shown.indexOf('\n', checksumLine) - checksumLine).section(')', -1),
        ": the file holds a damaged dump, the earlier image is kept as " + kept[0]);
}

// Exactly the bytes that differ from the kept earlier image are marked, and the line about that
// image names them.
TEST_F(DumpFromWindowTest, BytesThatDifferFromTheEarlierImageAreMarked) {
    const sim::SimOptions options;
    QByteArray earlier = bytesOf(options.image);
    const std::vector<qsizetype> changed = {0x010, 0x011, 0x3F0};
    for (const qsizetype offset : changed) earlier[offset] = char(~earlier[offset]);
    ASSERT_TRUE(writeFile(directory.filePath("EEPROM.bin"), earlier));
    dump(options);

    const qsizetype listing = Text1()->toPlainText().indexOf('\n') + 1;
    std::vector<qsizetype> marked;
    for (qsizetype offset = 0; offset < 1024; ++offset) {
        QTextCursor cursor(Text1()->document());
        cursor.setPosition(int(listing + offset * 3 + offset / 16 + 2));  // after the first digit
        if (cursor.charFormat().background().color() == QColor(255, 214, 102))
            marked.push_back(offset);
    }
    EXPECT_EQ(marked, changed);
    EXPECT_TRUE(form.logText().contains(" (3 bytes differ: 0x010, 0x011, 0x3F0)\r\n"))
        << form.logText().toStdString();
}

// The folder passed its check, but the image still cannot be written (a directory is in the way).
TEST_F(DumpFromWindowTest, UnwritableImageStillShowsTheDataAndNamesThePath) {
    const sim::SimOptions options;
    const QString missing = QDir::toNativeSeparators(directory.path()) + QDir::separator();
    ASSERT_TRUE(QDir(directory.path()).mkdir("EEPROM.bin"));
    dump(options, missing);

    EXPECT_TRUE(form.logText().startsWith(kRequestLine + listingOf(options) + "\r\nnot saved: "))
        << form.logText().toStdString();
    EXPECT_TRUE(form.logText().endsWith(kCloseLine));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].text.startsWith("The image could not be saved as " + missing +
                                                    "EEPROM.bin: "))
        << desktop.messages[0].text.toStdString();
    EXPECT_EQ(desktop.messages[0].caption, "Error");
    EXPECT_EQ(box->successAcknowledgements() + box->errorAcknowledgements(), 0);
}

struct RefusedFolder {
    const char* name;
    const char* folder;  // inside the temporary directory
    const char* says;
};

class RefusedFolderTest : public DumpFromWindowTest,
                          public ::testing::WithParamInterface<RefusedFolder> {};

// A folder that cannot take the image is named in a message before the port is opened: the box
// hears nothing.
TEST_P(RefusedFolderTest, IsRefusedBeforeTheBoxIsAsked) {
    ASSERT_TRUE(writeFile(directory.filePath("file"), "not a folder"));
    // Latin-1 "café": legal on Linux, but Qt reads names as UTF-8 and gets U+FFFD.
    const QByteArray latin1 = QFile::encodeName(directory.path()) + "/caf\xe9";
    ASSERT_TRUE(::mkdir(latin1.constData(), 0700) == 0 || errno == EEXIST);
    ASSERT_EQ(QFile::decodeName(latin1), directory.filePath(QString("caf") + QChar(0xFFFD)));
    const QString folder = QDir::toNativeSeparators(
        directory.filePath(QString(GetParam().folder).replace("%FFFD", QChar(0xFFFD))));

    startDump({}, folder + QDir::separator());
    ::rmdir(latin1.constData());  // out of Qt's reach when the temporary directory goes

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].text.contains(folder + ' '))
        << desktop.messages[0].text.toStdString();
    EXPECT_TRUE(desktop.messages[0].text.contains(GetParam().says))
        << desktop.messages[0].text.toStdString();
    EXPECT_EQ(desktop.messages[0].caption, "Error");
    EXPECT_FALSE(controller.portOpen());
    EXPECT_EQ(form.logText(), kGreeting);
    EXPECT_FALSE(waitUntil([&] { return !box->transcript().isEmpty(); }, 300ms));
}

INSTANTIATE_TEST_SUITE_P(
    , RefusedFolderTest,
    ::testing::Values(RefusedFolder{"Missing", "missing", "does not exist"},
                      RefusedFolder{"NotADirectory", "file", "is not a directory"},
                      RefusedFolder{"NotUtf8", "caf%FFFD",
                                    "is not valid UTF-8, so Tessaly cannot reach it. Rename the "
                                    "folder, or make a link to it with a plain name"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DumpFromWindowTest, CloseDuringAnyWaitEndsTheRunWithOnlyTheCloseLine) {
    for (const int silentAfter : {5, 6, 7, 10}) {
        SCOPED_TRACE(silentAfter);
        startSilentDump(silentAfter);

        Command2()->click();

        EXPECT_EQ(form.logText(), kRequestLine + kCloseLine);
        EXPECT_EQ(linkControls(), closedLinkState());
        EXPECT_EQ(lamp(), QColor(255, 0, 0));
        EXPECT_FALSE(QFile::exists(directory.filePath("EEPROM.bin")));
    }
}

TEST_F(DumpFromWindowTest, LinkLostDuringTheReplySaysSoAndKeepsTheEarlierImage) {
    ASSERT_TRUE(writeFile(directory.filePath("EEPROM.bin"), "earlier image"));
    sim::SimOptions options;
    options.disconnectAfterReplyBytes = 300;

    dump(options);

    EXPECT_TRUE(form.logText().startsWith(kRequestLine + "\r\nThe link to the box on "))
        << form.logText().toStdString();
    EXPECT_FALSE(form.logText().contains("Serial port closed."));
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), QColor(255, 0, 0));
    EXPECT_EQ(savedImage(), "earlier image");
}

TEST_F(DumpFromWindowTest, ClosingTheWindowDuringAWaitReleasesThePort) {
    startSilentDump(6);

    form.close();

    EXPECT_FALSE(controller.portOpen());
    EXPECT_EQ(form.logText(), kRequestLine + kCloseLine);
}

TEST_F(DumpFromWindowTest, SecondDumpStartsWithAFreshLog) {
    const sim::SimOptions options;
    dump(options);
    Text1()->appendPlainText("typed by the user");
    dump(options);

    EXPECT_TRUE(form.logText().startsWith(kRequestLine + listingOf(options)));
    EXPECT_EQ(form.logText().count("sending request..."), 1);
    EXPECT_TRUE(waitUntil([&] { return box->successAcknowledgements() == 1; }));
}

TEST_F(DumpFromWindowTest, SimulatedBoxFromTheCommandLineIsSelectedAndDumps) {
    const auto simulated = std::make_unique<sim::InProcessBox>();
    controller.ports().offerStartDevices({}, simulated->devicePath());
    ASSERT_EQ(cmbCom()->currentText(), "Simulated box");
    Text2()->setText(QDir::toNativeSeparators(directory.path()) + QDir::separator());

    Command1()->click();

    ASSERT_TRUE(waitUntil([&] { return form.logText().endsWith(kCloseLine); }));
    EXPECT_EQ(savedImage(), test::bytesOf(sim::SimOptions::recognisableImage()));
}

TEST_F(DumpFromWindowTest, SilentBoxEarnsOneReminderPerWaitNamingWhatIsAwaited) {
    const std::chrono::milliseconds patience(50);
    controller.setPatience(patience);
    startSilentDump(6);
    const QString reminder = QStringLiteral(
        "The box has not answered yet; still waiting for \"0000\" (nothing arrived). Check that "
        "the box is in \"HOST - MODE\".\r\n");
    ASSERT_TRUE(waitUntil([&] { return form.logText().contains(reminder); }))
        << form.logText().toStdString();
    EXPECT_FALSE(waitUntil([&] { return form.logText().count(reminder) > 1; }, 10 * patience));

    Command2()->click();

    EXPECT_EQ(form.logText(), kRequestLine + reminder + kCloseLine);
}

// Ctrl-C, kill and a closed terminal reach the window as interruptRun().
TEST_F(DumpFromWindowTest, InterruptDuringAWaitClosesThePortLikeClose) {
    startSilentDump(7);

    controller.interruptRun();

    EXPECT_EQ(form.logText(), kRequestLine + "Interrupted\r\n" + kCloseLine);
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(box->successAcknowledgements() + box->errorAcknowledgements(), 0);
    EXPECT_FALSE(QFile::exists(directory.filePath("EEPROM.bin")));
    serial::SerialLink next;
    EXPECT_NO_THROW(next.open(box->devicePath()));
}

// The port is released before the save failure is explained: a box unplugged while the user
// reads it, or a message left open, holds no port and leaves no green lamp.
TEST_F(DumpFromWindowTest, SaveFailureIsExplainedOnceThePortIsReleased) {
    desktop.onMessage = [&] {
        EXPECT_FALSE(controller.portOpen());
        EXPECT_EQ(lamp(), QColor(255, 0, 0));
        EXPECT_EQ(linkControls(), closedLinkState());
        box.reset();
    };
    ASSERT_TRUE(QDir(directory.path()).mkdir("EEPROM.bin"));
    dump();

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(lamp(), QColor(255, 0, 0));
    EXPECT_TRUE(form.logText().endsWith(kCloseLine)) << form.logText().toStdString();
}

}  // namespace
}  // namespace tessaly::test
