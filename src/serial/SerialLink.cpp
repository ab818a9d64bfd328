#include "serial/SerialLink.h"

#include "serial/InProcessLink.h"
#include "serial/SerialPortDevice.h"

namespace tessaly::serial {

namespace {

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

void SerialLink::open(const QString& device, const LineSettings& settings) {
    if (closing_) closeDevice();  // whoever opens again has stopped waiting for the old bytes
    if (port_->isOpen()) throw CommError(CommError::PortInUse, device, "port already open");
    port_ = InProcessLink::named(device) ? inProcess_ : serialPort_;
    port_->open(device, settings);
    // The system keeps what arrived while the port was closed; none of it is for this session.
    port_->discardInput();
    received_.clear();
}

void SerialLink::close() {
    if (!isOpen()) return;
    received_.clear();
    if (sendBound_.isActive() && port_->unsent() > 0)
        closing_ = true;  // released once the queued bytes left
    else
        closeDevice();
    emit closed();
}

bool SerialLink::isOpen() const { return port_->isOpen() && !closing_; }

void SerialLink::discardInput() {
    // What the system and the device still hold, not yet announced, counts as waiting too.
    if (port_->isOpen()) port_->discardInput();
    received_.clear();
}

void SerialLink::write(const QByteArray& bytes) {
    if (!isOpen()) return;
    port_->write(bytes);
    if (!port_->isOpen()) return;  // writing failed; linkLost() told so
    if (!sendBound_.isActive()) sendBound_.start();
    // Bytes that left at once are told about on the next turn too.
    QMetaObject::invokeMethod(this, &SerialLink::noticeSent, Qt::QueuedConnection);
}

void SerialLink::closeDevice() {
    port_->close();
    received_.clear();
    sendBound_.stop();
    closing_ = false;
}

void SerialLink::takeWaiting() {
    if (isOpen()) deliver(port_->readAllNow());
}

void SerialLink::takeIncoming() { deliver(port_->readAll()); }

void SerialLink::deliver(const QByteArray& incoming) {
    if (closing_) return;  // nobody reads a closed port
    // One system read may bring more than the buffer holds (a pseudo-terminal, a stalled event
    // loop): hand it over in pieces, so that a reader who keeps up loses nothing; only what
    // still finds no room is dropped.
    for (qsizetype taken = 0; taken < incoming.size() && port_->isOpen();) {
        const qsizetype room = receiveLimit_ - received_.size();
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
