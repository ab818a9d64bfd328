#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly::program {

// What reading a file within bounds gave.
struct BoundedRead {
    QByteArray bytes;  // at most the bound plus one byte, so that a caller sees there is more
    QString failure;   // why the file could not be read to its end or the bound, as a clause
                       // ("it is a directory"); empty when it could
};

// Reads the file at `path` up to `largest` + 1 bytes, whatever kind of file it is, and never waits
// without end: a regular file or a pipe is read, a pipe or FIFO for 10 s at most; a directory, a
// device or a socket is refused unread, so that a serial port or terminal named by mistake is
// neither disturbed nor waited on.
BoundedRead readBounded(const QString& path, qint64 largest);

}  // namespace tessaly::program
