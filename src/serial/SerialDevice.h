#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace tessaly::serial {

// The line the box speaks, without flow control: 115200 8N1 unless said otherwise.
struct LineSettings {
    qint32 baudRate = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// What carries the link's bytes: a serial port, or an in-process connection to a simulated box.
// Only SerialLink drives it, so nothing above the link knows which one it talks to.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the named device with these settings; throws CommError.
    virtual void open(const QString& name, const LineSettings& line) = 0;
    virtual bool isOpen() const = 0;
    // Drops every received byte that has not been read, including what the system still holds.
    virtual void discardInput() = 0;
    virtual QByteArray readAll() = 0;
    // readAll() and what the system holds for the device this moment, without waiting: a process
    // that was stopped may find a wait over before it has been told of bytes that are there.
    virtual QByteArray readAllNow() { return readAll(); }
    // Hands the bytes over without waiting for them to leave.
    virtual void write(const QByteArray& bytes) = 0;
    // Bytes given to write() that have not left yet.
    virtual qint64 unsent() const = 0;
    // Drops what has not left and lets the device go.
    virtual void close() = 0;

signals:
    // Bytes wait in readAll(); never emitted from inside the system's own notification, so that
    // the receiver may write, close or reopen.
    void readyRead();
    // Some of what write() was given has left; unsent() tells what remains.
    void bytesSent();
    // The open device went away or failed; the owner is expected to close it.
    void failed(const QString& reason);
};

}  // namespace tessaly::serial
