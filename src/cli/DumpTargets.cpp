#include "cli/DumpTargets.h"

#include <QDir>
#include <QFileInfo>

#include "cli/ExitStatus.h"
#include "cli/PortNames.h"
#include "dump/DumpLog.h"
#include "dump/ImageDirectory.h"
#include "dump/ImageFile.h"
#include "serial/PortOwnership.h"

namespace tessaly::cli {

namespace {

// The one check the image store makes too, worded for the command line; `elsewhere` is how the
// option names a directory other than the current one.
void checkDirectory(const QString& directory, const QString& fileName, const char* elsewhere) {
    const dump::DirectoryCheck check = dump::checkImageDirectory(directory);
    if (check.usable()) return;
    QString reason = check.reason();
    reason[0] = reason[0].toUpper();
    const QString wayOut = check.current()
                               ? QStringLiteral("cd to a directory you can write to, or give %1")
                                     .arg(QLatin1StringView(elsewhere))
                               : QStringLiteral("%1 cannot be saved there").arg(fileName);
    throw Refusal{reason + QStringLiteral("; ") + wayOut + '.', kLinkOrFileFailed};
}

// Created as needed; noted, so that it can go again when nothing was saved in it.
void placeInBoxDirectory(const QString& directory, PortTarget& target) {
    const QString path = QDir(directory).filePath(target.name);
    if (!QFileInfo(path).isDir()) target.createdDirectory = path;
    if (!QDir().mkpath(path))
        throw Refusal{QStringLiteral("The directory %1 cannot be created.")
                          .arg(QDir::toNativeSeparators(path)),
                      kLinkOrFileFailed};
    target.imagePath = dump::imagePathIn(path, QLatin1StringView(dump::kImageFileName));
}

// Two names for one device would lock each other out; two boxes in one folder would write over
// each other's image.
void refuseClashes(const QList<PortTarget>& targets) {
    for (qsizetype i = 0; i < targets.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            const PortTarget& first = targets[j];
            const PortTarget& second = targets[i];
            if (serial::port_ownership::sameDevice(first.resolved, second.resolved))
                throw usageError(
                    QStringLiteral("\"%1\" and \"%2\" are the same device (%3); name each box once")
                        .arg(first.given, second.given, first.resolved));
            // Folders may be case-blind (Windows, a memory stick).
            if (second.name.compare(first.name, Qt::CaseInsensitive) == 0)
                throw usageError(QStringLiteral("\"%1\" and \"%2\" would share the folder %3; "
                                                "name one of them through a link")
                                     .arg(first.given, second.given, second.name));
        }
    }
}

// One box: DIRECTORY/EEPROM.bin or the file named by --output; several: DIRECTORY/NAME/EEPROM.bin.
void placeImages(const DumpOptions& options, QList<PortTarget>& targets) {
    const QString imageName = QLatin1StringView(dump::kImageFileName);
    if (!options.outputFile.isEmpty()) {
        const QFileInfo output(options.outputFile);
        if (output.isDir() || output.fileName().isEmpty())
            throw Refusal{QStringLiteral("%1 is a directory; --output names the image file itself.")
                              .arg(QDir::toNativeSeparators(options.outputFile)),
                          kLinkOrFileFailed};
        checkDirectory(output.absolutePath(), output.fileName(), "--output a full path");
        targets.front().imagePath = QDir::toNativeSeparators(options.outputFile);
        return;
    }
    checkDirectory(options.directory, imageName, "--dir");
    if (targets.size() == 1) {
        targets.front().imagePath = dump::imagePathIn(options.directory, imageName);
        return;
    }
    for (PortTarget& target : targets) placeInBoxDirectory(options.directory, target);
}

}  // namespace

QList<PortTarget> planTargets(const DumpOptions& options, const QString& simulatedDevice) {
    QList<PortTarget> targets;
    for (const QString& port : options.simulate ? QStringList{simulatedDevice} : options.ports) {
        PortTarget& target = targets.emplace_back();
        target.given = port;
        target.device = devicePathFor(port);
        // Resolved as the serial layer resolves it when opening, so the same names count as one.
        target.resolved = serial::port_ownership::resolvedDevice(target.device);
        target.name = directoryNameFor(target.device);
    }
    refuseClashes(targets);
    placeImages(options, targets);
    return targets;
}

}  // namespace tessaly::cli
