#include "window/WindowOptions.h"

#include <QCommandLineParser>
#include <QDir>

namespace tessaly::window {

void addWindowOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Reads the EEPROM of a set-top box over a serial port and saves it as EEPROM.bin."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Adds DEVICE to the port list and selects it."),
         QStringLiteral("DEVICE")},
        {QStringLiteral("simulate"),
         QStringLiteral("Adds a simulated box to the port list and selects it.")},
        {QStringLiteral("dir"), QStringLiteral("Starts with DIR as the folder for EEPROM.bin."),
         QStringLiteral("DIR")},
    });
}

WindowOptions windowOptions(const QCommandLineParser& parser, const QString& nonUtf8Argument) {
    // Qt received such a name altered, and it could lead to a look-alike folder or device.
    if (!nonUtf8Argument.isEmpty())
        return {{}, parser.isSet(QStringLiteral("simulate")), {}, nonUtf8Argument + '.'};
    WindowOptions options{
        parser.value(QStringLiteral("port")), parser.isSet(QStringLiteral("simulate")), {}, {}};
    // Absolute, so that the folder stays the one meant from wherever the program started.
    if (parser.isSet(QStringLiteral("dir")))
        options.targetFolder =
            QDir::toNativeSeparators(QDir(parser.value(QStringLiteral("dir"))).absolutePath());
    return options;
}

}  // namespace tessaly::window
