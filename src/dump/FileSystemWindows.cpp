#include <io.h>
#include <windows.h>

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryFile>

#include "dump/FileSystem.h"

namespace tessaly::dump::platform {

namespace {

// What the disk would say of a step the watcher refused.
QString refused() { return qt_error_string(ERROR_WRITE_FAULT); }

}  // namespace

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

// The replacement was moved with write-through, so its entry is on the disk already.
QString DirectoryLock::syncEntries() const {
    return diskTakes(DiskStep::SyncDirectory) ? QString() : refused();
}

// Qt's flush only empties its own buffer; the system's cache goes to the disk here, so that a
// reported "saved" survives a power cut.
QString syncToDisk(QFile& file) {
    if (!file.flush()) return file.errorString();
    if (!diskTakes(DiskStep::SyncFile)) return refused();
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return FlushFileBuffers(handle) ? QString() : qt_error_string(int(GetLastError()));
}

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
    if (!diskTakes(DiskStep::ReplaceFile)) return refused();
    return MoveFileExW(from.toStdWString().c_str(), to.toStdWString().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? QString()
               : qt_error_string(int(GetLastError()));
}

}  // namespace tessaly::dump::platform
