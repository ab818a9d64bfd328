#pragma once

#include "serial/PortOwnership.h"
#include "serial/SerialDevice.h"

namespace tessaly::serial {

// A real serial port (or a pseudo-terminal) through Qt SerialPort. It never waits: received bytes
// are announced after Qt's own readyRead has returned, and written bytes are followed through
// bytesWritten. Writing or closing from inside Qt's notification runs into completions that Qt's
// Windows backend has not handed out yet (an acknowledgement that never left, a crash).
class SerialPortDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit SerialPortDevice(QObject* parent = nullptr);
    ~SerialPortDevice() override;

    void open(const QString& name, const LineSettings& line) override;
    bool isOpen() const override { return port_->isOpen(); }
    void discardInput() override;
    QByteArray readAll() override { return port_->readAll(); }
    QByteArray readAllNow() override;
    void write(const QByteArray& bytes) override;
    qint64 unsent() const override { return port_->bytesToWrite(); }
    void close() override;

private:
    void announceInput();
    void reportLoss(QSerialPort::SerialPortError error);

    QSerialPort* port_;
    port_ownership::DeviceClaim claim_;  // held while the port is open
    // Inside a call that sets the port up: its failures are answered by that call's result and
    // leave the port usable.
    bool configuring_ = false;
};

}  // namespace tessaly::serial
