#include "dump/ImageDirectory.h"

#include <QDir>
#include <QFileInfo>

#include "dump/FileSystem.h"

namespace tessaly::dump {

namespace {

bool namesCurrentDirectory(const QString& directory) {
    return directory.isEmpty() || QDir::cleanPath(directory) == QStringLiteral(".");
}

// A deleted working directory has no name left to show.
QString described(const QString& directory, bool current) {
    if (!current)
        return QStringLiteral("the directory %1").arg(QDir::toNativeSeparators(directory));
    const QString path = QDir::currentPath();
    return path.isEmpty()
               ? QStringLiteral("the current directory")
               : QStringLiteral("the current directory (%1)").arg(QDir::toNativeSeparators(path));
}

QString whyUnusable(const QString& directory, bool current) {
    const QFileInfo info(current ? QStringLiteral(".") : directory);
    if (!info.exists()) return described(directory, current) + QStringLiteral(" does not exist");
    if (!info.isDir())
        return QStringLiteral("%1 is not a directory").arg(QDir::toNativeSeparators(directory));
    // Still there for whoever is inside it, but nothing can be created in it any more.
    if (platform::isDeleted(info.filePath()))
        return described(directory, current) + QStringLiteral(" has been deleted");
    const QString notWritable = platform::whyNotWritable(info.filePath());
    if (notWritable.isEmpty()) return {};
    return described(directory, current) + QStringLiteral(" is read-only (%1)").arg(notWritable);
}

}  // namespace

DirectoryCheck checkImageDirectory(const QString& directory) {
    const bool current = namesCurrentDirectory(directory);
    return DirectoryCheck(whyUnusable(directory, current), current);
}

}  // namespace tessaly::dump
