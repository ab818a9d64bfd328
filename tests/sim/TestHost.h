#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>

#include "Wait.h"

namespace tessaly::test {

// A minimal host on the box's device: raw, non-blocking, reading whenever bytes arrive.
class TestHost {
public:
    explicit TestHost(const QString& device)
        : fd_(::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ < 0) return;
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    }
    ~TestHost() {
        notifier_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void send(const QByteArray& bytes) {
        sent_ += bytes;
        ASSERT_EQ(::write(fd_, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    bool waitForBytes(qsizetype count) {
        return waitUntil([&] { return pending_.size() >= count || hungUp_; }) &&
               pending_.size() >= count;
    }
    bool waitForText(const QByteArray& text) {
        return waitUntil([&] { return pending_.contains(text) || hungUp_; }) &&
               pending_.contains(text);
    }
    bool waitForHangUp() {
        return waitUntil([&] { return hungUp_; });
    }
    // What arrived since the last take, and in how many reads.
    const QByteArray& pending() const { return pending_; }
    int reads() const { return reads_; }
    QByteArray take() {
        reads_ = 0;
        return std::exchange(pending_, {});
    }
    // Everything this host has written.
    const QByteArray& sent() const { return sent_; }

private:
    void onReadable() {
        char chunk[4096];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            pending_.append(chunk, n);
            ++reads_;
        } else if (n == 0 || errno != EAGAIN) {
            hungUp_ = true;
            notifier_->setEnabled(false);
        }
    }

    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray pending_;
    QByteArray sent_;
    int reads_ = 0;
    bool hungUp_ = false;
};

// The host's messages, written out here independently of the box.
inline QByteArray hostMessage(int number) {
    static const std::array<QByteArray, 10> messages = {
        QByteArray("REQUEST_V616\r\n"),
        QByteArray("BL_FLASH_INFO\r\n"),
        QByteArray::fromHex("4B4105162127827FE07FF07FFE400E0F101112131415161718191A1B4F4E0D0A"),
        QByteArray(1, '\0'),
        QByteArray("BL_FLASH_END\r\n"),
        QByteArray("REQUEST_START_BLOCK\r\n"),
        QByteArray("REQUEST_BLOCK\r\n"),
        QByteArray("REQUEST_DOWNLOAD\r\n"),
        QByteArray("\r\n"),
        QByteArray("REQUEST_E2PROM\r\n"),
    };
    return messages.at(size_t(number - 1));
}

inline QByteArray hostMessages(int first, int last) {
    QByteArray bytes;
    for (int number = first; number <= last; ++number) bytes += hostMessage(number);
    return bytes;
}

inline const QByteArray kSuccessAck = "E2PROMDOWN_SUCCESS\r\n";
inline const QByteArray kErrorAck = "E2PROMDOWN_ERROR\r";

inline std::uint8_t checksumOf(const QByteArray& data) {
    unsigned sum = 0;
    for (const char byte : data) sum += std::uint8_t(byte);
    return std::uint8_t(sum % 256);
}

// What the host received in one exchange up to the reply.
struct Exchange {
    QList<QByteArray> tokenWaits;  // all text of each token wait
    QList<int> tokenReads;         // reads in each token wait
    QByteArray reply;
};

// Messages 1 to 10 with the three token waits, then a wait for `replySize` bytes.
inline Exchange runUpToReply(TestHost& host, qsizetype replySize = 1025) {
    Exchange exchange;
    const auto awaitToken = [&](const QByteArray& token) {
        const bool found = host.waitForText(token);
        EXPECT_TRUE(found) << "no " << token.constData() << " in "
                           << host.pending().toHex(' ').constData();
        exchange.tokenReads.append(host.reads());
        exchange.tokenWaits.append(host.take());
        return found;
    };
    host.send(hostMessages(1, 5));
    if (!awaitToken("PC___")) return exchange;
    host.send(hostMessage(6));
    if (!awaitToken("0000")) return exchange;
    host.send(hostMessage(7));
    if (!awaitToken("1984")) return exchange;
    host.send(hostMessages(8, 10));
    EXPECT_TRUE(host.waitForBytes(replySize)) << "reply has " << host.pending().size() << " bytes";
    exchange.reply = host.take();
    return exchange;
}

inline QByteArray imageBytes(const std::array<std::uint8_t, 1024>& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
}

}  // namespace tessaly::test
