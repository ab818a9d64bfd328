// What a desktop user expects beyond the design: ports that come and go, typed ports, the
// keyboard, any colour scheme, long names and a usable default target.
#include <PseudoTerminal.h>
#include <StbSimulator.h>
#include <TargetDirectory.h>
#include <Wait.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest/QTest>

#include "FormFixture.h"

namespace tessaly::test {
namespace {

using EverydayUseTest = FormTest;

QStringList entries(QComboBox* list) {
    QStringList texts;
    for (int index = 0; index < list->count(); ++index) texts << list->itemText(index);
    return texts;
}

TEST_F(EverydayUseTest, PortListFollowsTheSystemEachTimeItDropsDownAndKeepsTheChoice) {
    form.addPort("/dev/pts/77", "Simulated box");
    desktop.systemPorts = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM0", {}}};
    cmbCom()->showPopup();
    cmbCom()->hidePopup();
    EXPECT_EQ(entries(cmbCom()), (QStringList{"COM 1", "COM 2", "COM 3", "COM 4", "Simulated box",
                                              "/dev/ttyUSB0 (FT232R USB UART)", "/dev/ttyACM0"}));
    form.selectPort(5);

    desktop.systemPorts.clear();  // both adapters unplugged
    cmbCom()->showPopup();
    cmbCom()->hidePopup();

    EXPECT_EQ(entries(cmbCom()), (QStringList{"COM 1", "COM 2", "COM 3", "COM 4", "Simulated box",
                                              "/dev/ttyUSB0 (FT232R USB UART)"}));
    EXPECT_EQ(cmbCom()->currentText(), "/dev/ttyUSB0 (FT232R USB UART)");
    EXPECT_EQ(form.serialControl().DeviceName(cmbCom()->currentData().toInt()), "/dev/ttyUSB0");
}

struct TypedPort {
    const char* name;
    QString typed;  // "$pty" and "$file" stand for a pseudo-terminal and a regular file
    int expectedPort;
    QString refusal;  // the message when the port is refused
};

class TypedPortTest : public FormTest, public ::testing::WithParamInterface<TypedPort> {
protected:
    sim::PseudoTerminal terminal;
    QTemporaryFile file;
};

TEST_P(TypedPortTest, IsUsedWhenItNamesADeviceAndRefusedOtherwise) {
    ASSERT_TRUE(file.open());
    QString typed = GetParam().typed;
    typed.replace("$pty", terminal.devicePath()).replace("$file", file.fileName());
    cmbCom()->setCurrentIndex(-1);
    cmbCom()->setEditText(typed);

    Command1()->click();

    if (GetParam().refusal.isEmpty()) {
        // The link was asked for the port typed: it opened, or it says why not.
        const MSComm& link = form.serialControl();
        EXPECT_EQ(link.CommPort() >= MSComm::FirstAddedPort ? link.DeviceName(link.CommPort())
                                                            : QString::number(link.CommPort()),
                  GetParam().expectedPort ? QString::number(GetParam().expectedPort) : typed);
        EXPECT_NE(cmbCom()->currentIndex(), -1);
    } else {
        const QString refusal = QString(GetParam().refusal).replace("$file", file.fileName());
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0], (FakeDesktop::Message{refusal, "Error"}));
        EXPECT_EQ(form.logText(), kGreeting);
    }
    Command2()->click();
}

INSTANTIATE_TEST_SUITE_P(
    , TypedPortTest,
    ::testing::Values(TypedPort{"ComWithSpace", "COM 3", 3, {}},
                      TypedPort{"ComWithoutSpace", "com2", 2, {}},
                      TypedPort{"PseudoTerminal", "$pty", 0, {}},
                      TypedPort{"Missing", "/dev/tessaly-none", 0,
                                "No such port: /dev/tessaly-none"},
                      TypedPort{"RegularFile", "$file", 0, "No such port: $file"},
                      TypedPort{"EditedEntry", "COM 1x", 0, "No such port: COM 1x"},
                      TypedPort{"Empty", "", 0, "Select a serial port first."}),
    [](const auto& info) { return std::string(info.param.name); });

// Return and Enter press the focused button; after a run the focus is back on Open, so the next
// box is one key away.
TEST_F(EverydayUseTest, ReturnAndEnterRunDumpAfterDumpWithoutTheMouse) {
    sim::StbSimulator box;
    QTemporaryDir directory;
    selectDevice(box.devicePath());
    Text2()->setText(directory.path());
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Command1()->setFocus();

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(QApplication::focusWidget(), key);
        ASSERT_TRUE(waitUntil([&] { return Command1()->isEnabled(); }));
        EXPECT_EQ(QApplication::focusWidget(), Command1());
    }
    EXPECT_TRUE(waitUntil([&] { return box.successAcknowledgements() == 2; }));
    EXPECT_FALSE(Text1()->isReadOnly());
}

TEST_F(EverydayUseTest, DuringARunTheFocusWaitsOnClose) {
    sim::PseudoTerminal silent;
    selectDevice(silent.devicePath());
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Command1()->setFocus();

    QTest::keyClick(Command1(), Qt::Key_Space);
    ASSERT_EQ(QApplication::focusWidget(), Command2());
    QTest::keyClick(Command2(), Qt::Key_Return);

    EXPECT_FALSE(form.serialControl().PortOpen());
    EXPECT_EQ(QApplication::focusWidget(), Command1());
}

class ColourSchemeTest : public ::testing::TestWithParam<bool> {};

// Every control with a fixed text colour draws its own fixed background, so a dark colour scheme
// cannot put black text on a near-black ground.
TEST_P(ColourSchemeTest, FixedTextColoursSitOnFixedBackgrounds) {
    const QPalette before = QApplication::palette();
    if (GetParam()) {
        QPalette dark = QStyleFactory::create("Fusion")->standardPalette();
        for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            dark.setColor(role, QColor(30, 30, 30));
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(230, 230, 230));
        QApplication::setPalette(dark);
    }
    FakeDesktop desktop;
    Form1 form(desktop.seams());
    const QImage window = form.grab().toImage();

    // Under the light scheme the labels show the ground of their container (sampled below the
    // labels, clear of text).
    auto* frame = form.findChild<QWidget*>("Frame3");
    const QColor frameGround =
        window.pixelColor(frame->mapTo(&form, QPoint(frame->width() / 2, 30)));
    const QColor windowGround(224, 224, 224);
    const QColor lightGround = GetParam() ? windowGround : frameGround;
    for (const auto& [name, background] :
         {std::pair{"Label3", windowGround}, std::pair{"Label4", lightGround},
          std::pair{"Label6", lightGround}, std::pair{"Label7", lightGround}}) {
        auto* label = form.findChild<QLabel*>(name);
        EXPECT_EQ(
            window.pixelColor(label->mapTo(&form, QPoint(label->width() / 2, label->height() - 1))),
            background)
            << name;
        EXPECT_GT(background.lightness() - label->palette().color(QPalette::WindowText).lightness(),
                  90)
            << name;
    }
    auto* log = form.findChild<QPlainTextEdit*>("Text1");
    const QPoint inside = log->viewport()->mapTo(&form, QPoint(log->viewport()->width() - 2, 2));
    EXPECT_EQ(window.pixelColor(inside), QColor(Qt::white));
    EXPECT_EQ(log->palette().color(QPalette::Text), QColor(Qt::black));
    QApplication::setPalette(before);
}

INSTANTIATE_TEST_SUITE_P(, ColourSchemeTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dark" : "Default"; });

TEST_F(EverydayUseTest, LongNamesAreWholeInTheListAndTheToolTip) {
    const QString device = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    form.selectPort(form.addPort(device, device));

    const QFontMetrics metrics(cmbCom()->view()->font());
    EXPECT_GE(cmbCom()->view()->minimumWidth(), metrics.horizontalAdvance(device));
    EXPECT_EQ(cmbCom()->toolTip(), "Select the COM-Port for the receiver\n" + device);

    form.selectPort(0);
    EXPECT_EQ(cmbCom()->toolTip(), "Select the COM-Port for the receiver");
}

TEST(TargetDirectoryTest, FirstDirectoryThatTakesAFileWins) {
    QTemporaryDir usable;
    QTemporaryFile notADirectory;
    ASSERT_TRUE(notADirectory.open());

    EXPECT_EQ(
        firstWritableDirectory({"/nonexistent/tessaly", notADirectory.fileName(), usable.path()}),
        usable.path());
    EXPECT_EQ(firstWritableDirectory({"/nonexistent/tessaly"}), QString());
    EXPECT_TRUE(QDir(usable.path()).isEmpty());  // the probe leaves nothing behind
}

}  // namespace
}  // namespace tessaly::test
