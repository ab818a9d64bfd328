#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace tessaly::serial {

struct LineSettings {
    qint32 baudRate;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

// What carries the link's bytes: a serial port, or an in-process connection to a simulated box.
// Only MSComm drives it, so nothing above the link knows which one it talks to.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the named device with these settings; throws CommError.
    virtual void open(const QString& name, const LineSettings& line) = 0;
    virtual bool isOpen() const = 0;
    // Changes the settings of the open device; false when it refuses them (see errorString()).
    virtual bool applySettings(const LineSettings& line) = 0;
    virtual QString errorString() const = 0;
    // Drops every received byte that has not been read, including what the system still holds.
    virtual void discardInput() = 0;
    virtual QByteArray readAll() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Hands what write() queued over to the other side, waiting at most `boundMs`; false when
    // some of it could not be handed over.
    virtual bool sendQueued(int boundMs) = 0;
    virtual void close() = 0;

signals:
    void readyRead();
    // The open device went away or failed; the owner is expected to close it.
    void failed(const QString& reason);
};

}  // namespace tessaly::serial
