#include "cli/DumpProgram.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "cli/DumpCommand.h"
#include "cli/DumpOptions.h"
#include "cli/DumpTargets.h"
#include "cli/ExitStatus.h"
#include "cli/PortNames.h"
#include "program/StopSignals.h"
#include "sim/BoxBehaviour.h"
#include "sim/InProcessBox.h"

namespace tessaly::cli {

namespace {

// The box behind --simulate; throws a Refusal when it cannot be had.
std::unique_ptr<sim::InProcessBox> startSimulatedBox(const DumpOptions& options) {
    try {
        return std::make_unique<sim::InProcessBox>(sim::boxBehaviourFrom(options.boxBehaviour));
    } catch (const std::invalid_argument& error) {
        throw Refusal{QString::fromUtf8(error.what()) + QStringLiteral(". Try --help."), kBadUsage};
    } catch (const std::runtime_error& error) {
        throw Refusal{QStringLiteral("The simulated box cannot be started: %1.")
                          .arg(QString::fromLocal8Bit(error.what())),
                      kPortNotOpened};
    }
}

// Runs the command on the event loop until every box is done or a stop signal has ended it.
int readBoxes(const DumpOptions& options, const QList<PortTarget>& targets, Console& console) {
    DumpCommand command(options, targets, console);
    try {
        program::StopSignals stopSignals;
        QObject::connect(&stopSignals, &program::StopSignals::stopRequested, &command,
                         &DumpCommand::stop);
        QObject::connect(&command, &DumpCommand::ended, &command, &QCoreApplication::exit);
        QTimer::singleShot(0, &command, &DumpCommand::start);
        return QCoreApplication::exec();
    } catch (const std::runtime_error& error) {
        throw Refusal{QString::fromLocal8Bit(error.what()) + '.', kPortNotOpened};
    }
}

}  // namespace

int runDumpProgram(const QStringList& arguments, const QString& nonUtf8Argument, Console& console) {
    const CommandLine line = parseCommandLine(arguments);
    if (!line.options) {
        if (line.exitStatus == kSavedAndVerified)
            console.print(line.text);
        else
            console.usageError(line.text);
        return line.exitStatus;
    }
    const DumpOptions& options = *line.options;
    console.setMode(options.json, options.quiet, options.simulate || options.ports.size() == 1);
    if (!nonUtf8Argument.isEmpty()) {
        console.error(nonUtf8Argument);
        return kBadUsage;
    }
    if (options.listPorts) {
        console.print(portListing(options.json));
        return kSavedAndVerified;
    }
    try {
        // Outlives the command, whose link is open to it.
        const std::unique_ptr<sim::InProcessBox> box =
            options.simulate ? startSimulatedBox(options) : nullptr;
        return readBoxes(options, planTargets(options, box ? box->devicePath() : QString()),
                         console);
    } catch (const Refusal& refusal) {
        console.error(refusal.sentence);
        return refusal.exitStatus;
    }
}

}  // namespace tessaly::cli
