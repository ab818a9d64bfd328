#include "cli/ImageCommands.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>
#include <span>

#include "cli/ExitStatus.h"
#include "dump/DumpProtocol.h"

namespace tessaly::cli {

namespace {

// Far beyond any image; a file this large was named by mistake.
constexpr qint64 kLargestFile = 1 << 20;

QByteArray contentOf(const QString& path) {
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Refusal{QStringLiteral("Cannot read %1: %2.").arg(shown, file.errorString()),
                      kLinkOrFileFailed};
    if (file.size() > kLargestFile)
        throw Refusal{QStringLiteral("%1 holds %2 bytes, far more than an image; it is not read.")
                          .arg(shown)
                          .arg(file.size()),
                      kLinkOrFileFailed};
    return file.readAll();
}

QString sha256Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

std::span<const std::uint8_t> bytesOf(const QByteArray& content) {
    return {reinterpret_cast<const std::uint8_t*>(content.constData()), size_t(content.size())};
}

QString hexByte(std::uint8_t byte) { return QString::asprintf("%02X", unsigned(byte)); }

QString hexOffset(qsizetype offset) { return QString::asprintf("0x%03llX", qulonglong(offset)); }

struct Difference {
    qsizetype offset;
    std::uint8_t a;
    std::uint8_t b;
};

// The bytes in which the common part of A and B differs.
QList<Difference> differencesOf(const QByteArray& a, const QByteArray& b) {
    QList<Difference> differences;
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) differences.append({i, std::uint8_t(a[i]), std::uint8_t(b[i])});
    return differences;
}

QJsonObject comparisonRecord(const QByteArray& a, const QByteArray& b,
                             const QList<Difference>& differences) {
    QJsonArray list;
    for (const Difference& difference : differences)
        list.append(
            QJsonObject{{"offset", difference.offset}, {"a", difference.a}, {"b", difference.b}});
    return {{"same", a == b},         {"differing_bytes", differences.size()},
            {"differences", list},    {"size_a", a.size()},
            {"size_b", b.size()},     {"sha256_a", sha256Of(a)},
            {"sha256_b", sha256Of(b)}};
}

QString comparisonText(const QString& pathA, const QString& pathB, const QByteArray& a,
                       const QByteArray& b, const QList<Difference>& differences) {
    if (a == b) return QStringLiteral("identical, SHA-256 %1\r\n").arg(sha256Of(a));
    QString text;
    if (a.size() != b.size())
        text += QStringLiteral("%1 holds %2 bytes, %3 holds %4: the first %5 are compared\r\n")
                    .arg(QDir::toNativeSeparators(pathA))
                    .arg(a.size())
                    .arg(QDir::toNativeSeparators(pathB))
                    .arg(b.size())
                    .arg(std::min(a.size(), b.size()));
    for (const Difference& difference : differences)
        text +=
            QStringLiteral("%1 %2 %3\r\n")
                .arg(hexOffset(difference.offset), hexByte(difference.a), hexByte(difference.b));
    return text + QStringLiteral("%1 %2\r\n")
                      .arg(differences.size())
                      .arg(differences.size() == 1 ? "byte differs" : "bytes differ");
}

}  // namespace

int compareImages(const QString& pathA, const QString& pathB, bool json, Console& console) {
    const QByteArray a = contentOf(pathA);
    const QByteArray b = contentOf(pathB);
    const QList<Difference> differences = differencesOf(a, b);
    if (json)
        console.record(comparisonRecord(a, b, differences));
    else
        console.log(comparisonText(pathA, pathB, a, b, differences));
    return a == b ? kSavedAndVerified : kImagesDiffer;
}

int showImage(const QString& path, Console& console) {
    const QByteArray content = contentOf(path);
    console.log(QString::fromStdString(dump::hexListing(bytesOf(content))) +
                QStringLiteral("\r\n%1 bytes, data sum 0x%2\r\nSHA-256 %3\r\n")
                    .arg(content.size())
                    .arg(hexByte(dump::checksumOf(bytesOf(content))), sha256Of(content)));
    return kSavedAndVerified;
}

}  // namespace tessaly::cli
