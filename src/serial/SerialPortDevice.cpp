#include "serial/SerialPortDevice.h"

#include <QFile>
#include <QScopedValueRollback>
#include <algorithm>

#include "serial/CommError.h"
#include "serial/PortOwnership.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tessaly::serial {

namespace {

// A permission failure on a device we may read and write means that someone else holds it;
// Windows reports a port held by another program that way.
int errorNumberFor(QSerialPort::SerialPortError error, [[maybe_unused]] const QString& devicePath) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return CommError::NoSuchPort;
        case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
            if (::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) != 0)
                return CommError::AccessDenied;
#endif
            return CommError::PortInUse;
        default:
            return CommError::OpenFailed;
    }
}

// What failed when the link is lost; empty for failures that leave it usable. Qt reports read and
// write failures it cannot name as UnknownError (on Windows, a box hanging up is a broken pipe)
// and reads no more after one; from setting the port up, that error only refuses the setting.
QString linkLossDescription(QSerialPort::SerialPortError error, bool configuring) {
    switch (error) {
        case QSerialPort::ReadError:
            return QStringLiteral("reading from the device failed");
        case QSerialPort::WriteError:
            return QStringLiteral("writing to the device failed");
        case QSerialPort::ResourceError:
            return QStringLiteral("the device is no longer available");
        case QSerialPort::UnknownError:
            return configuring ? QString() : QStringLiteral("the device stopped working");
        default:
            return {};
    }
}

// Why Qt refused to open `device`, named `name`; a refused lock is not always someone else's.
CommError openFailure(const QSerialPort& port, const QString& name, const QString& device) {
    const int number = errorNumberFor(port.error(), device);
    if (number != CommError::PortInUse) return {number, name, port.errorString()};
    if (const QString failure = port_ownership::lockFailure(device); !failure.isEmpty())
        return {CommError::OpenFailed, name, failure};
    // Qt's own text ("Permission error while locking the device") names nobody.
    const QString holder = port_ownership::holderDescription(device);
    return {CommError::PortInUse, name, holder.isEmpty() ? port.errorString() : holder};
}

}  // namespace

SerialPortDevice::SerialPortDevice(QObject* parent)
    : SerialDevice(parent), port_(new QSerialPort(this)) {
    connect(port_, &QSerialPort::readyRead, this, &SerialPortDevice::announceInput,
            Qt::QueuedConnection);
    connect(port_, &QSerialPort::bytesWritten, this, &SerialDevice::bytesSent);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialPortDevice::reportLoss);
}

// The port, a child, would otherwise close only after the claim has gone.
SerialPortDevice::~SerialPortDevice() { close(); }

void SerialPortDevice::open(const QString& name, const LineSettings& line) {
    const QScopedValueRollback settingUp(configuring_, true);
    // Every name of one device opens the device itself, so that all of them share its lock.
    const QString device = port_ownership::resolvedDevice(name);
    if (const QString holder = port_ownership::holderOf(device); !holder.isEmpty())
        throw CommError(CommError::PortInUse, name, holder);
    // Claimed before Qt opens it: its open sets the line up, under whoever holds it already.
    claim_.take(name, device);
    port_->setPortName(device);
    // A closed port only records the settings, which its open applies.
    port_->setBaudRate(line.baudRate);
    port_->setParity(line.parity);
    port_->setDataBits(line.dataBits);
    port_->setStopBits(line.stopBits);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        claim_.release();
        throw openFailure(*port_, name, device);
    }
    // Some adapters power the box's side from DTR; pseudo-terminals refuse it, which is harmless.
    port_->setDataTerminalReady(true);
}

void SerialPortDevice::discardInput() {
    const QScopedValueRollback settingUp(configuring_, true);
    port_->clear(QSerialPort::Input);
}

// Handed to the system at once rather than on the next turn of the event loop: with many ports
// open, every turn costs a poll over all of them.
void SerialPortDevice::write(const QByteArray& bytes) {
    port_->write(bytes);
    port_->flush();
}

void SerialPortDevice::close() {
    port_->close();
    claim_.release();
}

// The event loop hands out a wake-up's readable devices before its due timers, so Qt has read
// what was there when the loop woke; this takes what came since. Windows reads only through Qt's
// pending overlapped read, so there it is what Qt has already received.
QByteArray SerialPortDevice::readAllNow() {
    QByteArray bytes = port_->readAll();
#ifdef Q_OS_UNIX
    const int descriptor = int(port_->handle());
    int waiting = 0;
    if (port_->isOpen() && ::ioctl(descriptor, FIONREAD, &waiting) == 0 && waiting > 0) {
        const qsizetype had = bytes.size();
        bytes.resize(had + waiting);
        const ssize_t got = ::read(descriptor, bytes.data() + had, size_t(waiting));
        bytes.resize(had + qsizetype(std::max<ssize_t>(got, 0)));
    }
#endif
    return bytes;
}

void SerialPortDevice::announceInput() {
    // The reader of an earlier announcement may have taken these bytes already.
    if (port_->isOpen() && port_->bytesAvailable() > 0) emit readyRead();
}

void SerialPortDevice::reportLoss(QSerialPort::SerialPortError error) {
    if (!port_->isOpen()) return;
    const QString description = linkLossDescription(error, configuring_);
    if (description.isEmpty()) return;
    // After a hang-up the system's text is a stale one (an unrelated ioctl failure): what became
    // of the device says more. The owner closes at once, which also stops Qt from repeating the
    // error in a tight loop.
    const QString cause = claim_.lossCause();
    emit failed(cause.isEmpty() ? QStringLiteral("%1 (%2)").arg(description, port_->errorString())
                                : cause);
}

}  // namespace tessaly::serial
