#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

// Pure functions over images, for comparing two dumps and showing one: the front ends only print
// or mark what these return.
namespace tessaly::dump {

struct ByteDifference {
    qsizetype offset;
    std::uint8_t a;
    std::uint8_t b;
    bool operator==(const ByteDifference&) const = default;
};

// One for every byte of an image: two images are always listed whole, while two large files that
// differ everywhere cost no more than that.
inline constexpr qsizetype kListedDifferences = 1024;

struct ImageComparison {
    QList<ByteDifference> differences;  // the first kListedDifferences over the common part
    qsizetype differingBytes = 0;       // all of them
    qsizetype sizeA = 0;
    qsizetype sizeB = 0;
    QByteArray sha256A;  // raw digests
    QByteArray sha256B;

    bool same() const { return sizeA == sizeB && differingBytes == 0; }
    bool listCut() const { return differingBytes > differences.size(); }
};

ImageComparison compareImages(const QByteArray& a, const QByteArray& b);

struct ImageListing {
    QString listing;  // exactly as a dump prints it, last line ended
    std::uint8_t dataSum = 0;
    QByteArray sha256;  // raw digest
};

ImageListing listImage(const QByteArray& image);

// "3 bytes differ: 0x010, 0x011, 0x3F0", the first few offsets only; `count` may exceed the
// offsets given (bytes beyond the listing). Without offsets, the count alone.
QString differingBytesSummary(qint64 count, const QList<qsizetype>& offsets);

}  // namespace tessaly::dump
