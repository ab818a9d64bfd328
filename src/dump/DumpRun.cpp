#include "DumpRun.h"

#include <MSComm.h>

#include "ImageFile.h"

namespace tessaly {

namespace {

QByteArray toByteArray(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

std::span<const std::uint8_t> asBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

}  // namespace

DumpRun::DumpRun(MSComm& link, QObject* parent) : QObject(parent), link_(link) {
    waitTimer_.setSingleShot(true);
    connect(&waitTimer_, &QTimer::timeout, this, [this] { finish(Outcome::TimedOut, awaited()); });
    connect(&link_, &MSComm::dataReceived, this, &DumpRun::readWaiting);
    connect(&link_, &MSComm::closed, this, [this] { finish(Outcome::Cancelled); });
    connect(&link_, &MSComm::linkLost, this,
            [this](const QString& reason) { finish(Outcome::LinkLost, reason); });
}

QString DumpRun::awaited() const {
    const std::string_view token = protocol_.awaitedToken();
    return token.empty() ? QStringLiteral("the %1-byte reply").arg(dump::kReplySize)
                         : QStringLiteral("\"%1\"").arg(QLatin1StringView(token));
}

void DumpRun::start(const QString& imagePath) {
    imagePath_ = imagePath;
    stored_ = {};
    running_ = true;
    execute(protocol_.start());
    restartWaitTimer();
}

void DumpRun::execute(const dump::Commands& commands) {
    for (const dump::Command& command : commands) {
        if (std::holds_alternative<dump::DiscardInput>(command)) {
            link_.setInBufferCount(0);
        } else if (const auto* select = std::get_if<dump::SelectReadMode>(&command)) {
            link_.setInputMode(select->mode == dump::ReadMode::Binary ? MSComm::comInputModeBinary
                                                                      : MSComm::comInputModeText);
        } else {
            link_.Output(toByteArray(std::get<dump::Send>(command).bytes));
        }
    }
}

void DumpRun::readWaiting() {
    if (!running_) return;
    const dump::Stage before = protocol_.stage();
    execute(protocol_.receive(asBytes(link_.Input())));
    if (protocol_.stage() == dump::Stage::ReplyReceived)
        complete();
    else if (protocol_.stage() != before)
        restartWaitTimer();
}

void DumpRun::restartWaitTimer() {
    if (waitLimit_.count() > 0) waitTimer_.start(waitLimit_);
}

void DumpRun::complete() {
    stored_ = storeImage(imagePath_, toByteArray(protocol_.data()));
    if (!stored_.stored()) {
        finish(Outcome::WriteFailed, stored_.failure);
        return;
    }
    execute(protocol_.acknowledge());
    finish(protocol_.checksumMatches() ? Outcome::Saved : Outcome::ChecksumMismatch);
}

void DumpRun::finish(Outcome outcome, const QString& detail) {
    if (!running_) return;
    running_ = false;
    waitTimer_.stop();
    if (outcome == Outcome::Cancelled || outcome == Outcome::LinkLost) protocol_.linkClosed();
    Result result{outcome, {}, detail, stored_, {}};
    if (protocol_.stage() == dump::Stage::ReplyReceived ||
        protocol_.stage() == dump::Stage::Acknowledged)
        result.reply = toByteArray(protocol_.reply());
    emit finished(result);
}

}  // namespace tessaly
