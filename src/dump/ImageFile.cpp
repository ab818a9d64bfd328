#include "ImageFile.h"

#include <QSaveFile>

namespace tessaly {

QString writeImageAtomically(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    // Unbuffered, because a buffered QSaveFile reports success after a short write (disk full)
    // and would then rename a truncated file over the earlier one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();
    const qint64 written = file.write(data);
    if (written != data.size()) {
        const QString reason =
            written < 0 ? file.errorString()
                        : QStringLiteral("only %1 of %2 bytes could be written (is the disk full?)")
                              .arg(written)
                              .arg(data.size());
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return file.errorString();
    return {};
}

}  // namespace tessaly
