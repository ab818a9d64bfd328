#pragma once

#include <QList>
#include <QString>

#include "cli/DumpOptions.h"
#include "cli/DumpReport.h"

namespace tessaly::cli {

// The boxes to read and where each image goes, checked before any box is asked for anything;
// throws a Refusal that says why the command cannot start. `simulatedDevice` stands for the ports
// when the built-in box is used.
QList<PortTarget> planTargets(const DumpOptions& options, const QString& simulatedDevice);

}  // namespace tessaly::cli
