// tessaly-dump --compare and --show over images on disk, in-process (runs under wine too).
#include <Files.h>
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "RunDump.h"

namespace tessaly::test {
namespace {

QByteArray imageA() {
    QByteArray image(1024, '\0');
    for (int i = 0; i < image.size(); ++i) image[i] = char(i * 5 + 1);
    return image;
}

QByteArray changedAt(QByteArray image, std::initializer_list<int> offsets) {
    for (const int offset : offsets) image[offset] = char(~image[offset]);
    return image;
}

QString sha256Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

struct CompareCase {
    const char* name;
    QByteArray b;  // empty: B cannot be read
    int exitCode;
    QStringList lines;  // "%A", "%B" stand for the paths
    int differing;
};

class CompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareTest, SaysEveryDifferingByteAndEndsWithItsStatus) {
    const CompareCase& c = GetParam();
    QTemporaryDir dir;
    const QString a = dir.filePath("a.bin");
    const QString b = dir.filePath(c.b.isEmpty() ? "missing.bin" : "b.bin");
    ASSERT_TRUE(writeFile(a, imageA()));
    if (!c.b.isEmpty()) {
        ASSERT_TRUE(writeFile(b, c.b));
    }

    const RunResult text = runDump({"--compare", a, b});
    const RunResult json = runDump({"--compare", a, b, "--json"});

    EXPECT_EQ(text.exitCode, c.exitCode) << text.err.toStdString();
    EXPECT_EQ(json.exitCode, c.exitCode);
    QStringList lines = c.lines;
    lines.replaceInStrings("%A", QDir::toNativeSeparators(a))
        .replaceInStrings("%B", QDir::toNativeSeparators(b));
    EXPECT_EQ(text.out, lines.isEmpty() ? QString() : lines.join('\n') + '\n');
    if (c.b.isEmpty()) {
        EXPECT_TRUE(text.err.startsWith("tessaly-dump: Cannot read " + QDir::toNativeSeparators(b)))
            << text.err.toStdString();
        EXPECT_TRUE(json.out.isEmpty());
        return;
    }
    const QJsonObject record = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(record["same"].toBool(), c.exitCode == 0) << json.out.toStdString();
    EXPECT_EQ(record["differing_bytes"].toInt(), c.differing);
    EXPECT_EQ(record["differences"].toArray().size(), c.differing);
    EXPECT_EQ(record["differences_truncated"], QJsonValue(false));
    EXPECT_EQ(record["size_a"].toInt(), 1024);
    EXPECT_EQ(record["size_b"].toInt(), c.b.size());
    EXPECT_EQ(record["sha256_a"].toString(), sha256Of(imageA()));
    EXPECT_EQ(record["sha256_b"].toString(), sha256Of(c.b));
    if (c.differing > 0) {
        const QJsonObject first = record["differences"][0].toObject();
        EXPECT_EQ(first["a"].toInt(), std::uint8_t(imageA()[first["offset"].toInt()]));
        EXPECT_EQ(first["b"].toInt(), std::uint8_t(c.b[first["offset"].toInt()]));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Images, CompareTest, ::testing::Values(
    CompareCase{"same", imageA(), 0, {"identical, SHA-256 " + sha256Of(imageA())}, 0},
    CompareCase{"different", changedAt(imageA(), {0x10, 0x11, 0x3F0}), 1,
                {"0x010 51 AE", "0x011 56 A9", "0x3F0 B1 4E", "3 bytes differ"}, 3},
    CompareCase{"different_size", changedAt(imageA().left(1000), {7}), 1,
                {"%A holds 1024 bytes, %B holds 1000: the first 1000 are compared",
                 "0x007 24 DB", "1 byte differs"}, 1},
    CompareCase{"unreadable", {}, 4, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(ShowTest, ListsAFileExactlyAsADumpListsIt) {
    QTemporaryDir dir;
    const RunResult dump = runDump({"--simulate", "--dir", dir.path()});
    ASSERT_EQ(dump.exitCode, 0) << dump.err.toStdString();
    const QString image = dir.filePath("EEPROM.bin");

    const RunResult show = runDump({"--show", image});

    EXPECT_EQ(show.exitCode, 0) << show.err.toStdString();
    const QString listing = dump.out.section("\nsaved ", 0, 0).section("sending request...\n", 1);
    EXPECT_TRUE(show.out.startsWith(listing + '\n')) << show.out.toStdString();
    const QByteArray bytes = readFile(image);
    EXPECT_TRUE(
        show.out.endsWith(QStringLiteral("1024 bytes, data sum 0x%1\nSHA-256 %2\n")
                              .arg(dump.out.section("data 0x", 1).left(2), sha256Of(bytes))))
        << show.out.toStdString();
    EXPECT_EQ(runDump({"--show", dir.filePath("missing.bin")}).exitCode, 4);
}

}  // namespace
}  // namespace tessaly::test
