#include "dump/DumpLog.h"

#include <QFileInfo>
#include <cstdint>

#include "dump/ImageCompare.h"

namespace tessaly::dump {

MarkedLog dumpResultLog(const DumpRun::Result& result) {
    if (!result.reply) return {};
    MarkedLog log{QString::fromStdString(hexListing(bytesOf(result.reply->data()))), {}};
    for (const qsizetype offset : result.stored.differingOffsets)
        log.stretches.push_back({qsizetype(hexListingPosition(offset)), 2, LogMark::Change});
    // The checksum error line continues the listing's last line; the result lines that follow
    // start on a line of their own either way.
    const bool crcError = result.outcome == DumpRun::Outcome::ChecksumMismatch;
    const QLatin1StringView end(crcError ? kChecksumErrorLog : "\r\n");
    if (crcError) log.stretches.push_back({log.text.size(), end.size() - 2, LogMark::Damage});
    log.text += end;
    return log;
}

namespace {

QString byteText(std::uint8_t byte) { return QString::asprintf("0x%02X", unsigned(byte)); }

// What became of the file that was there before; nothing when there was none.
QString earlierFileLines(const StoredImage& stored, Wording wording) {
    const QString name = QFileInfo(stored.path).fileName();
    if (!stored.hadEarlier) return {};
    if (stored.sameAsEarlier) return QStringLiteral("same as the earlier %1\r\n").arg(name);
    const QList<qsizetype> named =
        wording == Wording::Window ? stored.differingOffsets : QList<qsizetype>();
    return QStringLiteral("the earlier %1 was kept as %2 (%3)\r\n")
        .arg(name, QFileInfo(stored.keptAs).fileName(),
             differingBytesSummary(stored.differingBytes, named));
}

}  // namespace

MarkedLog storedImageLog(const StoredImage& stored, const Reply& reply, Wording wording) {
    if (stored.path.isEmpty() && stored.failure.isEmpty()) return {};  // no complete reply
    if (!stored.stored()) return {QStringLiteral("not saved: %1\r\n").arg(stored.failure), {}};
    const bool damaged = !reply.checksumMatches();
    // One pass, so that a path with a "%1" in it stays as it is.
    QString checksumLine = QStringLiteral("saved %1: %2 bytes, checksum %3 (box %4, data %5)")
                               .arg(stored.path, QString::number(kDataSize),
                                    damaged ? QStringLiteral("WRONG") : QStringLiteral("OK"),
                                    byteText(reply.boxChecksum()), byteText(reply.dataSum()));
    // The window says it once more, so that nobody takes the file for a backup.
    if (damaged && wording == Wording::Window) {
        checksumLine += QStringLiteral(": the file holds a damaged dump");
        if (!stored.keptAs.isEmpty())
            checksumLine += QStringLiteral(", the earlier image is kept as %1")
                                .arg(QFileInfo(stored.keptAs).fileName());
    }
    MarkedLog log{checksumLine + QStringLiteral("\r\nSHA-256 %1\r\n%2")
                                     .arg(QString::fromLatin1(stored.sha256.toHex()),
                                          earlierFileLines(stored, wording)),
                  {}};
    if (damaged) log.stretches.push_back({0, checksumLine.size(), LogMark::Damage});
    return log;
}

QString arrivalsText(const WaitArrivals& arrived) {
    if (arrived.count == 0) return QStringLiteral("nothing arrived");
    QString text;
    for (const char byte : arrived.first) text += byte >= 0x20 && byte < 0x7F ? QChar(byte) : u'.';
    const QString more = arrived.count > arrived.first.size() ? QStringLiteral(" ...") : QString();
    return QStringLiteral("%1 %2 arrived: %3%4 (\"%5%6\")")
        .arg(arrived.count)
        .arg(arrived.count == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"))
        .arg(QString::fromLatin1(arrived.first.toHex(' ').toUpper()), more, text,
             more.isEmpty() ? QString() : QStringLiteral("..."));
}

QString linkLostSentence(const QString& port, const QString& systemText) {
    QString sentence = QStringLiteral(
                           "The link to the box on %1 was lost: the adapter was "
                           "unplugged or the cable came loose")
                           .arg(port);
    if (!systemText.isEmpty()) sentence += QStringLiteral(" (%1)").arg(systemText);
    return sentence + QStringLiteral(". Nothing was saved.");
}

ResultTexts resultTexts(const DumpSession::Result& result, const QString& port, Wording wording) {
    const DumpRun::Result& read = result.read;
    ResultTexts texts;
    if (read.reply) {
        texts.listing = dumpResultLog(read);
        texts.stored = storedImageLog(read.stored, *read.reply, wording);
    }
    if (result.outcome == DumpSession::Outcome::LinkLost)
        texts.linkLost = linkLostSentence(port, result.detail);
    // The window writes it as a line of its log, the command line as a warning naming the port.
    if (const QString& failure = read.acknowledgementFailure; !failure.isEmpty())
        texts.acknowledgement =
            wording == Wording::Window
                ? QStringLiteral("The acknowledgement may not have reached the box: %1")
                      .arg(failure)
                : QStringLiteral("the acknowledgement may not have reached the box on %1: %2.")
                      .arg(port, failure);
    if (result.outcome == DumpSession::Outcome::TimedOut)
        texts.arrivals = arrivalsText(result.arrived);
    return texts;
}

}  // namespace tessaly::dump
