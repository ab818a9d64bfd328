#include "window/TargetDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tessaly::window {

// Trying is the only answer that holds everywhere: permission bits say nothing about read-only
// mounts, access lists or the way Windows guards the programs directory.
QString firstWritableDirectory(const QStringList& candidates) {
    for (const QString& directory : candidates) {
        if (directory.isEmpty() || !QFileInfo(directory).isDir()) continue;
        QTemporaryFile probe(QDir(directory).filePath(QStringLiteral(".tessaly-probe-XXXXXX")));
        if (probe.open()) return directory;
    }
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
