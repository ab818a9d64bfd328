#include "cli/PortCheck.h"

#include "cli/DumpReport.h"
#include "cli/ExitStatus.h"
#include "dump/ByteConversions.h"

namespace tessaly::cli {

PortCheck::PortCheck(QString device, Console& console)
    : device_(std::move(device)), console_(console) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(serial::LoopbackCheck::kQuietMs);
    // Bytes that came back while the process was stopped are taken before quiet is judged.
    connect(&quiet_, &QTimer::timeout, this, [this] {
        link_.takeWaiting();
        if (!ended_ && !quiet_.isActive()) judge();
    });
    connect(&link_, &serial::SerialLink::dataReceived, this, &PortCheck::take);
    connect(&link_, &serial::SerialLink::linkLost, this, [this](const QString& reason) {
        console_.error(
            QStringLiteral("The link to %1 was lost during the check (%2).").arg(device_, reason));
        end(kLinkOrFileFailed);
    });
}

void PortCheck::start() {
    try {
        link_.open(device_);
    } catch (const serial::CommError& error) {
        console_.error(openFailureSentence(device_, error.number(), error.reason()));
        return end(kPortNotOpened);
    }
    link_.discardInput();
    link_.write(dump::byteArrayOf(serial::LoopbackCheck::pattern()));
    quiet_.start();
}

void PortCheck::stop(int exitStatus) {
    console_.error(QStringLiteral("Interrupted; the check of %1 did not finish.").arg(device_));
    end(exitStatus);
}

void PortCheck::take() {
    check_.receive(dump::bytesOf(link_.readAll()));
    if (check_.complete())
        judge();
    else
        quiet_.start();
}

void PortCheck::judge() {
    const serial::LoopbackCheck::Verdict verdict = check_.verdict();
    const QString sentence = QString::fromStdString(verdict.sentence);
    if (verdict.outcome == serial::LoopbackCheck::Outcome::Ok) {
        console_.log(QStringLiteral("%1: %2\r\n").arg(device_, sentence));
        return end(kSavedAndVerified);
    }
    console_.error(QStringLiteral("Loopback check of %1: %2.").arg(device_, sentence));
    end(verdict.outcome == serial::LoopbackCheck::Outcome::NothingBack ? kBoxSilent
                                                                       : kLoopbackChanged);
}

void PortCheck::end(int exitStatus) {
    if (ended_) return;
    ended_ = true;
    quiet_.stop();
    link_.close();
    emit ended(exitStatus);
}

}  // namespace tessaly::cli
