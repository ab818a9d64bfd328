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
    // Once the reply is complete, the run ends with what storing it did: a link that goes away
    // meanwhile only keeps the acknowledgement from the box. A closed link still lets an
    // acknowledgement under way out.
    connect(&link_, &serial::MSComm::closed, this, [this] {
        if (acknowledging_) return endAcknowledgement();
        if (!reply_) return finish(Outcome::Cancelled);
        if (acknowledgementFailure_.isEmpty())
            acknowledgementFailure_ = QStringLiteral("the port was closed before it was sent");
    });
    connect(&link_, &serial::MSComm::linkLost, this, [this](const QString& reason) {
        if (!reply_) return finish(Outcome::LinkLost, reason);
        acknowledgementFailure_ = reason;
        if (acknowledging_) endAcknowledgement();
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
    arrived_ = {};
    ++runNumber_;
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
    if (!running_ || reply_) return;
    const dump::Stage before = protocol_.stage();
    const QByteArray read = link_.Input();
    arrived_.count += read.size();
    arrived_.first += read.left(WaitArrivals::kKept - arrived_.first.size());
    execute(protocol_.receive(asBytes(read)));
    if (protocol_.stage() == dump::Stage::ReplyReceived) {
        complete();
        return;
    }
    if (protocol_.stage() != before) {
        arrived_ = {};
        restartWaitTimer();
    }
    emit progressed();
}

void DumpRun::restartWaitTimer() {
    if (waitLimit_.count() > 0) waitTimer_.start(waitLimit_);
}

// The box hears of a stored image only once it is on disk, so a power cut cannot take back what
// was acknowledged and reported.
void DumpRun::complete() {
    waitTimer_.stop();
    reply_.emplace(protocol_.reply());
    const Outcome outcome = reply_->checksumMatches() ? Outcome::Saved : Outcome::ChecksumMismatch;
    if (storing_ == Storing::Never ||
        (storing_ == Storing::WhenChecksumMatches && outcome != Outcome::Saved))
        return acknowledge(outcome);
    storeImageInBackground(imagePath_, reply_->data(), this,
                           [this, outcome, run = runNumber_](const StoredImage& stored) {
                               if (run != runNumber_) return;  // a late answer for an ended run
                               stored_ = stored;
                               if (!stored_.stored())
                                   return finish(Outcome::WriteFailed, stored_.failure);
                               acknowledge(outcome);
                           });
}

// The run ends once the acknowledgement has left the port, so that a failure to send it is known
// and told with the result.
void DumpRun::acknowledge(Outcome outcome) {
    waitTimer_.stop();
    acknowledging_ = true;
    acknowledgedOutcome_ = outcome;
    // A link that went away while the image was stored cannot carry it any more.
    if (!link_.PortOpen()) return endAcknowledgement();
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
    emit finished(Result{outcome, reply_, detail, stored_, acknowledgementFailure_, arrived_});
}

}  // namespace tessaly::dump
