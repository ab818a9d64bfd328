#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>

#include "dump/DumpSession.h"
#include "window/PortList.h"

namespace tessaly::window {

class Form1;

// Drives the window's controls: Open starts a dump session, the one the command line runs, with
// one read and no wait limit; Close, the window's closing and a stop signal end it. What the
// session reports is shown in the log.
class DumpController : public QObject {
    Q_OBJECT
public:
    explicit DumpController(Form1& form);

    PortList& ports() { return ports_; }
    // Whether a dump holds the port open.
    bool portOpen() const { return session_ && session_->portOpen(); }

    // Close and the window's closing: ends the dump that holds the port open, if any, and always
    // returns the controls to the closed-link state.
    void closePort();

    // How long the box may stay silent in one wait before the log reminds the user of its mode.
    void setPatience(std::chrono::milliseconds patience) { patience_ = patience; }

    // The system asked the program to stop: a run ends as with Close, and the log says why.
    void interruptRun();

private:
    void openClicked();
    void sessionFinished(const dump::DumpSession::Result& result);
    void explainOpenFailure(const dump::DumpSession::Result& result);
    void remindOfHostMode();

    Form1& form_;
    PortList ports_;
    std::unique_ptr<dump::DumpSession> session_;  // the last one started
    QString imagePath_;

    // Each wait for the box that lasts longer than `patience_` earns one reminder in the log.
    QTimer silenceTimer_;
    std::chrono::milliseconds patience_{std::chrono::seconds(10)};
};

}  // namespace tessaly::window
