#include "DumpLog.h"

#include <MSComm.h>

namespace tessaly {

QString dumpResultLog(const DumpRun::Result& result) {
    if (result.reply.size() != qsizetype(dump::kReplySize)) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(result.reply.constData());
    QString log = QString::fromStdString(dump::hexListing({bytes, dump::kDataSize}));
    if (result.outcome == DumpRun::Outcome::ChecksumMismatch)
        log += QLatin1StringView(kChecksumErrorLog);
    return log;
}

QString storedImageLog(const StoredImage& stored, std::uint8_t boxChecksum, std::uint8_t dataSum) {
    if (!stored.stored()) return QStringLiteral("not saved: %1\r\n").arg(stored.failure);
    return QStringLiteral("saved %1, %2 bytes, checksum %3 (box %4, data %5)\r\nSHA-256 %6\r\n")
        .arg(stored.path)
        .arg(dump::kDataSize)
        .arg(boxChecksum == dataSum ? QStringLiteral("OK") : QStringLiteral("wrong"))
        .arg(boxChecksum)
        .arg(dataSum)
        .arg(QString::fromLatin1(stored.sha256.toHex()));
}

void setUpLinkForBox(MSComm& link) {
    link.setSettings(QStringLiteral("115200,N,8,1"));
    link.setInputLen(0);
    link.setInBufferSize(int(dump::kReplySize));
}

}  // namespace tessaly
