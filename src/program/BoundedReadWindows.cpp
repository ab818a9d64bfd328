#include <windows.h>

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "program/BoundedRead.h"

namespace tessaly::program {

namespace {

// The system's sentence as a clause: callers end the sentence themselves.
BoundedRead systemFailure() {
    QString reason = qt_error_string(int(GetLastError())).trimmed();
    if (reason.endsWith(u'.')) reason.chop(1);
    return {{}, reason};
}

}  // namespace

// Files on disk only: a console, serial port or pipe can keep a read waiting without end, and an
// image file does not warrant the overlapped reads that would bound that wait.
BoundedRead readBounded(const QString& path, qint64 largest) {
    if (QFileInfo(path).isDir()) return {{}, QStringLiteral("it is a directory")};
    const HANDLE handle = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(),
                                      GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return systemFailure();
    const std::unique_ptr<void, decltype(&CloseHandle)> file(handle, &CloseHandle);
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return {{}, QStringLiteral("it is a device or a pipe, not a file")};
    QByteArray bytes(qsizetype(largest + 1), Qt::Uninitialized);
    qsizetype total = 0;
    DWORD got = 0;
    do {
        if (!ReadFile(handle, bytes.data() + total, DWORD(bytes.size() - total), &got, nullptr))
            return systemFailure();
        total += got;
    } while (got > 0 && total < bytes.size());
    bytes.truncate(total);
    return {bytes, {}};
}

}  // namespace tessaly::program
