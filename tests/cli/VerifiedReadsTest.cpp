// Reads that are repeated until two agree, or re-read after a checksum mismatch, end to end.
#include <Files.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "RunDump.h"
#include "ScriptedBox.h"

namespace tessaly::test {
namespace {

struct ReadsCase {
    const char* name;
    QList<ScriptedDump> dumps;  // what the box serves, read after read; then it falls silent
    QStringList options;
    int exitStatus;
    const char* outcome;
    int reads;
    QByteArray saved;       // empty: nothing written, the earlier file stays
    QStringList told = {};  // lines the human text holds about the reads
};

void PrintTo(const ReadsCase& readsCase, std::ostream* out) { *out << readsCase.name; }

const QByteArray kImage = imageFilledWith(3);
const QByteArray kOther = withCompensatingError(kImage);
const QByteArray kPlain(1024, 'A');  // no flow-control byte, for a box that holds the host back

// kImage but for the byte at `offset`: reads that differ in that byte alone must disagree.
QByteArray imageChangedAt(qsizetype offset) {
    QByteArray image = kImage;
    image[offset] = char(image[offset] ^ 0x80);
    return image;
}

class VerifiedReadsTest : public ::testing::TestWithParam<ReadsCase> {};

TEST_P(VerifiedReadsTest, SavesOnlyWhatTheReadsProve) {
    const ReadsCase& c = GetParam();
    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("EEPROM.bin"));
    ASSERT_TRUE(writeFile(imagePath, "earlier image"));
    ScriptedBox box(c.dumps);

    const RunResult result = runDump(
        QStringList{"-p", box.devicePath(), "-d", dir.path(), "-t", "1", "--json"} + c.options);

    EXPECT_EQ(result.exitCode, c.exitStatus) << result.err.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(record["outcome"].toString(), c.outcome) << result.out.toStdString();
    EXPECT_EQ(record["exit_status"].toInt(), c.exitStatus);
    EXPECT_EQ(record["reads"].toInt(), c.reads);
    EXPECT_EQ(readFile(imagePath), c.saved.isEmpty() ? QByteArray("earlier image") : c.saved);
    EXPECT_EQ(record["path"].isNull(), c.saved.isEmpty());
    for (const QString& line : c.told) EXPECT_TRUE(result.err.contains(line)) << qPrintable(line);
    EXPECT_EQ(result.err.count("reading again"), c.told.filter("reading again").size());
    // Every complete read is acknowledged as it comes, by its own checksum.
    EXPECT_EQ(result.err.contains("tessaly-dump: "), c.exitStatus != 0) << result.err.toStdString();
    EXPECT_TRUE(waitUntil([&] {
        return box.heard().count("E2PROMDOWN_") == box.acknowledgeable();
    })) << box.heard().count("E2PROMDOWN_")
        << " acknowledgements for " << box.acknowledgeable();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Reads, VerifiedReadsTest, ::testing::Values(
    ReadsCase{"first two agree", {{kImage}, {kImage}, {kOther}}, {"--verify"}, 0, "saved", 2,
              kImage},
    ReadsCase{"third agrees with the first", {{kImage}, {kOther}, {kImage}}, {"--verify"}, 0,
              "saved", 3, kImage, {"read 2 of 3: it agrees with no read before it, reading again"}},
    ReadsCase{"a wrong checksum does not count", {{kImage, false}, {kImage}, {kImage, false}},
              {"--verify"}, 5, "reads_disagree", 3, {},
              {"read 1 of 3: the checksum did not match, reading again"}},
    ReadsCase{"every read the same with a wrong checksum",
              {{kImage, false}, {kImage, false}, {kImage, false}}, {"--verify"}, 5,
              "agreed_with_wrong_checksum", 3, {}, {"read 1 of 3: the checksum did not match, "
              "reading again", "read 2 of 3: the checksum did not match, reading again"}},
    ReadsCase{"compensating errors disagree", {{kImage}, {kOther}}, {"--verify", "--reads", "2"},
              5, "reads_disagree", 2, {}},
    ReadsCase{"the first byte differs", {{kImage}, {imageChangedAt(0)}},
              {"--verify", "--reads", "2"}, 5, "reads_disagree", 2, {}},
    ReadsCase{"a middle byte differs", {{kImage}, {imageChangedAt(512)}},
              {"--verify", "--reads", "2"}, 5, "reads_disagree", 2, {}},
    ReadsCase{"the last byte differs", {{kImage}, {imageChangedAt(1023)}},
              {"--verify", "--reads", "2"}, 5, "reads_disagree", 2, {}},
    ReadsCase{"box stops after one good read", {{kImage}}, {"--verify"}, 6, "unverified", 2,
              kImage},
    ReadsCase{"the link goes while the good read is acknowledged", {{kPlain, true, false, true}},
              {"--verify"}, 6, "unverified", 2, kPlain, {"the link was lost in read 2"}},
    ReadsCase{"re-read after a mismatch", {{kOther, false}, {kImage}}, {"--reads", "3"}, 0,
              "saved", 2, kImage, {"read 1 of 3: the checksum did not match, reading again",
              "2 reads: the checksum did not match until read 2, which was saved"}},
    ReadsCase{"every read mismatches: the last is written", {{kOther, false}, {kImage, false}},
              {"--reads", "2"}, 1, "checksum_mismatch", 2, kImage,
              {"read 1 of 2: the checksum did not match, reading again",
               "2 reads, each with a wrong checksum; the last one was saved"}},
    ReadsCase{"a re-read finds the box silent: the mismatched read is written",
              {{kOther, false}}, {"--reads", "3"}, 1, "checksum_mismatch", 2, kOther,
              {"read 1 of 3: the checksum did not match, reading again",
               "2 reads, each complete one with a wrong checksum; read 1 was saved"}}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.name);
        name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
        return name.toStdString();
    });
// clang-format on

TEST(AcknowledgementTest, OneThatCannotLeaveIsWarnedAboutButTheDumpStands) {
    QByteArray image(1024, 'A');
    QTemporaryDir dir;
    ScriptedBox box({{image, true, true}});

    const RunResult result = runDump({"-p", box.devicePath(), "-d", dir.path()});

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("warning: the acknowledgement may not have reached the box"))
        << result.err.toStdString();
    EXPECT_EQ(readFile(dir.filePath("EEPROM.bin")), image);
}

}  // namespace
}  // namespace tessaly::test
