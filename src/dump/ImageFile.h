#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace tessaly::dump {

// What storing one image did, for the result lines of both front ends and for scripts.
struct StoredImage {
    QString path;             // the file the image went to, with the platform's separators
    QString failure;          // empty when the image was stored; otherwise why nothing was written
    QByteArray sha256;        // digest of the image written (32 raw bytes); empty when not stored
    bool hadEarlier = false;  // a file was at `path` before
    bool sameAsEarlier = false;  // ... and it held exactly the new image, so it was just replaced
    QString keptAs;          // where the differing earlier file was kept; empty when none was kept
    int differingBytes = 0;  // bytes in which the kept earlier file differs from the new image
    QList<qsizetype> differingOffsets;  // ... those of them inside the new image, in order

    bool stored() const { return failure.isEmpty() && !path.isEmpty(); }
};

// The name the image is stored under in the chosen directory.
inline constexpr char kImageFileName[] = "EEPROM.bin";

// `fileName` inside `directory`, joined as a path whether or not the directory text ends in a
// separator; with the platform's separators.
QString imagePathIn(const QString& directory, const QString& fileName);

// Replaces the file at `path` with exactly `data`, in one step, or leaves everything as it was.
// An earlier file that differs is first kept beside it as NAME-YYYYMMDD-HHMMSS.EXT (its own
// modification time, local time; -2, -3, ... when taken); when it cannot be kept, nothing is
// written. Runs into one directory are serialised. A link at `path` is followed, except one that
// another user planted in a shared (sticky, world-writable) directory.
StoredImage storeImage(const QString& path, const QByteArray& data);

// storeImage() on a worker thread, so that the disk syncs of many stores overlap and the event
// loop never waits on them. `done` runs on `context`'s thread once the image and its directory
// entry are on disk, or storing failed; not at all when `context` is gone by then.
void storeImageInBackground(const QString& path, const QByteArray& data, QObject* context,
                            std::function<void(const StoredImage&)> done);

}  // namespace tessaly::dump
