#include "sim/SimulatedBox.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <numeric>
#include <random>
#include <string_view>
#include <utility>

#include "sim/SpeedMismatch.h"
#include "sim/WireTimer.h"

namespace tessaly::sim {
namespace {

// No capitals, digits or underscores, so noise can never spell a token, not even in lower case.
constexpr std::string_view kNoiseAlphabet = "abcdefghijklmnopqrstuvwxyz .:-+*#=";

// The box's own table of one dump, kept apart from the host's code on purpose, so that a host
// sending a wrong byte is caught.

// What the box does once a host message is complete.
enum class Answer { Nothing, Token, Reply };

struct HostMessage {
    const char* label;
    QByteArray bytes;
    Answer answer;
    const char* token = "";
};

QByteArray line(const char* text) { return QByteArray(text) + "\r\n"; }

QByteArray flashInformationRecord() {
    static constexpr unsigned char kRecord[] = {
        0x4B, 0x41, 0x05, 0x16, 0x21, 0x27, 0x82, 0x7F, 0xE0, 0x7F, 0xF0, 0x7F, 0xFE, 0x40, 0x0E,
        0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x4F, 0x4E};
    return QByteArray(reinterpret_cast<const char*>(kRecord), sizeof kRecord) + "\r\n";
}

// The host's side of one dump, in order: message n is hostMessages()[n - 1].
const std::array<HostMessage, 10>& hostMessages() {
    static const std::array<HostMessage, 10> messages = {{
        {"\"REQUEST_V616\" CR LF", line("REQUEST_V616"), Answer::Nothing},
        {"\"BL_FLASH_INFO\" CR LF", line("BL_FLASH_INFO"), Answer::Nothing},
        {"flash-information record CR LF", flashInformationRecord(), Answer::Nothing},
        {"NUL byte", QByteArray(1, '\0'), Answer::Nothing},
        {"\"BL_FLASH_END\" CR LF", line("BL_FLASH_END"), Answer::Token, "PC___"},
        {"\"REQUEST_START_BLOCK\" CR LF", line("REQUEST_START_BLOCK"), Answer::Token, "0000"},
        {"\"REQUEST_BLOCK\" CR LF", line("REQUEST_BLOCK"), Answer::Token, "1984"},
        {"\"REQUEST_DOWNLOAD\" CR LF", line("REQUEST_DOWNLOAD"), Answer::Nothing},
        {"empty line CR LF", line(""), Answer::Nothing},
        {"\"REQUEST_E2PROM\" CR LF", line("REQUEST_E2PROM"), Answer::Reply},
    }};
    return messages;
}

const QByteArray& firstMessage() { return hostMessages().front().bytes; }

// The message after the reply: the host's acknowledgement.
constexpr int kAcknowledgement = 11;

QByteArray acknowledgementFor(bool checksumRight) {
    return checksumRight ? line("E2PROMDOWN_SUCCESS") : QByteArrayLiteral("E2PROMDOWN_ERROR\r");
}

std::uint8_t checksumOf(const std::array<std::uint8_t, 1024>& data) {
    return std::uint8_t(std::accumulate(data.begin(), data.end(), 0u));
}

// For reports of what the host sent: "0x41 'A'", and message n's label.
QString describeByte(char byte) {
    const auto value = std::uint8_t(byte);
    QString text = QString::asprintf("0x%02X", unsigned(value));
    if (value >= 0x20 && value < 0x7F) text += QStringLiteral(" '%1'").arg(QLatin1Char(byte));
    return text;
}

QString labelOf(int message, bool checksumRight) {
    if (message != kAcknowledgement) return QString::fromLatin1(hostMessages()[message - 1].label);
    return checksumRight ? QStringLiteral("acknowledgement \"E2PROMDOWN_SUCCESS\" CR LF")
                         : QStringLiteral("acknowledgement \"E2PROMDOWN_ERROR\" CR");
}

}  // namespace

struct SimulatedBox::State {
    // Output written on its own; `afterSent` runs once its last byte is on the wire.
    struct Piece {
        QByteArray bytes;
        bool pauseBefore = false;  // lets the host read what came before on its own
        bool paced = true;
        std::function<void()> afterSent = nullptr;
    };

    static constexpr int kPauseMs = 1;
    // A hang-up waits this long at most for the host to read what the box sent before it.
    static constexpr int kDrainBoundMs = 1000;

    SimulatedBox& box;
    const SimOptions options;
    BoxWire& wire;
    WireTimer inboundTimer{[this] { takeArrivedBytes(); }};
    WireTimer outboundTimer{[this] { pump(); }};
    QTimer drainTimer;
    QElapsedTimer clock;
    QElapsedTimer drainClock;
    const qint64 byteNs;      // wire time of one byte; 0 when unpaced
    const qint64 burstBytes;  // bytes sent or taken together when paced
    std::mt19937 random;

    // Host bytes still on the wire, each with the time its last bit arrives.
    std::deque<std::pair<char, qint64>> inbound;
    qint64 inboundWireFreeNs = 0;

    std::deque<Piece> outgoing;
    qsizetype sentOfFront = 0;
    bool pausedBeforeFront = false;
    qint64 outboundWireFreeNs = 0;

    int expected = 1;  // the host message the box waits for; 0 while it expects nothing
    int lastCompleted = 0;
    bool silent = false;
    int completeReplies = 0;
    bool replyChecksumRight = true;
    QByteArray partial;  // bytes of the message under way
    bool deviated = false;
    QByteArray sinceDeviation;  // the last bytes after a deviation, watched for a fresh start
    bool hangingUp = false;

    State(SimulatedBox& owner, SimOptions chosen, BoxWire& boxWire)
        : box(owner),
          options(std::move(chosen)),
          wire(boxWire),
          byteNs(options.baud > 0 ? (10'000'000'000LL + options.baud - 1) / options.baud : 0),
          burstBytes(
              byteNs > 0 ? std::max<qint64>(1, options.paceStepMicroseconds * 1000LL / byteNs) : 1),
          random(options.seed) {
        clock.start();
        drainTimer.setInterval(1);
        QObject::connect(&wire, &BoxWire::readable, &box, [this] { onReadable(); });
        QObject::connect(&wire, &BoxWire::writable, &box, [this] { pump(); });
        QObject::connect(&drainTimer, &QTimer::timeout, &box, [this] {
            if (wire.unreadByProgram() > 0 && !drainClock.hasExpired(kDrainBoundMs)) return;
            drainTimer.stop();
            wire.close();
            emit box.hungUp();
        });
        if (!options.staleBytes.isEmpty()) enqueue({.bytes = options.staleBytes, .paced = false});
    }

    void onReadable() {
        const QByteArray bytes = wire.readAvailable();
        if (bytes.isEmpty()) return;
        box.transcript_ += bytes;
        emit box.received(bytes);
        if (options.loopback != Loopback::Off) {
            enqueue({.bytes = options.loopback == Loopback::Echo ? bytes
                                                                 : asReadAtOtherSpeed(bytes, 2.0)});
            return;
        }
        const qint64 now = clock.nsecsElapsed();
        for (const char byte : bytes) {
            inboundWireFreeNs = std::max(inboundWireFreeNs, now) + byteNs;
            inbound.emplace_back(byte, inboundWireFreeNs);
        }
        takeArrivedBytes();
    }

    // The box acts on a host byte only once its wire time has passed.
    void takeArrivedBytes() {
        const qint64 now = clock.nsecsElapsed();
        while (!inbound.empty() && inbound.front().second <= now) {
            const char byte = inbound.front().first;
            inbound.pop_front();
            consume(byte);
        }
        if (inbound.empty()) return;
        const auto burst = std::min<qsizetype>(qsizetype(inbound.size()), qsizetype(burstBytes));
        inboundTimer.startIn(inbound[size_t(burst - 1)].second - now);
    }

    void consume(char byte) {
        if (hangingUp) return;
        if (deviated) {
            sinceDeviation.append(byte);
            if (sinceDeviation.endsWith(firstMessage())) startOver();
            sinceDeviation = sinceDeviation.right(firstMessage().size());
            return;
        }
        partial.append(byte);
        const QByteArray wanted = expectedBytes();
        if (wanted.startsWith(partial)) {
            if (partial.size() == wanted.size()) complete(expected);
            return;
        }
        // A host that gave up on this exchange may start over at any message boundary.
        if (firstMessage().startsWith(partial)) {
            if (partial == firstMessage()) startOver();
            return;
        }
        deviate(describeDeviation());
    }

    QByteArray expectedBytes() const {
        if (expected == 0) return {};
        if (expected == kAcknowledgement) return acknowledgementFor(replyChecksumRight);
        return hostMessages()[expected - 1].bytes;
    }

    void complete(int message) {
        partial.clear();
        lastCompleted = message;
        if (message == kAcknowledgement) {
            expected = 1;
            ++(replyChecksumRight ? box.successAcks_ : box.errorAcks_);
            emit box.acknowledged(replyChecksumRight);
            return;
        }
        const HostMessage& host = hostMessages()[message - 1];
        if (host.answer == Answer::Nothing) {
            expected = message + 1;
            return;
        }
        expected = 0;
        silent = (options.silentAfterMessage && message >= *options.silentAfterMessage) ||
                 (options.readsThenSilent && completeReplies >= *options.readsThenSilent);
        if (silent) return;
        if (host.answer == Answer::Reply)
            sendReply();
        else
            sendToken(host.token, message + 1);
    }

    void startOver() {
        dropOutput();
        deviated = false;
        sinceDeviation.clear();
        silent = false;
        complete(1);
    }

    void deviate(const QString& what) {
        deviated = true;
        sinceDeviation = partial.right(firstMessage().size());
        partial.clear();
        dropOutput();
        box.deviations_.append(what);
        emit box.hostDeviated(what);
    }

    QString describeDeviation() const {
        if (expected == 0) {
            return QStringLiteral("unexpected %1 after message %2 (%3), while the box %4")
                .arg(describeByte(partial.front()))
                .arg(lastCompleted)
                .arg(labelOf(lastCompleted, replyChecksumRight),
                     silent ? QStringLiteral("stays silent") : QStringLiteral("is answering"));
        }
        if (expected == kAcknowledgement &&
            acknowledgementFor(!replyChecksumRight).startsWith(partial)) {
            return QStringLiteral("wrong acknowledgement: ") +
                   (replyChecksumRight ? "error for a reply with the right checksum"
                                       : "success for a reply with a wrong checksum");
        }
        // Bytes that looked like a fresh start may have left the expected message earlier.
        const QByteArray wanted = expectedBytes();
        qsizetype offset = 0;
        while (partial.at(offset) == wanted.at(offset)) ++offset;
        const QString after = expected == 1 && lastCompleted == kAcknowledgement
                                  ? QStringLiteral(" after the acknowledgement")
                                  : QString();
        return QStringLiteral("message %1 (%2)%3, offset %4: expected %5, got %6")
            .arg(expected)
            .arg(labelOf(expected, replyChecksumRight), after)
            .arg(offset)
            .arg(describeByte(wanted.at(offset)), describeByte(partial.at(offset)));
    }

    void sendToken(QByteArray token, int nextMessage) {
        if (options.lowerCaseTokens) token = token.toLower();
        if (options.noiseBeforeTokens > 0)
            enqueue({.bytes = randomBytes(options.noiseBeforeTokens, kNoiseAlphabet)});
        const qsizetype step = options.splitTokens ? 1 : token.size();
        for (qsizetype i = 0; i < token.size(); i += step) {
            Piece piece{.bytes = token.mid(i, step), .pauseBefore = options.splitTokens};
            if (i + step == token.size())
                piece.afterSent = [this, nextMessage] { expected = nextMessage; };
            enqueue(std::move(piece));
        }
    }

    void sendReply() {
        QByteArray reply(reinterpret_cast<const char*>(options.image.data()),
                         qsizetype(options.image.size()));
        replyChecksumRight = !options.wrongChecksum;
        reply.append(char(checksumOf(options.image) + (replyChecksumRight ? 0 : 1)));
        const QByteArray extra = randomBytes(options.extraReplyBytes);
        if (options.disconnectAfterReplyBytes) {
            enqueue({.bytes = (reply + extra).left(*options.disconnectAfterReplyBytes),
                     .afterSent = [this] { hangUp(); }});
            return;
        }
        // The host may acknowledge as soon as it has 1025 bytes, while the extra ones still flow.
        enqueue({.bytes = reply, .afterSent = [this] {
                     expected = kAcknowledgement;
                     ++completeReplies;
                     emit box.replySent();
                 }});
        if (!extra.isEmpty()) enqueue({.bytes = extra});
    }

    // Bytes drawn from `alphabet`, or any bytes when it is empty.
    QByteArray randomBytes(int count, std::string_view alphabet = {}) {
        std::uniform_int_distribution<int> pick(0,
                                                alphabet.empty() ? 255 : int(alphabet.size()) - 1);
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes.append(alphabet.empty() ? char(pick(random)) : alphabet[size_t(pick(random))]);
        return bytes;
    }

    void enqueue(Piece piece) {
        const bool idle = outgoing.empty();
        outgoing.push_back(std::move(piece));
        if (!idle) return;
        outboundWireFreeNs = std::max(outboundWireFreeNs, clock.nsecsElapsed());
        pump();
    }

    // Writes what is due; when more is to come, leaves a timer or the write notifier to come back.
    void pump() {
        outboundTimer.stop();
        wire.watchWritable(false);
        while (!outgoing.empty()) {
            Piece& piece = outgoing.front();
            const qint64 now = clock.nsecsElapsed();
            if (piece.pauseBefore && !pausedBeforeFront) {
                pausedBeforeFront = true;
                outboundWireFreeNs = std::max(outboundWireFreeNs, now + kPauseMs * 1'000'000LL);
                outboundTimer.startIn(kPauseMs * 1'000'000LL);
                return;
            }
            qsizetype count = piece.bytes.size() - sentOfFront;
            if (piece.paced && byteNs > 0) {
                // Bytes whose last bit has left by now; catching up keeps the schedule.
                const qint64 due = std::max<qint64>(0, (now - outboundWireFreeNs) / byteNs);
                const qint64 burst = std::min<qint64>(count, burstBytes);
                if (count > 0 && due < burst) {
                    outboundTimer.startIn(outboundWireFreeNs + burst * byteNs - now);
                    return;
                }
                count = std::min<qsizetype>(count, due);
            }
            const qsizetype written = wire.writeSome(piece.bytes.mid(sentOfFront, count));
            sentOfFront += written;
            outboundWireFreeNs += written * byteNs;
            if (sentOfFront < piece.bytes.size()) {
                if (written < count) {
                    wire.watchWritable(true);
                    return;
                }
                continue;
            }
            const std::function<void()> afterSent = std::move(piece.afterSent);
            outgoing.pop_front();
            sentOfFront = 0;
            pausedBeforeFront = false;
            if (afterSent) afterSent();
        }
    }

    void dropOutput() {
        outgoing.clear();
        sentOfFront = 0;
        pausedBeforeFront = false;
        outboundTimer.stop();
        wire.watchWritable(false);
    }

    // Closing a terminal discards what the host has not read yet, so the box waits for that first.
    void hangUp() {
        hangingUp = true;
        dropOutput();
        wire.watchReadable(false);
        inbound.clear();
        inboundTimer.stop();
        drainClock.start();
        drainTimer.start();
    }
};

SimulatedBox::SimulatedBox(SimOptions options, std::unique_ptr<BoxWire> wire, QObject* parent)
    : QObject(parent),
      wire_(std::move(wire)),
      state_(std::make_unique<State>(*this, std::move(options), *wire_)) {}

SimulatedBox::~SimulatedBox() = default;

}  // namespace tessaly::sim
