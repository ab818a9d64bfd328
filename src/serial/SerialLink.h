#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <utility>

#include "serial/CommError.h"
#include "serial/SerialDevice.h"

namespace tessaly::serial {

// The serial link: one port, opened by its device, with a capped receive buffer that callers read
// whole. Nothing here waits: dataReceived() tells that bytes wait, outputSent() that what was
// sent has left, so nobody has to poll or block.
// A device name that belongs to an InProcessLink opens that link instead of a serial port.
class SerialLink : public QObject {
    Q_OBJECT
public:
    // Destroying the link closes its device at once; what the system was handed still leaves.
    explicit SerialLink(QObject* parent = nullptr);

    // Opens `device` ("/dev/ttyUSB0", a pseudo-terminal, "COM5"); throws CommError.
    void open(const QString& device, const LineSettings& settings = {});
    // At once for the caller; what write() queued still leaves before the device is released,
    // for a second at most.
    void close();
    bool isOpen() const;

    // The receive buffer holds at most this many bytes; further bytes are dropped.
    void setReceiveLimit(qsizetype limit) { receiveLimit_ = limit; }

    // Sends every byte as given, NUL included, adding nothing; nothing when the port is closed.
    // Returns at once; outputSent() or outputStalled() follows.
    void write(const QByteArray& bytes);
    qsizetype bytesAvailable() const { return received_.size(); }
    // Returns and removes everything waiting.
    QByteArray readAll() { return std::exchange(received_, {}); }
    // Drops everything waiting, including what the system still holds.
    void discardInput();
    // Moves what the device and the system hold this moment into the receive buffer, without
    // waiting; dataReceived() follows from inside when any came. Called before a wait is given up,
    // since a process that was stopped (Ctrl-Z, a suspended laptop) finds its timers due before
    // it has been told of the bytes that arrived meanwhile.
    void takeWaiting();

signals:
    // Bytes were added to the receive buffer.
    void dataReceived();
    // The port was closed by close().
    void closed();
    // The device went away or failed; the port is already closed. Emitted once per loss.
    void linkLost(const QString& reason);
    // Everything write() queued has left the port; never emitted inside write().
    void outputSent();
    // What write() queued has not left within a second: the other side holds it back.
    void outputStalled();

private:
    void closeDevice();
    void takeIncoming();
    void deliver(const QByteArray& incoming);
    void noticeSent();
    void loseLink(const QString& reason);

    SerialDevice* serialPort_;
    SerialDevice* inProcess_;
    SerialDevice* port_;  // the one of the two the open device is
    qsizetype receiveLimit_ = 1024;
    QByteArray received_;
    QTimer sendBound_;      // runs while queued bytes have not left
    bool closing_ = false;  // closed for the caller; the device is released once the bytes left
};

}  // namespace tessaly::serial
