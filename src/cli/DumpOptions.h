#pragma once

#include <QString>
#include <QStringList>
#include <variant>

#include "cli/Console.h"
#include "program/Utf8Arguments.h"

// What tessaly-dump is asked to do, from its command line.
namespace tessaly::cli {

enum class Task { Dump, ListPorts, Compare, Show, CheckPort };

struct DumpOptions {
    Task task = Task::Dump;
    QStringList ports;  // as given: device paths, "COM 1" to "COM 4" or 1 to 4; or the one to check
    QString directory = QStringLiteral(".");
    QString outputFile;  // -o: the image file itself instead of DIRECTORY/EEPROM.bin
    int timeoutSeconds = 10;
    bool simulate = false;
    QString boxBehaviour;  // how the simulated box misbehaves (--simulate-box)
    bool verify = false;
    int reads = 1;
    bool json = false;
    bool quiet = false;
    ColorChoice color = ColorChoice::Auto;
    QStringList files;  // --compare A B, --show FILE
};

// Options to run with, or else the help or the version to print; throws a Refusal for a usage
// error.
std::variant<DumpOptions, QString> parseCommandLine(const QStringList& arguments);

using program::describeNonUtf8Argument;

}  // namespace tessaly::cli
