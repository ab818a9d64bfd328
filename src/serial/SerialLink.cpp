#include "serial/SerialLink.h"

#include <QHash>
#include <QRegularExpression>
#include <stdexcept>

#include "serial/InProcessLink.h"
#include "serial/SerialPortDevice.h"

namespace tessaly::serial {

namespace {

[[noreturn]] void rejectSettings(const QString& settings, const char* why) {
    throw std::invalid_argument("invalid serial settings \"" + settings.toStdString() +
                                "\": " + why);
}

const QHash<QString, QSerialPort::Parity> kParities{{"N", QSerialPort::NoParity},
                                                    {"E", QSerialPort::EvenParity},
                                                    {"O", QSerialPort::OddParity},
                                                    {"M", QSerialPort::MarkParity},
                                                    {"S", QSerialPort::SpaceParity}};
const QHash<QString, QSerialPort::StopBits> kStopBits{
    {"1", QSerialPort::OneStop}, {"1.5", QSerialPort::OneAndHalfStop}, {"2", QSerialPort::TwoStop}};

LineSettings parseSettings(const QString& settings) {
    const QStringList fields = settings.split(u',');
    if (fields.size() != 4) rejectSettings(settings, "expected baud,parity,databits,stopbits");

    bool isNumber = false;
    const int baudRate = fields[0].trimmed().toInt(&isNumber);
    if (!isNumber || baudRate <= 0) rejectSettings(settings, "baud rate must be a positive number");

    const int dataBits = fields[2].trimmed().toInt(&isNumber);
    if (!isNumber || dataBits < 5 || dataBits > 8)
        rejectSettings(settings, "data bits must be 5 to 8");

    const QString parity = fields[1].trimmed().toUpper();
    if (!kParities.contains(parity)) rejectSettings(settings, "parity must be N, E, O, M or S");

    const QString stopBits = fields[3].trimmed();
    if (!kStopBits.contains(stopBits)) rejectSettings(settings, "stop bits must be 1, 1.5 or 2");

    return {baudRate, kParities[parity], QSerialPort::DataBits(dataBits), kStopBits[stopBits]};
}

// Long enough for a full transmit buffer to leave at slow baud rates, short enough that a device
// held back by the other side is let go soon.
constexpr int SendBoundMs = 1000;

}  // namespace

SerialLink::SerialLink(QObject* parent)
    : QObject(parent),
      serialPort_(new SerialPortDevice(this)),
      inProcess_(new InProcessDevice(this)),
      port_(serialPort_) {
    sendBound_.setSingleShot(true);
    sendBound_.setInterval(SendBoundMs);
    connect(&sendBound_, &QTimer::timeout, this, [this] {
        if (closing_)
            closeDevice();
        else
            emit outputStalled();
    });
    for (SerialDevice* device : {serialPort_, inProcess_}) {
        connect(device, &SerialDevice::readyRead, this, &SerialLink::takeIncoming);
        connect(device, &SerialDevice::bytesSent, this, &SerialLink::noticeSent);
        connect(device, &SerialDevice::failed, this, &SerialLink::loseLink);
    }
}

int SerialLink::AddDevice(const QString& devicePath) {
    if (!addedDevices_.contains(devicePath)) addedDevices_.append(devicePath);
    return FirstAddedPort + int(addedDevices_.indexOf(devicePath));
}

QString SerialLink::DeviceName(int portNumber) const {
    if (portNumber >= 1 && portNumber < FirstAddedPort) {
#ifdef Q_OS_WIN
        return QStringLiteral("COM%1").arg(portNumber);
#else
        return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
    }
    return addedDevices_.value(portNumber - FirstAddedPort);
}

int SerialLink::ComPortNumber(const QString& name) {
    static const QRegularExpression comName(QStringLiteral("^COM\\s*([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(name.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

void SerialLink::setSettings(const QString& settings) {
    const LineSettings line = parseSettings(settings);
    if (port_->isOpen() && !port_->applySettings(line)) {
        const QString reason = port_->errorString();
        port_->applySettings(parseSettings(settings_));  // leave the open link as it was
        throw std::invalid_argument("the device refuses serial settings \"" +
                                    settings.toStdString() + "\": " + reason.toStdString());
    }
    settings_ = settings;
}

void SerialLink::setInBufferSize(int size) {
    if (size < 1) throw std::invalid_argument("the receive buffer needs room for one byte");
    inBufferSize_ = size;
    if (received_.size() > size) received_.truncate(size);
}

void SerialLink::setPortOpen(bool open) {
    if (open) {
        openPort();
        return;
    }
    if (!PortOpen()) return;
    received_.clear();
    if (sendBound_.isActive() && port_->unsent() > 0)
        closing_ = true;  // released once the queued bytes left
    else
        closeDevice();
    emit closed();
}

bool SerialLink::PortOpen() const { return port_->isOpen() && !closing_; }

void SerialLink::setInBufferCount(int count) {
    if (count != 0) throw std::invalid_argument("the receive buffer can only be emptied");
    // What the system and the device still hold, not yet announced, counts as waiting too.
    if (port_->isOpen()) port_->discardInput();
    received_.clear();
}

void SerialLink::Output(const QByteArray& bytes) {
    if (!PortOpen()) return;
    port_->write(bytes);
    if (!port_->isOpen()) return;  // writing failed; linkLost() told so
    if (!sendBound_.isActive()) sendBound_.start();
    // Bytes that left at once are told about on the next turn too.
    QMetaObject::invokeMethod(this, &SerialLink::noticeSent, Qt::QueuedConnection);
}

QByteArray SerialLink::Input() {
    const qsizetype count = inputLen_ > 0 ? inputLen_ : received_.size();
    QByteArray taken = received_.left(count);
    received_.remove(0, count);
    return taken;
}

void SerialLink::openPort() {
    const QString device = DeviceName(commPort_);
    if (closing_) closeDevice();  // whoever opens again has stopped waiting for the old bytes
    if (port_->isOpen()) throw CommError(CommError::PortInUse, device, "port already open");
    if (device.isEmpty())
        throw CommError(CommError::NoSuchPort, device,
                        QStringLiteral("no device for port number %1").arg(commPort_));

    port_ = InProcessLink::named(device) ? inProcess_ : serialPort_;
    port_->open(device, parseSettings(settings_));
    // The system keeps what arrived while the port was closed; none of it is for this session.
    port_->discardInput();
    received_.clear();
}

void SerialLink::closeDevice() {
    port_->close();
    received_.clear();
    sendBound_.stop();
    closing_ = false;
}

void SerialLink::takeWaiting() {
    if (PortOpen()) deliver(port_->readAllNow());
}

void SerialLink::takeIncoming() { deliver(port_->readAll()); }

void SerialLink::deliver(const QByteArray& incoming) {
    if (closing_) return;  // nobody reads a closed port
    // One system read may bring more than the buffer holds (a pseudo-terminal, a stalled event
    // loop): hand it over in pieces, so that a reader who keeps up loses nothing; only what
    // still finds no room is dropped.
    for (qsizetype taken = 0; taken < incoming.size() && port_->isOpen();) {
        const qsizetype room = inBufferSize_ - received_.size();
        if (room <= 0) return;
        received_.append(incoming.mid(taken, room));
        taken += room;
        emit dataReceived();
    }
}

void SerialLink::noticeSent() {
    if (!sendBound_.isActive() || !port_->isOpen() || port_->unsent() > 0) return;
    sendBound_.stop();
    if (closing_)
        closeDevice();
    else
        emit outputSent();
}

void SerialLink::loseLink(const QString& reason) {
    if (!port_->isOpen()) return;
    const bool closedAlready = closing_;
    // Closing at once also stops Qt from repeating the error in a tight loop.
    closeDevice();
    // Whoever closed the port hears nothing more of it.
    if (!closedAlready) emit linkLost(reason);
}

}  // namespace tessaly::serial
