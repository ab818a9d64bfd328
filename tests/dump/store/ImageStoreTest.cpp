// Storing an image: earlier dumps are kept, never lost, also under concurrent runs, links and
// failures; and the result lines that say what happened.
#include <Files.h>
#include <Wait.h>
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "dump/DumpLog.h"
#include "dump/FileSystem.h"
#include "dump/ImageFile.h"

#ifdef Q_OS_UNIX
#include <FileSizeLimit.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tessaly::dump::platform {
void PrintTo(DiskStep step, std::ostream* out) {
    *out << std::array{"SyncFile", "ReplaceFile", "SyncDirectory"}[std::size_t(step)];
}
}  // namespace tessaly::dump::platform

namespace tessaly {
namespace {

using test::readFile;
using test::writeFile;

const QDateTime kEarlierTime(QDate(2025, 3, 4), QTime(5, 6, 7));

QByteArray image(char fill) { return QByteArray(1024, fill); }

// A reply of zeros whose box checksum byte is `boxChecksum`.
dump::Reply zeroReply(std::uint8_t boxChecksum) {
    std::array<std::uint8_t, dump::kReplySize> reply{};
    reply.back() = boxChecksum;
    return dump::Reply(reply);
}

void writeEarlier(const QString& path, const QByteArray& content) {
    ASSERT_TRUE(writeFile(path, content));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(kEarlierTime, QFileDevice::FileModificationTime));
}

QStringList entries(const QString& directory) {
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name);
}

struct EarlierCase {
    const char* name;
    std::optional<QByteArray> earlier;
    int differing;
    const char* resultLine;
};

void PrintTo(const EarlierCase& c, std::ostream* out) { *out << c.name; }

class EarlierFileTest : public ::testing::TestWithParam<EarlierCase> {};

TEST_P(EarlierFileTest, NewImageIsWrittenAndADifferingEarlierOneKept) {
    const EarlierCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("EEPROM.bin")));
    if (c.earlier) writeEarlier(path, *c.earlier);
#ifdef Q_OS_UNIX
    // The new file gets the earlier one's permissions, or those of any new file.
    const auto ownerAndGroup = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                               QFile::ReadUser | QFile::WriteUser;
    if (c.earlier) {
        ASSERT_TRUE(QFile::setPermissions(path, ownerAndGroup));
    }
    const QString newFile = dir.filePath(QStringLiteral("new"));
    ASSERT_TRUE(writeFile(newFile, {}));
    const auto expectedPermissions = c.earlier ? ownerAndGroup : QFile::permissions(newFile);
    ASSERT_TRUE(QFile::remove(newFile));
#endif
    QByteArray data = image('\x5A');

    const dump::StoredImage stored = dump::storeImage(path, data);

    ASSERT_TRUE(stored.stored()) << stored.failure.toStdString();
    EXPECT_EQ(readFile(path), data);
    EXPECT_EQ(stored.path, path);
#ifdef Q_OS_UNIX
    EXPECT_EQ(QFile::permissions(path), expectedPermissions);
#endif
    EXPECT_EQ(stored.sha256, QCryptographicHash::hash(data, QCryptographicHash::Sha256));
    EXPECT_EQ(stored.hadEarlier, c.earlier.has_value());
    EXPECT_EQ(stored.sameAsEarlier, c.earlier && c.differing == 0);
    EXPECT_EQ(stored.differingBytes, c.differing);
    // Bytes only the longer earlier file has lie outside the image: counted, not marked.
    EXPECT_EQ(stored.differingOffsets.size(), c.differing == 4 ? 0 : c.differing);
    if (c.differing == 1) {
        EXPECT_EQ(stored.differingOffsets, QList<qsizetype>{700});
    }
    QStringList expected{QStringLiteral("EEPROM.bin")};
    if (c.differing > 0) {
        expected.prepend(QStringLiteral("EEPROM-20250304-050607.bin"));
        EXPECT_EQ(stored.keptAs, QDir::toNativeSeparators(dir.filePath(expected.front())));
        EXPECT_EQ(readFile(stored.keptAs), *c.earlier);
    }
    EXPECT_EQ(entries(dir.path()), expected);

    const QString log =
        dump::storedImageLog(stored, zeroReply(0x5B), dump::Wording::CommandLine).text;
    EXPECT_TRUE(log.startsWith(QStringLiteral("saved %1: 1024 bytes, checksum WRONG (box 0x5B, "
                                              "data 0x00)\r\nSHA-256 %2\r\n")
                                   .arg(path, QString::fromLatin1(stored.sha256.toHex()))))
        << log.toStdString();
    const QString earlierLine = *c.resultLine ? c.resultLine + QStringLiteral("\r\n") : QString();
    EXPECT_TRUE(log.endsWith(QStringLiteral("\r\n") + earlierLine)) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("\r\n")), earlierLine.isEmpty() ? 2 : 3);
}

QByteArray oneByteChanged() {
    QByteArray earlier = image('\x5A');
    earlier[700] = '\x01';
    return earlier;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EarlierFileTest,
    ::testing::Values(
        EarlierCase{"none", std::nullopt, 0, ""},
        EarlierCase{"identical", image('\x5A'), 0, "same as the earlier EEPROM.bin"},
        EarlierCase{"oneByte", oneByteChanged(), 1,
                    "the earlier EEPROM.bin was kept as EEPROM-20250304-050607.bin (1 byte "
                    "differs)"},
        EarlierCase{"longerAndOtherwiseSame", image('\x5A') + "tail", 4,
                    "the earlier EEPROM.bin was kept as EEPROM-20250304-050607.bin (4 bytes "
                    "differ)"},
        EarlierCase{"empty", QByteArray(), 1024,
                    "the earlier EEPROM.bin was kept as EEPROM-20250304-050607.bin (1024 bytes "
                    "differ)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageStoreTest, KeptNamesFollowTheFileNameAndSkipTakenOnes) {
    struct Case {
        const char* file;
        int taken;
        const char* kept;
    };
    for (const Case& c : {Case{"EEPROM.bin", 2, "EEPROM-20250304-050607-3.bin"},
                          Case{"box7.v2.img", 0, "box7.v2-20250304-050607.img"},
                          Case{"plain", 1, "plain-20250304-050607-2"}}) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        const QString path = dir.filePath(QLatin1StringView(c.file));
        writeEarlier(path, "earlier");
        const QFileInfo file(path);
        const QString stamp = QStringLiteral("-20250304-050607");
        const QString suffix = file.suffix().isEmpty() ? QString() : u'.' + file.suffix();
        for (int n = 1; n <= c.taken; ++n) {
            const QString counter = n == 1 ? QString() : QStringLiteral("-%1").arg(n);
            ASSERT_TRUE(writeFile(dir.filePath(file.completeBaseName() + stamp + counter + suffix),
                                  "taken"));
        }

        const dump::StoredImage stored = dump::storeImage(path, image('a'));

        ASSERT_TRUE(stored.stored()) << stored.failure.toStdString();
        EXPECT_EQ(stored.keptAs, QDir::toNativeSeparators(dir.filePath(QLatin1StringView(c.kept))));
        EXPECT_EQ(readFile(stored.keptAs), "earlier");
        EXPECT_EQ(entries(dir.path()).size(), c.taken + 2);
    }
}

// Times Qt or a plain format get wrong: the epoch itself, before it, and far beyond it.
class KeptStampTest : public ::testing::TestWithParam<qint64> {};

TEST_P(KeptStampTest, KeptNameCarriesTheEarlierFilesTimeInEightAndSixDigits) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("EEPROM.bin"));
    ASSERT_TRUE(writeFile(path, "earlier"));
    const QDateTime modified = QDateTime::fromSecsSinceEpoch(GetParam());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    const dump::StoredImage stored = dump::storeImage(path, image('a'));

    ASSERT_TRUE(stored.stored()) << stored.failure.toStdString();
    EXPECT_EQ(QFileInfo(stored.keptAs).fileName(),
              QStringLiteral("EEPROM-%1.bin").arg(modified.toString(u"yyyyMMdd-HHmmss")));
    EXPECT_EQ(readFile(stored.keptAs), "earlier");
}

INSTANTIATE_TEST_SUITE_P(Times, KeptStampTest,
                         ::testing::Values(0, -1, -2'147'483'648LL, 13'569'465'600LL));

// Sixteen boxes into sixteen directories store at once; each answer comes back on the asking
// thread with its image in place, and an asker that is gone gets none.
TEST(ImageStoreTest, BackgroundStoresAnswerOnTheAskingThreadOnceTheImageIsInPlace) {
    QTemporaryDir dir;
    QObject asker;
    auto gone = std::make_unique<QObject>();
    int answers = 0;
    for (int box = 0; box < 16; ++box) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(QString::number(box)));
        const QString path = dir.filePath(QStringLiteral("%1/EEPROM.bin").arg(box));
        dump::storeImageInBackground(path, image(char(box)), &asker, [&, path, box](const auto& s) {
            EXPECT_EQ(QThread::currentThread(), asker.thread());
            EXPECT_TRUE(s.stored()) << s.failure.toStdString();
            EXPECT_EQ(readFile(path), image(char(box)));
            ++answers;
        });
    }
    dump::storeImageInBackground(dir.filePath(QStringLiteral("0/other.bin")), image('g'),
                                 gone.get(), [](const auto&) { ADD_FAILURE(); });
    gone.reset();
    ASSERT_TRUE(test::waitUntil([&] { return answers == 16; }));
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(dir.filePath("0/other.bin")); }));
}

TEST(ImageStoreTest, ConcurrentRunsIntoOneDirectoryLoseNoContent) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("EEPROM.bin"));
    writeEarlier(path, "earlier");
    std::vector<std::thread> runs;
    for (char fill = 'a'; fill < 'a' + 8; ++fill)
        runs.emplace_back(
            [&path, fill] { EXPECT_TRUE(dump::storeImage(path, image(fill)).stored()); });
    for (std::thread& run : runs) run.join();

    std::multiset<QByteArray> contents;
    for (const QString& entry : entries(dir.path())) contents.insert(readFile(dir.filePath(entry)));
    std::multiset<QByteArray> expected{"earlier"};
    for (char fill = 'a'; fill < 'a' + 8; ++fill) expected.insert(image(fill));
    EXPECT_EQ(contents, expected) << "each replacement keeps exactly one copy, no temporary files";
}

TEST(ImageStoreTest, EveryFailureWritesNothingAndSaysWhy) {
    struct Case {
        const char* name;
        const char* target;  // inside the temporary directory
        const char* reason;
    };
    std::vector<Case> cases{{"missing directory", "missing/EEPROM.bin", "does not exist"},
                            {"directory is a file", "file/EEPROM.bin", "is not a directory"},
                            {"target is a directory", "folder", "is a directory"}};
#ifdef Q_OS_UNIX
    cases.push_back({"disk full", "EEPROM.bin", "writing"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(writeFile(dir.filePath(QStringLiteral("file")), "file"));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        writeEarlier(dir.filePath(QStringLiteral("EEPROM.bin")), "earlier");
        const QStringList before = entries(dir.path());

        dump::StoredImage stored;
        {
#ifdef Q_OS_UNIX
            test::FileSizeLimit diskFull(std::strcmp(c.name, "disk full") == 0 ? 100
                                                                               : RLIM_INFINITY);
#endif
            stored = dump::storeImage(dir.filePath(QLatin1StringView(c.target)), image('n'));
        }

        EXPECT_FALSE(stored.stored());
        EXPECT_TRUE(stored.failure.contains(QLatin1StringView(c.reason)))
            << stored.failure.toStdString();
        EXPECT_TRUE(stored.sha256.isEmpty());
        EXPECT_EQ(entries(dir.path()), before);
        EXPECT_EQ(readFile(dir.filePath(QStringLiteral("EEPROM.bin"))), "earlier");
        EXPECT_EQ(dump::storedImageLog(stored, zeroReply(0), dump::Wording::CommandLine).text,
                  QStringLiteral("not saved: %1\r\n").arg(stored.failure));
    }
    EXPECT_EQ(dump::storedImageLog({}, zeroReply(0), dump::Wording::CommandLine).text, QString())
        << "nothing said when nothing came";
}

using dump::platform::DiskStep;

std::vector<DiskStep> stepsTaken;
std::optional<DiskStep> failingStep;

bool takeStep(DiskStep step) {
    stepsTaken.push_back(step);
    return step != failingStep;
}

// The image is on the disk before it takes the file's name, and that name is on the disk before
// the image counts as stored; a failing sync leaves the earlier file in place and nothing else.
TEST(ImageStoreTest, ImageIsSyncedBeforeItsRenameAndTheDirectoryAfter) {
    using enum DiskStep;
    struct Case {
        const char* name;
        std::optional<QByteArray> earlier;
        std::optional<DiskStep> failing;
        std::vector<DiskStep> steps;  // the last rename puts the earlier file back
    } cases[] = {{"stored", std::nullopt, std::nullopt, {SyncFile, ReplaceFile, SyncDirectory}},
                 {"file sync fails", "earlier", SyncFile, {SyncFile}},
                 {"directory sync fails",
                  "earlier",
                  SyncDirectory,
                  {SyncFile, ReplaceFile, SyncDirectory, ReplaceFile}},
                 {"directory sync fails, none earlier",
                  std::nullopt,
                  SyncDirectory,
                  {SyncFile, ReplaceFile, SyncDirectory}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("EEPROM.bin")));
        if (c.earlier) writeEarlier(path, *c.earlier);
        const QStringList before = entries(dir.path());
        std::vector<DiskStep> steps = c.steps;
#ifdef Q_OS_WIN
        // No second names there: the differing earlier file is kept as a copy, synced itself.
        if (c.earlier && c.failing != SyncFile) steps.insert(steps.begin() + 1, SyncFile);
#endif
        stepsTaken.clear();
        failingStep = c.failing;
        dump::platform::diskStepWatcher = takeStep;
        const dump::StoredImage stored = dump::storeImage(path, image('s'));
        dump::platform::diskStepWatcher = nullptr;

        EXPECT_EQ(stepsTaken, steps);
        EXPECT_EQ(stored.stored(), !c.failing) << stored.failure.toStdString();
        if (!c.failing) continue;
        EXPECT_TRUE(stored.failure.startsWith(QStringLiteral("writing %1 failed (").arg(path)))
            << stored.failure.toStdString();
        EXPECT_EQ(entries(dir.path()), before);
        if (c.earlier) {
            EXPECT_EQ(readFile(path), *c.earlier);
        }
    }
}

#ifdef Q_OS_UNIX
TEST(ImageStoreTest, ReadOnlyDirectoryIsAWriteFailureThatSaysSo) {
    QTemporaryDir dir;
    const QString readOnly = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ro")));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
    // Root writes anywhere, so the store runs as nobody in a child process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The child runs the test from its start and its _exit skips the destructors, so it
            // removes its own directory, as root again: root stays its saved user for that.
            constexpr uid_t nobody = 65534;
            const bool root = getuid() == 0;
            if (root && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, 0) != 0 ||
                         setresuid(nobody, nobody, 0) != 0))
                _exit(2);
            const dump::StoredImage stored =
                dump::storeImage(readOnly + QStringLiteral("/EEPROM.bin"), image('r'));
            std::fprintf(stderr, "%s\n", qPrintable(stored.failure));
            if ((root && setresuid(0, 0, 0) != 0) || !dir.remove()) _exit(3);
            _exit(stored.stored() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "the directory .*/ro is read-only \\(Permission denied\\)");
}

struct LinkCase {
    const char* name;
    bool sharedDirectory;  // sticky and world-writable, like /tmp
    uid_t linkOwner;
    bool followed;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.name; }

class LinkTest : public ::testing::TestWithParam<LinkCase> {};

// The link points into another file system where there is one, so that the earlier file is
// copied rather than linked.
TEST_P(LinkTest, LinksInSharedDirectoriesAreFollowedOnlyWhenTrusted) {
    const LinkCase& c = GetParam();
    if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    QTemporaryDir dir;
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/tessaly-XXXXXX"));
    ASSERT_TRUE(elsewhere.isValid());
    const QString shared = dir.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("shared")));
    ASSERT_EQ(chmod(QFile::encodeName(shared).constData(), c.sharedDirectory ? 01777 : 0777), 0);
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    writeEarlier(victim, "victim's content");
    const QString link = shared + QStringLiteral("/EEPROM.bin");
    ASSERT_TRUE(QFile::link(victim, link));
    ASSERT_EQ(lchown(QFile::encodeName(link).constData(), c.linkOwner, c.linkOwner), 0);

    const dump::StoredImage stored = dump::storeImage(link, image('L'));

    EXPECT_EQ(stored.stored(), c.followed) << stored.failure.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymbolicLink());
    if (c.followed) {
        EXPECT_EQ(readFile(victim), image('L'));
        EXPECT_EQ(readFile(stored.keptAs), "victim's content");
        EXPECT_EQ(QFileInfo(stored.keptAs).dir(), QDir(shared));
    } else {
        EXPECT_TRUE(stored.failure.contains(QStringLiteral("belongs to another user")));
        EXPECT_EQ(readFile(victim), "victim's content");
        EXPECT_EQ(entries(shared), QStringList{QStringLiteral("EEPROM.bin")});
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkTest,
                         ::testing::Values(LinkCase{"planted", true, 65534, false},
                                           LinkCase{"own", true, 0, true},
                                           LinkCase{"elsewhere", false, 65534, true}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// The checksum error, the checksum line of a damaged dump and the changed bytes stand out; the
// "%1" in the path is no placeholder.
TEST(ImageStoreTest, ResultLogMarksExactlyWhatStandsOut) {
    using dump::LogMark;
    const QString damaged =
        "saved /i/%1/E.bin: 1024 bytes, checksum WRONG (box 0x01, data 0x00)"
        ": the file holds a damaged dump, the earlier image is kept as K.bin";
    const struct {
        std::uint8_t boxChecksum;  // the data sum to 0x00
        QList<qsizetype> changed;  // where the kept earlier image differs
        std::vector<std::pair<LogMark, QString>> marked;
    } cases[] = {
        {1, {}, {{LogMark::Damage, "CRC Error!!!"}, {LogMark::Damage, damaged}}},
        {0, {0x010, 0x3F0}, {{LogMark::Change, "10"}, {LogMark::Change, "F0"}}},
    };
    std::array<std::uint8_t, dump::kReplySize> bytes{};
    for (std::size_t i = 0; i < dump::kDataSize; ++i) bytes[i] = std::uint8_t(i);
    dump::StoredImage stored;
    stored.path = "/i/%1/E.bin";
    stored.keptAs = "/i/%1/K.bin";
    stored.sha256 = QByteArray(32, 0);
    stored.hadEarlier = true;
    for (const auto& c : cases) {
        bytes.back() = c.boxChecksum;
        dump::DumpRun::Result read;
        read.outcome = c.boxChecksum ? dump::DumpRun::Outcome::ChecksumMismatch
                                     : dump::DumpRun::Outcome::Saved;
        read.reply.emplace(bytes);
        stored.differingOffsets = c.changed;
        read.stored = stored;
        dump::MarkedLog log = dump::dumpResultLog(read);
        log += dump::storedImageLog(stored, *read.reply, dump::Wording::Window);
        std::vector<std::pair<LogMark, QString>> marked;
        for (const dump::LogStretch& s : log.stretches)
            marked.emplace_back(s.mark, log.text.mid(s.from, s.length));
        EXPECT_EQ(marked, c.marked) << log.text.toStdString();
    }
}

TEST(ImageStoreTest, ImagePathJoinsDirectoryAndNameWithOneSeparator) {
    for (const char* directory : {"/tmp/backups", "/tmp/backups/", "/tmp//backups//"})
        EXPECT_EQ(dump::imagePathIn(QLatin1StringView(directory), QStringLiteral("EEPROM.bin")),
                  QDir::toNativeSeparators(QStringLiteral("/tmp/backups/EEPROM.bin")))
            << directory;
}

}  // namespace
}  // namespace tessaly
