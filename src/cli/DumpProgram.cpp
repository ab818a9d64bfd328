#include "cli/DumpProgram.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/DumpCommand.h"
#include "cli/DumpOptions.h"
#include "cli/DumpTargets.h"
#include "cli/ExitStatus.h"
#include "cli/PortNames.h"
#include "program/StopSignals.h"
#include "sim/BoxBehaviour.h"
#include "sim/BuiltInBox.h"

namespace tessaly::cli {

namespace {

// The box behind --simulate, or the status to end with when it cannot be had.
std::optional<int> startSimulatedBox(const DumpOptions& options, Console& console,
                                     std::unique_ptr<sim::BuiltInBox>& box) {
    try {
        box = sim::startBuiltInBox(sim::boxBehaviourFrom(options.boxBehaviour));
    } catch (const std::invalid_argument& error) {
        console.error(QString::fromUtf8(error.what()) + QStringLiteral(". Try --help."));
        return kBadUsage;
    } catch (const std::runtime_error& error) {
        console.error(QStringLiteral("The simulated box cannot be started: %1.")
                          .arg(QString::fromLocal8Bit(error.what())));
        return kPortNotOpened;
    }
    return std::nullopt;
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
        console.error(QString::fromLocal8Bit(error.what()) + '.');
        return kPortNotOpened;
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
    std::unique_ptr<sim::BuiltInBox> box;
    if (options.simulate)
        if (const std::optional<int> failed = startSimulatedBox(options, console, box))
            return *failed;
    const TargetPlan plan = planTargets(options, box ? box->devicePath() : QString());
    if (!plan.failure.isEmpty()) {
        console.error(plan.failure);
        return plan.exitStatus;
    }
    return readBoxes(options, plan.targets, console);
}

}  // namespace tessaly::cli
