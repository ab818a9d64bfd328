#include "sim/SimulatedBox.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <random>
#include <utility>

#include "sim/WireTimer.h"

namespace tessaly::sim {
namespace {

// What the box does once a host message is complete.
enum class Answer { Nothing, PcReady, StartBlock, Block, Reply };

struct HostMessage {
    const char* label;
    QByteArray bytes;
    Answer answer;
};

QByteArray line(const char* text) { return QByteArray(text) + "\r\n"; }

QByteArray flashInformationRecord() {
    static constexpr unsigned char kRecord[] = {
        0x4B, 0x41, 0x05, 0x16, 0x21, 0x27, 0x82, 0x7F, 0xE0, 0x7F, 0xF0, 0x7F, 0xFE, 0x40, 0x0E,
        0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x4F, 0x4E};
    return QByteArray(reinterpret_cast<const char*>(kRecord), sizeof kRecord) + "\r\n";
}

// The host's side of one dump, in order: message n is exchange()[n - 1]. Kept apart from the
// host's own code on purpose, so that a host sending a wrong byte is caught.
const std::array<HostMessage, 10>& exchange() {
    static const std::array<HostMessage, 10> messages = {{
        {"\"REQUEST_V616\" CR LF", line("REQUEST_V616"), Answer::Nothing},
        {"\"BL_FLASH_INFO\" CR LF", line("BL_FLASH_INFO"), Answer::Nothing},
        {"flash-information record CR LF", flashInformationRecord(), Answer::Nothing},
        {"NUL byte", QByteArray(1, '\0'), Answer::Nothing},
        {"\"BL_FLASH_END\" CR LF", line("BL_FLASH_END"), Answer::PcReady},
        {"\"REQUEST_START_BLOCK\" CR LF", line("REQUEST_START_BLOCK"), Answer::StartBlock},
        {"\"REQUEST_BLOCK\" CR LF", line("REQUEST_BLOCK"), Answer::Block},
        {"\"REQUEST_DOWNLOAD\" CR LF", line("REQUEST_DOWNLOAD"), Answer::Nothing},
        {"empty line CR LF", line(""), Answer::Nothing},
        {"\"REQUEST_E2PROM\" CR LF", line("REQUEST_E2PROM"), Answer::Reply},
    }};
    return messages;
}

const QByteArray& firstMessage() { return exchange().front().bytes; }

constexpr int kAcknowledgement = 11;
const QByteArray kSuccessAck = line("E2PROMDOWN_SUCCESS");
const QByteArray kErrorAck = QByteArrayLiteral("E2PROMDOWN_ERROR\r");

QByteArray tokenFor(Answer answer) {
    switch (answer) {
        case Answer::PcReady:
            return QByteArrayLiteral("PC___");
        case Answer::StartBlock:
            return QByteArrayLiteral("0000");
        case Answer::Block:
            return QByteArrayLiteral("1984");
        default:
            return {};
    }
}

// No capitals, digits or underscores, so noise can never spell a token, not even in lower case.
constexpr char kNoiseAlphabet[] = "abcdefghijklmnopqrstuvwxyz .:-+*#=";

std::uint8_t checksumOf(const std::array<std::uint8_t, 1024>& data) {
    unsigned sum = 0;
    for (const std::uint8_t byte : data) sum += byte;
    return std::uint8_t(sum % 256);
}

QString describeByte(char byte) {
    const auto value = std::uint8_t(byte);
    QString text =
        QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(2, '0');
    if (value >= 0x20 && value < 0x7F) text += QStringLiteral(" '%1'").arg(QLatin1Char(byte));
    return text;
}

QString labelOf(int message, bool checksumRight) {
    if (message != kAcknowledgement) return QString::fromLatin1(exchange()[message - 1].label);
    return checksumRight ? QStringLiteral("acknowledgement \"E2PROMDOWN_SUCCESS\" CR LF")
                         : QStringLiteral("acknowledgement \"E2PROMDOWN_ERROR\" CR");
}

}  // namespace

std::array<std::uint8_t, 1024> SimOptions::recognisableImage() {
    static constexpr char kMarker[] = "SIMULATED STB EEPROM";
    std::array<std::uint8_t, 1024> image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i) ^ 0x5A;
    std::copy(kMarker, kMarker + sizeof kMarker - 1, image.begin());
    return image;
}

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

    State(SimulatedBox& box, SimOptions options, BoxWire& wire);

    void onReadable();
    void takeArrivedBytes();
    void consume(char byte);
    void complete(int message);
    void startOver();
    void acknowledge();
    void deviate(const QString& what);
    QString describeDeviation() const;
    QByteArray expectedBytes() const;

    void sendToken(Answer answer, int nextMessage);
    void sendReply();
    QByteArray noise(int count);
    QByteArray randomBytes(int count);

    void enqueue(Piece piece);
    void pump();
    void dropOutput();
    void hangUp();
    void finishHangUp();

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
    bool replyChecksumRight = true;
    QByteArray partial;  // bytes of the message under way
    bool deviated = false;
    QByteArray sinceDeviation;  // the last bytes after a deviation, watched for a fresh start
    bool hangingUp = false;
};

SimulatedBox::State::State(SimulatedBox& box, SimOptions chosen, BoxWire& boxWire)
    : box(box),
      options(std::move(chosen)),
      wire(boxWire),
      byteNs(options.baud > 0 ? (10'000'000'000LL + options.baud - 1) / options.baud : 0),
      burstBytes(byteNs > 0 ? std::max<qint64>(1, options.paceStepMicroseconds * 1000LL / byteNs)
                            : 1),
      random(options.seed) {
    clock.start();
    wire.watchWritable(false);
    drainTimer.setInterval(1);
    QObject::connect(&wire, &BoxWire::readable, &box, [this] { onReadable(); });
    QObject::connect(&wire, &BoxWire::writable, &box, [this] { pump(); });
    QObject::connect(&drainTimer, &QTimer::timeout, &box, [this] {
        if (wire.unreadByProgram() == 0 || drainClock.hasExpired(kDrainBoundMs)) finishHangUp();
    });
    if (!options.staleBytes.isEmpty()) enqueue({.bytes = options.staleBytes, .paced = false});
}

void SimulatedBox::State::onReadable() {
    const QByteArray bytes = wire.readAvailable();
    if (bytes.isEmpty()) return;
    box.transcript_ += bytes;
    emit box.received(bytes);
    if (byteNs == 0) {
        for (const char byte : bytes) consume(byte);
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
void SimulatedBox::State::takeArrivedBytes() {
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

void SimulatedBox::State::consume(char byte) {
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

QByteArray SimulatedBox::State::expectedBytes() const {
    if (expected == 0) return {};
    if (expected == kAcknowledgement) return replyChecksumRight ? kSuccessAck : kErrorAck;
    return exchange()[expected - 1].bytes;
}

void SimulatedBox::State::complete(int message) {
    partial.clear();
    lastCompleted = message;
    if (message == kAcknowledgement) {
        acknowledge();
        return;
    }
    const Answer answer = exchange()[message - 1].answer;
    if (answer == Answer::Nothing) {
        expected = message + 1;
        return;
    }
    expected = 0;
    silent = options.silentAfterMessage && message >= *options.silentAfterMessage;
    if (silent) return;
    if (answer == Answer::Reply)
        sendReply();
    else
        sendToken(answer, message + 1);
}

void SimulatedBox::State::startOver() {
    dropOutput();
    deviated = false;
    sinceDeviation.clear();
    silent = false;
    complete(1);
}

void SimulatedBox::State::acknowledge() {
    expected = 1;
    ++(replyChecksumRight ? box.successAcks_ : box.errorAcks_);
    emit box.acknowledged(replyChecksumRight);
}

void SimulatedBox::State::deviate(const QString& what) {
    deviated = true;
    sinceDeviation = partial.right(firstMessage().size());
    partial.clear();
    dropOutput();
    box.deviations_.append(what);
    emit box.hostDeviated(what);
}

QString SimulatedBox::State::describeDeviation() const {
    if (expected == 0) {
        return QStringLiteral("unexpected %1 after message %2 (%3), while the box %4")
            .arg(describeByte(partial.front()))
            .arg(lastCompleted)
            .arg(labelOf(lastCompleted, replyChecksumRight),
                 silent ? QStringLiteral("stays silent") : QStringLiteral("is answering"));
    }
    if (expected == kAcknowledgement &&
        (replyChecksumRight ? kErrorAck : kSuccessAck).startsWith(partial)) {
        return replyChecksumRight
                   ? QStringLiteral(
                         "wrong acknowledgement: error for a reply with the right checksum")
                   : QStringLiteral(
                         "wrong acknowledgement: success for a reply with a wrong checksum");
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

void SimulatedBox::State::sendToken(Answer answer, int nextMessage) {
    QByteArray token = tokenFor(answer);
    if (options.lowerCaseTokens) token = token.toLower();
    if (options.noiseBeforeTokens > 0) enqueue({.bytes = noise(options.noiseBeforeTokens)});
    const auto expectNext = [this, nextMessage] { expected = nextMessage; };
    if (!options.splitTokens) {
        enqueue({.bytes = token, .afterSent = expectNext});
        return;
    }
    for (qsizetype i = 0; i < token.size(); ++i) {
        const bool last = i + 1 == token.size();
        enqueue({.bytes = token.mid(i, 1),
                 .pauseBefore = true,
                 .afterSent = last ? std::function<void()>(expectNext) : nullptr});
    }
}

void SimulatedBox::State::sendReply() {
    QByteArray reply(reinterpret_cast<const char*>(options.image.data()),
                     qsizetype(options.image.size()));
    const std::uint8_t checksum = checksumOf(options.image);
    replyChecksumRight = !options.wrongChecksum;
    reply.append(char(replyChecksumRight ? checksum : std::uint8_t(checksum + 1)));
    const QByteArray extra = randomBytes(options.extraReplyBytes);
    if (options.disconnectAfterReplyBytes) {
        enqueue({.bytes = (reply + extra).left(*options.disconnectAfterReplyBytes),
                 .afterSent = [this] { hangUp(); }});
        return;
    }
    // The host may acknowledge as soon as it has 1025 bytes, while the extra ones still flow.
    enqueue({.bytes = reply, .afterSent = [this] {
                 expected = kAcknowledgement;
                 emit box.replySent();
             }});
    if (!extra.isEmpty()) enqueue({.bytes = extra});
}

QByteArray SimulatedBox::State::noise(int count) {
    std::uniform_int_distribution<int> pick(0, int(sizeof kNoiseAlphabet) - 2);
    QByteArray bytes;
    for (int i = 0; i < count; ++i) bytes.append(kNoiseAlphabet[pick(random)]);
    return bytes;
}

QByteArray SimulatedBox::State::randomBytes(int count) {
    std::uniform_int_distribution<int> pick(0, 255);
    QByteArray bytes;
    for (int i = 0; i < count; ++i) bytes.append(char(pick(random)));
    return bytes;
}

void SimulatedBox::State::enqueue(Piece piece) {
    const bool idle = outgoing.empty();
    outgoing.push_back(std::move(piece));
    if (!idle) return;
    outboundWireFreeNs = std::max(outboundWireFreeNs, clock.nsecsElapsed());
    pump();
}

// Writes what is due; when more is to come, leaves a timer or the write notifier to come back.
void SimulatedBox::State::pump() {
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

void SimulatedBox::State::dropOutput() {
    outgoing.clear();
    sentOfFront = 0;
    pausedBeforeFront = false;
    outboundTimer.stop();
    wire.watchWritable(false);
}

// Closing a terminal discards what the host has not read yet, so the box waits for that first.
void SimulatedBox::State::hangUp() {
    hangingUp = true;
    dropOutput();
    wire.watchReadable(false);
    inbound.clear();
    inboundTimer.stop();
    drainClock.start();
    drainTimer.start();
}

void SimulatedBox::State::finishHangUp() {
    drainTimer.stop();
    wire.close();
    emit box.hungUp();
}

SimulatedBox::SimulatedBox(SimOptions options, std::unique_ptr<BoxWire> wire, QObject* parent)
    : QObject(parent),
      wire_(std::move(wire)),
      state_(std::make_unique<State>(*this, std::move(options), *wire_)) {}

SimulatedBox::~SimulatedBox() = default;

QString SimulatedBox::devicePath() const { return wire_->devicePath(); }

}  // namespace tessaly::sim
