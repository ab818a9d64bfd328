#include "cli/DumpCommand.h"

#include <QDir>
#include <QStringList>

#include "dump/DumpLog.h"

namespace tessaly::cli {

namespace {

QString prefixed(const QString& name, const QString& lines) {
    QString text;
    for (const QString& line : lines.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        text += QStringLiteral("[%1] %2\r\n").arg(name, line);
    return text;
}

QString stageText(const dump::DumpSession& session) {
    const dump::DumpProtocol& protocol = session.run().protocol();
    const QString read = QStringLiteral("read %1: ").arg(session.readNumber());
    if (protocol.stage() == dump::Stage::AwaitingReply)
        return read + QStringLiteral("reply %1 of %2 bytes")
                          .arg(protocol.replyBytesReceived())
                          .arg(dump::kReplySize);
    return read + QStringLiteral("waiting for ") + session.run().awaited();
}

}  // namespace

DumpCommand::DumpCommand(const DumpOptions& options, QList<PortTarget> targets, Console& console)
    : options_(options), targets_(std::move(targets)), console_(console) {
    results_.resize(targets_.size());
    for (qsizetype i = 0; i < targets_.size(); ++i) {
        dump::DumpSession::Options sessionOptions{targets_[i].device, targets_[i].imagePath,
                                                  options_.verify, options_.reads,
                                                  std::chrono::seconds(options_.timeoutSeconds)};
        auto& session = sessions_.emplace_back(std::make_unique<dump::DumpSession>(sessionOptions));
        connect(session.get(), &dump::DumpSession::finished, this,
                [this, i](const dump::DumpSession::Result& result) { sessionFinished(i, result); });
        connect(session.get(), &dump::DumpSession::readingAgain, this,
                [this, i](int read, dump::DumpSession::ReadAgain why) {
                    const QString line = readingAgainLine(read, options_.reads, why);
                    console_.log(single() ? line : prefixed(targets_[i].name, line));
                });
        if (!single()) continue;
        // As in the window: once the port is open, before anything is sent.
        connect(session.get(), &dump::DumpSession::portOpened, this,
                [this] { console_.log(QLatin1StringView(dump::kRequestLog)); });
        connect(session.get(), &dump::DumpSession::progressed, this,
                [this, s = session.get()] { console_.progress(stageText(*s)); });
    }
}

void DumpCommand::start() {
    running_ = qsizetype(sessions_.size());
    for (const auto& session : sessions_) session->start();
}

void DumpCommand::stop(int exitStatus) {
    if (interruptStatus_ != 0) return;
    interruptStatus_ = exitStatus;
    for (const auto& session : sessions_) session->interrupt();
}

void DumpCommand::sessionFinished(qsizetype index, const dump::DumpSession::Result& result) {
    results_[index] = result;
    const PortTarget& target = targets_[index];
    // A directory made for a box that gave nothing would only be clutter.
    if (!result.read.stored.stored() && !target.createdDirectory.isEmpty())
        QDir().rmdir(target.createdDirectory);
    const dump::ResultTexts texts =
        dump::resultTexts(result, target.device, dump::Wording::CommandLine);
    status_ = std::max(status_, report(target, result, texts));
    if (--running_ > 0) return;
    if (!single()) console_.log(summaryTable(targets_, results_));
    emit ended(status_);
}

int DumpCommand::report(const PortTarget& target, const dump::DumpSession::Result& result,
                        const dump::ResultTexts& texts) {
    const BoxVerdict verdict =
        verdictOn(target, result, texts, options_.timeoutSeconds, interruptStatus_);
    const dump::MarkedLog log = resultLog(result, texts, options_.verify, single());
    if (single()) {
        console_.log(console_.painted(log));
        if (result.outcome != dump::DumpSession::Outcome::PortNotOpened)
            console_.log(QLatin1StringView(dump::kPortClosedLog));
    } else {
        console_.log(prefixed(target.name, console_.painted(log)));
    }
    const QString who = single() ? QString() : QStringLiteral("[%1] ").arg(target.name);
    if (!verdict.failure.isEmpty()) console_.error(who + verdict.failure);
    if (!texts.acknowledgement.isEmpty()) console_.warning(who + texts.acknowledgement);
    if (options_.json) console_.record(jsonRecord(target, result, verdict));
    return verdict.exitStatus;
}

}  // namespace tessaly::cli
