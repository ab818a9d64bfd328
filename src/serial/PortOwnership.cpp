#include "serial/PortOwnership.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
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

// The lock files `device` may have (LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3) in
// the directories of serial programs, in the order the serial layer looks for its own.
QStringList lockFileCandidates(const QString& device) {
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name = QStringLiteral("LCK..") + name.replace(u'/', u'_');
    QStringList files;
    for (const char* directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"})
        files.append(QLatin1String(directory) + u'/' + name);
    return files;
}

// The process id of a lock file in one of the classic formats: a binary number of four bytes, or
// one line whose first word is the number (ten characters wide, perhaps followed by the program
// and the user). Lock files of several lines are the serial layer's own, which it judges itself.
std::optional<qint64> classicLockOwner(const QByteArray& content) {
    const bool binary =
        content.size() == 4 && std::any_of(content.begin(), content.end(),
                                           [](char c) { return c != ' ' && (c < '0' || c > '9'); });
    if (binary) {
        qint32 pid = 0;
        std::memcpy(&pid, content.constData(), sizeof pid);
        return pid;
    }
    const QByteArray line = content.trimmed();
    if (line.contains('\n')) return std::nullopt;
    bool isNumber = false;
    const qint64 pid = line.simplified().split(' ').value(0).toLongLong(&isNumber);
    return isNumber ? std::optional(pid) : std::nullopt;
}

std::optional<qint64> classicLockOwnerIn(const QString& file) {
    QFile lock(file);
    if (!QFileInfo(file).isFile() || !lock.open(QIODevice::ReadOnly)) return std::nullopt;
    return classicLockOwner(lock.read(4096));
}

bool processLives(qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

QString lockFileOf(const QString& device) {
    // The first lock directory we may read that holds the file already or lets us make it.
    for (const QString& file : lockFileCandidates(device)) {
        const QFileInfo directory(QFileInfo(file).path());
        if (directory.isReadable() && (QFileInfo::exists(file) || directory.isWritable()))
            return file;
    }
    return {};
}

QString holderOf(const QString& device) {
    for (const QString& file : lockFileCandidates(device)) {
        const std::optional<qint64> pid = classicLockOwnerIn(file);
        if (!pid) continue;  // none, or the serial layer's own: the open decides
        if (processLives(*pid))
            return QStringLiteral("held by process %1 (lock file %2)").arg(*pid).arg(file);
        QFile::remove(file);
    }
    return {};
}

QString lockFailure(const QString& device) {
    if (!holderOf(device).isEmpty()) return {};
    const QString file = lockFileOf(device);
    if (file.isEmpty())
        return QStringLiteral("no lock directory can be written for %1 (%2 and others)")
            .arg(device, QFileInfo(lockFileCandidates(device).front()).path());
    const QByteArray directory = QFile::encodeName(QFileInfo(file).absolutePath());
    const int probe = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool usable = probe >= 0 && ::access(directory.constData(), W_OK) == 0;
    const int error = errno;
    if (probe >= 0) ::close(probe);
    if (!usable)
        return QStringLiteral("the lock file %1 cannot be made (%2)")
            .arg(file, QString::fromLocal8Bit(std::strerror(error)));
    if (classicLockOwnerIn(file))
        return QStringLiteral("the lock file %1 of a process that has ended cannot be removed")
            .arg(file);
    return {};
}

#else

// Ports here are exclusive to one opener, have one name each ("COM3", which is no path to
// resolve) and no lock files.
QString resolvedDevice(const QString& device) { return device; }
QString lockFileOf(const QString&) { return {}; }
QString holderOf(const QString&) { return {}; }
QString lockFailure(const QString&) { return {}; }

#endif

}  // namespace tessaly::serial::port_ownership
