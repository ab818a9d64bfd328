#include "dump/DumpRun.h"

#include "serial/SerialLink.h"

namespace tessaly::dump {

namespace {

void execute(serial::SerialLink& link, const Commands& commands) {
    for (const Command& command : commands) {
        if (const auto* send = std::get_if<Send>(&command))
            link.write(byteArrayOf(send->bytes));
        else
            link.discardInput();
    }
}

}  // namespace

DumpRun::DumpRun(serial::SerialLink& link, QObject* parent) : QObject(parent), link_(link) {
    link_.setReceiveLimit(qsizetype(kReplySize));
    waitTimer_.setSingleShot(true);
    // A coarse timer may fire 5 % early: a box given 10 s must get all of them.
    waitTimer_.setTimerType(Qt::PreciseTimer);
    connect(&waitTimer_, &QTimer::timeout, this, &DumpRun::waitExpired);
    connect(&link_, &serial::SerialLink::dataReceived, this, &DumpRun::readWaiting);
    // Once the reply is complete, the run ends with what storing it did: a link that goes away
    // meanwhile only keeps the acknowledgement from the box. A closed link still lets an
    // acknowledgement under way out.
    connect(&link_, &serial::SerialLink::closed, this, [this] {
        if (acknowledging_) return finish(*acknowledging_);
        if (!result_.reply) return finish(Outcome::Cancelled);
        if (result_.acknowledgementFailure.isEmpty())
            result_.acknowledgementFailure =
                QStringLiteral("the port was closed before it was sent");
    });
    connect(&link_, &serial::SerialLink::linkLost, this, [this](const QString& reason) {
        if (!result_.reply) return finish(Outcome::LinkLost, reason);
        result_.acknowledgementFailure = reason;
        if (acknowledging_) finish(*acknowledging_);
    });
    connect(&link_, &serial::SerialLink::outputSent, this, [this] {
        if (acknowledging_) finish(*acknowledging_);
    });
    connect(&link_, &serial::SerialLink::outputStalled, this, [this] {
        if (!acknowledging_) return;
        result_.acknowledgementFailure =
            QStringLiteral("it did not leave the port within a second");
        finish(*acknowledging_);
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
    result_ = {};
    ++runNumber_;
    running_ = true;
    execute(link_, protocol_.start());
    beginWait();
}

void DumpRun::readWaiting() {
    if (!running_ || result_.reply) return;
    const dump::Stage before = protocol_.stage();
    const QByteArray read = link_.readAll();
    WaitArrivals& arrived = result_.arrived;
    arrived.count += read.size();
    arrived.first += read.left(WaitArrivals::kKept - arrived.first.size());
    execute(link_, protocol_.receive(bytesOf(read)));
    if (protocol_.stage() == dump::Stage::ReplyReceived) return complete();
    if (protocol_.stage() != before) {
        arrived = {};
        beginWait();
    }
    emit progressed();
}

// What arrived while the process was stopped is taken first: only a wait that this brings no
// further ends the run. A process stopped longer than the wait with nothing there finds the box
// silent for all that time, so that timeout is a true one.
void DumpRun::waitExpired() {
    link_.takeWaiting();
    if (running_ && !result_.reply && !waitTimer_.isActive()) finish(Outcome::TimedOut, awaited());
}

void DumpRun::beginWait() {
    emit waitBegan();
    if (waitTimer_.interval() > 0) waitTimer_.start();
}

// The box hears of a stored image only once it is on disk, so a power cut cannot take back what
// was acknowledged and reported.
void DumpRun::complete() {
    waitTimer_.stop();
    const Reply& reply = result_.reply.emplace(protocol_.reply());
    const Outcome outcome = reply.checksumMatches() ? Outcome::Saved : Outcome::ChecksumMismatch;
    if (storing_ == Storing::Never ||
        (storing_ == Storing::WhenChecksumMatches && outcome != Outcome::Saved))
        return acknowledge(outcome);
    storeImageInBackground(imagePath_, reply.data(), this,
                           [this, outcome, run = runNumber_](const StoredImage& stored) {
                               if (run != runNumber_) return;  // a late answer for an ended run
                               result_.stored = stored;
                               if (!stored.stored())
                                   return finish(Outcome::WriteFailed, stored.failure);
                               acknowledge(outcome);
                           });
}

// The run ends once the acknowledgement has left the port, so that a failure to send it is known
// and told with the result.
void DumpRun::acknowledge(Outcome outcome) {
    waitTimer_.stop();
    acknowledging_ = outcome;
    // A link that went away while the image was stored cannot carry it any more.
    if (!link_.isOpen()) return finish(outcome);
    execute(link_, protocol_.acknowledge());
}

void DumpRun::finish(Outcome outcome, const QString& detail) {
    acknowledging_.reset();
    if (!running_) return;
    running_ = false;
    waitTimer_.stop();
    if (outcome == Outcome::Cancelled || outcome == Outcome::LinkLost) protocol_.linkClosed();
    result_.outcome = outcome;
    result_.detail = detail;
    // A copy, as a listener that closes the link or starts the next run changes result_.
    emit finished(Result(result_));
}

}  // namespace tessaly::dump
