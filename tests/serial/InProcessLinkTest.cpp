// SerialLink over the in-process link that carries the built-in box: it must open, refuse and lose
// the link the way a serial port does, since nothing above SerialLink can tell the two apart.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <memory>

#include "Wait.h"
#include "serial/InProcessLink.h"
#include "serial/SerialLink.h"

namespace tessaly {
namespace {

using test::waitUntil;

int openError(serial::SerialLink& link, const QString& device) {
    try {
        link.open(device);
    } catch (const serial::CommError& error) {
        return error.number();
    }
    return 0;
}

TEST(InProcessLinkTest, OpensLikeAPortAndIsRefusedLikeOne) {
    auto box = std::make_unique<serial::InProcessLink>();
    const QString name = box->name();
    serial::SerialLink first;
    serial::SerialLink second;

    EXPECT_EQ(openError(first, name), 0);
    EXPECT_EQ(openError(second, name), serial::CommError::PortInUse);
    first.close();
    EXPECT_EQ(openError(second, name), 0);
    second.close();

    box->hangUp();
    ASSERT_TRUE(waitUntil([&] { return openError(first, name) == serial::CommError::OpenFailed; }));
    box.reset();
    EXPECT_EQ(openError(first, name), serial::CommError::NoSuchPort);
}

TEST(InProcessLinkTest, CarriesBytesBothWaysAndDropsWhatCameBeforeTheOpen) {
    serial::InProcessLink box;
    box.send("stale");
    serial::SerialLink link;
    ASSERT_EQ(openError(link, box.name()), 0);

    link.write(QByteArray("REQUEST\0\r\n", 10));
    box.send("PC___");
    ASSERT_TRUE(waitUntil([&] { return link.bytesAvailable() == 5; }));
    EXPECT_EQ(link.readAll(), "PC___");
    link.write("ack");
    link.close();  // what is queued still reaches the box
    EXPECT_EQ(box.takeReceived(), QByteArray("REQUEST\0\r\nack", 13));
}

// The box hangs up after its last bytes, or goes away altogether: the host gets the bytes first,
// then exactly one loss, and the port is closed.
class LinkLossTest : public ::testing::TestWithParam<bool> {};

TEST_P(LinkLossTest, ComesOnceAfterTheBytesSentBeforeIt) {
    const bool boxDestroyed = GetParam();
    auto box = std::make_unique<serial::InProcessLink>();
    serial::SerialLink link;
    ASSERT_EQ(openError(link, box->name()), 0);
    QSignalSpy lost(&link, &serial::SerialLink::linkLost);
    QByteArray received;
    QObject::connect(&link, &serial::SerialLink::dataReceived, [&] { received += link.readAll(); });

    box->send("half a reply");
    if (boxDestroyed) {
        ASSERT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
        box.reset();
    } else {
        box->hangUp();
    }

    ASSERT_TRUE(waitUntil([&] { return lost.count() > 0; }));
    EXPECT_EQ(received, "half a reply");
    EXPECT_FALSE(link.isOpen());
    // The link delivers only through posted calls: a second loss would be among them.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(lost.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(HangUpOrGone, LinkLossTest, ::testing::Bool());

}  // namespace
}  // namespace tessaly
