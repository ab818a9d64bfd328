#include "cli/ImageCommands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include "cli/ExitStatus.h"
#include "dump/ImageCompare.h"
#include "program/BoundedRead.h"

namespace tessaly::cli {

namespace {

// Far beyond any image; a file this large was named by mistake.
constexpr qint64 kLargestFile = 1 << 20;

// The whole file, or a Refusal: what was not read to its end is never shown or compared.
QByteArray contentOf(const QString& path) {
    const program::BoundedRead file = program::readBounded(path, kLargestFile);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.failure.isEmpty())
        throw Refusal{QStringLiteral("Cannot read %1: %2.").arg(shown, file.failure),
                      kLinkOrFileFailed};
    if (file.bytes.size() > kLargestFile)
        throw Refusal{
            QStringLiteral("%1 holds more than 1 MiB, far more than an image.").arg(shown),
            kLinkOrFileFailed};
    return file.bytes;
}

QString hexOf(const QByteArray& digest) { return QString::fromLatin1(digest.toHex()); }

QJsonObject comparisonRecord(const dump::ImageComparison& comparison) {
    QJsonArray list;
    for (const dump::ByteDifference& difference : comparison.differences)
        list.append(
            QJsonObject{{"offset", difference.offset}, {"a", difference.a}, {"b", difference.b}});
    return {{"same", comparison.same()},
            {"differing_bytes", comparison.differingBytes},
            {"differences", list},
            {"differences_truncated", comparison.listCut()},
            {"size_a", comparison.sizeA},
            {"size_b", comparison.sizeB},
            {"sha256_a", hexOf(comparison.sha256A)},
            {"sha256_b", hexOf(comparison.sha256B)}};
}

QString comparisonText(const QString& pathA, const QString& pathB,
                       const dump::ImageComparison& comparison) {
    if (comparison.same())
        return QStringLiteral("identical, SHA-256 %1\r\n").arg(hexOf(comparison.sha256A));
    QString text;
    if (comparison.sizeA != comparison.sizeB)
        text += QStringLiteral("%1 holds %2 bytes, %3 holds %4: the first %5 are compared\r\n")
                    .arg(QDir::toNativeSeparators(pathA))
                    .arg(comparison.sizeA)
                    .arg(QDir::toNativeSeparators(pathB))
                    .arg(comparison.sizeB)
                    .arg(std::min(comparison.sizeA, comparison.sizeB));
    for (const dump::ByteDifference& difference : comparison.differences)
        text += QString::asprintf("0x%03llX %02X %02X\r\n", qulonglong(difference.offset),
                                  unsigned(difference.a), unsigned(difference.b));
    const qsizetype count = comparison.differingBytes;
    text += QStringLiteral("%1 %2").arg(count).arg(count == 1 ? "byte differs" : "bytes differ");
    if (comparison.listCut())
        text += QStringLiteral(", the first %1 listed").arg(comparison.differences.size());
    return text + QStringLiteral("\r\n");
}

}  // namespace

int compareImages(const QString& pathA, const QString& pathB, bool json, Console& console) {
    const QByteArray a = contentOf(pathA);
    const QByteArray b = contentOf(pathB);
    const dump::ImageComparison comparison = dump::compareImages(a, b);
    if (json)
        console.record(comparisonRecord(comparison));
    else
        console.log(comparisonText(pathA, pathB, comparison));
    return comparison.same() ? kSavedAndVerified : kImagesDiffer;
}

int showImage(const QString& path, Console& console) {
    const QByteArray content = contentOf(path);
    const dump::ImageListing image = dump::listImage(content);
    console.log(image.listing +
                QStringLiteral("%1 bytes, data sum 0x%2\r\nSHA-256 %3\r\n")
                    .arg(content.size())
                    .arg(QString::asprintf("%02X", unsigned(image.dataSum)), hexOf(image.sha256)));
    return kSavedAndVerified;
}

}  // namespace tessaly::cli
