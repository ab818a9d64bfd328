#include "dump/DumpLog.h"

#include <QFileInfo>
#include <cstdint>

namespace tessaly::dump {

QString dumpResultLog(const DumpRun::Result& result) {
    if (!result.reply) return {};
    QString log = QString::fromStdString(hexListing(bytesOf(result.reply->data())));
    // The checksum error line continues the listing's last line; the result lines that follow
    // start on a line of their own either way.
    log += result.outcome == DumpRun::Outcome::ChecksumMismatch
               ? QLatin1StringView(kChecksumErrorLog)
               : QLatin1StringView("\r\n");
    return log;
}

namespace {

QString byteText(std::uint8_t byte) { return QString::asprintf("0x%02X", unsigned(byte)); }

// What became of the file that was there before; nothing when there was none.
QString earlierFileLines(const StoredImage& stored) {
    const QString name = QFileInfo(stored.path).fileName();
    if (!stored.hadEarlier) return {};
    if (stored.sameAsEarlier) return QStringLiteral("same as the earlier %1\r\n").arg(name);
    return QStringLiteral("the earlier %1 was kept as %2 (%3 %4)\r\n")
        .arg(name, QFileInfo(stored.keptAs).fileName())
        .arg(stored.differingBytes)
        .arg(stored.differingBytes == 1 ? QStringLiteral("byte differs")
                                        : QStringLiteral("bytes differ"));
}

}  // namespace

QString storedImageLog(const StoredImage& stored, const Reply& reply) {
    if (stored.path.isEmpty() && stored.failure.isEmpty()) return {};  // no complete reply
    if (!stored.stored()) return QStringLiteral("not saved: %1\r\n").arg(stored.failure);
    return QStringLiteral(
               "saved %1: %2 bytes, checksum %3 (box %4, data %5)\r\n"
               "SHA-256 %6\r\n%7")
        .arg(stored.path)
        .arg(dump::kDataSize)
        .arg(reply.checksumMatches() ? QStringLiteral("OK") : QStringLiteral("WRONG"))
        .arg(byteText(reply.boxChecksum()), byteText(reply.dataSum()),
             QString::fromLatin1(stored.sha256.toHex()), earlierFileLines(stored));
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

QString linkLostSentence(const QString& port, const QString& systemText, const QString& savedPath) {
    QString sentence = QStringLiteral(
                           "The link to the box on %1 was lost: the adapter was "
                           "unplugged or the cable came loose")
                           .arg(port);
    if (!systemText.isEmpty()) sentence += QStringLiteral(" (%1)").arg(systemText);
    return sentence +
           (savedPath.isEmpty()
                ? QStringLiteral(". Nothing was saved.")
                : QStringLiteral(". The image had been saved as %1 before.").arg(savedPath));
}

}  // namespace tessaly::dump
