#pragma once

#include <QString>
#include <QStringList>
#include <variant>

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
    QStringList files;  // --compare A B, --show FILE
};

// Options to run with, or else the help or the version to print; throws a Refusal for a usage
// error.
std::variant<DumpOptions, QString> parseCommandLine(const QStringList& arguments);

// The first argument that is not valid UTF-8, described for the user in a sentence without its
// period (with the option it belongs to); empty when all are. Such names cannot be carried to the
// system intact.
QString describeNonUtf8Argument(int argc, const char* const* argv);

}  // namespace tessaly::cli
