#include "window/TargetDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "dump/ImageDirectory.h"

namespace tessaly::window {

QString firstWritableDirectory(const QStringList& candidates) {
    for (const QString& directory : candidates)
        if (!directory.isEmpty() && dump::checkImageDirectory(directory).usable()) return directory;
    return {};
}

QString defaultTargetDirectory() {
    QString directory = firstWritableDirectory(
        {QCoreApplication::applicationDirPath(),
         QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)});
    if (directory.isEmpty()) directory = QDir::homePath();
    return QDir::toNativeSeparators(directory) + QDir::separator();
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
