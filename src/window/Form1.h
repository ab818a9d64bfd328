#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "dump/DumpRun.h"
#include "serial/MSComm.h"
#include "window/Seams.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tessaly::serial {
class CommError;
}

namespace tessaly::window {

class Decoration;
class Indicator;

// The program's only window: the port list, Open and Close with the link lamp, the log, the
// target directory and the About frame. It owns the serial link and the dump run.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Seams seams = Seams::desktop(), QWidget* parent = nullptr);
    ~Form1() override;

    // Adds a device beyond COM 1 to COM 4 to the port list; returns its entry's index. The entry
    // stays when the system no longer lists the device.
    int addPort(const QString& devicePath, const QString& label);
    void selectPort(int index);

    // Opens the link on a port number, switching the controls to the open-link state; explains
    // a failure in a message box. True when the link is open afterwards.
    bool OpenPort(int port);
    // Closes the link if it is open and always returns the controls to the closed-link state.
    // The port number is not needed: there is only one link.
    void ClosePort(int port);

    // The platform's folder chooser, opened at the current target; empty when cancelled.
    QString BrowseForFolder(const QString& sTitle);

    // The log with CR LF line ends, including whatever the user typed into it.
    QString logText() const;
    // Both take texts with CR LF line ends.
    void appendLog(const QString& text);
    void replaceLog(const QString& text);

    const serial::MSComm& serialControl() const { return MSComm1; }

    // How long the box may stay silent in one wait before the log reminds the user of its mode.
    void setPatience(std::chrono::milliseconds patience) { patience_ = patience; }

    // The system asked the program to stop: a run ends as with Close, and the log says why.
    void interruptRun();

protected:
    // Form_Unload: releases an open port; closing always proceeds.
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createSerialFrame();
    void createControlFrame();
    void createAboutFrame();
    void createLogBand();
    void createTargetBand();
    void setTabChain();

    void Form_Load();
    // Brings the port list up to date with the devices the system has now.
    void refreshSystemPorts();
    void listSystemPort(const SystemPort& port);
    void fitListToEntries();
    void showWholePortName();
    // The entry for a port typed into the field, added when it names a device; -1 when none.
    int portEntryFor(const QString& typed);
    bool isSerialDevice(const QString& path) const;
    bool takeTypedPort();
    void Command1_Click();
    void Command2_Click();
    void cmdDir_Click();
    void Label6_Click();
    void dumpFinished(const dump::DumpRun::Result& result);
    // Takes over the reply of a completed exchange and shows its listing and what was saved.
    void showResult(const dump::DumpRun::Result& result);
    void onLinkLost(const QString& reason);
    void noticeProgress();
    void remindOfHostMode();

    void setLinkControls(bool linkOpen);
    int selectedPort() const;
    // "COM 3" style for the first four ports (the prefix says whether with a space), the device
    // path for added ones.
    QString portName(int port, const QString& comPrefix) const;
    void reportOpenFailure(int port, const serial::CommError& error);
    void showMessage(const QString& text, const QString& caption);
    void forgetSelectionWhenEdited(const QString& typed);

    Seams seams_;
    serial::MSComm MSComm1;
    dump::DumpRun dumpRun_;

    QGroupBox* Frame1 = nullptr;
    QComboBox* cmbCom = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    Indicator* Shape1 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    Decoration* Line1 = nullptr;
    QLabel* Label7 = nullptr;
    Decoration* Line2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    Decoration* Shape2 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    Decoration* Shape4 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* cmdDir = nullptr;

    // State of the last dump run.
    QString sFileName;
    qint32 lCheckSum = 0;
    QByteArray bytData;
    int runPort_ = 0;
    QString imagePath_;
    // The acknowledgement is still on its way out when the port closes after a run.
    bool acknowledgementQueued_ = false;

    // Each wait for the box that lasts longer than `patience_` earns one reminder in the log.
    QTimer silenceTimer_;
    std::chrono::milliseconds patience_{std::chrono::seconds(10)};
    dump::Stage awaitedStage_{};
};

}  // namespace tessaly::window
