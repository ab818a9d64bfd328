#include "window/TargetDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

#include "dump/ImageDirectory.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace tessaly::window {

namespace {

// Where the system keeps programs and itself. Root may write there and the package manager
// would never know of the image left behind.
QStringList systemFolders() {
#ifdef Q_OS_WIN
    QStringList folders;
    for (const char* variable :
         {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot", "ProgramData"})
        if (const QString folder = qEnvironmentVariable(variable); !folder.isEmpty())
            folders << QDir::fromNativeSeparators(folder);
    return folders;
#else
    // Not /var: some systems keep the users' homes there.
    return {"/usr", "/bin", "/sbin", "/lib",  "/lib32", "/lib64", "/libx32",
            "/opt", "/etc", "/boot", "/snap", "/nix",   "/gnu",   "/app"};
#endif
}

bool isInside(const QString& path, const QString& folder) {
#ifdef Q_OS_WIN
    constexpr Qt::CaseSensitivity kNames = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity kNames = Qt::CaseSensitive;
#endif
    return path.compare(folder, kNames) == 0 || path.startsWith(folder + '/', kNames);
}

// On Windows an administrator's files belong to the Administrators group, so ownership tells
// nothing there; another user's folder is not writable anyway.
bool belongsToUser([[maybe_unused]] const QFileInfo& folder) {
#ifdef Q_OS_WIN
    return true;
#else
    return folder.ownerId() == ::geteuid();
#endif
}

// Only a copy the user unpacked for themselves: an installed program's folder belongs to the
// system or to another user, and images there would mix with its files.
bool isUsersOwnFolder(const QString& directory) {
    const QFileInfo folder(directory);
    // Links resolved, so that /bin is known as /usr/bin and a link into home as what it is.
    const QString path = folder.canonicalFilePath();
    if (path.isEmpty() || !belongsToUser(folder)) return false;
    const QStringList system = systemFolders();
    return std::none_of(system.begin(), system.end(), [&path](const QString& systemFolder) {
        return isInside(path, systemFolder);
    });
}

}  // namespace

QString firstWritableDirectory(const QStringList& candidates) {
    for (const QString& directory : candidates)
        if (!directory.isEmpty() && dump::checkImageDirectory(directory).usable()) return directory;
    return {};
}

QString defaultTargetDirectory(const QString& programDirectory) {
    QStringList candidates{QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)};
    if (isUsersOwnFolder(programDirectory)) candidates.prepend(programDirectory);
    QString directory = firstWritableDirectory(candidates);
    if (directory.isEmpty()) directory = QDir::homePath();
    return QDir::toNativeSeparators(directory) + QDir::separator();
}

QString defaultTargetDirectory() {
    return defaultTargetDirectory(QCoreApplication::applicationDirPath());
}

QString whyFolderCannotTakeImage(const QString& target) {
    // Without its trailing separator, so that a file is called a file, not a missing folder.
    const QString folder =
        QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(target)));
    // Qt reads file names as UTF-8: bytes that are not come out as U+FFFD, and the name then
    // leads nowhere, though the folder is there.
    if (folder.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(folder))
        return QStringLiteral(
                   "The name of the folder %1 is not valid UTF-8, so Tessaly cannot reach it. "
                   "Rename the folder, or make a link to it with a plain name and choose the "
                   "link.")
            .arg(folder);
    const dump::DirectoryCheck check = dump::checkImageDirectory(folder);
    if (check.usable()) return {};
    return QStringLiteral("The image cannot be saved in the folder you chose: %1.")
        .arg(check.reason());
}

}  // namespace tessaly::window
