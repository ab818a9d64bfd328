#include "sim/PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tessaly::sim {

PseudoTerminal::PseudoTerminal() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") +
                                 std::strerror(errno));
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    devicePath_ = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal() {
    close();
    if (slave_ >= 0) ::close(slave_);
}

QByteArray PseudoTerminal::readAvailable() {
    QByteArray all;
    char chunk[4096];
    while (master_ >= 0) {
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0) break;
        all.append(chunk, n);
    }
    return all;
}

qsizetype PseudoTerminal::writeSome(const QByteArray& bytes) {
    if (master_ < 0 || bytes.isEmpty()) return 0;
    const ssize_t n = ::write(master_, bytes.constData(), size_t(bytes.size()));
    return n < 0 ? 0 : n;
}

qsizetype PseudoTerminal::unreadByProgram() const {
    int waiting = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &waiting) != 0) return 0;
    return waiting;
}

void PseudoTerminal::close() {
    if (master_ < 0) return;
    ::close(master_);
    master_ = -1;
}

}  // namespace tessaly::sim
