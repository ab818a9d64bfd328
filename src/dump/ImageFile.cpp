#include "ImageFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSaveFile>

namespace tessaly {

namespace {

// Replaces the file at `path` with exactly `data`, or leaves the earlier file as it was: the
// bytes go to a temporary file beside it that is renamed over the old one only when complete.
// Returns an empty text on success, otherwise the platform's reason.
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

}  // namespace

QString imagePathIn(const QString& directory, const QString& fileName) {
    return QDir::toNativeSeparators(QDir(QDir::fromNativeSeparators(directory)).filePath(fileName));
}

// Interim: writes the image; keeping the earlier file comes with the image-store work.
StoredImage storeImage(const QString& path, const QByteArray& data) {
    StoredImage stored;
    stored.path = path;
    stored.failure = writeImageAtomically(path, data);
    if (stored.failure.isEmpty())
        stored.sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    return stored;
}

}  // namespace tessaly
