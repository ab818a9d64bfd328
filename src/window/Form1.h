#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

#include "dump/DumpLog.h"
#include "window/Seams.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tessaly::window {

class PortCombo;

inline const QString kCrLf = QStringLiteral("\r\n");
// The caption of the message boxes that refuse an action.
inline const QString kErrorCaption = QStringLiteral("Error");

// A round lamp with a thin black rim, filled with one colour; it shows state and takes no input.
class Indicator : public QWidget {
    Q_OBJECT
public:
    Indicator(QColor fill, QWidget* parent);

    QColor fillColor() const { return fill_; }
    void setFillColor(QColor fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

// The program's only window as the user sees it: the controls in their designed places with
// their texts, the log, the target directory with its chooser and the About frame's web link.
// What the controls do with the serial link and the box is the dump controller's business.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Seams seams = Seams::desktop());

    const Seams& seams() const { return seams_; }

    // The controls that other units drive, by role. Each keeps its design name (cmbCom,
    // Command1, ...) as its object name; the table in Form1.cpp maps the two.
    PortCombo* portList = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* closeButton = nullptr;
    Indicator* linkLamp = nullptr;
    QPlainTextEdit* log = nullptr;
    QLineEdit* targetDirectory = nullptr;
    QPushButton* directoryButton = nullptr;
    QLabel* webLink = nullptr;

    // Enables the controls for an open or a closed link; the lamp is set apart from them.
    void setLinkControls(bool linkOpen);
    void showLinkOpen(bool open);

    // Makes `folder` the target, with a separator added, and warns at once when it cannot take
    // the image; the choice stays so that it can be corrected.
    void setTargetFolder(const QString& folder);

    // The log with CR LF line ends, including whatever the user typed into it.
    QString logText() const;
    // Both take texts with CR LF line ends; stretches of an appended text can stand out.
    void appendLog(const QString& text, const std::vector<dump::LogStretch>& stretches = {});
    void replaceLog(const QString& text);

    void showMessage(const QString& text, const QString& caption);

signals:
    // The window is closing, which always proceeds.
    void unloading();

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void loaded();
    void directoryClicked();
    void linkClicked();

    Seams seams_;
};

}  // namespace tessaly::window
