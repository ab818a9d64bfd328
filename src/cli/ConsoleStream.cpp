#include "cli/ConsoleStream.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>

#include <algorithm>
#else
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace tessaly::cli {

ConsoleStream::ConsoleStream(std::FILE* stream) : descriptor_(::fileno(stream)) {}

#ifdef Q_OS_WIN
namespace {

// A program started without a stream (from a service, or with its handle closed) has no
// descriptor for it: writes then fail as on an invalid handle.
HANDLE handleOf(int descriptor) {
    return descriptor < 0 ? INVALID_HANDLE_VALUE
                          : reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// A pipe's reader that went away shows as any of these, depending on when it went.
bool isReaderGone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
           error == ERROR_PIPE_NOT_CONNECTED;
}

WriteFailure lastFailure(bool partly) {
    const DWORD error = GetLastError();
    QString reason = qt_error_string(int(error)).trimmed();
    if (reason.endsWith(QLatin1Char('.'))) reason.chop(1);  // it stands within a sentence
    return {isReaderGone(error), partly, reason};
}

// Both write functions take a count and say how much went; one loop serves both.
template <typename Unit, typename WriteSome>
std::optional<WriteFailure> writeAll(const Unit* const start, qsizetype left, WriteSome writeSome) {
    for (const Unit* next = start; left > 0;) {
        DWORD written = 0;
        const auto count = DWORD(std::min<qsizetype>(left, 16384));
        if (!writeSome(next, count, &written)) return lastFailure(next != start);
        next += written;
        left -= written;
    }
    return std::nullopt;
}

}  // namespace

bool ConsoleStream::isTerminal() const { return isConsole(handleOf(descriptor_)); }

// Windows 10 consoles read escapes once asked to; older ones refuse, and then show none.
bool ConsoleStream::allowColor() const {
    const HANDLE handle = handleOf(descriptor_);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0 &&
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::optional<WriteFailure> ConsoleStream::write(const QString& text) const {
    const HANDLE handle = handleOf(descriptor_);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return lastFailure(false);
    }
    QString withLineEnds = text;
    withLineEnds.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    if (isConsole(handle)) {
        return writeAll(reinterpret_cast<const wchar_t*>(withLineEnds.utf16()), withLineEnds.size(),
                        [handle](const wchar_t* units, DWORD count, DWORD* written) {
                            return WriteConsoleW(handle, units, count, written, nullptr);
                        });
    }
    const QByteArray bytes = withLineEnds.toUtf8();
    return writeAll(bytes.constData(), bytes.size(),
                    [handle](const char* data, DWORD count, DWORD* written) {
                        return WriteFile(handle, data, count, written, nullptr);
                    });
}

#else

bool ConsoleStream::isTerminal() const { return ::isatty(descriptor_) != 0; }

bool ConsoleStream::allowColor() const { return isTerminal(); }

std::optional<WriteFailure> ConsoleStream::write(const QString& text) const {
    QString withLineEnds = text;
    const QByteArray bytes =
        withLineEnds.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toLocal8Bit();
    const char* next = bytes.constData();
    auto left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(descriptor_, next, left);
        if (written >= 0) {
            next += written;
            left -= size_t(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A stream left non-blocking by whoever started the program: wait until it takes more.
            pollfd ready{descriptor_, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            return WriteFailure{errno == EPIPE, next != bytes.constData(),
                                QString::fromLocal8Bit(std::strerror(errno))};
        }
    }
    return std::nullopt;
}

#endif

}  // namespace tessaly::cli
