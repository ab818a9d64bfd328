#pragma once

#include "SerialDevice.h"

namespace tessaly {

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
    void write(const QByteArray& bytes) override { port_->write(bytes); }
    void sendQueued(int boundMs) override;
    void close() override { port_->close(); }

private:
    void reportLoss(QSerialPort::SerialPortError error);

    QSerialPort* port_;
};

}  // namespace tessaly
