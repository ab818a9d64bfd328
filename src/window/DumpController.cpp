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

// Why port `name` did not open (`number` a serial::CommError number): the two cases users meet
// most in few words, the rest with the system's own.
QString openFailureText(const QString& name, int number, const QString& reason) {
    if (number == serial::CommError::NoSuchPort)
        return QStringLiteral("Serial port %1 not present.").arg(name);
    if (number == serial::CommError::PortInUse)
        return QStringLiteral("%1 blocked by another application.").arg(name);
    QString text = QStringLiteral("Serial port %1 cannot be opened: %2.").arg(name, reason);
    if (number == serial::CommError::AccessDenied)
        text += QStringLiteral("\n\n") + serial::accessDeniedHint();
    return text;
}

}  // namespace

DumpController::DumpController(Form1& form)
    : form_(form), ports_(*form.portList, form.seams().systemPorts) {
    silenceTimer_.setSingleShot(true);
    connect(&silenceTimer_, &QTimer::timeout, this, &DumpController::remindOfHostMode);
    connect(form.openButton, &QPushButton::clicked, this, &DumpController::openClicked);
    connect(form.closeButton, &QPushButton::clicked, this, &DumpController::closePort);
    connect(&form, &Form1::unloading, this, &DumpController::closePort);
}

void DumpController::closePort() {
    if (portOpen()) {
        form_.showLinkOpen(false);
        // The session takes the closed port for a cancel; a reply that is complete already is
        // still stored and shown when that is done.
        session_->interrupt();
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
    imagePath_ = dump::imagePathIn(target, QLatin1String(dump::kImageFileName));
    session_ = std::make_unique<dump::DumpSession>(
        dump::DumpSession::Options{ports_.selectedDevice(), imagePath_});
    connect(session_.get(), &dump::DumpSession::portOpened, this, [this] {
        form_.setLinkControls(true);
        form_.showLinkOpen(true);
        form_.replaceLog(QLatin1String(dump::kRequestLog));
    });
    connect(&session_->run(), &dump::DumpRun::waitBegan, &silenceTimer_,
            [this] { silenceTimer_.start(patience_); });
    connect(session_.get(), &dump::DumpSession::finished, this, &DumpController::sessionFinished);
    session_->start();
}

void DumpController::interruptRun() {
    if (!portOpen()) return;
    form_.appendLog(QStringLiteral("Interrupted") + kCrLf);
    closePort();
}

void DumpController::sessionFinished(const dump::DumpSession::Result& result) {
    silenceTimer_.stop();
    if (result.outcome == dump::DumpSession::Outcome::PortNotOpened)
        return explainOpenFailure(result);
    const dump::ResultTexts texts =
        dump::resultTexts(result, ports_.portName(ports_.selectedDevice(), QStringLiteral("COM ")),
                          dump::Wording::Window);
    // One append for the whole listing: the log widget is slow to grow byte by byte.
    dump::MarkedLog log = texts.listing;
    log += texts.stored;
    for (const QString& sentence : {texts.linkLost, texts.acknowledgement})
        if (!sentence.isEmpty()) log.text += kCrLf + sentence + kCrLf;
    if (!log.text.isEmpty()) form_.appendLog(log.text, log.stretches);
    // The lamp goes red whoever closed the port: the session at its end, a lost link or Close.
    form_.showLinkOpen(false);
    if (result.closedPortAtEnd) form_.appendLog(QLatin1String(dump::kPortClosedLog));
    form_.setLinkControls(false);
    // The port is released before a failure is explained, so that no box or lock waits on the
    // user reading it. Closed while its image was stored, a read still tells how that went.
    if (result.read.outcome == dump::DumpRun::Outcome::WriteFailed)
        form_.showMessage(QStringLiteral("The image could not be saved as %1: %2.")
                              .arg(imagePath_, result.read.detail),
                          kErrorCaption);
}

// Said in a message box, or in the log when the device failed as it was opened.
void DumpController::explainOpenFailure(const dump::DumpSession::Result& result) {
    const QString device = ports_.selectedDevice();
    const QString name = ports_.portName(device, QStringLiteral("COM "));
    if (result.openError == 0)
        form_.appendLog(QStringLiteral("error opening ") +
                        ports_.portName(device, QStringLiteral("COM")) + kCrLf);
    else
        form_.showMessage(openFailureText(name, result.openError, result.detail),
                          QStringLiteral("Error opening ") + name);
    form_.setLinkControls(false);
}

void DumpController::remindOfHostMode() {
    const dump::DumpRun& run = session_->run();
    if (!run.running()) return;
    form_.appendLog(QStringLiteral("The box has not answered yet; still waiting for %1 (%2). "
                                   "Check that the box is in \"HOST - MODE\".")
                        .arg(run.awaited(), dump::arrivalsText(run.arrivedInWait())) +
                    kCrLf);
}

}  // namespace tessaly::window
