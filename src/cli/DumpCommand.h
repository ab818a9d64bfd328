#pragma once

#include <QList>
#include <QObject>
#include <memory>
#include <vector>

#include "cli/Console.h"
#include "cli/DumpOptions.h"
#include "cli/DumpReport.h"
#include "cli/ExitStatus.h"
#include "dump/DumpSession.h"

namespace tessaly::cli {

// Reads every named box at the same time, one session each on the running event loop, and
// reports each as it ends; ended() carries the status for the whole command.
class DumpCommand : public QObject {
    Q_OBJECT
public:
    DumpCommand(const DumpOptions& options, QList<PortTarget> targets, Console& console);

    void start();
    // A stop signal: every session still running ends the way Close ends it.
    void stop(int exitStatus);

signals:
    void ended(int exitStatus);

private:
    bool single() const { return targets_.size() == 1; }
    void sessionFinished(qsizetype index, const dump::DumpSession::Result& result);
    // Returns the box's exit status.
    int report(const PortTarget& target, const dump::DumpSession::Result& result,
               const dump::ResultTexts& texts);

    const DumpOptions options_;
    const QList<PortTarget> targets_;
    Console& console_;
    std::vector<std::unique_ptr<dump::DumpSession>> sessions_;
    QList<dump::DumpSession::Result> results_;
    qsizetype running_ = 0;
    int status_ = kSavedAndVerified;
    int interruptStatus_ = 0;
};

}  // namespace tessaly::cli
