#include "window/DumpController.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "dump/DumpLog.h"
#include "dump/ImageCompare.h"
#include "dump/ImageFile.h"
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

// Why port `name` did not open: the two cases users meet most in few words, the rest with the
// system's own.
QString openFailureText(const QString& name, const serial::CommError& error) {
    if (error.number() == serial::CommError::NoSuchPort)
        return QStringLiteral("Serial port %1 not present.").arg(name);
    if (error.number() == serial::CommError::PortInUse)
        return QStringLiteral("%1 blocked by another application.").arg(name);
    QString text = QStringLiteral("Serial port %1 cannot be opened: %2.").arg(name, error.reason());
    if (error.number() == serial::CommError::AccessDenied)
        text += QStringLiteral("\n\n") + serial::accessDeniedHint();
    return text;
}

// The bytes that differ from the kept earlier image are marked in the listing, and the line
// about that image names the first of them.
void markChanges(const dump::StoredImage& image, QString& storedLines,
                 std::vector<LogStretch>& stretches) {
    if (image.differingOffsets.isEmpty()) return;
    for (const qsizetype offset : image.differingOffsets)
        stretches.push_back({listingPosition(offset), 2, LogMark::Change});
    const qsizetype countStart = storedLines.lastIndexOf(QLatin1Char('(')) + 1;
    const qsizetype countEnd = storedLines.lastIndexOf(QLatin1Char(')'));
    storedLines.replace(countStart, countEnd - countStart,
                        dump::differingBytesSummary(image.differingBytes, image.differingOffsets));
}

// The listing of a complete reply and what was saved; nothing for an incomplete one. A damaged
// dump stands out: its checksum error line and the checksum result line, which says so plainly.
void showResult(Form1& form, const dump::DumpRun::Result& result) {
    if (!result.reply) return;
    const QString listing = dump::dumpResultLog(result);
    QString stored = dump::storedImageLog(result.stored, *result.reply);
    std::vector<LogStretch> stretches;
    if (result.outcome == dump::DumpRun::Outcome::ChecksumMismatch) {
        const QLatin1StringView crcError(dump::kChecksumErrorLog);
        stretches.push_back(
            {listing.size() - crcError.size(), crcError.size() - 2, LogMark::Damage});
        if (result.stored.stored()) {
            stored.insert(stored.indexOf(kCrLf), damagedDumpNote(result.stored));
            stretches.push_back({listing.size(), stored.indexOf(kCrLf), LogMark::Damage});
        }
    }
    markChanges(result.stored, stored, stretches);
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    form.appendLog(listing + stored, stretches);
}

}  // namespace

DumpController::DumpController(Form1& form)
    : form_(form), dumpRun_(link_), ports_(*form.portList, form.seams().systemPorts) {
    connect(&dumpRun_, &dump::DumpRun::finished, this, &DumpController::dumpFinished);
    connect(&dumpRun_, &dump::DumpRun::progressed, this, &DumpController::noticeProgress);
    silenceTimer_.setSingleShot(true);
    connect(&silenceTimer_, &QTimer::timeout, this, &DumpController::remindOfHostMode);
    connect(form.openButton, &QPushButton::clicked, this, &DumpController::Command1_Click);
    connect(form.closeButton, &QPushButton::clicked, this, &DumpController::Command2_Click);
    connect(&form, &Form1::unloading, this, &DumpController::Form_Unload);
}

bool DumpController::OpenPort(const QString& device) {
    try {
        link_.open(device);
    } catch (const serial::CommError& error) {
        const QString name = ports_.portName(device, QStringLiteral("COM "));
        form_.showMessage(openFailureText(name, error), QStringLiteral("Error opening ") + name);
        return false;
    }
    if (!link_.isOpen()) {
        form_.appendLog(QStringLiteral("error opening ") +
                        ports_.portName(device, QStringLiteral("COM")) + kCrLf);
        return false;
    }
    form_.setLinkControls(true);
    form_.showLinkOpen(true);
    return true;
}

void DumpController::ClosePort() {
    if (link_.isOpen()) {
        form_.showLinkOpen(false);
        link_.close();
        form_.appendLog(QLatin1String(dump::kPortClosedLog));
    }
    form_.setLinkControls(false);
}

void DumpController::Command1_Click() {
    const QString target = form_.targetDirectory->text();
    // The folder is checked before the box is asked, so that a dump is never read only to be lost.
    QString refusal = target.isEmpty() ? QStringLiteral("Select a directory for saving data first.")
                                       : whyFolderCannotTakeImage(target);
    if (refusal.isEmpty()) refusal = ports_.takeTypedPort();
    if (!refusal.isEmpty()) {
        form_.showMessage(refusal, kErrorCaption);
        return;
    }
    if (!OpenPort(ports_.selectedDevice())) {
        ClosePort();
        return;
    }
    form_.replaceLog(QLatin1String(dump::kRequestLog));
    imagePath_ = dump::imagePathIn(target, QLatin1String(dump::kImageFileName));
    dumpRun_.start(imagePath_);
    awaited_ = dumpRun_.awaited();
    silenceTimer_.start(patience_);
}

void DumpController::Command2_Click() { ClosePort(); }

void DumpController::Form_Unload() {
    if (link_.isOpen()) ClosePort();
}

void DumpController::interruptRun() {
    if (!link_.isOpen()) return;
    form_.appendLog(QStringLiteral("Interrupted") + kCrLf);
    ClosePort();
}

void DumpController::dumpFinished(const dump::DumpRun::Result& result) {
    using Outcome = dump::DumpRun::Outcome;
    silenceTimer_.stop();
    if (result.outcome == Outcome::Cancelled) return;  // whoever closed the link is done already
    showResult(form_, result);
    if (result.outcome == Outcome::LinkLost)
        form_.appendLog(
            kCrLf +
            dump::linkLostSentence(ports_.portName(ports_.selectedDevice(), QStringLiteral("COM ")),
                                   result.detail) +
            kCrLf);
    if (!result.acknowledgementFailure.isEmpty())
        form_.appendLog(kCrLf +
                        QStringLiteral("The acknowledgement may not have reached the box: %1")
                            .arg(result.acknowledgementFailure) +
                        kCrLf);
    // A link that failed during the run, the acknowledgement's sending included, is closed
    // already: the lamp must not stay green.
    if (!link_.isOpen()) form_.showLinkOpen(false);
    // The port is released before a failure is explained, so that no box or lock waits on the
    // user reading it.
    ClosePort();
    if (result.outcome == Outcome::WriteFailed)
        form_.showMessage(QStringLiteral("The image could not be saved as %1: %2.")
                              .arg(imagePath_, result.detail),
                          kErrorCaption);
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
