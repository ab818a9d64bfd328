#include "dump/ImageFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tessaly::dump {

namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Puts what was written to `file` on the disk itself, so that a power cut cannot take it back
// once another name no longer holds the same bytes.
bool syncToDisk(QFile& file) {
#ifdef Q_OS_UNIX
    return file.flush() && ::fsync(file.handle()) == 0;
#else
    return file.flush();
#endif
}

// Holds the directory's lock while it lives: two runs storing into one directory take turns, so
// that they never both keep, or both miss, the same earlier file.
class DirectoryLock {
public:
    explicit DirectoryLock(const QString& directory) {
#ifdef Q_OS_UNIX
        // A directory we may not read cannot be locked; storing then goes ahead unserialised
        // rather than refusing a directory that is otherwise usable.
        handle_ =
            ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (handle_ >= 0 && ::flock(handle_, LOCK_EX) != 0 && errno == EINTR) {
        }
#elif defined(Q_OS_WIN)
        // No locks on directories here: a session-wide mutex named after the directory.
        const QByteArray key = QCryptographicHash::hash(
            QDir(directory).canonicalPath().toLower().toUtf8(), QCryptographicHash::Sha1);
        const QString name =
            QStringLiteral("Local\\tessaly-image-store-") + QString::fromLatin1(key.toHex());
        mutex_ = CreateMutexW(nullptr, FALSE, name.toStdWString().c_str());
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);
#endif
    }
    ~DirectoryLock() {
#ifdef Q_OS_UNIX
        if (handle_ >= 0) ::close(handle_);  // closing releases the lock
#elif defined(Q_OS_WIN)
        if (mutex_) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
#endif
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Makes the directory's new entries survive a power cut.
    void syncEntries() const {
#ifdef Q_OS_UNIX
        if (handle_ >= 0) ::fsync(handle_);
#endif
    }

private:
#ifdef Q_OS_UNIX
    int handle_ = -1;
#elif defined(Q_OS_WIN)
    HANDLE mutex_ = nullptr;
#endif
};

// Why nothing can be created in `directory`; empty when it can.
QString directoryFailure(const QString& directory) {
    const QFileInfo info(directory);
    if (!info.exists())
        return QStringLiteral("the directory %1 does not exist").arg(native(directory));
    if (!info.isDir()) return QStringLiteral("%1 is not a directory").arg(native(directory));
#ifdef Q_OS_UNIX
    if (::access(QFile::encodeName(directory).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the directory %1 is read-only (%2)")
            .arg(native(directory), systemError(errno));
#endif
    return {};
}

#ifdef Q_OS_UNIX
// The kernel's rule for links in shared directories, applied whether or not the system enforces
// it: in a sticky, world-writable directory a link is followed only when it belongs to us or to
// the directory's owner; anyone else may have planted it to make us overwrite their target.
bool isPlantedLink(const QString& link) {
    struct stat linkStatus {};
    struct stat directoryStatus {};
    if (::lstat(QFile::encodeName(link).constData(), &linkStatus) != 0 ||
        ::stat(QFile::encodeName(QFileInfo(link).absolutePath()).constData(), &directoryStatus) !=
            0)
        return false;
    const bool shared = (directoryStatus.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return shared && linkStatus.st_uid != ::geteuid() &&
           linkStatus.st_uid != directoryStatus.st_uid;
}
#endif

// The file that `path` stands for, links followed; empty with `failure` set when a link must not
// be followed or leads nowhere sensible.
QString fileBehind(const QString& path, QString& failure) {
    QString current = path;
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymbolicLink()) return current;
#ifdef Q_OS_UNIX
        if (isPlantedLink(current)) {
            failure = QStringLiteral(
                          "%1 is a link that belongs to another user in the shared directory %2; "
                          "it was not followed")
                          .arg(native(current), native(info.absolutePath()));
            return {};
        }
#endif
        current = info.symLinkTarget();
    }
    failure = QStringLiteral("%1 is a chain of links that does not end").arg(native(path));
    return {};
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
    return EarlierFile{earlier.size(), earlier.read(imageSize), info.lastModified()};
}

// Bytes in which the two differ, counting every byte that only one of them has.
int differingBytes(const EarlierFile& earlier, const QByteArray& image) {
    const qsizetype common = std::min(earlier.head.size(), image.size());
    qint64 differing = std::abs(earlier.size - qint64(image.size()));
    for (qsizetype i = 0; i < common; ++i) differing += earlier.head[i] != image[i];
    return int(std::min<qint64>(differing, std::numeric_limits<int>::max()));
}

// NAME-YYYYMMDD-HHMMSS.EXT beside `path`, with -2, -3, ... from the second attempt on.
QString keptName(const QString& path, const QDateTime& modified, int attempt) {
    const QFileInfo info(path);
    QString name = info.completeBaseName() + u'-' + modified.toString(u"yyyyMMdd-HHmmss");
    if (attempt > 1) name += QStringLiteral("-%1").arg(attempt);
    if (!info.suffix().isEmpty()) name += u'.' + info.suffix();
    return info.dir().filePath(name);
}

enum class Keeping { Kept, NameTaken, Failed };

// Copies `earlier` to the new name `kept` with its modification time; for file systems without
// hard links.
Keeping copyEarlier(const QString& earlier, const QString& kept, QString& failure) {
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
    copied = copied && syncToDisk(copy) &&
             copy.setFileTime(QFileInfo(earlier).lastModified(), QFileDevice::FileModificationTime);
    if (copied) return Keeping::Kept;
    failure = source.error() != QFileDevice::NoError ? source.errorString() : copy.errorString();
    copy.remove();
    return Keeping::Failed;
}

Keeping keepUnder(const QString& earlier, const QString& kept, QString& failure) {
#ifdef Q_OS_UNIX
    // A second name for the same bytes: nothing is copied, and link() refuses a taken name.
    if (::link(QFile::encodeName(earlier).constData(), QFile::encodeName(kept).constData()) == 0)
        return Keeping::Kept;
    if (errno == EEXIST) return Keeping::NameTaken;
#endif
    return copyEarlier(earlier, kept, failure);
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
    PendingImage(const PendingImage&) = delete;
    PendingImage& operator=(const PendingImage&) = delete;

    // Returns why the image could not be written; empty when it is complete. The file gets the
    // permissions of the one it replaces, or the usual ones of a new file.
    QString write(const QByteArray& data, const std::optional<QFileDevice::Permissions>& like) {
        if (!createTemporary()) return failureText(temporary_.errorString());
        // Unbuffered, so that a short write (disk full, size limit) shows in the count.
        const bool complete = temporary_.write(data) == data.size() && syncToDisk(temporary_) &&
                              (!like || temporary_.setPermissions(*like));
        const QString reason = complete ? QString() : failureText(temporary_.errorString());
        temporary_.close();
        return reason;
    }

    // Puts the image in place of `file` in one step; returns why not, empty when done.
    QString replace() {
#ifdef Q_OS_WIN
        placed_ =
            MoveFileExW(temporary_.fileName().toStdWString().c_str(), file_.toStdWString().c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        return placed_ ? QString() : failureText(qt_error_string(int(GetLastError())));
#else
        // rename() never follows a link at the target name, so nothing planted there is written
        // through.
        placed_ = ::rename(QFile::encodeName(temporary_.fileName()).constData(),
                           QFile::encodeName(file_).constData()) == 0;
        return placed_ ? QString() : failureText(systemError(errno));
#endif
    }

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

}  // namespace

QString imagePathIn(const QString& directory, const QString& fileName) {
    return native(QDir::cleanPath(QDir(QDir::fromNativeSeparators(directory)).filePath(fileName)));
}

StoredImage storeImage(const QString& path, const QByteArray& data) {
    StoredImage stored;
    const QString absolute = QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath();
    stored.path = native(absolute);
    const QString directory = QFileInfo(absolute).absolutePath();
    if (stored.failure = directoryFailure(directory); !stored.failure.isEmpty()) return stored;

    const DirectoryLock lock(directory);
    const QString file = fileBehind(absolute, stored.failure);
    if (file.isEmpty()) return stored;
    const std::optional<EarlierFile> earlier = readEarlier(file, data.size(), stored.failure);
    if (!stored.failure.isEmpty()) return stored;

    PendingImage image(file);
    const auto permissions = earlier ? std::optional(QFile::permissions(file)) : std::nullopt;
    if (stored.failure = image.write(data, permissions); !stored.failure.isEmpty()) return stored;

    if (earlier) {
        stored.hadEarlier = true;
        stored.differingBytes = differingBytes(*earlier, data);
        stored.sameAsEarlier = stored.differingBytes == 0;
        if (!stored.sameAsEarlier) {
            stored.keptAs = keepEarlier(file, absolute, earlier->modified, stored.failure);
            if (stored.keptAs.isEmpty()) return stored;
        }
    }
    if (stored.failure = image.replace(); !stored.failure.isEmpty()) {
        // The earlier file is still in place, so its second name would only be a stray copy.
        if (!stored.keptAs.isEmpty()) QFile::remove(stored.keptAs);
        stored.keptAs.clear();
        return stored;
    }
    lock.syncEntries();
    stored.keptAs = native(stored.keptAs);
    stored.sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    return stored;
}

}  // namespace tessaly::dump
