#include "dump/ImageCompare.h"

#include <QCryptographicHash>
#include <QStringList>
#include <algorithm>

#include "dump/ByteConversions.h"
#include "dump/core/DumpProtocol.h"

namespace tessaly::dump {

namespace {

QByteArray sha256Of(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

}  // namespace

ImageComparison compareImages(const QByteArray& a, const QByteArray& b) {
    ImageComparison comparison{{}, 0, a.size(), b.size(), sha256Of(a), sha256Of(b)};
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype offset = 0; offset < common; ++offset) {
        if (a[offset] == b[offset]) continue;
        if (++comparison.differingBytes <= kListedDifferences)
            comparison.differences.append(
                {offset, std::uint8_t(a[offset]), std::uint8_t(b[offset])});
    }
    return comparison;
}

ImageListing listImage(const QByteArray& image) {
    return {QString::fromStdString(hexListing(bytesOf(image))) + QStringLiteral("\r\n"),
            checksumOf(bytesOf(image)), sha256Of(image)};
}

QString differingBytesSummary(qint64 count, const QList<qsizetype>& offsets) {
    constexpr qsizetype kShown = 8;
    QStringList shown;
    for (const qsizetype offset : offsets.first(std::min(offsets.size(), kShown)))
        shown.append(QString::asprintf("0x%03llX", static_cast<unsigned long long>(offset)));
    QString summary = count == 1 ? QStringLiteral("1 byte differs")
                                 : QStringLiteral("%1 bytes differ").arg(count);
    if (!shown.isEmpty()) summary += QStringLiteral(": ") + shown.join(QStringLiteral(", "));
    if (!shown.isEmpty() && count > shown.size()) summary += QStringLiteral(", ...");
    return summary;
}

}  // namespace tessaly::dump
