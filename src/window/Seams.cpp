#include "window/Seams.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace tessaly::window {

Seams Seams::desktop() {
    Seams seams;
    seams.showMessage = [](QWidget* owner, const QString& text, const QString& caption) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
        box.exec();
    };
    // Whether a browser could be started is not reported: there is nothing the user could do.
    seams.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    seams.chooseFolder = [](QWidget* owner, const QString& title, const QString& startDirectory) {
        return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(
            owner, title, QDir::fromNativeSeparators(startDirectory), QFileDialog::ShowDirsOnly));
    };
    seams.systemPorts = serial::systemPorts;
    return seams;
}

}  // namespace tessaly::window
