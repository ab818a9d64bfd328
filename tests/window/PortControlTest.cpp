// Opening and closing the link from the window, and what the user is told when opening fails.
#include <Wait.h>

#include <QFileInfo>
#include <QTemporaryFile>

#include "FormFixture.h"
#include "serial/SerialLink.h"
#include "sim/PseudoTerminal.h"

namespace tessaly::test {
namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QString kCloseLine = QStringLiteral("\r\nSerial port closed.\r\n");

class PortControlTest : public FormTest {
protected:
    sim::PseudoTerminal terminal;
};

TEST_F(PortControlTest, OpenLeavesOnlyCloseUsableAndTurnsTheLampGreen) {
    ASSERT_TRUE(controller.openPort(selectDevice(terminal.devicePath())));

    EXPECT_TRUE(controller.link().isOpen());
    EXPECT_EQ(linkControls(), openLinkState());
    EXPECT_EQ(lamp(), kGreen);
    EXPECT_EQ(form.logText(), kGreeting);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(PortControlTest, CloseButtonClosesTheLinkAndSaysSo) {
    ASSERT_TRUE(controller.openPort(selectDevice(terminal.devicePath())));

    Command2()->click();

    EXPECT_FALSE(controller.link().isOpen());
    EXPECT_EQ(lamp(), kRed);
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(form.logText(), kGreeting + kCloseLine);
}

TEST_F(PortControlTest, ClosingAClosedLinkOnlyRestoresTheControls) {
    for (QWidget* widget : {static_cast<QWidget*>(cmdDir()), static_cast<QWidget*>(cmbCom()),
                            static_cast<QWidget*>(Command1()), static_cast<QWidget*>(Text2())})
        widget->setEnabled(false);
    Command2()->setEnabled(true);
    control<window::Indicator>("Shape1")->setFillColor(kGreen);

    controller.closePort();

    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kGreen);
    EXPECT_EQ(form.logText(), kGreeting);
}

TEST_F(PortControlTest, OpenOnAMissingDeviceNamesItAndLeavesTheLogAlone) {
    const QString device = QStringLiteral("/dev/tessaly-no-such-device");
    selectDevice(device);

    Command1()->click();

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0], (FakeDesktop::Message{"Serial port " + device + " not present.",
                                                         "Error opening " + device}));
    EXPECT_EQ(form.logText(), kGreeting);
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kRed);
}

TEST_F(PortControlTest, MissingComPortIsCalledComN) {
    int index = 0;
    while (index < 4 && QFileInfo::exists(cmbCom()->itemData(index).toString())) ++index;
    if (index == 4) GTEST_SKIP() << "this machine has all four COM ports";

    EXPECT_FALSE(controller.openPort(cmbCom()->itemData(index).toString()));

    const QString name = QStringLiteral("COM %1").arg(index + 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0], (FakeDesktop::Message{"Serial port " + name + " not present.",
                                                         "Error opening " + name}));
}

TEST_F(PortControlTest, DeviceHeldElsewhereIsReportedAsBlocked) {
    serial::SerialLink holder;
    holder.open(terminal.devicePath());
    const QString device = terminal.devicePath();

    EXPECT_FALSE(controller.openPort(selectDevice(device)));

    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0],
              (FakeDesktop::Message{device + " blocked by another application.",
                                    "Error opening " + device}));
    EXPECT_EQ(linkControls(), closedLinkState());
}

TEST_F(PortControlTest, OtherOpenFailuresAreExplainedNotSwallowed) {
    QTemporaryFile notADevice;
    ASSERT_TRUE(notADevice.open());
    const QString device = notADevice.fileName();

    EXPECT_FALSE(controller.openPort(selectDevice(device)));

    ASSERT_EQ(desktop.messages.size(), 1u);
    const FakeDesktop::Message& message = desktop.messages[0];
    EXPECT_TRUE(message.text.startsWith("Serial port " + device + " cannot be opened: "))
        << message.text.toStdString();
    EXPECT_GT(message.text.size(), ("Serial port " + device + " cannot be opened: .").size());
    EXPECT_EQ(message.caption, "Error opening " + device);
    EXPECT_EQ(form.logText(), kGreeting);
}

TEST_F(PortControlTest, ClosingTheWindowReleasesAnOpenPort) {
    form.show();
    ASSERT_TRUE(controller.openPort(selectDevice(terminal.devicePath())));

    EXPECT_TRUE(form.close());

    EXPECT_EQ(form.logText(), kGreeting + kCloseLine);
    serial::SerialLink next;
    EXPECT_NO_THROW(next.open(terminal.devicePath()));
}

TEST_F(PortControlTest, ClosingTheWindowWithTheLinkClosedLogsNothing) {
    form.show();
    EXPECT_TRUE(form.close());
    EXPECT_EQ(form.logText(), kGreeting);
}

// Open starts a dump run; with nobody answering it waits until the user gives up.
TEST_F(PortControlTest, CloseDuringAWaitingRunEndsItWithOnlyTheCloseLine) {
    selectDevice(terminal.devicePath());

    Command1()->click();
    ASSERT_EQ(linkControls(), openLinkState());
    EXPECT_EQ(form.logText(), "sending request...\r\n");
    QByteArray sent;
    EXPECT_TRUE(waitUntil([&] { return !(sent += terminal.readAvailable()).isEmpty(); }));

    Command2()->click();

    EXPECT_EQ(form.logText(), "sending request...\r\n" + kCloseLine);
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kRed);
}

TEST_F(PortControlTest, LosingTheDeviceDuringARunIsLoggedAndRestoresTheControls) {
    selectDevice(terminal.devicePath());
    Command1()->click();
    ASSERT_EQ(linkControls(), openLinkState());

    terminal.close();

    EXPECT_TRUE(waitUntil([&] { return Command1()->isEnabled(); }));
    EXPECT_TRUE(form.logText().startsWith("sending request...\r\n\r\nThe link to the box on "))
        << form.logText().toStdString();
    EXPECT_TRUE(form.logText().endsWith("\r\n"));
    EXPECT_FALSE(form.logText().contains("Serial port closed."));
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kRed);
    EXPECT_FALSE(controller.link().isOpen());
}

}  // namespace
}  // namespace tessaly::test
