// Comparing two images and listing one, over plain byte vectors.
#include <gtest/gtest.h>

#include <QCryptographicHash>

#include "dump/ImageCompare.h"

namespace tessaly {
namespace {

using dump::ByteDifference;

struct CompareCase {
    const char* name;
    QByteArray a;
    QByteArray b;
    QList<ByteDifference> differences;
    bool same;
    const char* summary;
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << c.name; }

class CompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareTest, DifferencesAndDigestsOfBothImages) {
    const CompareCase& c = GetParam();
    const dump::ImageComparison comparison = dump::compareImages(c.a, c.b);

    EXPECT_EQ(comparison.differences, c.differences);
    EXPECT_EQ(comparison.same(), c.same);
    EXPECT_EQ(comparison.sizeA, c.a.size());
    EXPECT_EQ(comparison.sizeB, c.b.size());
    EXPECT_EQ(comparison.sha256A, QCryptographicHash::hash(c.a, QCryptographicHash::Sha256));
    EXPECT_EQ(comparison.sha256B, QCryptographicHash::hash(c.b, QCryptographicHash::Sha256));
    QList<qsizetype> offsets;
    for (const ByteDifference& difference : comparison.differences)
        offsets.append(difference.offset);
    EXPECT_EQ(dump::differingBytesSummary(offsets.size(), offsets), c.summary);
}

QByteArray withBytes(QList<std::pair<qsizetype, char>> changes) {
    QByteArray image(1024, '\x11');
    for (const auto& [offset, byte] : changes) image[offset] = byte;
    return image;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, CompareTest, ::testing::Values(
    CompareCase{"same", withBytes({}), withBytes({}), {}, true, "0 bytes differ"},
    CompareCase{"three", withBytes({}), withBytes({{0x10, 'A'}, {0x11, 'B'}, {0x3F0, '\xFF'}}),
                {{0x10, 0x11, 0x41}, {0x11, 0x11, 0x42}, {0x3F0, 0x11, 0xFF}}, false,
                "3 bytes differ: 0x010, 0x011, 0x3F0"},
    CompareCase{"one", withBytes({{5, 0}}), withBytes({}), {{5, 0x00, 0x11}}, false,
                "1 byte differs: 0x005"},
    CompareCase{"shorter, common part same", withBytes({}).left(512), withBytes({}), {}, false,
                "0 bytes differ"},
    CompareCase{"many", QByteArray(10, 'a'), QByteArray(10, 'b'),
                {{0, 'a', 'b'}, {1, 'a', 'b'}, {2, 'a', 'b'}, {3, 'a', 'b'}, {4, 'a', 'b'},
                 {5, 'a', 'b'}, {6, 'a', 'b'}, {7, 'a', 'b'}, {8, 'a', 'b'}, {9, 'a', 'b'}},
                false, "10 bytes differ: 0x000, 0x001, 0x002, 0x003, 0x004, 0x005, 0x006, "
                "0x007, ..."}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::ranges::replace_if(name, [](char c) { return !std::isalnum(c); }, '_');
        return name;
    });
// clang-format on

TEST(ListImageTest, ListingAsADumpPrintsItWithSumAndDigest) {
    const QByteArray image = QByteArray::fromHex("00017f80ff") + QByteArray(12, '\x10');

    const dump::ImageListing shown = dump::listImage(image);

    EXPECT_EQ(shown.listing, "\r\n00 01 7F 80 FF 10 10 10 10 10 10 10 10 10 10 10 "
                             "\r\n10 \r\n");
    EXPECT_EQ(shown.dataSum, std::uint8_t(0x01 + 0x7F + 0x80 + 0xFF + 12 * 0x10));
    EXPECT_EQ(shown.sha256, QCryptographicHash::hash(image, QCryptographicHash::Sha256));
}

}  // namespace
}  // namespace tessaly
