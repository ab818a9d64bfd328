#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include "serial/SerialDevice.h"

namespace tessaly::serial {

class InProcessDevice;

// A serial connection inside the program, for a simulated box that runs in the same process: the
// box holds the link, SerialLink opens it by name() like a port. Bytes travel both ways in order,
// on the event loop, never inside the call that sent them, as they would over a wire. Like a
// terminal, the link keeps what the box sent while the host has it closed.
class InProcessLink : public QObject {
    Q_OBJECT
public:
    explicit InProcessLink(QObject* parent = nullptr);
    ~InProcessLink() override;

    // Unique in the process and unlike any system device ("SIM1", "SIM2", ...).
    QString name() const { return name_; }
    // The live link of that name, or null.
    static InProcessLink* named(const QString& name);

    // The box's side: sends to the host.
    void send(const QByteArray& bytes);
    // The box's side: returns and removes what the host sent.
    QByteArray takeReceived();
    // The host's device goes away once it has been given what was sent before; the link cannot be
    // opened again.
    void hangUp();

signals:
    // Bytes from the host wait in takeReceived().
    void received();

private:
    friend class InProcessDevice;

    void scheduleToHost();
    void deliverToHost();
    void scheduleToBox();
    void deliverToBox();

    QString name_;
    QPointer<InProcessDevice> host_;
    QByteArray toHost_;
    QByteArray fromHost_;
    bool toHostScheduled_ = false;
    bool toBoxScheduled_ = false;
    bool hangUpPending_ = false;
    bool hungUp_ = false;
};

// The host's end of an InProcessLink, as SerialLink drives it.
class InProcessDevice : public SerialDevice {
    Q_OBJECT
public:
    using SerialDevice::SerialDevice;

    void open(const QString& name, const LineSettings& line) override;
    bool isOpen() const override { return open_; }
    void discardInput() override;
    QByteArray readAll() override;
    void write(const QByteArray& bytes) override;
    // The link takes every byte at once.
    qint64 unsent() const override { return 0; }
    void close() override;

private:
    QPointer<InProcessLink> link_;  // null once the box is gone, even while open
    bool open_ = false;
};

}  // namespace tessaly::serial
