#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "dump/FileSystem.h"

namespace tessaly::dump::platform {

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

// Why `step`, the system's `call`, failed; empty when it was done.
template <typename Call>
QString failureOf(DiskStep step, Call call) {
    if (!diskTakes(step))
        errno = EIO;
    else if (call() == 0)
        return {};
    return systemError();
}

}  // namespace

DirectoryLock::DirectoryLock(const QString& directory) {
    // A directory we may not read cannot be locked; storing then goes ahead unserialised rather
    // than refusing a directory that is otherwise usable.
    handle_ = ::open(encoded(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (handle_ >= 0 && ::flock(int(handle_), LOCK_EX) != 0 && errno == EINTR) {
    }
}

DirectoryLock::~DirectoryLock() {
    if (handle_ >= 0) ::close(int(handle_));  // closing releases the lock
}

// An unlocked directory (one we may not read) cannot be opened to be synced either.
QString DirectoryLock::syncEntries() const {
    return handle_ < 0
               ? QString()
               : failureOf(DiskStep::SyncDirectory, [this] { return ::fsync(int(handle_)); });
}

QString syncToDisk(QFile& file) {
    if (!file.flush()) return file.errorString();
    return failureOf(DiskStep::SyncFile, [&file] { return ::fsync(file.handle()); });
}

// Asks the system itself, which also knows read-only mounts and access lists.
QString whyNotWritable(const QString& directory) {
    return ::access(encoded(directory).constData(), W_OK | X_OK) == 0 ? QString() : systemError();
}

// A removed directory keeps its inode while in use, with no name left to link to it.
bool isDeleted(const QString& directory) {
    struct stat status {};
    return ::stat(encoded(directory).constData(), &status) == 0 && status.st_nlink == 0;
}

// The kernel's rule for links in shared directories, applied whether or not it is enforced.
bool isPlantedLink(const QString& link) {
    struct stat linkStatus {};
    struct stat directoryStatus {};
    if (::lstat(encoded(link).constData(), &linkStatus) != 0 ||
        ::stat(encoded(QFileInfo(link).absolutePath()).constData(), &directoryStatus) != 0)
        return false;
    const bool shared = (directoryStatus.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return shared && linkStatus.st_uid != ::geteuid() &&
           linkStatus.st_uid != directoryStatus.st_uid;
}

Linking linkFile(const QString& existing, const QString& name) {
    if (::link(encoded(existing).constData(), encoded(name).constData()) == 0)
        return Linking::Linked;
    return errno == EEXIST ? Linking::NameTaken : Linking::Unsupported;
}

// rename() never follows a link at the target name, so nothing planted there is written through.
QString replaceFile(const QString& from, const QString& to) {
    return failureOf(DiskStep::ReplaceFile,
                     [&] { return ::rename(encoded(from).constData(), encoded(to).constData()); });
}

}  // namespace tessaly::dump::platform
