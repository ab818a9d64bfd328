// tessaly-dump: the dump for scripts and workshops, through the same exchange and serial code as
// the window. One box prints the window's log on stdout; several are read at the same time.
// Every failure is one sentence on stderr.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "Version.h"
#include "cli/Console.h"
#include "cli/DumpCommand.h"
#include "cli/DumpOptions.h"
#include "cli/DumpTargets.h"
#include "cli/ExitStatus.h"
#include "cli/PortNames.h"
#include "program/StopSignals.h"
#include "sim/BoxBehaviour.h"
#include "sim/InProcessBox.h"

using namespace tessaly::cli;

namespace {

int endWith(const CommandLine& line) {
    std::fputs(line.text.toLocal8Bit().constData(), line.exitStatus == 0 ? stdout : stderr);
    if (line.exitStatus != 0) std::fputc('\n', stderr);
    return line.exitStatus;
}

// Runs the command on the event loop until every box is done or a stop signal has ended it.
int runUntilEnded(QCoreApplication& app, DumpCommand& command) {
    tessaly::program::StopSignals stopSignals;
    QObject::connect(&stopSignals, &tessaly::program::StopSignals::stopRequested, &command,
                     &DumpCommand::stop);
    QObject::connect(&command, &DumpCommand::ended, &app, &QCoreApplication::exit);
    QTimer::singleShot(0, &command, &DumpCommand::start);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-dump"));
    QCoreApplication::setApplicationVersion(QLatin1StringView(tessaly::kVersionText));
    tessaly::program::ignoreSignalsOfFailedWrites();

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    if (!line.options) return endWith(line);
    const DumpOptions& options = *line.options;
    const bool oneBox = options.simulate || options.ports.size() == 1;
    Console console(options.json, options.quiet, oneBox && stderrIsTerminal());
    if (const QString nonUtf8 = describeNonUtf8Argument(argc, argv); !nonUtf8.isEmpty()) {
        console.error(nonUtf8);
        return kBadUsage;
    }
    if (options.listPorts) {
        std::fputs(portListing(options.json).toLocal8Bit().constData(), stdout);
        return kSavedAndVerified;
    }

    std::unique_ptr<tessaly::sim::InProcessBox> box;
    try {
        if (options.simulate)
            box = std::make_unique<tessaly::sim::InProcessBox>(
                tessaly::sim::boxBehaviourFrom(options.boxBehaviour));
    } catch (const std::invalid_argument& error) {
        console.error(QString::fromUtf8(error.what()) + QStringLiteral(". Try --help."));
        return kBadUsage;
    } catch (const std::runtime_error& error) {
        console.error(QStringLiteral("The simulated box cannot be started: %1.")
                          .arg(QString::fromLocal8Bit(error.what())));
        return kPortNotOpened;
    }
    const TargetPlan plan = planTargets(options, box ? box->devicePath() : QString());
    if (!plan.failure.isEmpty()) {
        console.error(plan.failure);
        return plan.exitStatus;
    }
    DumpCommand command(options, plan.targets, console);
    try {
        return runUntilEnded(app, command);
    } catch (const std::runtime_error& error) {
        console.error(QString::fromLocal8Bit(error.what()) + '.');
        return kPortNotOpened;
    }
}
