#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

#include "dump/DumpRun.h"
#include "serial/SerialLink.h"
#include "window/PortList.h"

namespace tessaly::window {

class Form1;

// Drives the window's controls: owns the serial link and the dump run, opens and closes the
// port for Open, Close and the window's closing, and shows what the run reports in the log.
class DumpController : public QObject {
    Q_OBJECT
public:
    explicit DumpController(Form1& form);

    PortList& ports() { return ports_; }
    const serial::SerialLink& link() const { return link_; }

    // Opens the link on `device`, switching the controls to the open-link state; explains a
    // failure in a message box. True when the link is open afterwards.
    bool openPort(const QString& device);
    // Closes the link if it is open and always returns the controls to the closed-link state.
    void closePort();

    // How long the box may stay silent in one wait before the log reminds the user of its mode.
    void setPatience(std::chrono::milliseconds patience) { patience_ = patience; }

    // The system asked the program to stop: a run ends as with Close, and the log says why.
    void interruptRun();

private:
    void openClicked();
    void closeClicked();
    void unloading();
    void dumpFinished(const dump::DumpRun::Result& result);
    void noticeProgress();
    void remindOfHostMode();

    Form1& form_;
    serial::SerialLink link_;
    dump::DumpRun dumpRun_;
    PortList ports_;
    QString imagePath_;

    // Each wait for the box that lasts longer than `patience_` earns one reminder in the log.
    QTimer silenceTimer_;
    std::chrono::milliseconds patience_{std::chrono::seconds(10)};
    QString awaited_;  // what the current wait is for
};

}  // namespace tessaly::window
