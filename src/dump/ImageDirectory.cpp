#include "dump/ImageDirectory.h"

#include <QDir>
#include <QFileInfo>

#include "dump/platform/FileSystem.h"

namespace tessaly::dump {

DirectoryCheck checkImageDirectory(const QString& directory) {
    DirectoryCheck check{DirectoryCheck::Problem::None, QDir::toNativeSeparators(directory), {}};
    const QFileInfo info(directory);
    if (!info.exists())
        check.problem = DirectoryCheck::Problem::Missing;
    else if (!info.isDir())
        check.problem = DirectoryCheck::Problem::NotADirectory;
    else if (check.systemReason = platform::whyNotWritable(directory);
             !check.systemReason.isEmpty())
        check.problem = DirectoryCheck::Problem::NotWritable;
    return check;
}

QString DirectoryCheck::reason() const {
    switch (problem) {
        case Problem::None:
            break;
        case Problem::Missing:
            return QStringLiteral("the directory %1 does not exist").arg(directory);
        case Problem::NotADirectory:
            return QStringLiteral("%1 is not a directory").arg(directory);
        case Problem::NotWritable:
            return QStringLiteral("the directory %1 is read-only (%2)").arg(directory, systemReason);
    }
    return {};
}

}  // namespace tessaly::dump
