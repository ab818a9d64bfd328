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


void checkDirectory(const QString& directory, const QString& fileName) {
    using Problem = dump::DirectoryCheck::Problem;
    const dump::DirectoryCheck check = dump::checkImageDirectory(directory);
    QString problem;
    if (check.problem == Problem::Missing)
        problem = QStringLiteral("The directory %1 does not exist");
    else if (check.problem == Problem::NotADirectory)
        problem = QStringLiteral("%1 is not a directory");
    else if (check.problem == Problem::NotWritable)
        problem = QStringLiteral("The directory %1 is not writable");
    if (!problem.isEmpty())
        throw Refusal{problem.arg(check.directory) +
                          QStringLiteral("; %1 cannot be saved there.").arg(fileName),
                      kLinkOrFileFailed};
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

PortTarget targetFor(const QString& given) {
    PortTarget target;
    target.given = given;
    target.device = devicePathFor(given);
    // Resolved as the serial layer resolves it when opening, so the same names count as one.
    target.resolved = serial::port_ownership::resolvedDevice(target.device);
    target.name = directoryNameFor(target.device);
    return target;
}

void refuseDevicesNamedTwice(const QList<PortTarget>& targets) {
    for (qsizetype i = 0; i < targets.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (targets[i].resolved == targets[j].resolved)
                throw Refusal{
                    QStringLiteral("\"%1\" and \"%2\" are the same device (%3); name each box "
                                   "once. Try --help.")
                        .arg(targets[j].given, targets[i].given, targets[i].resolved),
                    kBadUsage};
}

// One box: DIRECTORY/EEPROM.bin or the file named by --output; several: DIRECTORY/NAME/EEPROM.bin.
void placeImages(const DumpOptions& options, QList<PortTarget>& targets) {
    const QString imageName = QLatin1StringView(dump::kImageFileName);
    if (!options.outputFile.isEmpty()) {
        const QFileInfo output(options.outputFile);
        checkDirectory(output.absolutePath(), output.fileName());
        targets.front().imagePath = QDir::toNativeSeparators(options.outputFile);
        return;
    }
    checkDirectory(options.directory, imageName);
    if (targets.size() == 1) {
        targets.front().imagePath = dump::imagePathIn(options.directory, imageName);
        return;
    }
    for (PortTarget& target : targets) placeInBoxDirectory(options.directory, target);
}

}  // namespace

QList<PortTarget> planTargets(const DumpOptions& options, const QString& simulatedDevice) {
    QList<PortTarget> targets;
    for (const QString& port : options.simulate ? QStringList{simulatedDevice} : options.ports)
        targets.append(targetFor(port));
    refuseDevicesNamedTwice(targets);
    placeImages(options, targets);
    return targets;
}

}  // namespace tessaly::cli
