#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include "dump/DumpLog.h"
#include "dump/DumpSession.h"

// What tessaly-dump tells people and scripts about each box.
namespace tessaly::cli {

// One box as the command line names it.
struct PortTarget {
    QString given;             // as on the command line
    QString device;            // the path the link opens
    QString resolved;          // the device behind links and aliases
    QString name;              // for the box's directory and its lines when there are several boxes
    QString imagePath;         // where its image goes
    QString createdDirectory;  // the box's directory when this run created it
};

// Why the port could not be opened (`openError` a serial::CommError number) and what to do.
QString openFailureSentence(const QString& device, int openError, const QString& detail);

// How one box's run ends for scripts, and the failure in one sentence that says what to check
// (empty for a verified save); `interruptStatus` is the status a stop signal asked for.
struct BoxVerdict {
    int exitStatus;
    QString failure;
};
BoxVerdict verdictOn(const PortTarget& target, const dump::DumpSession::Result& result,
                     const dump::ResultTexts& texts, int timeoutSeconds, int interruptStatus);

// The window's listing of the read that counts (`withListing`), then what became of the image:
// path, size, checksum, digest, whether two reads agreed or how many reads a mismatched checksum
// took; or why nothing was saved. Empty when no reply came.
dump::MarkedLog resultLog(const dump::DumpSession::Result& result, const dump::ResultTexts& texts,
                          bool verify, bool withListing);

// The line said as read `read` of at most `reads` is followed by another one, and why.
QString readingAgainLine(int read, int reads, dump::DumpSession::ReadAgain why);

QJsonObject jsonRecord(const PortTarget& target, const dump::DumpSession::Result& result,
                       const BoxVerdict& verdict);

// The closing table of a run with several boxes: port, outcome, SHA-256 prefix, seconds.
QString summaryTable(const QList<PortTarget>& targets,
                     const QList<dump::DumpSession::Result>& results);

}  // namespace tessaly::cli
