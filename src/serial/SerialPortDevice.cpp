#include "serial/SerialPortDevice.h"

#include <QFile>

#include "serial/CommError.h"
#include "serial/PortOwnership.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tessaly::serial {

namespace {

// Whether we may read and write the device at all; a permission failure on a device we may use
// means someone else holds it.
bool mayUseDevice(const QString& devicePath) {
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0;
#else
    // Windows reports a port held by another program as access denied.
    Q_UNUSED(devicePath);
    return true;
#endif
}

int errorNumberFor(QSerialPort::SerialPortError error, const QString& devicePath) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return CommError::NoSuchPort;
        case QSerialPort::PermissionError:
            return mayUseDevice(devicePath) ? CommError::PortInUse : CommError::AccessDenied;
        default:
            return CommError::OpenFailed;
    }
}

// What failed when the link is lost; empty for failures that leave the link usable. The system's
// own text alone is often meaningless here (a hang-up reads as an unrelated ioctl failure).
QString linkLossDescription(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ReadError:
            return QStringLiteral("reading from the device failed");
        case QSerialPort::WriteError:
            return QStringLiteral("writing to the device failed");
        case QSerialPort::ResourceError:
            return QStringLiteral("the device is no longer available");
        default:
            return {};
    }
}

}  // namespace

SerialPortDevice::SerialPortDevice(QObject* parent)
    : SerialDevice(parent), port_(new QSerialPort(this)) {
    connect(port_, &QSerialPort::readyRead, this, &SerialDevice::readyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialPortDevice::reportLoss);
}

void SerialPortDevice::open(const QString& name, const LineSettings& line) {
    // Every name of one device opens the device itself, so that all of them share its lock.
    const QString device = port_ownership::resolvedDevice(name);
    if (const QString holder = port_ownership::holderOf(device); !holder.isEmpty())
        throw CommError(CommError::PortInUse, name, holder);
    port_->setPortName(device);
    applySettings(line);  // a closed port only records them
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString reason = port_->errorString();
        const int number = errorNumberFor(port_->error(), device);
        if (number == CommError::PortInUse) {
            // Not every refused lock means that someone holds the port.
            if (const QString failure = port_ownership::lockFailure(device); !failure.isEmpty())
                throw CommError(CommError::OpenFailed, name, failure);
        }
        throw CommError(number, name, reason);
    }
    // Some adapters power the box's side from DTR; pseudo-terminals refuse it, which is harmless.
    port_->setDataTerminalReady(true);
}

bool SerialPortDevice::applySettings(const LineSettings& line) {
    return port_->setBaudRate(line.baudRate) && port_->setParity(line.parity) &&
           port_->setDataBits(line.dataBits) && port_->setStopBits(line.stopBits) &&
           port_->setFlowControl(QSerialPort::NoFlowControl);
}

bool SerialPortDevice::sendQueued(int boundMs) {
    if (port_->bytesToWrite() > 0) port_->flush();
    if (port_->bytesToWrite() > 0) port_->waitForBytesWritten(boundMs);
    return port_->bytesToWrite() == 0;
}

void SerialPortDevice::reportLoss(QSerialPort::SerialPortError error) {
    const QString description = linkLossDescription(error);
    if (description.isEmpty() || !port_->isOpen()) return;
    // The owner closes at once, which also stops Qt from repeating the error in a tight loop.
    emit failed(QStringLiteral("%1 (%2)").arg(description, port_->errorString()));
}

}  // namespace tessaly::serial
