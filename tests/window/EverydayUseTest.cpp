// What a desktop user expects beyond the design: ports that come and go, typed ports, the
// keyboard, any colour scheme, long names and a usable default target.
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest/QTest>

#include "FormFixture.h"
#include "program/Utf8Arguments.h"
#include "sim/PseudoTerminal.h"
#include "window/TargetDirectory.h"
#include "window/WindowOptions.h"

namespace tessaly::test {
namespace {

using EverydayUseTest = FormTest;

TEST_F(EverydayUseTest, PortListFollowsTheSystemWhenItDropsDownAndKeepsTheChoice) {
    const QString adapter = "/dev/ttyUSB0 (FT232R USB UART)";
    desktop.systemPorts = {{"/dev/ttyUSB0", "FT232R USB UART", {}, {}},
                           {"/dev/ttyACM0", {}, {}, {}}};
    cmbCom()->showPopup();
    EXPECT_EQ(cmbCom()->findText("/dev/ttyACM0"), 5);
    controller.ports().selectPort(cmbCom()->findText(adapter));

    desktop.systemPorts.clear();  // both unplugged
    cmbCom()->showPopup();

    EXPECT_EQ(cmbCom()->count(), 5);
    EXPECT_EQ(cmbCom()->currentText(), adapter);
    // The whole name shows in the open list and in the tool tip.
    EXPECT_GE(cmbCom()->view()->width(),
              cmbCom()->view()->fontMetrics().horizontalAdvance(adapter));
    EXPECT_EQ(cmbCom()->toolTip(), "Select the COM-Port for the receiver\n" + adapter);
}

// What is typed, and the entry it selects (none when it is refused).
using TypedPort = std::pair<const char*, const char*>;
class TypedPortTest : public FormTest, public ::testing::WithParamInterface<TypedPort> {};

// A typed port is used when it names a device or a COM port; anything else is refused.
TEST_P(TypedPortTest, IsUsedOnlyWhenItNamesAPort) {
    sim::PseudoTerminal terminal;
    const QString typed = QString(GetParam().first).replace("$pty", terminal.devicePath());
    const QString entry = QString(GetParam().second).replace("$pty", terminal.devicePath());
    cmbCom()->setCurrentIndex(-1);
    cmbCom()->setEditText(typed);

    // COM 1 to COM 4 are this machine's own ports: chosen, never opened.
    const bool comPort = entry.startsWith("COM");
    if (comPort)
        EXPECT_EQ(controller.ports().takeTypedPort(), QString());
    else
        Command1()->click();

    if (entry.isEmpty())
        EXPECT_EQ(desktop.messages,
                  (std::vector<FakeDesktop::Message>{{"No such port: " + typed, "Error"}}));
    else
        EXPECT_EQ(cmbCom()->currentText(), entry);
    EXPECT_EQ(controller.portOpen(), !entry.isEmpty() && !comPort);
    controller.closePort();
}

INSTANTIATE_TEST_SUITE_P(, TypedPortTest,
                         ::testing::Values(TypedPort{"COM 3", "COM 3"}, TypedPort{"com2", "COM 2"},
                                           TypedPort{"$pty", "$pty"}, TypedPort{"COM 1x", ""},
                                           TypedPort{"/etc/hostname", ""}));

// Return and Enter press the focused button; the focus waits on Close during a run and is back
// on Open after it, so the next box is one key away.
TEST_F(EverydayUseTest, ReturnAndEnterDriveARunAndTheFocusFollows) {
    sim::PseudoTerminal silentBox;
    selectDevice(silentBox.devicePath());
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Command1()->setFocus();

    QTest::keyClick(Command1(), Qt::Key_Return);
    ASSERT_TRUE(controller.portOpen());
    EXPECT_EQ(QApplication::focusWidget(), Command2());

    QTest::keyClick(Command2(), Qt::Key_Enter);
    EXPECT_FALSE(controller.portOpen());
    EXPECT_EQ(QApplication::focusWidget(), Command1());
}

class ColourSchemeTest : public ::testing::TestWithParam<bool> {};

// Black or blue text keeps a light ground under any scheme: under a light one the ground of its
// container, under a dark one its own.
TEST_P(ColourSchemeTest, FixedTextColoursSitOnLightGrounds) {
    const QPalette before = QApplication::palette();
    if (GetParam()) {
        QPalette dark = before;
        for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            dark.setColor(role, QColor(30, 30, 30));
        QApplication::setPalette(dark);
    }
    FakeDesktop desktop;
    window::Form1 form(desktop.seams());
    const QImage window = form.grab().toImage();
    const auto groundOf = [&](const QWidget* widget, QPoint at) {
        return window.pixelColor(widget->mapTo(&form, at));
    };
    auto* frame = form.findChild<QWidget*>("Frame3");
    const QColor frameGround = GetParam() ? QColor(224, 224, 224) : groundOf(frame, {128, 30});

    for (const char* name : {"Label3", "Label4", "Label6", "Label7"}) {
        auto* label = form.findChild<QLabel*>(name);
        // The bottom row of a label is clear of its text.
        EXPECT_EQ(groundOf(label, {label->width() / 2, label->height() - 1}),
                  name == std::string("Label3") ? QColor(224, 224, 224) : frameGround)
            << name;
    }
    auto* log = form.findChild<QPlainTextEdit*>("Text1");
    EXPECT_EQ(groundOf(log->viewport(), {log->viewport()->width() - 2, 2}), QColor(Qt::white));
    QApplication::setPalette(before);
}

INSTANTIATE_TEST_SUITE_P(, ColourSchemeTest, ::testing::Values(false, true));

TEST(TargetDirectoryTest, FirstDirectoryThatTakesAFileWins) {
    QTemporaryDir usable;
    EXPECT_EQ(
        window::firstWritableDirectory({"/nonexistent/tessaly", "/etc/hostname", usable.path()}),
        usable.path());
    EXPECT_TRUE(QDir(usable.path()).isEmpty());  // the probe leaves nothing behind
}

// The program's folder: absolute, or made in a scratch folder with this owner (-1: the user running
// the test; 54321: nobody who runs it) and mode; the name given with --dir in the scratch folder;
// whether the window starts in the program's folder, or else where an unusable one leads.
using Start = std::tuple<const char*, uid_t, mode_t, const char*, bool>;
class StartFolderTest : public ::testing::TestWithParam<Start> {};
TEST_P(StartFolderTest, IsTheUsersOwnCopyOrDocumentsAndNeverALookAlike) {
    const auto& [folder, owner, mode, name, startsInProgramFolder] = GetParam();
    QTemporaryDir scratch;
    const QString program = QDir(scratch.path()).filePath(folder);
    const QByteArray path = QFile::encodeName(program);
    if (QDir().mkdir(program) && (::chown(path, owner, -1) != 0 || ::chmod(path, mode) != 0 ||
                                  (~mode & S_IWUSR && ::access(path, W_OK) == 0)))
        GTEST_SKIP() << "only root hands a folder over; root writes anywhere";
    const QByteArray dir = QFile::encodeName(scratch.path()) + '/' + name;
    QDir().mkdir(QString::fromUtf8(dir));  // where Qt's reading of the --dir name leads
    const char* argv[] = {"tessaly", "--dir", dir.constData()};
    QCommandLineParser parser;
    window::addWindowOptions(parser);
    ASSERT_TRUE(parser.parse({argv[0], argv[1], QString::fromUtf8(dir)}));
    const window::WindowOptions options =
        window::windowOptions(parser, program::describeNonUtf8Argument(3, argv));
    // The name is taken, or else refused with a reason.
    EXPECT_EQ(std::pair(options.targetFolder.isEmpty(), options.refusal.isEmpty()),
              std::pair(*name != 0, *name == 0));
    EXPECT_EQ(window::defaultTargetDirectory(program),
              startsInProgramFolder ? program + '/' : window::defaultTargetDirectory("/none"));
}

INSTANTIATE_TEST_SUITE_P(, StartFolderTest,
                         ::testing::Values(Start{"copy", uid_t(-1), 0755, "", true},
                                           Start{"/usr/bin", uid_t(-1), 0755, "", false},
                                           Start{"copy", 54321, 0755, "", false},
                                           Start{"copy", uid_t(-1), 0555, "", false},
                                           Start{"copy", uid_t(-1), 0755, "b\xE9", true}));

}  // namespace
}  // namespace tessaly::test
