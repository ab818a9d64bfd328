#pragma once

#include <QString>
#include <QStringList>

#include "cli/Console.h"

namespace tessaly::cli {

// tessaly-dump from its arguments to its exit status: help, version and usage errors, the list of
// ports, or the boxes read on the event loop until each is done or a stop signal ended the run.
// `nonUtf8Argument` describes the first argument that is not valid UTF-8; empty when all are.
int runDumpProgram(const QStringList& arguments, const QString& nonUtf8Argument, Console& console);

}  // namespace tessaly::cli
