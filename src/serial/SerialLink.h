#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "serial/CommError.h"

namespace tessaly::serial {

class SerialDevice;

// The serial link: one port, opened by number, with a capped receive buffer that callers read
// whole. Nothing here waits: dataReceived() tells that bytes wait, outputSent() that what was
// sent has left, so nobody has to poll or block.
// A device name that belongs to an InProcessLink opens that link instead of a serial port.
class SerialLink : public QObject {
    Q_OBJECT
public:
    // Numbers 1 to 4 are the platform's first four serial ports; added devices get 5, 6, ...
    static constexpr int FirstAddedPort = 5;

    // Destroying the link closes its device at once; what the system was handed still leaves.
    explicit SerialLink(QObject* parent = nullptr);

    // Registers a device path (any path, pseudo-terminals included) and returns its port number;
    // a path added before keeps its number.
    int AddDevice(const QString& devicePath);
    // The device a port number opens ("/dev/ttyS0" for 1 on Linux, "COM1" on Windows); empty
    // for an unknown number.
    QString DeviceName(int portNumber) const;
    // The number of the first four ports named as in the port list: "COM 3" or "COM3", any
    // case; 0 for any other text.
    static int ComPortNumber(const QString& name);

    void setCommPort(int portNumber) { commPort_ = portNumber; }
    int CommPort() const { return commPort_; }

    // "baud,parity,databits,stopbits", e.g. "115200,N,8,1". Throws std::invalid_argument.
    void setSettings(const QString& settings);
    QString Settings() const { return settings_; }

    // 0: a read returns everything waiting.
    void setInputLen(int length) { inputLen_ = length; }
    int InputLen() const { return inputLen_; }

    // The receive buffer holds at most this many bytes; further bytes are dropped.
    void setInBufferSize(int size);
    int InBufferSize() const { return inBufferSize_; }

    // Opening throws CommError. Closing is at once for the caller; what Output() queued still
    // leaves before the device is released, for a second at most.
    void setPortOpen(bool open);
    bool PortOpen() const;

    int InBufferCount() const { return int(received_.size()); }
    // Only 0 is meaningful: discards everything waiting, including what the system still holds.
    void setInBufferCount(int count);

    // Sends every byte as given, NUL included, adding nothing; nothing when the port is closed.
    // Returns at once; outputSent() or outputStalled() follows.
    void Output(const QByteArray& bytes);
    // Returns and removes everything waiting (at most InputLen bytes when that is not 0).
    QByteArray Input();
    // Moves what the device and the system hold this moment into the receive buffer, without
    // waiting; dataReceived() follows from inside when any came. Called before a wait is given up,
    // since a process that was stopped (Ctrl-Z, a suspended laptop) finds its timers due before
    // it has been told of the bytes that arrived meanwhile.
    void takeWaiting();

signals:
    // Bytes were added to the receive buffer.
    void dataReceived();
    // The port was closed by setPortOpen(false).
    void closed();
    // The device went away or failed; the port is already closed. Emitted once per loss.
    void linkLost(const QString& reason);
    // Everything Output() queued has left the port; never emitted inside Output().
    void outputSent();
    // What Output() queued has not left within a second: the other side holds it back.
    void outputStalled();

private:
    void openPort();
    void closeDevice();
    void takeIncoming();
    void deliver(const QByteArray& incoming);
    void noticeSent();
    void loseLink(const QString& reason);

    SerialDevice* serialPort_;
    SerialDevice* inProcess_;
    SerialDevice* port_;  // the one of the two the port number opens
    QStringList addedDevices_;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int inputLen_ = 0;
    int inBufferSize_ = 1024;
    QByteArray received_;
    QTimer sendBound_;      // runs while queued bytes have not left
    bool closing_ = false;  // closed for the caller; the device is released once the bytes left
};

}  // namespace tessaly::serial
