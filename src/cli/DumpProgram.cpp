#include "cli/DumpProgram.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "cli/DumpCommand.h"
#include "cli/DumpOptions.h"
#include "cli/DumpTargets.h"
#include "cli/ExitStatus.h"
#include "cli/ImageCommands.h"
#include "cli/PortCheck.h"
#include "cli/PortNames.h"
#include "dump/DumpSession.h"
#include "program/ProcessResources.h"
#include "program/StopSignals.h"
#include "sim/BoxBehaviour.h"
#include "sim/SimulatedBox.h"

namespace tessaly::cli {

namespace {

// The box behind --simulate; throws a Refusal when it cannot be had.
std::unique_ptr<sim::InProcessBox> startSimulatedBox(const DumpOptions& options) {
    try {
        return std::make_unique<sim::InProcessBox>(sim::boxBehaviourFrom(options.boxBehaviour));
    } catch (const std::invalid_argument& error) {
        throw usageError(QString::fromUtf8(error.what()));
    } catch (const std::runtime_error& error) {
        throw Refusal{QStringLiteral("The simulated box cannot be started: %1.")
                          .arg(QString::fromLocal8Bit(error.what())),
                      kPortNotOpened};
    }
}

// A run that runs out of descriptors half-way leaves boxes asked and unacknowledged, so all it
// will open is made sure of before any box is asked.
void requireDescriptors(qsizetype ports) {
    const int needed =
        program::StopSignals::kDescriptors + int(ports) * dump::DumpSession::kDescriptorsAtMost;
    const int spare = program::spareDescriptors(needed);
    if (spare >= needed) return;
    throw Refusal{QStringLiteral("Too few file descriptors are left for %1 port%2: %3 are needed "
                                 "and %4 can be opened; raise the limit (ulimit -n)%5.")
                      .arg(ports)
                      .arg(ports == 1 ? "" : "s")
                      .arg(needed)
                      .arg(spare)
                      .arg(ports == 1 ? "" : " or read fewer ports at once"),
                  kShortOfResources};
}

// Runs `task` on the event loop until it has ended or a stop signal has ended it.
template <typename Task>
int runUntilEnded(Task& task) {
    try {
        program::StopSignals stopSignals;
        QObject::connect(&stopSignals, &program::StopSignals::stopRequested, &task, &Task::stop);
        QObject::connect(&task, &Task::ended, &task, &QCoreApplication::exit);
        QTimer::singleShot(0, &task, &Task::start);
        return QCoreApplication::exec();
    } catch (const std::runtime_error& error) {
        throw Refusal{QString::fromLocal8Bit(error.what()) + '.', kPortNotOpened};
    }
}

int runWith(const DumpOptions& options, Console& console) {
    console.setMode(options.json, options.quiet, options.color);
    switch (options.task) {
        case Task::ListPorts:
            listPorts(options.json, console);
            return kSavedAndVerified;
        case Task::Compare:
            return compareImages(options.files[0], options.files[1], options.json, console);
        case Task::Show:
            return showImage(options.files[0], console);
        case Task::CheckPort: {
            requireDescriptors(1);
            PortCheck check(devicePathFor(options.ports.front()), console);
            return runUntilEnded(check);
        }
        case Task::Dump:
            break;
    }
    // The built-in box's timers count as its port's.
    requireDescriptors(options.simulate ? 1 : options.ports.size());
    // Outlives the command, whose link is open to it.
    const std::unique_ptr<sim::InProcessBox> box =
        options.simulate ? startSimulatedBox(options) : nullptr;
    DumpCommand command(options, planTargets(options, box ? box->devicePath() : QString()),
                        console);
    return runUntilEnded(command);
}

}  // namespace

int runDumpProgram(const QStringList& arguments, const QString& nonUtf8Argument, Console& console) {
    try {
        const auto line = parseCommandLine(arguments);
        if (const QString* text = std::get_if<QString>(&line)) {
            console.print(*text);
            return kSavedAndVerified;
        }
        if (!nonUtf8Argument.isEmpty()) throw usageError(nonUtf8Argument);
        return runWith(std::get<DumpOptions>(line), console);
    } catch (const Refusal& refusal) {
        console.error(refusal.sentence);
        return refusal.exitStatus;
    }
}

}  // namespace tessaly::cli
