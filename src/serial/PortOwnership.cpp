#include "serial/PortOwnership.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "serial/CommError.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace tessaly::serial::port_ownership {

#ifdef Q_OS_UNIX

QString resolvedDevice(const QString& device) {
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

namespace {

// A lock file named `name` in each of the directories of serial programs, in the order the serial
// layer looks for its own.
QStringList lockFileCandidatesNamed(const QString& name) {
    QStringList files;
    for (const char* directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"})
        files.append(QLatin1String(directory) + u'/' + name);
    return files;
}

// The lock files `device` may have: LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3.
QStringList lockFileCandidates(const QString& device) {
    const QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    return lockFileCandidatesNamed(QStringLiteral("LCK..") + QString(name).replace(u'/', u'_'));
}

// The first lock directory we may read that holds the file already or lets us make it.
QString usableLockFile(const QStringList& candidates) {
    for (const QString& file : candidates) {
        const QFileInfo directory(QFileInfo(file).path());
        if (directory.isReadable() && (QFileInfo::exists(file) || directory.isWritable()))
            return file;
    }
    return {};
}

QString noLockDirectoryFor(const QString& device) {
    return QStringLiteral("no lock directory can be written for %1 (%2 and others)")
        .arg(device, QFileInfo(lockFileCandidates(device).front()).path());
}

struct LockOwner {
    qint64 pid;
    bool classic;  // a format the serial layer takes for stale, so judged here
};

// The process id of a lock file: a binary number of four bytes, or a first line whose first word
// is the number (ten characters wide, perhaps followed by the program and the user). Lock files of
// several lines are the serial layer's own.
std::optional<LockOwner> lockOwner(const QByteArray& content) {
    const bool binary =
        content.size() == 4 && std::any_of(content.begin(), content.end(),
                                           [](char c) { return c != ' ' && (c < '0' || c > '9'); });
    if (binary) {
        qint32 pid = 0;
        std::memcpy(&pid, content.constData(), sizeof pid);
        return LockOwner{pid, true};
    }
    const QList<QByteArray> lines = content.trimmed().split('\n');
    bool isNumber = false;
    const qint64 pid = lines.front().simplified().split(' ').value(0).toLongLong(&isNumber);
    return isNumber ? std::optional(LockOwner{pid, lines.size() == 1}) : std::nullopt;
}

std::optional<LockOwner> lockOwnerIn(const QString& file) {
    QFile lock(file);
    if (!QFileInfo(file).isFile() || !lock.open(QIODevice::ReadOnly)) return std::nullopt;
    return lockOwner(lock.read(4096));
}

bool processLives(qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString heldBy(qint64 pid, const QString& file) {
    return QStringLiteral("held by process %1 (lock file %2)").arg(pid).arg(file);
}

QString systemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString identityOf(const struct stat& status) {
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return QStringLiteral("%1%2-%3")
            .arg(QChar(S_ISCHR(status.st_mode) ? u'c' : u'b'))
            .arg(major(status.st_rdev))
            .arg(minor(status.st_rdev));
    return QStringLiteral("f%1-%2").arg(status.st_dev).arg(status.st_ino);
}

// Why the device could not be opened, told as the serial layer tells it.
CommError openError(const QString& name, const QString& device, int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return {CommError::NoSuchPort, name, systemText(error)};
        case EACCES:
        case EPERM:
            return {CommError::AccessDenied, name, systemText(error)};
        case EBUSY:  // opened exclusively by someone else
            return {CommError::PortInUse, name, holderDescription(device)};
        default:
            return {CommError::OpenFailed, name, systemText(error)};
    }
}

// Who holds the device-number lock `descriptor`, from the "PID NAME" its holder wrote into it.
QString numberLockHolder(int descriptor) {
    char content[4096];
    const ssize_t size = ::pread(descriptor, content, sizeof content, 0);
    const QString text = QString::fromUtf8(content, size > 0 ? size : 0).trimmed();
    const qsizetype space = text.indexOf(u' ');
    bool isNumber = false;
    const qint64 pid = text.left(space).toLongLong(&isNumber);
    if (space < 0 || !isNumber) return QStringLiteral("another Tessaly run holds it");
    if (pid == QCoreApplication::applicationPid())
        return QStringLiteral("it is open already in this program under the name %1")
            .arg(text.mid(space + 1));
    return QStringLiteral("another Tessaly run, process %1, holds it under the name %2")
        .arg(pid)
        .arg(text.mid(space + 1));
}

// Only names the holder for others: the lock holds without it.
void writeHolder(int descriptor, const QString& name) {
    const QByteArray holder =
        QByteArray::number(QCoreApplication::applicationPid()) + ' ' + name.toUtf8() + '\n';
    const bool written =
        ::ftruncate(descriptor, 0) == 0 &&
        ::pwrite(descriptor, holder.constData(), size_t(holder.size()), 0) == holder.size();
    Q_UNUSED(written);
}

bool sameFile(int descriptor, const QByteArray& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(descriptor, &held) == 0 && ::stat(path.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

QString deviceIdentity(const QString& device) {
    struct stat status {};
    if (::stat(QFile::encodeName(device).constData(), &status) != 0) return {};
    return identityOf(status);
}

bool sameDevice(const QString& first, const QString& second) {
    if (first == second) return true;
    const QString identity = deviceIdentity(first);
    return !identity.isEmpty() && identity == deviceIdentity(second);
}

QString lockFileOf(const QString& device) { return usableLockFile(lockFileCandidates(device)); }

QString holderOf(const QString& device) {
    for (const QString& file : lockFileCandidates(device)) {
        const std::optional<LockOwner> owner = lockOwnerIn(file);
        if (!owner || !owner->classic) continue;  // none, or the serial layer's own: it decides
        if (processLives(owner->pid)) return heldBy(owner->pid, file);
        QFile::remove(file);
    }
    return {};
}

QString holderDescription(const QString& device) {
    for (const QString& file : lockFileCandidates(device)) {
        const std::optional<LockOwner> owner = lockOwnerIn(file);
        if (owner && processLives(owner->pid)) return heldBy(owner->pid, file);
    }
    return QStringLiteral("no lock file names its holder");
}

QString lockFailure(const QString& device) {
    if (!holderOf(device).isEmpty()) return {};
    const QString file = lockFileOf(device);
    if (file.isEmpty()) return noLockDirectoryFor(device);
    const QByteArray directory = QFile::encodeName(QFileInfo(file).absolutePath());
    const int probe = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool usable = probe >= 0 && ::access(directory.constData(), W_OK) == 0;
    const int error = errno;
    if (probe >= 0) ::close(probe);
    if (!usable)
        return QStringLiteral("the lock file %1 cannot be made (%2)").arg(file, systemText(error));
    const std::optional<LockOwner> owner = lockOwnerIn(file);
    if (owner && owner->classic)
        return QStringLiteral("the lock file %1 of a process that has ended cannot be removed")
            .arg(file);
    return {};
}

void DeviceClaim::take(const QString& name, const QString& device) {
    release();
    try {
        claim(name, device);
    } catch (...) {
        release();
        throw;
    }
}

void DeviceClaim::claim(const QString& name, const QString& device) {
    const QByteArray path = QFile::encodeName(device);
    struct stat status {};
    if (::stat(path.constData(), &status) != 0) throw openError(name, device, errno);
    device_ = device;
    identity_ = identityOf(status);
    lockDeviceNumber(name);
    // Opening changes nothing on a line that is open already: the settings stay the holder's.
    deviceDescriptor_ = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (deviceDescriptor_ < 0) throw openError(name, device, errno);
    if (::flock(deviceDescriptor_, LOCK_EX | LOCK_NB) == 0) return;
    const int error = errno;
    if (error == EWOULDBLOCK)
        throw CommError(
            CommError::PortInUse, name,
            QStringLiteral("locked on the device itself; no lock file names its holder"));
    throw CommError(CommError::OpenFailed, name, systemText(error));
}

// A file beside the lock files, named after the device number, that holds "PID NAME" of its
// holder, who removes it again; one left by a process that ended is locked by nobody.
void DeviceClaim::lockDeviceNumber(const QString& name) {
    numberLockFile_ =
        usableLockFile(lockFileCandidatesNamed(QStringLiteral("tessaly-%1.lock").arg(identity_)));
    if (numberLockFile_.isEmpty())
        throw CommError(CommError::OpenFailed, name, noLockDirectoryFor(device_));
    const QByteArray path = QFile::encodeName(numberLockFile_);
    int error = 0;
    // A holder removing the file between our open and our lock leaves us a file nobody else
    // sees: then the one that replaced it counts. Each retry needs another holder to finish.
    for (int attempt = 0; attempt < 100 && error == 0; ++attempt) {
        int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        ownsNumberLock_ = descriptor >= 0;
        // Left by another user's run: it can be locked all the same, though not rewritten.
        if (descriptor < 0 && errno == EACCES)
            descriptor = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) {
            error = errno;
        } else if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            error = errno;
            const QString holder = error == EWOULDBLOCK ? numberLockHolder(descriptor) : QString();
            ::close(descriptor);
            if (!holder.isEmpty()) throw CommError(CommError::PortInUse, name, holder);
        } else if (sameFile(descriptor, path)) {
            numberLock_ = descriptor;
            if (ownsNumberLock_) writeHolder(descriptor, name);
            return;
        } else {
            ::close(descriptor);
        }
    }
    throw CommError(CommError::OpenFailed, name,
                    QStringLiteral("the lock file %1 cannot be made (%2)")
                        .arg(numberLockFile_, systemText(error ? error : EAGAIN)));
}

void DeviceClaim::release() {
    if (numberLock_ >= 0) {
        // Removed while still locked, so that nobody takes the lock of a file about to go.
        if (ownsNumberLock_) ::unlink(QFile::encodeName(numberLockFile_).constData());
        ::close(numberLock_);
    }
    // Only now: closing the device may free its number for a new pseudo-terminal at once, whose
    // opener would find the number still locked.
    if (deviceDescriptor_ >= 0) ::close(deviceDescriptor_);
    deviceDescriptor_ = numberLock_ = -1;
    ownsNumberLock_ = false;
    device_.clear();
    identity_.clear();
    numberLockFile_.clear();
}

QString DeviceClaim::lossCause() const {
    if (deviceDescriptor_ < 0) return {};
    if (deviceIdentity(device_) != identity_) return QStringLiteral("the device went away");
    pollfd state{deviceDescriptor_, POLLIN, 0};
    const bool hungUp = ::poll(&state, 1, 0) == 1 && (state.revents & POLLHUP) != 0;
    return hungUp ? QStringLiteral("the device hung up") : QString();
}

#else

// Ports here are exclusive to one opener, have one name each ("COM3", which is no path to
// resolve) and no lock files.
QString resolvedDevice(const QString& device) { return device; }
QString deviceIdentity(const QString& device) { return device; }
bool sameDevice(const QString& first, const QString& second) { return first == second; }
QString lockFileOf(const QString&) { return {}; }
QString holderOf(const QString&) { return {}; }
QString holderDescription(const QString&) { return {}; }
QString lockFailure(const QString&) { return {}; }
void DeviceClaim::take(const QString&, const QString&) {}
void DeviceClaim::release() {}
QString DeviceClaim::lossCause() const { return {}; }

#endif

}  // namespace tessaly::serial::port_ownership
