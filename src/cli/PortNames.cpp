#include "cli/PortNames.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>

#include "serial/SystemPorts.h"

namespace tessaly::cli {

namespace {

// The stable names udev gives USB adapters, by the device they point to.
QString byIdNameOf(const QString& device) {
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QString target = QFileInfo(device).canonicalFilePath();
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
        if (!target.isEmpty() && link.canonicalFilePath() == target) return link.filePath();
    return {};
}

QString orNothing(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

}  // namespace

QString devicePathFor(const QString& port) {
    // A bare number names one of those ports too, as scripts give it.
    for (const QString& name : {port, QStringLiteral("COM") + port.trimmed()})
        if (const QString device = serial::comPortDevice(name); !device.isEmpty()) return device;
    return port;
}

QString directoryNameFor(const QString& devicePath) {
    QString name = QDir::fromNativeSeparators(devicePath);
    if (name.startsWith(QStringLiteral("/dev/"))) name.remove(0, 5);
    static const QRegularExpression separators(QStringLiteral("[/:]+"));
    name.replace(separators, QStringLiteral("-"));
    // A leading '-' reads as an option to cd and rm in scripts, a leading '.' hides the folder.
    static const QRegularExpression leading(QStringLiteral("^[-.]+"));
    name.remove(leading);
    return name.isEmpty() ? QStringLiteral("port") : name;
}

void listPorts(bool json, Console& console) {
    for (const serial::SystemPort& port : serial::systemPorts()) {
        const QString byId = byIdNameOf(port.device);
        if (json) {
            console.record({
                {"device", port.device},
                {"description", port.description},
                {"manufacturer", port.manufacturer},
                {"serial_number", port.serialNumber},
                {"by_id", byId.isEmpty() ? QJsonValue() : QJsonValue(byId)},
            });
            continue;
        }
        const QStringList row{port.device, orNothing(port.description),
                              orNothing(port.manufacturer), orNothing(port.serialNumber),
                              orNothing(byId)};
        console.print(row.join('\t') + '\n');
    }
}

}  // namespace tessaly::cli
