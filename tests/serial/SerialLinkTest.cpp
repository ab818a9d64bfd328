#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTemporaryFile>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "Wait.h"
#include "serial/SerialLink.h"
#include "sim/PseudoTerminal.h"

namespace tessaly {
namespace {

using test::waitUntil;

// A second handle on the device: shows the line settings and what the system holds before the
// link has read it.
class DeviceProbe {
public:
    explicit DeviceProbe(const QString& path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ < 0) throw std::runtime_error("cannot open the device a second time");
    }
    ~DeviceProbe() { ::close(fd_); }

    int waitingInSystem() const {
        int count = 0;
        ::ioctl(fd_, FIONREAD, &count);
        return count;
    }
    // Blocks without running the event loop, so that the link cannot read the bytes first.
    bool waitForSystemInput() const {
        pollfd request{fd_, POLLIN, 0};
        return ::poll(&request, 1, 10000) == 1;
    }
    termios lineSettings() const {
        termios settings{};
        ::tcgetattr(fd_, &settings);
        return settings;
    }

private:
    int fd_;
};

QByteArray sampleBytes(int count) {
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) bytes[i] = char(i % 251);
    return bytes;
}

class SerialLinkOnPty : public ::testing::Test {
protected:
    void open(sim::PseudoTerminal& peer) { link.open(peer.devicePath()); }
    // Everything the peer has received once `count` bytes are there.
    QByteArray peerReceives(sim::PseudoTerminal& peer, qsizetype count) {
        QByteArray received;
        waitUntil([&] {
            received += peer.readAvailable();
            return received.size() >= count;
        });
        return received;
    }
    bool linkReceives(qsizetype count) {
        return waitUntil([&] { return link.bytesAvailable() >= count; });
    }

    sim::PseudoTerminal pty;
    DeviceProbe probe{pty.devicePath()};
    serial::SerialLink link;
};

TEST_F(SerialLinkOnPty, WriteSendsEveryByteAsGivenAndReadAllReturnsThemEachTime) {
    open(pty);
    const QByteArray bytes("REQ\0\x82\xFF\r\n", 8);
    link.write(bytes);
    EXPECT_EQ(peerReceives(pty, bytes.size()), bytes);

    QSignalSpy dataReceived(&link, &serial::SerialLink::dataReceived);
    for (int read = 0; read < 2; ++read) {
        ASSERT_EQ(pty.writeSome(bytes), bytes.size());
        ASSERT_TRUE(linkReceives(bytes.size()));
        EXPECT_EQ(link.readAll(), bytes);
        EXPECT_EQ(link.bytesAvailable(), 0);
        EXPECT_TRUE(link.readAll().isEmpty());
    }
    EXPECT_GE(dataReceived.count(), 2);
}

TEST_F(SerialLinkOnPty, ReceiveBufferKeepsTheFirstBytesUpToItsSizeAndDropsTheRest) {
    link.setReceiveLimit(1025);
    open(pty);
    const QByteArray sent = sampleBytes(1500);
    ASSERT_EQ(pty.writeSome(sent), sent.size());
    ASSERT_TRUE(
        waitUntil([&] { return link.bytesAvailable() >= 1025 && probe.waitingInSystem() == 0; }));
    EXPECT_EQ(link.bytesAvailable(), 1025);
    EXPECT_EQ(link.readAll(), sent.left(1025));

    // Reading makes room again.
    pty.writeSome("next");
    ASSERT_TRUE(linkReceives(4));
    EXPECT_EQ(link.readAll(), "next");
}

TEST_F(SerialLinkOnPty, ReaderWhoKeepsUpLosesNothingOfAReadLargerThanTheBuffer) {
    link.setReceiveLimit(1025);
    QByteArray taken;
    QObject::connect(&link, &serial::SerialLink::dataReceived, [&] { taken += link.readAll(); });
    open(pty);
    const QByteArray sent = sampleBytes(3000);
    ASSERT_EQ(pty.writeSome(sent), sent.size());

    ASSERT_TRUE(waitUntil([&] { return taken.size() >= sent.size(); }));
    EXPECT_EQ(taken, sent);
}

TEST_F(SerialLinkOnPty, OpeningDiscardsWhatArrivedWhileClosed) {
    pty.writeSome("stale");
    ASSERT_TRUE(probe.waitForSystemInput());
    open(pty);
    pty.writeSome("fresh");
    ASSERT_TRUE(linkReceives(5));
    EXPECT_EQ(link.readAll(), "fresh");
}

TEST_F(SerialLinkOnPty, DiscardingInputAlsoDropsWhatTheSystemStillHolds) {
    open(pty);
    pty.writeSome("read already");
    ASSERT_TRUE(linkReceives(12));
    pty.writeSome("held by the system");
    ASSERT_TRUE(probe.waitForSystemInput());

    link.discardInput();
    EXPECT_EQ(link.bytesAvailable(), 0);
    pty.writeSome("new");
    ASSERT_TRUE(linkReceives(3));
    EXPECT_EQ(link.readAll(), "new");
}

// A pseudo-terminal forces 8 data bits without parity, so only the speed and stop bits show.
TEST_F(SerialLinkOnPty, SettingsApplyAtOpenAndDefaultToTheBoxLine) {
    link.open(pty.devicePath(),
              {9600, QSerialPort::EvenParity, QSerialPort::Data7, QSerialPort::TwoStop});
    termios line = probe.lineSettings();
    EXPECT_EQ(cfgetospeed(&line), speed_t(B9600));
    EXPECT_TRUE(line.c_cflag & CSTOPB);

    link.close();
    open(pty);
    line = probe.lineSettings();
    EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
    EXPECT_FALSE(line.c_cflag & CSTOPB);
    EXPECT_FALSE(line.c_cflag & CRTSCTS);
}

// The error number of a failed open, or 0 when the port opened.
int openErrorNumber(serial::SerialLink& link, const QString& device) {
    try {
        link.open(device);
        return 0;
    } catch (const serial::CommError& error) {
        EXPECT_EQ(error.device(), device);
        EXPECT_FALSE(error.reason().isEmpty());
        return error.number();
    }
}

TEST(SerialLinkOpenErrors, MissingDeviceAndNoTerminalAreTold) {
    serial::SerialLink link;
    EXPECT_EQ(openErrorNumber(link, "/dev/pts/99999"), serial::CommError::NoSuchPort);

    QTemporaryFile regularFile;
    ASSERT_TRUE(regularFile.open());
    EXPECT_EQ(openErrorNumber(link, regularFile.fileName()), serial::CommError::OpenFailed);
    EXPECT_FALSE(link.isOpen());
}

TEST_F(SerialLinkOnPty, DeviceHeldElsewhereOrAlreadyOpenIsPortInUse) {
    open(pty);
    serial::SerialLink other;
    EXPECT_EQ(openErrorNumber(other, pty.devicePath()), serial::CommError::PortInUse);
    EXPECT_FALSE(other.isOpen());

    try {
        link.open(pty.devicePath());
        ADD_FAILURE() << "an open port opened again";
    } catch (const serial::CommError& error) {
        EXPECT_EQ(error.number(), serial::CommError::PortInUse);
    }
    // The holder keeps working.
    link.write("still here");
    EXPECT_EQ(peerReceives(pty, 10), "still here");
}

// Runs in a child process: only an unprivileged user meets file permissions.
[[noreturn]] void openAsNobodyAndReport(const QString& device) {
    constexpr uid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
        ::setresuid(nobody, nobody, nobody) != 0) {
        std::fprintf(stderr, "cannot drop privileges\n");
        std::_Exit(2);
    }
    serial::SerialLink link;
    std::fprintf(stderr, "error %d\n", openErrorNumber(link, device));
    std::_Exit(0);
}

TEST(SerialLinkOpenErrors, DeviceWithoutPermissionIsAccessDenied) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become an unprivileged user";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    sim::PseudoTerminal pty;
    ASSERT_EQ(::chmod(pty.devicePath().toLocal8Bit().constData(), 0600), 0);
    EXPECT_EXIT(openAsNobodyAndReport(pty.devicePath()), ::testing::ExitedWithCode(0),
                "error 8010");
}

TEST_F(SerialLinkOnPty, DeliberateCloseSendsWhatWasQueuedAndSignalsOnce) {
    open(pty);
    QSignalSpy closed(&link, &serial::SerialLink::closed);
    QSignalSpy lost(&link, &serial::SerialLink::linkLost);
    pty.writeSome("unread");
    ASSERT_TRUE(linkReceives(6));

    const QByteArray acknowledgement = "E2PROMDOWN_SUCCESS\r\n";
    link.write(acknowledgement);
    link.close();
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.bytesAvailable(), 0);
    EXPECT_EQ(peerReceives(pty, acknowledgement.size()), acknowledgement);

    link.close();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(lost.count(), 0);
}

// A dump ends once its acknowledgement has left; telling so inside write() would end it while
// the sender is still in the middle of sending.
TEST_F(SerialLinkOnPty, WriteReturnsAtOnceAndTellsLaterThatEverythingLeft) {
    open(pty);
    QSignalSpy sent(&link, &serial::SerialLink::outputSent);
    link.write("REQUEST_E2PROM\r\n");
    link.write("E2PROMDOWN_SUCCESS\r\n");
    EXPECT_EQ(sent.count(), 0);
    ASSERT_TRUE(sent.wait(10000));
    EXPECT_EQ(peerReceives(pty, 36), "REQUEST_E2PROM\r\nE2PROMDOWN_SUCCESS\r\n");
}

TEST_F(SerialLinkOnPty, PeerHangingUpLosesTheLinkOnceAndANewDeviceOpens) {
    open(pty);
    QSignalSpy closed(&link, &serial::SerialLink::closed);
    QSignalSpy lost(&link, &serial::SerialLink::linkLost);
    pty.close();
    ASSERT_TRUE(lost.wait(10000));
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(lost.first().first().toString(), "the device went away");

    // The round trip on a fresh device also gives a repeated loss signal time to show.
    sim::PseudoTerminal replacement;
    open(replacement);
    replacement.writeSome("back");
    ASSERT_TRUE(linkReceives(4));
    EXPECT_EQ(link.readAll(), "back");
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(closed.count(), 0);
}

}  // namespace
}  // namespace tessaly
