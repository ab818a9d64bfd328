#include "window/DumpController.h"

#include <QLineEdit>
#include <QPushButton>

#include "dump/DumpLog.h"
#include "dump/ImageFile.h"
#include "serial/CommError.h"
#include "window/Form1.h"
#include "window/TargetDirectory.h"

namespace tessaly::window {

namespace {

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

}  // namespace

DumpController::DumpController(Form1& form)
    : form_(form), dumpRun_(link_), ports_(*form.portList, form.seams().systemPorts) {
    connect(&dumpRun_, &dump::DumpRun::finished, this, &DumpController::dumpFinished);
    connect(&dumpRun_, &dump::DumpRun::progressed, this, &DumpController::noticeProgress);
    silenceTimer_.setSingleShot(true);
    connect(&silenceTimer_, &QTimer::timeout, this, &DumpController::remindOfHostMode);
    connect(form.openButton, &QPushButton::clicked, this, &DumpController::openClicked);
    connect(form.closeButton, &QPushButton::clicked, this, &DumpController::closeClicked);
    connect(&form, &Form1::unloading, this, &DumpController::unloading);
}

bool DumpController::openPort(const QString& device) {
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

void DumpController::closePort() {
    if (link_.isOpen()) {
        form_.showLinkOpen(false);
        link_.close();
        form_.appendLog(QLatin1String(dump::kPortClosedLog));
    }
    form_.setLinkControls(false);
}

void DumpController::openClicked() {
    const QString target = form_.targetDirectory->text();
    // The folder is checked before the box is asked, so that a dump is never read only to be lost.
    QString refusal = target.isEmpty() ? QStringLiteral("Select a directory for saving data first.")
                                       : whyFolderCannotTakeImage(target);
    if (refusal.isEmpty()) refusal = ports_.takeTypedPort();
    if (!refusal.isEmpty()) {
        form_.showMessage(refusal, kErrorCaption);
        return;
    }
    if (!openPort(ports_.selectedDevice())) {
        closePort();
        return;
    }
    form_.replaceLog(QLatin1String(dump::kRequestLog));
    imagePath_ = dump::imagePathIn(target, QLatin1String(dump::kImageFileName));
    dumpRun_.start(imagePath_);
    awaited_ = dumpRun_.awaited();
    silenceTimer_.start(patience_);
}

void DumpController::closeClicked() { closePort(); }

void DumpController::unloading() {
    if (link_.isOpen()) closePort();
}

void DumpController::interruptRun() {
    if (!link_.isOpen()) return;
    form_.appendLog(QStringLiteral("Interrupted") + kCrLf);
    closePort();
}

void DumpController::dumpFinished(const dump::DumpRun::Result& result) {
    using Outcome = dump::DumpRun::Outcome;
    silenceTimer_.stop();
    if (result.outcome == Outcome::Cancelled) return;  // whoever closed the link is done already
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    if (result.reply) {
        dump::MarkedLog log = dump::dumpResultLog(result, result.stored);
        log += dump::storedImageLog(result.stored, *result.reply, dump::Wording::Window);
        form_.appendLog(log.text, log.stretches);
    }
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
    closePort();
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
