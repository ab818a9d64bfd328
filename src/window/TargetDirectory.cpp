#include "window/TargetDirectory.h"

#include <QCoreApplication>
#include <QDir>
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

}  // namespace tessaly::window
