#include "cli/DumpReport.h"

#include <QDir>
#include <QMetaEnum>
#include <QRegularExpression>

#include "cli/ExitStatus.h"
#include "serial/CommError.h"

namespace tessaly::cli {

namespace {

using Outcome = dump::DumpSession::Outcome;

// Whether the run ended with a read that was written or meant to be: one to list and report.
bool endedWithARead(const dump::DumpSession::Result& result) {
    const Outcome outcome = result.outcome;
    return result.read.reply.has_value() &&
           (outcome == Outcome::Saved || outcome == Outcome::ChecksumMismatch ||
            outcome == Outcome::Unverified || outcome == Outcome::WriteFailed);
}

// saved, checksum_mismatch, reads_disagree, ...
QString outcomeName(Outcome outcome) {
    static const QRegularExpression wordStart(QStringLiteral("(?!^)(?=[A-Z])"));
    return QString::fromLatin1(QMetaEnum::fromType<Outcome>().valueToKey(int(outcome)))
        .replace(wordStart, QStringLiteral("_"))
        .toLower();
}

// ISO 8601 with the UTC offset spelled out, also for UTC itself.
QString timestamp(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? '-' : '+')
               .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

// Without --verify a run reads again only after a wrong checksum: how often, and which read was
// saved. Empty for a single read, so that the output scripts know stays as it is.
QString rereadLine(const dump::DumpSession::Result& result) {
    if (result.reads < 2 || !result.read.stored.stored()) return {};
    if (result.outcome == Outcome::Saved)
        return QStringLiteral(
                   "%1 reads: the checksum did not match until read %1, which was saved\r\n")
            .arg(result.reads);
    if (result.detail.isEmpty())
        return QStringLiteral("%1 reads, each with a wrong checksum; the last one was saved\r\n")
            .arg(result.reads);
    return QStringLiteral(
               "%1 reads, each complete one with a wrong checksum; read %2 was saved\r\n")
        .arg(result.reads)
        .arg(result.reads - 1);
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// What became of the file that was at the image's place; null when nothing was stored.
QJsonValue earlierFile(const dump::StoredImage& stored) {
    if (!stored.stored()) return {};
    if (!stored.hadEarlier) return QStringLiteral("none");
    return stored.sameAsEarlier ? QStringLiteral("same") : QStringLiteral("kept");
}

}  // namespace

QString openFailureSentence(const QString& device, int openError, const QString& detail) {
    switch (openError) {
        case serial::CommError::NoSuchPort:
            return QStringLiteral(
                       "Serial port %1 does not exist (%2). Check the port name and that the "
                       "adapter is plugged in.")
                .arg(device, detail);
        case serial::CommError::PortInUse:
            return QStringLiteral(
                       "Serial port %1 is in use by another program (%2). Close that program "
                       "and try again.")
                .arg(device, detail);
        case serial::CommError::AccessDenied:
            return QStringLiteral("No permission to open serial port %1 (%2). %3")
                .arg(device, detail, serial::accessDeniedHint());
        default:
            return QStringLiteral("Serial port %1 cannot be opened: %2.").arg(device, detail);
    }
}

BoxVerdict verdictOn(const PortTarget& target, const dump::DumpSession::Result& result,
                     const dump::ResultTexts& texts, int timeoutSeconds, int interruptStatus) {
    const QString& device = target.device;
    const QString& written = result.read.stored.path;
    const QString path = written.isEmpty() ? QDir::toNativeSeparators(target.imagePath) : written;
    switch (result.outcome) {
        case Outcome::Saved:
            return {kSavedAndVerified, {}};
        case Outcome::ChecksumMismatch:
            return {
                kChecksumMismatch,
                QStringLiteral("The checksum of the dump does not match: %1 holds the data as "
                               "received, which is damaged.%2 Run the dump again.")
                    .arg(path,
                         result.detail.isEmpty()
                             ? QString()
                             : QStringLiteral(" No re-read succeeded (%1).").arg(result.detail))};
        case Outcome::Unverified:
            return {kSavedNotVerified,
                    QStringLiteral("The box on %1 gave one good read only (%2); it is saved in %3 "
                                   "but not verified. Put the box back into \"HOST - MODE\" and "
                                   "run the dump again to verify it.")
                        .arg(device, result.detail, path)};
        case Outcome::ReadsDisagree:
            return {kReadsDisagree,
                    QStringLiteral("The reads of the box on %1 disagree (%2): the link or the box "
                                   "is unreliable. Nothing was written; check the cable and run "
                                   "the dump again.")
                        .arg(device, result.detail)};
        case Outcome::AgreedWithWrongChecksum:
            return {kReadsDisagree,
                    QStringLiteral("The reads of the box on %1 agree, but every one carries a "
                                   "wrong checksum (%2): the box's data or its checksum is wrong "
                                   "at the source, re-reading will not help. Nothing was written; "
                                   "run without --verify to save the data as received.")
                        .arg(device, result.detail)};
        case Outcome::TimedOut:
            return {kBoxSilent, QStringLiteral("The box on %1 did not send %2 within %3 s (%4). "
                                               "Check that it is in \"HOST - MODE\" and cabled "
                                               "to this port.")
                                    .arg(device, result.detail)
                                    .arg(timeoutSeconds)
                                    .arg(texts.arrivals)};
        case Outcome::LinkLost:
            return {kLinkOrFileFailed, texts.linkLost};
        case Outcome::WriteFailed:
            return {kLinkOrFileFailed,
                    QStringLiteral("Cannot write %1: %2. An earlier file there is unchanged.")
                        .arg(path, result.detail)};
        case Outcome::PortNotOpened:
            return {kPortNotOpened, openFailureSentence(device, result.openError, result.detail)};
        case Outcome::Interrupted:
            return {interruptStatus, QStringLiteral("Interrupted; nothing was written.")};
    }
    return {kLinkOrFileFailed, {}};
}

dump::MarkedLog resultLog(const dump::DumpSession::Result& result, const dump::ResultTexts& texts,
                          bool verify, bool withListing) {
    if (result.outcome == Outcome::ReadsDisagree ||
        result.outcome == Outcome::AgreedWithWrongChecksum)
        return {QStringLiteral("not saved: %1\r\n").arg(result.detail), {}};
    if (!endedWithARead(result)) return {};
    dump::MarkedLog log = withListing ? texts.listing : dump::MarkedLog();
    log += texts.stored;
    if (verify && result.outcome == Outcome::Saved)
        log.text +=
            QStringLiteral("verified: two of %1 reads agree byte for byte\r\n").arg(result.reads);
    else if (result.outcome == Outcome::Unverified)
        log.text += QStringLiteral("not verified: the box gave one good read only\r\n");
    else if (!verify)
        log.text += rereadLine(result);
    return log;
}

QString readingAgainLine(int read, int reads, dump::DumpSession::ReadAgain why) {
    return QStringLiteral("read %1 of %2: %3, reading again\r\n")
        .arg(read)
        .arg(reads)
        .arg(why == dump::DumpSession::ReadAgain::ChecksumMismatch
                 ? QStringLiteral("the checksum did not match")
                 : QStringLiteral("it agrees with no read before it"));
}

QJsonObject jsonRecord(const PortTarget& target, const dump::DumpSession::Result& result,
                       const BoxVerdict& verdict) {
    const dump::StoredImage& image = result.read.stored;
    const bool stored = image.stored();
    const std::optional<dump::Reply>& reply = result.read.reply;
    return {
        {"port", target.given},
        {"device", target.resolved},
        {"outcome", outcomeName(result.outcome)},
        {"exit_status", verdict.exitStatus},
        {"detail", textOrNull(verdict.failure)},
        {"path", stored ? QJsonValue(image.path) : QJsonValue()},
        {"sha256", stored ? QJsonValue(QString::fromLatin1(image.sha256.toHex())) : QJsonValue()},
        {"checksum_box", reply ? QJsonValue(reply->boxChecksum()) : QJsonValue()},
        {"checksum_data", reply ? QJsonValue(reply->dataSum()) : QJsonValue()},
        {"reads", result.reads},
        {"earlier", earlierFile(image)},
        {"kept_earlier", textOrNull(stored ? image.keptAs : QString())},
        {"differing_bytes",
         stored && image.hadEarlier ? QJsonValue(image.differingBytes) : QJsonValue()},
        {"started", timestamp(result.started)},
        {"finished", timestamp(result.finished)},
        {"milliseconds", result.milliseconds},
    };
}

QString summaryTable(const QList<PortTarget>& targets,
                     const QList<dump::DumpSession::Result>& results) {
    QList<QStringList> rows{{"port", "outcome", "SHA-256", "seconds"}};
    for (qsizetype i = 0; i < targets.size(); ++i) {
        const dump::DumpSession::Result& result = results[i];
        const dump::StoredImage& image = result.read.stored;
        rows.append({targets[i].name, outcomeName(result.outcome),
                     image.stored() ? QString::fromLatin1(image.sha256.toHex().left(16))
                                    : QStringLiteral("-"),
                     QString::number(double(result.milliseconds) / 1000, 'f', 2)});
    }
    // Each column but the last as wide as its widest cell, two spaces apart.
    for (qsizetype column = 0; column + 1 < rows.front().size(); ++column) {
        qsizetype width = 0;
        for (const QStringList& row : rows) width = std::max(width, row[column].size());
        for (QStringList& row : rows) row[column] = row[column].leftJustified(width + 2);
    }
    QString table;
    for (const QStringList& row : rows) table += row.join(QString()).trimmed() + "\r\n";
    return table;
}

}  // namespace tessaly::cli
