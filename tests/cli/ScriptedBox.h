#pragma once

// A box that serves a fixed series of dumps, each with its own image and checksum, and then
// stops answering: for reads that must be compared with each other.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <cstdint>

#include "sim/PseudoTerminal.h"

namespace tessaly::test {

struct ScriptedDump {
    QByteArray image;  // 1024 bytes
    bool checksumRight = true;
    // Stops the host's output (XOFF) before the reply, so that its acknowledgement cannot
    // leave; the image must then hold no XON or XOFF byte.
    bool holdAcknowledgement = false;
    // Hangs up once the host's acknowledgement of this dump waits, held back as above.
    bool hangUpAfterReply = false;
};

inline QByteArray imageFilledWith(std::uint8_t seed) {
    QByteArray image(1024, '\0');
    for (int i = 0; i < image.size(); ++i) image[i] = char(std::uint8_t(i * 7 + seed));
    return image;
}

// Two images with the same additive checksum that differ in two bytes: the error the box's
// checksum cannot see.
inline QByteArray withCompensatingError(QByteArray image) {
    image[10] = char(image[10] + 1);
    image[20] = char(image[20] - 1);
    return image;
}

class ScriptedBox {
public:
    explicit ScriptedBox(QList<ScriptedDump> dumps)
        : dumps_(std::move(dumps)), readable_(terminal_.fd(), QSocketNotifier::Read) {
        QObject::connect(&readable_, &QSocketNotifier::activated, [this] { take(); });
    }

    QString devicePath() const { return terminal_.devicePath(); }
    // Served dumps whose acknowledgement can reach the box: not those it hung up after.
    int acknowledgeable() const { return served_ - hungUp_; }
    const QByteArray& heard() const { return heard_; }

private:
    void take() {
        const QByteArray bytes = terminal_.readAvailable();
        heard_ += bytes;
        pending_ += bytes;
        static const std::array<std::pair<QByteArray, QByteArray>, 3> tokens{{
            {"BL_FLASH_END\r\n", "PC___"},
            {"REQUEST_START_BLOCK\r\n", "0000"},
            {"REQUEST_BLOCK\r\n", "1984"},
        }};
        for (const auto& [message, token] : tokens) answer(message, token);
        answer("REQUEST_E2PROM\r\n", {});
    }

    void answer(const QByteArray& message, const QByteArray& token) {
        const qsizetype at = pending_.indexOf(message);
        if (at < 0 || served_ >= dumps_.size()) return;
        pending_.remove(0, at + message.size());
        if (!token.isEmpty()) {
            terminal_.writeSome(token);
            return;
        }
        const ScriptedDump& dump = dumps_[served_++];
        if (dump.holdAcknowledgement || dump.hangUpAfterReply) stopHostOutput();
        terminal_.writeSome(reply(dump));
        if (dump.hangUpAfterReply) hangUpOnceRead();
        hungUp_ += dump.hangUpAfterReply ? 1 : 0;
    }

    void hangUpOnceRead() {
        auto* check = new QTimer(&readable_);
        QObject::connect(check, &QTimer::timeout, [this, check] {
            if (hostOutputWaiting() == 0) return;
            check->stop();
            readable_.setEnabled(false);
            terminal_.close();
        });
        check->start(1);
    }

    qsizetype hostOutputWaiting() const {
        const int device = ::open(QFile::encodeName(devicePath()).constData(), O_RDWR | O_NOCTTY);
        int waiting = 0;
        ::ioctl(device, TIOCOUTQ, &waiting);
        ::close(device);
        return waiting;
    }

    void stopHostOutput() {
        const int device = ::open(QFile::encodeName(devicePath()).constData(), O_RDWR | O_NOCTTY);
        termios settings{};
        ::tcgetattr(device, &settings);
        settings.c_iflag |= IXON;
        settings.c_cc[VSTOP] = '\x13';
        ::tcsetattr(device, TCSANOW, &settings);
        ::close(device);
        terminal_.writeSome(QByteArray(1, '\x13'));
    }

    static QByteArray reply(const ScriptedDump& dump) {
        std::uint8_t sum = 0;
        for (const char byte : dump.image) sum = std::uint8_t(sum + std::uint8_t(byte));
        return dump.image + char(dump.checksumRight ? sum : std::uint8_t(sum + 1));
    }

    QList<ScriptedDump> dumps_;
    sim::PseudoTerminal terminal_;
    QSocketNotifier readable_;
    QByteArray heard_;
    QByteArray pending_;
    int served_ = 0;
    int hungUp_ = 0;
};

}  // namespace tessaly::test
