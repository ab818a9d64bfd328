#include "dump/ImageDirectory.h"

#include <QDir>
#include <QFileInfo>

#include "dump/platform/FileSystem.h"

namespace tessaly::dump {

DirectoryCheck checkImageDirectory(const QString& directory) {
    const QString shown = QDir::toNativeSeparators(directory);
    const QFileInfo info(directory);
    if (!info.exists())
        return DirectoryCheck(QStringLiteral("the directory %1 does not exist").arg(shown));
    if (!info.isDir()) return DirectoryCheck(QStringLiteral("%1 is not a directory").arg(shown));
    const QString notWritable = platform::whyNotWritable(directory);
    if (notWritable.isEmpty()) return DirectoryCheck({});
    return DirectoryCheck(
        QStringLiteral("the directory %1 is read-only (%2)").arg(shown, notWritable));
}

}  // namespace tessaly::dump
