#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <vector>

#include "serial/SystemPorts.h"

class QWidget;

namespace tessaly::window {

// The window's ways out to the desktop, replaceable so that tests need no person at the screen.
struct Seams {
    // A modal box with a text, a caption and an OK button only.
    std::function<void(QWidget* owner, const QString& text, const QString& caption)> showMessage;
    // Hands a web address to the user's browser.
    std::function<void(const QUrl& url)> openUrl;
    // The platform's folder chooser, directories only, opened at `startDirectory`; empty when
    // cancelled.
    std::function<QString(QWidget* owner, const QString& title, const QString& startDirectory)>
        chooseFolder;
    // The serial devices the system has now; adapters come and go.
    std::function<std::vector<serial::SystemPort>()> systemPorts;

    // The real desktop ones.
    static Seams desktop();
};

}  // namespace tessaly::window
