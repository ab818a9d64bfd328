#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "cli/Console.h"
#include "serial/LoopbackCheck.h"
#include "serial/SerialLink.h"

namespace tessaly::cli {

// tessaly-dump --check-port: the loopback check of an adapter and cable with TX tied to RX, on
// the running event loop. It sends every byte value at the link's settings and never the dump
// handshake; ended() carries 0 when all came back unchanged, 3 when nothing came back, 1 when
// bytes came back changed.
class PortCheck : public QObject {
    Q_OBJECT
public:
    PortCheck(QString device, Console& console);

    void start();
    // A stop signal: the port is closed and the check ends with `exitStatus`.
    void stop(int exitStatus);

signals:
    void ended(int exitStatus);

private:
    void take();
    void judge();
    void end(int exitStatus);

    const QString device_;
    Console& console_;
    serial::SerialLink link_;
    serial::LoopbackCheck check_;
    QTimer quiet_;
    bool ended_ = false;
};

}  // namespace tessaly::cli
