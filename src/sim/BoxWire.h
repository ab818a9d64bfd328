#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tessaly::sim {

// The wire a simulated box talks over: the box reads what the host sent, writes what it answers
// and can hang up. Kept apart from the exchange so that the box runs on a pseudo-terminal where
// there are some and inside the program everywhere.
class BoxWire : public QObject {
    Q_OBJECT
public:
    // The name the host opens.
    virtual QString devicePath() const = 0;
    // Whatever the host sent and the box has not read; never blocks.
    virtual QByteArray readAvailable() = 0;
    // Writes as much as the wire takes now; returns the count written (may be short).
    virtual qsizetype writeSome(const QByteArray& bytes) = 0;
    // Bytes written that the host has not read yet. Hanging up discards them on some wires, so a
    // hang-up meant to come after them waits until this is zero.
    virtual qsizetype unreadByProgram() const = 0;
    // Hangs up: the host sees the device go away.
    virtual void close() = 0;
    // Whether readable() and writable() are emitted.
    virtual void watchReadable(bool on) = 0;
    virtual void watchWritable(bool on) = 0;

signals:
    // The host sent something.
    void readable();
    // Room again after a short write.
    void writable();
};

}  // namespace tessaly::sim
