#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly {

// Replaces the file at `path` with exactly `data`, or leaves the earlier file as it was:
// the bytes go to a temporary file beside it that is renamed over the old one only when complete.
// Returns an empty text on success, otherwise the platform's reason.
QString writeImageAtomically(const QString& path, const QByteArray& data);

}  // namespace tessaly
