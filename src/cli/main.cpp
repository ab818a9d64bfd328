// tessaly-dump: the dump for scripts and workshops, through the same exchange and serial code as
// the window. One box prints the window's log on stdout; several are read at the same time.
// Every failure is one sentence on stderr.
#include <QCoreApplication>
#include <cstdio>

#include "Version.h"
#include "cli/Console.h"
#include "cli/DumpOptions.h"
#include "cli/DumpProgram.h"
#include "program/StandardDescriptors.h"
#include "program/StopSignals.h"

int main(int argc, char** argv) {
    tessaly::program::holdClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-dump"));
    QCoreApplication::setApplicationVersion(QLatin1StringView(tessaly::kVersionText));
    tessaly::program::ignoreSignalsOfFailedWrites();
    tessaly::cli::Console console(stdout, stderr);
    return console.finish(tessaly::cli::runDumpProgram(
        QCoreApplication::arguments(), tessaly::cli::describeNonUtf8Argument(argc, argv), console));
}
