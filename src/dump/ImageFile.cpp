#include "dump/ImageFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <algorithm>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "dump/FileSystem.h"
#include "dump/ImageCompare.h"
#include "dump/ImageDirectory.h"

namespace tessaly::dump {

namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The file that `path` stands for, links followed; empty with `failure` set when a link must not
// be followed or leads nowhere sensible.
QString fileBehind(const QString& path, QString& failure) {
    QString current = path;
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymbolicLink()) return current;
        if (platform::isPlantedLink(current)) {
            failure = QStringLiteral(
                          "%1 is a link that belongs to another user in the shared directory %2; "
                          "it was not followed")
                          .arg(native(current), native(info.absolutePath()));
            return {};
        }
        current = info.symLinkTarget();
    }
    failure = QStringLiteral("%1 is a chain of links that does not end").arg(native(path));
    return {};
}

// Qt reports a file stamped with the epoch itself as having no time at all.
QDateTime modificationTime(const QFileInfo& file) {
    const QDateTime modified = file.lastModified();
    return modified.isValid() ? modified : QDateTime::fromSecsSinceEpoch(0);
}

// The earlier file at `file`, read as far as a comparison with an image needs.
struct EarlierFile {
    qint64 size = 0;
    QByteArray head;  // its first bytes, as many as the new image has
    QDateTime modified;
};

std::optional<EarlierFile> readEarlier(const QString& file, qsizetype imageSize, QString& failure) {
    const QFileInfo info(file);
    if (!info.exists()) return std::nullopt;
    if (info.isDir()) {
        failure = QStringLiteral("%1 is a directory").arg(native(file));
        return std::nullopt;
    }
    if (!info.isFile()) {
        failure = QStringLiteral("%1 is not a regular file").arg(native(file));
        return std::nullopt;
    }
    QFile earlier(file);
    if (!earlier.open(QIODevice::ReadOnly)) {
        failure = QStringLiteral("the earlier %1 cannot be read to be kept (%2)")
                      .arg(native(file), earlier.errorString());
        return std::nullopt;
    }
    return EarlierFile{earlier.size(), earlier.read(imageSize), modificationTime(info)};
}

// Bytes in which the two differ, counting every byte that only one of them has; and the offsets
// of those inside the image.
void noteDifferences(const EarlierFile& earlier, const QByteArray& image, StoredImage& stored) {
    for (const ByteDifference& difference : compareImages(earlier.head, image).differences)
        stored.differingOffsets.append(difference.offset);
    for (qsizetype offset = earlier.head.size(); offset < image.size(); ++offset)
        stored.differingOffsets.append(offset);
    const qint64 differing =
        stored.differingOffsets.size() + std::max<qint64>(earlier.size - qint64(image.size()), 0);
    stored.differingBytes = int(std::min<qint64>(differing, std::numeric_limits<int>::max()));
}

// NAME-YYYYMMDD-HHMMSS.EXT beside `path`, with -2, -3, ... from the second attempt on.
QString keptName(const QString& path, const QDateTime& modified, int attempt) {
    const QFileInfo info(path);
    // Four-digit years keep the pattern for any time a file system can hold.
    const QDateTime first(QDate(1, 1, 1), QTime(0, 0));
    const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59));
    QString name = info.completeBaseName() + u'-' +
                   std::clamp(modified.toLocalTime(), first, last).toString(u"yyyyMMdd-HHmmss");
    if (attempt > 1) name += QStringLiteral("-%1").arg(attempt);
    if (!info.suffix().isEmpty()) name += u'.' + info.suffix();
    return info.dir().filePath(name);
}

enum class Keeping { Kept, NameTaken, Failed };

// Gives `earlier` the new name `kept`: a second name for the same bytes where the file system
// has them, so that nothing is copied; otherwise a copy with its modification time.
Keeping keepUnder(const QString& earlier, const QString& kept, QString& failure) {
    const platform::Linking linking = platform::linkFile(earlier, kept);
    if (linking != platform::Linking::Unsupported)
        return linking == platform::Linking::Linked ? Keeping::Kept : Keeping::NameTaken;
    QFile source(earlier);
    QFile copy(kept);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(kept)) return Keeping::NameTaken;
        failure = copy.errorString();
        return Keeping::Failed;
    }
    bool copied = source.open(QIODevice::ReadOnly);
    while (copied && !source.atEnd()) {
        const QByteArray chunk = source.read(1 << 16);
        copied = !chunk.isEmpty() && copy.write(chunk) == chunk.size();
    }
    if (copied)
        failure = platform::syncToDisk(copy);
    else
        failure =
            source.error() != QFileDevice::NoError ? source.errorString() : copy.errorString();
    if (failure.isEmpty() &&
        !copy.setFileTime(modificationTime(QFileInfo(earlier)), QFileDevice::FileModificationTime))
        failure = copy.errorString();
    if (failure.isEmpty()) return Keeping::Kept;
    copy.remove();
    return Keeping::Failed;
}

// Keeps the earlier file beside `path` under a name of its own; returns that name, or empty
// with `failure` set.
QString keepEarlier(const QString& earlier, const QString& path, const QDateTime& modified,
                    QString& failure) {
    constexpr int kMostAttempts = 1000;
    for (int attempt = 1; attempt <= kMostAttempts; ++attempt) {
        const QString kept = keptName(path, modified, attempt);
        QString reason;
        switch (keepUnder(earlier, kept, reason)) {
            case Keeping::Kept:
                return kept;
            case Keeping::NameTaken:
                continue;
            case Keeping::Failed:
                failure = QStringLiteral("the earlier %1 could not be kept as %2 (%3)")
                              .arg(native(path), QFileInfo(kept).fileName(), reason);
                return {};
        }
    }
    failure = QStringLiteral("the earlier %1 could not be kept: %2 names like %3 are taken")
                  .arg(native(path))
                  .arg(kMostAttempts)
                  .arg(QFileInfo(keptName(path, modified, 1)).fileName());
    return {};
}

// The image, complete and on disk, in a temporary file beside `file` until it replaces it.
class PendingImage {
public:
    explicit PendingImage(const QString& file) : file_(file) {}
    ~PendingImage() {
        if (created_ && !placed_) temporary_.remove();
    }
    Q_DISABLE_COPY(PendingImage)

    // Returns why the image could not be written; empty when it is complete. The file gets the
    // permissions of the one it replaces, or the usual ones of a new file.
    QString write(const QByteArray& data, const std::optional<QFileDevice::Permissions>& like) {
        if (!createTemporary()) return failureText(temporary_.errorString());
        // Unbuffered, so that a short write (disk full, size limit) shows in the count; the
        // permissions come before the sync, which then covers them too.
        const bool written =
            temporary_.write(data) == data.size() && (!like || temporary_.setPermissions(*like));
        const QString reason =
            written ? platform::syncToDisk(temporary_) : temporary_.errorString();
        temporary_.close();
        return reason.isEmpty() ? QString() : failureText(reason);
    }

    // Puts the image in place of `file` in one step and its new entry on the disk, without which
    // a power cut could take the image back; returns why not, empty when done.
    QString replace(const platform::DirectoryLock& lock) {
        QString reason = platform::replaceFile(temporary_.fileName(), file_);
        placed_ = reason.isEmpty();
        if (placed_) reason = lock.syncEntries();
        return reason.isEmpty() ? QString() : failureText(reason);
    }
    bool placed() const { return placed_; }

private:
    // A new hidden name beside the file; a taken one is never opened.
    bool createTemporary() {
        const QFileInfo info(file_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary_.setFileName(info.dir().filePath(
                QStringLiteral(".%1.%2")
                    .arg(info.fileName())
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))));
            created_ =
                temporary_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
            if (created_) return true;
            if (!temporary_.exists()) break;
        }
        return false;
    }
    QString failureText(const QString& reason) const {
        return QStringLiteral("writing %1 failed (%2)").arg(native(file_), reason);
    }

    QString file_;
    QFile temporary_;
    bool created_ = false;
    bool placed_ = false;
};

// Threads that mostly wait on the disk, one for each store under way. The program waits for them
// before it ends, so that no store is cut short.
class StoringThreads {
public:
    StoringThreads() = default;
    ~StoringThreads() {
        for (std::thread& thread : threads_) thread.join();
    }
    Q_DISABLE_COPY(StoringThreads)

    // Runs `task` on a thread of its own; false when the system gives none (a limit on processes
    // or memory).
    bool tryRun(std::function<void()> task) {
        const std::lock_guard lock(mutex_);
        joinFinished();
        try {
            threads_.emplace_back([this, task = std::move(task)] {
                task();
                const std::lock_guard done(mutex_);
                finished_.push_back(std::this_thread::get_id());
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

private:
    void joinFinished() {
        std::erase_if(threads_, [this](std::thread& thread) {
            if (std::ranges::find(finished_, thread.get_id()) == finished_.end()) return false;
            thread.join();
            return true;
        });
        finished_.clear();
    }

    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> finished_;  // threads that are done and wait to be joined
};

// Leaves things as they were after a replacement failed: an image placed (whose entry is not on
// the disk) gives way to the earlier file again, and the earlier file's second name would only be
// a stray copy.
void undoReplacement(bool placed, const QString& file, bool hadEarlier, const QString& keptAs) {
    if (placed && !keptAs.isEmpty())
        platform::replaceFile(keptAs, file);
    else if (!keptAs.isEmpty())
        QFile::remove(keptAs);
    else if (placed && !hadEarlier)
        QFile::remove(file);
}

}  // namespace

QString imagePathIn(const QString& directory, const QString& fileName) {
    return native(QDir::cleanPath(QDir(QDir::fromNativeSeparators(directory)).filePath(fileName)));
}

StoredImage storeImage(const QString& path, const QByteArray& data) {
    StoredImage stored;
    const QString absolute = QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath();
    stored.path = native(absolute);
    const QString directory = QFileInfo(absolute).absolutePath();
    if (stored.failure = checkImageDirectory(directory).reason(); !stored.failure.isEmpty())
        return stored;

    const platform::DirectoryLock lock(directory);
    const QString file = fileBehind(absolute, stored.failure);
    if (file.isEmpty()) return stored;
    const std::optional<EarlierFile> earlier = readEarlier(file, data.size(), stored.failure);
    if (!stored.failure.isEmpty()) return stored;

    PendingImage image(file);
    const auto permissions = earlier ? std::optional(QFile::permissions(file)) : std::nullopt;
    if (stored.failure = image.write(data, permissions); !stored.failure.isEmpty()) return stored;

    if (earlier) {
        stored.hadEarlier = true;
        noteDifferences(*earlier, data, stored);
        stored.sameAsEarlier = stored.differingBytes == 0;
        if (!stored.sameAsEarlier) {
            stored.keptAs = keepEarlier(file, absolute, earlier->modified, stored.failure);
            if (stored.keptAs.isEmpty()) return stored;
        }
    }
    if (stored.failure = image.replace(lock); !stored.failure.isEmpty()) {
        undoReplacement(image.placed(), file, earlier.has_value(), stored.keptAs);
        stored.keptAs.clear();
        return stored;
    }
    stored.keptAs = native(stored.keptAs);
    stored.sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    return stored;
}

void storeImageInBackground(const QString& path, const QByteArray& data, QObject* context,
                            std::function<void(const StoredImage&)> done) {
    static StoringThreads threads;
    // The answer goes through a relay on the asking thread that is not the asker's child: `done`
    // may end the asker, and an asker that is gone (a window closed during a store) is not told.
    // Queued also when no thread could be had and it runs on the asking thread: the asker hears
    // of it on a later turn of the event loop either way.
    auto* relay = new QObject;
    auto store = [relay, asker = QPointer<QObject>(context), path, data, done = std::move(done)] {
        QMetaObject::invokeMethod(
            relay,
            [relay, asker, done, stored = storeImage(path, data)] {
                relay->deleteLater();
                if (asker) done(stored);
            },
            Qt::QueuedConnection);
    };
    if (!threads.tryRun(store)) store();
}

}  // namespace tessaly::dump
