#include "PortNames.h"

#include <MSComm.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPortInfo>

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
    static const QRegularExpression comPort(QStringLiteral("^(?:COM\\s*)?([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comPort.match(port.trimmed());
    if (!match.hasMatch()) return port;
    return MSComm().DeviceName(match.captured(1).toInt());
}

QString resolvedDevice(const QString& devicePath) {
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    return canonical.isEmpty() ? devicePath : canonical;
}

QString directoryNameFor(const QString& devicePath) {
    QString name = QDir::fromNativeSeparators(devicePath);
    if (name.startsWith(QStringLiteral("/dev/"))) name.remove(0, 5);
    static const QRegularExpression separators(QStringLiteral("[/:]+"));
    name.replace(separators, QStringLiteral("-"));
    return name;
}

QString portListing(bool json) {
    QString listing;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        const QString byId = byIdNameOf(port.systemLocation());
        if (json) {
            const QJsonObject object{
                {"device", port.systemLocation()},
                {"description", port.description()},
                {"manufacturer", port.manufacturer()},
                {"serial_number", port.serialNumber()},
                {"by_id", byId.isEmpty() ? QJsonValue() : QJsonValue(byId)},
            };
            listing += QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
        } else {
            listing += QStringList{port.systemLocation(), orNothing(port.description()),
                                   orNothing(port.manufacturer()), orNothing(port.serialNumber()),
                                   orNothing(byId)}
                           .join('\t');
        }
        listing += '\n';
    }
    return listing;
}

}  // namespace tessaly::cli
