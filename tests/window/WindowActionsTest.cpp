// The window's own actions: the web link, choosing the target directory, refusing Open, the log.
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "FormFixture.h"
#include "window/WindowOptions.h"

namespace tessaly::test {
namespace {

class WindowActionsTest : public FormTest {
protected:
    QString programDirectory() const {
        return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
    }
    const QString separator = QString(QDir::separator());
};

TEST_F(WindowActionsTest, WebLinkHandsTheProjectAddressToTheBrowserAndNothingElse) {
    form.show();
    QTest::mouseClick(control<QLabel>("Label6"), Qt::LeftButton);

    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0], QUrl("https://tessaly.example.org/"));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(form.logText(), kGreeting);
}

TEST_F(WindowActionsTest, ChosenDirectoryBecomesTheTargetWithASeparator) {
    desktop.folderChoice = QDir::toNativeSeparators("/srv/dumps");

    cmdDir()->click();

    EXPECT_EQ(desktop.folderTitles,
              QStringList{"Select a directory for saving data from the flash."});
    EXPECT_EQ(Text2()->text(), desktop.folderChoice + separator);

    // The chooser opens where the target is now.
    cmdDir()->click();
    EXPECT_EQ(desktop.folderStarts.last(), desktop.folderChoice + separator);
}

// The warning comes at once, and the choice stays so that it can be corrected.
TEST_F(WindowActionsTest, ChoosingAFolderThatCannotTakeTheImageWarnsAndKeepsIt) {
    QTemporaryDir parent;
    desktop.folderChoice = QDir::toNativeSeparators(parent.filePath("gone"));

    cmdDir()->click();

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text,
              "The image cannot be saved in the folder you chose: the directory " +
                  desktop.folderChoice + " does not exist.");
    EXPECT_EQ(Text2()->text(), desktop.folderChoice + separator);

    desktop.folderChoice = QDir::toNativeSeparators(parent.path());
    cmdDir()->click();
    EXPECT_EQ(desktop.messages.size(), 1u);
}

// tessaly --dir DIR, as a shortcut per job starts it: DIR made absolute, then checked as a chosen
// folder is.
TEST_F(WindowActionsTest, FolderFromTheCommandLineBecomesTheCheckedTarget) {
    QCommandLineParser parser;
    window::addWindowOptions(parser);
    ASSERT_TRUE(parser.parse({"tessaly", "--dir", "jobs/box 1"}));
    const window::WindowOptions options = window::windowOptions(parser);
    EXPECT_EQ(options.targetFolder,
              QDir::toNativeSeparators(QDir::current().absoluteFilePath("jobs/box 1")));

    form.setTargetFolder(options.targetFolder);

    EXPECT_EQ(Text2()->text(), options.targetFolder + separator);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].text.endsWith(options.targetFolder + " does not exist."));
}

TEST_F(WindowActionsTest, CancellingFallsBackToTheProgramDirectoryNotTheEarlierChoice) {
    desktop.folderChoice = QDir::toNativeSeparators("/srv/dumps");
    cmdDir()->click();

    desktop.folderChoice.clear();
    cmdDir()->click();

    EXPECT_EQ(Text2()->text(), programDirectory());
}

TEST_F(WindowActionsTest, RootDirectoryKeepsItsOwnSeparatorAndGetsAnother) {
    desktop.folderChoice = QDir::toNativeSeparators(QDir::rootPath());

    cmdDir()->click();

    EXPECT_EQ(Text2()->text(), desktop.folderChoice + separator);
}

TEST_F(WindowActionsTest, OpenWithoutTargetDirectoryIsRefused) {
    Text2()->clear();

    Command1()->click();

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0],
              (FakeDesktop::Message{"Select a directory for saving data first.", "Error"}));
    EXPECT_FALSE(controller.portOpen());
    EXPECT_EQ(form.logText(), kGreeting);
}

TEST_F(WindowActionsTest, ADeviceAddedTwiceKeepsOneEntry) {
    const int entries = cmbCom()->count();
    const int first = controller.ports().addPort("/dev/ttyUSB7", "/dev/ttyUSB7");

    EXPECT_EQ(controller.ports().addPort("/dev/ttyUSB7", "/dev/ttyUSB7"), first);
    EXPECT_EQ(cmbCom()->count(), entries + 1);
    EXPECT_EQ(cmbCom()->itemData(first).toString(), "/dev/ttyUSB7");
}

TEST_F(WindowActionsTest, TextTypedIntoTheLogStaysWhenTheProgramAppends) {
    QTest::keyClicks(Text1(), "note ");

    form.appendLog("first\r\nsecond\r\n");

    EXPECT_EQ(form.logText(), "note " + kGreeting + "first\r\nsecond\r\n");
    EXPECT_EQ(Text1()->blockCount(), 4);

    form.replaceLog("sending request...\r\n");
    EXPECT_EQ(form.logText(), "sending request...\r\n");
}

}  // namespace
}  // namespace tessaly::test
