#pragma once

#include <QList>
#include <QString>

#include "cli/DumpOptions.h"
#include "cli/DumpReport.h"

namespace tessaly::cli {

// The boxes to read and where each image goes, checked before any box is asked for anything;
// or else why the command cannot start and the status to end with.
struct TargetPlan {
    QList<PortTarget> targets;
    QString failure;
    int exitStatus = 0;
};

// `simulatedDevice` stands for the ports when the built-in box is used.
TargetPlan planTargets(const DumpOptions& options, const QString& simulatedDevice);

}  // namespace tessaly::cli
