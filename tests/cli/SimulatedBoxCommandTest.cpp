// tessaly-dump in-process against its built-in box, as it runs on every platform (under wine
// too): each way the box can misbehave ends with its own exit status and sentence.
#include <Files.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "RunDump.h"
#include "sim/BoxBehaviour.h"

namespace tessaly {
namespace {

struct BoxCase {
    const char* name;
    const char* behaviour;
    QStringList extra;
    int exitCode;
    const char* errorSays;  // empty: stderr stays empty
    bool imageSaved;
};

class SimulatedBoxCommandTest : public ::testing::TestWithParam<BoxCase> {
protected:
    QString imagePath() const { return dir_.filePath(QStringLiteral("EEPROM.bin")); }
    QTemporaryDir dir_;
};

TEST_P(SimulatedBoxCommandTest, EndsWithItsStatusAndSentence) {
    const BoxCase& box = GetParam();
    ASSERT_TRUE(test::writeFile(imagePath(), "earlier image"));

    const QStringList boxOptions = *box.behaviour == '\0'
                                       ? QStringList{"--simulate"}
                                       : QStringList{"--simulate-box", box.behaviour};
    const test::RunResult result =
        test::runDump(boxOptions + QStringList{"--dir", dir_.path()} + box.extra);

    EXPECT_EQ(result.exitCode, box.exitCode) << result.err.toStdString();
    if (*box.errorSays == '\0') {
        EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    } else {
        EXPECT_TRUE(result.err.contains(box.errorSays)) << result.err.toStdString();
    }
    const QByteArray served = test::bytesOf(sim::SimOptions::recognisableImage());
    EXPECT_EQ(test::readFile(imagePath()), box.imageSaved ? served : "earlier image");
    if (box.imageSaved) {
        EXPECT_TRUE(result.out.contains("Serial port closed."));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, SimulatedBoxCommandTest,
    ::testing::Values(
        BoxCase{"WellBehaved", "", {}, 0, "", true},
        BoxCase{"TokensSplitAndNoisy", "split-tokens,noise=40", {}, 0, "", true},
        BoxCase{"WrongChecksum", "wrong-checksum", {}, 1, "checksum", true},
        BoxCase{"Silent", "silent-after=5", {"--timeout", "1"}, 3, "\"PC___\"", false},
        BoxCase{"SavedNotVerified",
                "reads-then-silent=1",
                {"--verify", "--timeout", "1"},
                6,
                "not verified",
                true},
        BoxCase{"Unplugged", "disconnect-after-bytes=300", {}, 4, "lost", false},
        BoxCase{"UnknownBehaviour", "silent", {}, 64, "unknown box behaviour", false}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

struct EarlierCase {
    const char* name;
    std::optional<QByteArray> earlier;  // what EEPROM.bin held before; none: no file
    const char* becameOf;
    QJsonValue differingBytes;
};

class EarlierFileTest : public ::testing::TestWithParam<EarlierCase> {};

TEST_P(EarlierFileTest, TheRecordSaysWhatBecameOfIt) {
    QTemporaryDir dir;
    if (GetParam().earlier) {
        ASSERT_TRUE(test::writeFile(dir.filePath("EEPROM.bin"), *GetParam().earlier));
    }
    const test::RunResult result = test::runDump({"--simulate", "--json", "--dir", dir.path()});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(record["earlier"], GetParam().becameOf) << result.out.toStdString();
    EXPECT_EQ(record["differing_bytes"], GetParam().differingBytes);
    EXPECT_EQ(record["kept_earlier"].isNull(), QByteArrayView(GetParam().becameOf) != "kept");
}

QByteArray servedWithChanges(std::initializer_list<int> offsets) {
    QByteArray image = test::bytesOf(sim::SimOptions::recognisableImage());
    for (const int offset : offsets) image[offset] = char(~image[offset]);
    return image;
}

INSTANTIATE_TEST_SUITE_P(Earlier, EarlierFileTest,
                         ::testing::Values(EarlierCase{"none", std::nullopt, "none", QJsonValue()},
                                           EarlierCase{"same", servedWithChanges({}), "same", 0},
                                           EarlierCase{"kept", servedWithChanges({1, 2, 1000}),
                                                       "kept", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every field of a --json record as scripts read it: its type, and whether it may be null.
struct RecordField {
    const char* name;
    QJsonValue::Type type;
    bool nullable;
};
constexpr auto kText = QJsonValue::String;
constexpr auto kNumber = QJsonValue::Double;
// clang-format off
constexpr RecordField kRecordFields[] = {
    {"port", kText, false}, {"device", kText, false}, {"outcome", kText, false},
    {"exit_status", kNumber, false}, {"detail", kText, true}, {"path", kText, true},
    {"sha256", kText, true}, {"checksum_box", kNumber, true}, {"checksum_data", kNumber, true},
    {"reads", kNumber, false}, {"earlier", kText, true}, {"kept_earlier", kText, true},
    {"differing_bytes", kNumber, true}, {"started", kText, false}, {"finished", kText, false},
    {"milliseconds", kNumber, false}};
// clang-format on

// A good dump, a failed one with a reply and one without.
class JsonRecordTest : public ::testing::TestWithParam<const char*> {};

TEST_P(JsonRecordTest, HoldsEveryDocumentedFieldWithItsTypeAndNoOther) {
    QTemporaryDir dir;
    ASSERT_TRUE(test::writeFile(dir.filePath("EEPROM.bin"), "earlier image"));
    const test::RunResult result = test::runDump(QString::fromLatin1(GetParam()).split(' ') +
                                                 QStringList{"--json", "--dir", dir.path()});
    const QJsonObject record = QJsonDocument::fromJson(result.out.toUtf8()).object();

    QStringList documented;
    for (const RecordField& field : kRecordFields) {
        const QJsonValue value = record[documented.emplace_back(field.name)];
        EXPECT_TRUE(value.type() == field.type || (field.nullable && value.isNull()))
            << field.name << ": " << result.out.toStdString();
    }
    documented.sort();
    EXPECT_EQ(record.keys().join(' ').toStdString(), documented.join(' ').toStdString());
}

INSTANTIATE_TEST_SUITE_P(Records, JsonRecordTest,
                         ::testing::Values("--simulate", "--simulate-box wrong-checksum",
                                           "--simulate-box disconnect-after-bytes=300"));

#ifdef TESSALY_SOURCE_DIR
// README's table of the record's fields, for scripts, names the same fields as the table above.
TEST(ReadmeRecordTableTest, NamesExactlyTheseFields) {
    const QString table = QString::fromUtf8(test::readFile(TESSALY_SOURCE_DIR "/README.md"))
                              .section("**JSON records**", 1)
                              .section("\n\n", 1, 1);
    QStringList named;
    static const QRegularExpression fieldName(QStringLiteral("`(\\w+)`"));
    for (const QString& row : table.split('\n'))
        for (const auto& match : fieldName.globalMatch(row.section('|', 1, 1)))
            named.append(match.captured(1));
    QStringList documented;
    for (const RecordField& field : kRecordFields) documented.append(field.name);
    EXPECT_EQ(named.join(' ').toStdString(), documented.join(' ').toStdString());
}
#endif

// Names outside a Windows system's ANSI code page, and one beyond Unicode's first plane: the record
// is ASCII, the human text (on stderr with --json) UTF-8.
class NameOutsideTheCodePageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(NameOutsideTheCodePageTest, ReadsBackAsItIsFromTheRecordAndTheText) {
    QTemporaryDir dir;
    const QString name = QString::fromUtf8(GetParam());
    ASSERT_TRUE(QDir(dir.path()).mkdir(name));
    const test::RunResult result =
        test::runDump({"--simulate", "--dir", dir.filePath(name), "--json"});
    const QString tail = QDir::toNativeSeparators('/' + name + "/EEPROM.bin");
    EXPECT_EQ(result.out.toUtf8().size(), result.out.size())
        << "not ASCII: " << result.out.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(result.out.toUtf8())["path"].toString().endsWith(tail));
    EXPECT_TRUE(result.err.contains(tail + ": 1024 bytes")) << result.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Names, NameOutsideTheCodePageTest,
                         ::testing::Values("Jürgen", "Мастерская", "工作室", "Noten 𝄞"));

TEST(PortNameCommandTest, MissingPortExitsTwoNamingIt) {
#ifdef Q_OS_WIN
    const QString missing = QStringLiteral("COM250");
#else
    const QString missing = QStringLiteral("/dev/ttyS250");
#endif
    QTemporaryDir dir;
    const test::RunResult result = test::runDump({"--port", missing, "--dir", dir.path()});

    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains(missing + " does not exist")) << result.err.toStdString();
}

}  // namespace
}  // namespace tessaly
