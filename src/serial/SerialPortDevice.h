#pragma once

#include "serial/SerialDevice.h"

namespace tessaly::serial {

// A real serial port (or a pseudo-terminal) through Qt SerialPort.
class SerialPortDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit SerialPortDevice(QObject* parent = nullptr);

    void open(const QString& name, const LineSettings& line) override;
    bool isOpen() const override { return port_->isOpen(); }
    bool applySettings(const LineSettings& line) override;
    QString errorString() const override { return port_->errorString(); }
    void discardInput() override { port_->clear(QSerialPort::Input); }
    QByteArray readAll() override { return port_->readAll(); }
    // Handed to the system at once rather than on the next turn of the event loop: with many
    // ports open, every turn costs a poll over all of them.
    void write(const QByteArray& bytes) override {
        port_->write(bytes);
        port_->flush();
    }
    bool sendQueued(int boundMs) override;
    void close() override { port_->close(); }

private:
    void reportLoss(QSerialPort::SerialPortError error);

    QSerialPort* port_;
};

}  // namespace tessaly::serial
