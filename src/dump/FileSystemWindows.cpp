#include <windows.h>

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryFile>

#include "dump/FileSystem.h"

namespace tessaly::dump::platform {

// No locks on directories here: a session-wide mutex named after the directory.
DirectoryLock::DirectoryLock(const QString& directory) {
    const QByteArray key = QCryptographicHash::hash(
        QDir(directory).canonicalPath().toLower().toUtf8(), QCryptographicHash::Sha1);
    const QString name =
        QStringLiteral("Local\\tessaly-image-store-") + QString::fromLatin1(key.toHex());
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.toStdWString().c_str());
    if (mutex) WaitForSingleObject(mutex, INFINITE);
    handle_ = reinterpret_cast<qintptr>(mutex);
}

DirectoryLock::~DirectoryLock() {
    if (const auto mutex = reinterpret_cast<HANDLE>(handle_)) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
}

void DirectoryLock::syncEntries() const {}

bool syncToDisk(QFile& file) { return file.flush(); }

// Trying is the only answer that holds here: attributes say nothing about access lists or the
// way Windows guards the programs directory.
QString whyNotWritable(const QString& directory) {
    QTemporaryFile probe(QDir(directory).filePath(QStringLiteral(".tessaly-probe-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

// Windows refuses to remove a directory that a process works in.
bool isDeleted(const QString&) { return false; }

bool isPlantedLink(const QString&) { return false; }

Linking linkFile(const QString&, const QString&) { return Linking::Unsupported; }

QString replaceFile(const QString& from, const QString& to) {
    return MoveFileExW(from.toStdWString().c_str(), to.toStdWString().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? QString()
               : qt_error_string(int(GetLastError()));
}

}  // namespace tessaly::dump::platform
