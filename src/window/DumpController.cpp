#include "window/DumpController.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <algorithm>

#include "dump/DumpLog.h"
#include "dump/DumpProtocol.h"
#include "dump/ImageCompare.h"
#include "serial/CommError.h"
#include "window/Form1.h"
#include "window/TargetDirectory.h"

namespace tessaly::window {

namespace {

// Ends the checksum result line of a damaged dump, so that nobody takes the file for a backup.
QString damagedDumpNote(const dump::StoredImage& stored) {
    QString note = QStringLiteral(": the file holds a damaged dump");
    if (!stored.keptAs.isEmpty())
        note += QStringLiteral(", the earlier image is kept as %1")
                    .arg(QFileInfo(stored.keptAs).fileName());
    return note;
}

// Where byte `offset` stands in the listing: each line of 16 starts with CR LF, each byte is two
// hex digits and a space.
qsizetype listingPosition(qsizetype offset) { return offset * 3 + (offset / 16 + 1) * 2; }

}  // namespace

DumpController::DumpController(Form1& form, QObject* parent)
    : QObject(parent),
      form_(form),
      dumpRun_(MSComm1),
      ports_(*form.portList, MSComm1, form.seams().systemPorts) {
    dump::setUpLinkForBox(MSComm1);
    connect(&dumpRun_, &dump::DumpRun::finished, this, &DumpController::dumpFinished);
    connect(&dumpRun_, &dump::DumpRun::progressed, this, &DumpController::noticeProgress);
    silenceTimer_.setSingleShot(true);
    connect(&silenceTimer_, &QTimer::timeout, this, &DumpController::remindOfHostMode);
    connect(form.openButton, &QPushButton::clicked, this, &DumpController::Command1_Click);
    connect(form.closeButton, &QPushButton::clicked, this, &DumpController::Command2_Click);
    connect(&form, &Form1::unloading, this, &DumpController::Form_Unload);
}

bool DumpController::OpenPort(int port) {
    try {
        MSComm1.setCommPort(port);
        MSComm1.setPortOpen(true);
    } catch (const serial::CommError& error) {
        reportOpenFailure(port, error);
        return false;
    }
    if (!MSComm1.PortOpen()) {
        form_.appendLog(QStringLiteral("error opening ") +
                        ports_.portName(port, QStringLiteral("COM")) + kCrLf);
        return false;
    }
    form_.setLinkControls(true);
    form_.showLinkOpen(true);
    return true;
}

void DumpController::reportOpenFailure(int port, const serial::CommError& error) {
    const QString name = ports_.portName(port, QStringLiteral("COM "));
    const QString caption = QStringLiteral("Error opening ") + name;
    switch (error.number()) {
        case serial::CommError::NoSuchPort:
            form_.showMessage(QStringLiteral("Serial port %1 not present.").arg(name), caption);
            return;
        case serial::CommError::PortInUse:
            form_.showMessage(QStringLiteral("%1 blocked by another application.").arg(name),
                              caption);
            return;
        default:
            break;
    }
    QString text = QStringLiteral("Serial port %1 cannot be opened: %2.").arg(name, error.reason());
    if (error.number() == serial::CommError::AccessDenied)
        text += QStringLiteral("\n\n") + serial::accessDeniedHint();
    form_.showMessage(text, caption);
}

void DumpController::ClosePort(int) {
    if (MSComm1.PortOpen()) {
        form_.showLinkOpen(false);
        MSComm1.setPortOpen(false);
        form_.appendLog(QLatin1String(dump::kPortClosedLog));
    }
    form_.setLinkControls(false);
}

void DumpController::Command1_Click() {
    if (form_.targetDirectory->text().isEmpty()) {
        form_.showMessage(QStringLiteral("Select a directory for saving data first."),
                          kErrorCaption);
        return;
    }
    // Checked before the box is asked, so that a dump is never read only to be lost.
    if (const QString problem = whyFolderCannotTakeImage(form_.targetDirectory->text());
        !problem.isEmpty()) {
        form_.showMessage(problem, kErrorCaption);
        return;
    }
    if (const QString refusal = ports_.takeTypedPort(); !refusal.isEmpty()) {
        form_.showMessage(refusal, kErrorCaption);
        return;
    }
    if (!OpenPort(ports_.selectedPort())) {
        ClosePort(ports_.selectedPort());
        return;
    }
    form_.replaceLog(QLatin1String(dump::kRequestLog));
    imagePath_ =
        dump::imagePathIn(form_.targetDirectory->text(), QLatin1String(dump::kImageFileName));
    dumpRun_.start(imagePath_);
    awaited_ = dumpRun_.awaited();
    silenceTimer_.start(patience_);
}

void DumpController::Command2_Click() { ClosePort(ports_.selectedPort()); }

void DumpController::Form_Unload() {
    if (MSComm1.PortOpen()) ClosePort(ports_.selectedPort());
}

void DumpController::interruptRun() {
    if (!MSComm1.PortOpen()) return;
    form_.appendLog(QStringLiteral("Interrupted") + kCrLf);
    ClosePort(ports_.selectedPort());
}

void DumpController::dumpFinished(const dump::DumpRun::Result& result) {
    using Outcome = dump::DumpRun::Outcome;
    silenceTimer_.stop();
    if (result.outcome == Outcome::Cancelled) return;  // whoever closed the link is done already
    showResult(result);
    if (result.outcome == Outcome::LinkLost)
        form_.appendLog(kCrLf +
                        dump::linkLostSentence(
                            ports_.portName(ports_.selectedPort(), QStringLiteral("COM ")),
                            result.detail) +
                        kCrLf);
    if (!result.acknowledgementFailure.isEmpty())
        form_.appendLog(kCrLf +
                        QStringLiteral("The acknowledgement may not have reached the box: %1")
                            .arg(result.acknowledgementFailure) +
                        kCrLf);
    // A link that failed during the run, the acknowledgement's sending included, is closed
    // already: the lamp must not stay green.
    if (!MSComm1.PortOpen()) form_.showLinkOpen(false);
    // The port is released before a failure is explained, so that no box or lock waits on the
    // user reading it.
    ClosePort(ports_.selectedPort());
    if (result.outcome == Outcome::WriteFailed)
        form_.showMessage(QStringLiteral("The image could not be saved as %1: %2.")
                              .arg(imagePath_, result.detail),
                          kErrorCaption);
}

// The listing of a complete reply and what was saved; nothing for an incomplete one. A damaged
// dump stands out: its checksum error line and the checksum result line, which says so plainly.
void DumpController::showResult(const dump::DumpRun::Result& result) {
    if (!result.reply) return;
    const QString listing = dump::dumpResultLog(result);
    QString stored = dump::storedImageLog(result.stored, *result.reply);
    std::vector<LogStretch> stretches;
    if (result.outcome == dump::DumpRun::Outcome::ChecksumMismatch) {
        const QLatin1StringView crcError(dump::kChecksumErrorLog);
        stretches.push_back(
            {listing.size() - crcError.size(), crcError.size() - 2, LogMark::Damage});
        if (result.stored.stored()) {
            const qsizetype lineEnd = stored.indexOf(kCrLf);
            stored.insert(lineEnd, damagedDumpNote(result.stored));
            stretches.push_back({listing.size(), stored.indexOf(kCrLf), LogMark::Damage});
        }
    }
    markChanges(result.stored, stored, stretches);
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    form_.appendLog(listing + stored, stretches);
}

// The bytes that differ from the kept earlier image are marked in the listing, and the line
// about that image names the first of them.
void DumpController::markChanges(const dump::StoredImage& image, QString& storedLines,
                                 std::vector<LogStretch>& stretches) {
    if (image.differingOffsets.isEmpty()) return;
    for (const qsizetype offset : image.differingOffsets)
        stretches.push_back({listingPosition(offset), 2, LogMark::Change});
    const qsizetype countStart = storedLines.lastIndexOf(QLatin1Char('(')) + 1;
    const qsizetype countEnd = storedLines.lastIndexOf(QLatin1Char(')'));
    storedLines.replace(countStart, countEnd - countStart,
                        dump::differingBytesSummary(image.differingBytes, image.differingOffsets));
}

// Only a new wait earns a new reminder: bytes that do not move the exchange on, noise for
// instance, must not keep it from coming.
void DumpController::noticeProgress() {
    if (dumpRun_.awaited() == awaited_) return;
    awaited_ = dumpRun_.awaited();
    silenceTimer_.start(patience_);
}

void DumpController::remindOfHostMode() {
    if (!dumpRun_.running()) return;
    form_.appendLog(QStringLiteral("The box has not answered yet; still waiting for %1 (%2). "
                                   "Check that the box is in \"HOST - MODE\".")
                        .arg(dumpRun_.awaited(), dump::arrivalsText(dumpRun_.arrivedInWait())) +
                    kCrLf);
}

}  // namespace tessaly::window
