#include "dump/DumpRun.h"

#include "dump/ImageFile.h"
#include "serial/MSComm.h"

namespace tessaly::dump {

namespace {

std::span<const std::uint8_t> asBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

}  // namespace

DumpRun::DumpRun(serial::MSComm& link, QObject* parent) : QObject(parent), link_(link) {
    waitTimer_.setSingleShot(true);
    // A coarse timer may fire 5 % early: a box given 10 s must get all of them.
    waitTimer_.setTimerType(Qt::PreciseTimer);
    connect(&waitTimer_, &QTimer::timeout, this, [this] { finish(Outcome::TimedOut, awaited()); });
    connect(&link_, &serial::MSComm::dataReceived, this, &DumpRun::readWaiting);
    connect(&link_, &serial::MSComm::closed, this, [this] {
        // A closed link still lets the acknowledgement out.
        if (acknowledging_)
            endAcknowledgement();
        else
            finish(Outcome::Cancelled);
    });
    connect(&link_, &serial::MSComm::linkLost, this, [this](const QString& reason) {
        if (!acknowledging_) return finish(Outcome::LinkLost, reason);
        acknowledgementFailure_ = reason;
        endAcknowledgement();
    });
    connect(&link_, &serial::MSComm::outputSent, this, [this] {
        if (acknowledging_) endAcknowledgement();
    });
    connect(&link_, &serial::MSComm::outputStalled, this, [this] {
        if (!acknowledging_) return;
        acknowledgementFailure_ = QStringLiteral("it did not leave the port within a second");
        endAcknowledgement();
    });
}

QString DumpRun::awaited() const {
    const std::string_view token = protocol_.awaitedToken();
    return token.empty() ? QStringLiteral("the %1-byte reply").arg(dump::kReplySize)
                         : QStringLiteral("\"%1\"").arg(QLatin1StringView(token));
}

void DumpRun::start(const QString& imagePath, Storing storing) {
    imagePath_ = imagePath;
    storing_ = storing;
    stored_ = {};
    reply_.reset();
    acknowledgementFailure_.clear();
    running_ = true;
    execute(protocol_.start());
    restartWaitTimer();
}

void DumpRun::execute(const dump::Commands& commands) {
    for (const dump::Command& command : commands) {
        if (const auto* send = std::get_if<dump::Send>(&command))
            link_.Output(QByteArray(reinterpret_cast<const char*>(send->bytes.data()),
                                    qsizetype(send->bytes.size())));
        else
            link_.setInBufferCount(0);
    }
}

void DumpRun::readWaiting() {
    if (!running_ || acknowledging_) return;
    const dump::Stage before = protocol_.stage();
    execute(protocol_.receive(asBytes(link_.Input())));
    if (protocol_.stage() == dump::Stage::ReplyReceived) {
        complete();
        return;
    }
    if (protocol_.stage() != before) restartWaitTimer();
    emit progressed();
}

void DumpRun::restartWaitTimer() {
    if (waitLimit_.count() > 0) waitTimer_.start(waitLimit_);
}

void DumpRun::complete() {
    reply_.emplace(protocol_.reply());
    const bool matches = reply_->checksumMatches();
    if (storing_ == Storing::Always || (storing_ == Storing::WhenChecksumMatches && matches)) {
        stored_ = storeImage(imagePath_, reply_->data());
        if (!stored_.stored()) {
            finish(Outcome::WriteFailed, stored_.failure);
            return;
        }
    }
    acknowledge(matches ? Outcome::Saved : Outcome::ChecksumMismatch);
}

// The run ends once the acknowledgement has left the port, so that a failure to send it is known
// and told with the result.
void DumpRun::acknowledge(Outcome outcome) {
    waitTimer_.stop();
    acknowledging_ = true;
    acknowledgedOutcome_ = outcome;
    execute(protocol_.acknowledge());
}

void DumpRun::endAcknowledgement() {
    acknowledging_ = false;
    finish(acknowledgedOutcome_);
}

void DumpRun::finish(Outcome outcome, const QString& detail) {
    if (!running_) return;
    running_ = false;
    acknowledging_ = false;
    waitTimer_.stop();
    if (outcome == Outcome::Cancelled || outcome == Outcome::LinkLost) protocol_.linkClosed();
    emit finished(Result{outcome, reply_, detail, stored_, acknowledgementFailure_});
}

}  // namespace tessaly::dump
