#include "serial/SystemPorts.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

namespace tessaly::serial {

// Windows ports are opened and known by their short name ("COM5"), not by their system location
// ("\\.\COM5"); elsewhere the location is the device's path.
std::vector<SystemPort> systemPorts() {
    std::vector<SystemPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString device = info.portName();
#else
        const QString device = info.systemLocation();
#endif
        ports.push_back({device, info.description(), info.manufacturer(), info.serialNumber()});
    }
    return ports;
}

QString comPortDevice(const QString& name) {
    static const QRegularExpression comName(QStringLiteral("^COM\\s*([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(name.trimmed());
    if (!match.hasMatch()) return {};
    const int number = match.captured(1).toInt();
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

}  // namespace tessaly::serial
