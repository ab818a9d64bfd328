#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "program/BoundedRead.h"

namespace tessaly::program {

namespace {

using Clock = std::chrono::steady_clock;

// Enough for a command feeding a pipe to start, connect and send an image; short enough that a
// FIFO nobody writes to is given up before the technician wonders what is going on.
constexpr std::chrono::seconds kPipePatience{10};

BoundedRead systemFailure() { return {{}, QString::fromLocal8Bit(std::strerror(errno))}; }

// A device may be a serial port in use or a terminal that never ends: it is not even opened.
QString refusalOf(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("it is a directory");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(mode)) return QStringLiteral("it is a socket, not a file");
    return {};
}

class OpenFile {
public:
    explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
    ~OpenFile() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int descriptor() const { return descriptor_; }

private:
    int descriptor_;
};

// Each piece is waited for with poll, so that a writer that stalls or never comes is given up at
// the deadline; a regular file is always ready and never meets it.
BoundedRead readUntilEnd(int descriptor, qint64 largest) {
    const Clock::time_point deadline = Clock::now() + kPipePatience;
    QByteArray bytes;
    char buffer[65536];
    while (bytes.size() <= largest) {
        pollfd readable{descriptor, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = ::poll(&readable, 1, int(std::max<qint64>(left.count(), 0)));
        if (ready == 0)
            return {{}, QStringLiteral("it did not end within %1 s").arg(kPipePatience.count())};
        const qint64 wanted = std::min<qint64>(sizeof buffer, largest + 1 - bytes.size());
        const ssize_t got = ready < 0 ? -1 : ::read(descriptor, buffer, size_t(wanted));
        if (got == 0) break;
        if (got > 0)
            bytes.append(buffer, qsizetype(got));
        else if (errno != EINTR && errno != EAGAIN)
            return systemFailure();
    }
    return {bytes, {}};
}

}  // namespace

BoundedRead readBounded(const QString& path, qint64 largest) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) return systemFailure();
    if (const QString refusal = refusalOf(status.st_mode); !refusal.isEmpty()) return {{}, refusal};
    // Not blocking, or opening a FIFO would wait for a writer without end.
    const OpenFile file(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.descriptor() < 0) return systemFailure();
    return readUntilEnd(file.descriptor(), largest);
}

}  // namespace tessaly::program
