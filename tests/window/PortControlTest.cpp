// Opening and closing the link from the window, and what the user is told when opening fails.
#include <Wait.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QFileInfo>
#include <QTemporaryFile>

#include "FormFixture.h"
#include "serial/PortOwnership.h"
#include "serial/SerialLink.h"
#include "sim/PseudoTerminal.h"

namespace tessaly::test {
namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QString kRequestLine = QStringLiteral("sending request...\r\n");
const QString kCloseLine = QStringLiteral("\r\nSerial port closed.\r\n");

class PortControlTest : public FormTest {
protected:
    // Presses Open on `device`.
    void open(const QString& device) {
        selectDevice(device);
        Command1()->click();
    }

    sim::PseudoTerminal terminal;
};

TEST_F(PortControlTest, OpenLeavesOnlyCloseUsableAndTurnsTheLampGreen) {
    open(terminal.devicePath());

    EXPECT_TRUE(controller.portOpen());
    EXPECT_EQ(linkControls(), openLinkState());
    EXPECT_EQ(lamp(), kGreen);
    EXPECT_EQ(form.logText(), kRequestLine);
    EXPECT_TRUE(desktop.messages.empty());
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

    controller.ports().selectPort(index);
    Command1()->click();

    const QString name = QStringLiteral("COM %1").arg(index + 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0], (FakeDesktop::Message{"Serial port " + name + " not present.",
                                                         "Error opening " + name}));
}

TEST_F(PortControlTest, DeviceHeldElsewhereIsReportedAsBlocked) {
    serial::SerialLink holder;
    holder.open(terminal.devicePath());
    const QString device = terminal.devicePath();

    open(device);

    EXPECT_FALSE(controller.portOpen());
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

    open(device);

    EXPECT_FALSE(controller.portOpen());
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
    open(terminal.devicePath());
    ASSERT_TRUE(controller.portOpen());

    EXPECT_TRUE(form.close());

    EXPECT_EQ(form.logText(), kRequestLine + kCloseLine);
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
    open(terminal.devicePath());
    ASSERT_EQ(linkControls(), openLinkState());
    EXPECT_EQ(form.logText(), kRequestLine);
    QByteArray sent;
    EXPECT_TRUE(waitUntil([&] { return !(sent += terminal.readAvailable()).isEmpty(); }));

    Command2()->click();

    EXPECT_FALSE(controller.portOpen());
    EXPECT_EQ(form.logText(), kRequestLine + kCloseLine);
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kRed);
}

// A box may hold back what the program sends (XOFF where the line obeys it; here the line's
// output is stopped through a second handle before Open, so the request cannot leave). The port
// is let go all the same, the request unsent.
TEST_F(PortControlTest, CloseWhileTheBoxHoldsBackOutputReleasesThePort) {
    const QString device = terminal.devicePath();
    const int line = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY);
    ASSERT_EQ(::tcflow(line, TCOOFF), 0);

    open(device);
    Command2()->click();
    EXPECT_TRUE(
        waitUntil([&] { return !QFile::exists(serial::port_ownership::lockFileOf(device)); }));
    serial::SerialLink next;
    EXPECT_NO_THROW(next.open(device));
    EXPECT_TRUE(terminal.readAvailable().isEmpty()) << "the request was not held back";
    ::close(line);
}

TEST_F(PortControlTest, LosingTheDeviceDuringARunIsLoggedAndRestoresTheControls) {
    open(terminal.devicePath());
    ASSERT_EQ(linkControls(), openLinkState());

    terminal.close();

    EXPECT_TRUE(waitUntil([&] { return Command1()->isEnabled(); }));
    EXPECT_TRUE(form.logText().startsWith(kRequestLine + "\r\nThe link to the box on "))
        << form.logText().toStdString();
    EXPECT_TRUE(form.logText().endsWith("\r\n"));
    EXPECT_FALSE(form.logText().contains("Serial port closed."));
    EXPECT_EQ(linkControls(), closedLinkState());
    EXPECT_EQ(lamp(), kRed);
    EXPECT_FALSE(controller.portOpen());
}

}  // namespace
}  // namespace tessaly::test
