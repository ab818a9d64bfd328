#include "Seams.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace tessaly {

Seams Seams::desktop() {
    Seams seams;
    seams.showMessage = [](QWidget* owner, const QString& text, const QString& caption) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
        box.exec();
    };
    // Whether a browser could be started is not reported: there is nothing the user could do.
    seams.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    seams.chooseFolder = [](QWidget* owner, const QString& title) {
        return QDir::toNativeSeparators(
            QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly));
    };
    return seams;
}

}  // namespace tessaly
