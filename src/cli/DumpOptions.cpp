#include "cli/DumpOptions.h"

#include <QCommandLineParser>
#include <array>
#include <utility>

#include "Version.h"
#include "cli/ExitStatus.h"
#include "program/BoundedNumber.h"
#include "program/OptionValues.h"
#include "sim/BoxBehaviour.h"

namespace tessaly::cli {

namespace {

constexpr qint64 kLongestTimeoutSeconds = 10 * 24 * 3600;
constexpr int kMostReads = 10;
constexpr int kVerifiedReadsByDefault = 3;

// The options that name what the program is to do, one task a run (--simulate-box is a
// --simulate; it and --port ask for a dump).
const std::array<std::pair<QStringList, Task>, 6> kTasks{{
    {{"list-ports"}, Task::ListPorts},
    {{"compare"}, Task::Compare},
    {{"show"}, Task::Show},
    {{"check-port"}, Task::CheckPort},
    {{"simulate", "simulate-box"}, Task::Dump},
    {{"port"}, Task::Dump},
}};

int boundedNumber(const QString& text, const QString& option, qint64 lowest, qint64 highest) {
    if (const auto value = program::boundedNumber(text, lowest, highest)) return int(*value);
    throw usageError(program::wholeNumberRange(option, lowest, highest) +
                     QStringLiteral(", not \"%1\"").arg(text));
}

ColorChoice colorChoice(const QString& value) {
    const qsizetype choice = QStringList{"auto", "always", "never"}.indexOf(value);
    if (choice < 0)
        throw usageError(
            QStringLiteral("--color takes auto, always or never, not \"%1\"").arg(value));
    return ColorChoice(choice);  // the names in the order of the choices
}

// Each system's help speaks of its own ports and paths.
#ifdef Q_OS_WIN
constexpr char kImagePath[] = "DIRECTORY\\EEPROM.bin";
constexpr char kSeveralPortsHelp[] =
    "each into DIRECTORY\\NAME\\EEPROM.bin (NAME: the port, such as COM7).";
constexpr char kExamplesHelp[] =
    "Examples:\n"
    "  tessaly-dump --port COM5 --dir C:\\Backups\n"
    "  tessaly-dump --port COM5 --port COM6 --dir C:\\Backups --verify";
constexpr char kPortHelp[] =
    "Serial port (COM5; \"COM 1\" to \"COM 4\" or 1 to 4). Give it several times to read "
    "several boxes at once.";
#else
constexpr char kImagePath[] = "DIRECTORY/EEPROM.bin";
constexpr char kSeveralPortsHelp[] =
    "each into DIRECTORY/NAME/EEPROM.bin (NAME: the device path\n"
    "without /dev/, with / turned into -, without a leading - or .; two ports with\n"
    "the same NAME are refused).";
constexpr char kExamplesHelp[] =
    "Examples:\n"
    "  tessaly-dump --port /dev/ttyUSB0 --dir ~/backups\n"
    "  tessaly-dump --port /dev/ttyUSB0 --port /dev/ttyUSB1 --dir ~/backups --verify";
constexpr char kPortHelp[] =
    "Serial device (/dev/ttyUSB0, a pseudo-terminal; \"COM 1\" to \"COM 4\" or 1 to 4). "
    "Give it several times to read several boxes at once.";
#endif

QString helpDescription() {
    return QStringLiteral(
               "Reads the 1024-byte EEPROM of a set-top box in \"HOST - MODE\" over a serial\n"
               "port and saves it as EEPROM.bin. With several --port options all boxes are read\n"
               "at the same time, ") +
           QLatin1StringView(kSeveralPortsHelp) + QStringLiteral("\n\n") +
           QLatin1StringView(kExitStatusHelp) + '\n' + QLatin1StringView(kExamplesHelp);
}

// An unset shell variable must not send a dump elsewhere: every value given must say something.
// Only --port names several things at once; any other value given twice would leave one unused.
// A switch given twice (--json --json) asks for the same thing and is taken as given once.
void refuseBlankOrRepeatedValues(const QCommandLineParser& parser) {
    for (const QString& name : parser.optionNames())
        for (const QString& value : parser.values(name))
            if (value.trimmed().isEmpty())
                throw usageError(program::optionSpelling(name) +
                                 QStringLiteral(" was given an empty value"));
    const QString repeated =
        program::repeatedOptionSentence(parser, {QStringLiteral("p"), QStringLiteral("port")});
    if (!repeated.isEmpty()) throw usageError(repeated);
}

// The one task asked for, with the files or the port it works on.
void takeTask(DumpOptions& options, const QCommandLineParser& parser) {
    QStringList given;
    for (const auto& [names, task] : kTasks)
        for (const QString& name : names)
            if (parser.isSet(name)) {
                given << name;
                options.task = task;
                break;
            }
    if (given.size() > 1)
        throw usageError(
            QStringLiteral("--%1 and --%2 exclude each other").arg(given[0], given[1]));
    if (options.task == Task::Compare) options.files = parser.positionalArguments();
    if (options.task == Task::Show) options.files = parser.values(QStringLiteral("show"));
    if (options.task == Task::CheckPort)
        options.ports = parser.values(QStringLiteral("check-port"));
}

void checkCombinations(const DumpOptions& options, const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("output")) && parser.isSet(QStringLiteral("dir")))
        throw usageError(QStringLiteral("--output and --dir exclude each other"));
    // --compare takes its two files as the arguments that follow; nothing else takes any.
    const QStringList arguments = parser.positionalArguments();
    if (options.task == Task::Compare && arguments.size() != 2)
        throw usageError(QStringLiteral("--compare takes two files: --compare A B"));
    if (options.task != Task::Compare && !arguments.isEmpty())
        throw usageError(QStringLiteral("Unexpected argument \"%1\"").arg(arguments.first()));
    if (options.task != Task::Dump) return;
    if (!options.simulate && options.ports.isEmpty())
        throw usageError(QStringLiteral("Give --port DEVICE (once or more) or --simulate"));
    if (!options.outputFile.isEmpty() && options.ports.size() > 1)
        throw usageError(
            QStringLiteral("--output takes one port only; with several ports every "
                           "image goes to DIRECTORY/NAME/EEPROM.bin"));
    if (options.verify && options.reads < 2)
        throw usageError(
            QStringLiteral("--verify compares two reads at least; give --reads 2 or more"));
}

DumpOptions optionsFrom(const QCommandLineParser& parser) {
    refuseBlankOrRepeatedValues(parser);
    DumpOptions options;
    options.ports = parser.values(QStringLiteral("port"));
    if (parser.isSet(QStringLiteral("dir")))
        options.directory = parser.value(QStringLiteral("dir"));
    options.outputFile = parser.value(QStringLiteral("output"));
    options.timeoutSeconds = boundedNumber(parser.value(QStringLiteral("timeout")),
                                           QStringLiteral("--timeout"), 0, kLongestTimeoutSeconds);
    options.simulate =
        parser.isSet(QStringLiteral("simulate")) || parser.isSet(QStringLiteral("simulate-box"));
    options.boxBehaviour = parser.value(QStringLiteral("simulate-box"));
    options.verify = parser.isSet(QStringLiteral("verify"));
    options.reads = options.verify ? kVerifiedReadsByDefault : 1;
    if (parser.isSet(QStringLiteral("reads")))
        options.reads = boundedNumber(parser.value(QStringLiteral("reads")),
                                      QStringLiteral("--reads"), 1, kMostReads);
    options.json = parser.isSet(QStringLiteral("json"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    options.color = colorChoice(parser.value(QStringLiteral("color")));
    takeTask(options, parser);
    checkCombinations(options, parser);
    return options;
}

void addOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {{"p", "port"}, kPortHelp, "device"},
        {{"d", "dir"}, "Directory for EEPROM.bin (default: current).", "directory"},
        {{"o", "output"},
         QStringLiteral("Write the image to <file> instead of %1 (one port only).")
             .arg(QLatin1StringView(kImagePath)),
         "file"},
        {{"t", "timeout"},
         "Longest wait in seconds for each answer of the box, 0 to 864000; 0 waits forever "
         "(default 10).",
         "seconds",
         "10"},
        {"verify",
         "Save only when two complete reads agree byte for byte (each with a matching "
         "checksum)."},
        {"reads",
         "Reads at most (1 to 10): with --verify until two agree (default 3), otherwise "
         "re-reads after a checksum mismatch (default 1).",
         "n"},
        {"json", "One JSON object per box on stdout when its run ends; everything else on stderr."},
        {{"q", "quiet"}, "Print errors and warnings only."},
        {"color",
         "Colour the checksum error, a damaged dump's checksum line and the bytes that differ "
         "from the earlier image: auto (on a terminal unless NO_COLOR has a value), always or "
         "never (default auto).",
         "when", "auto"},
        {"list-ports", "List the serial ports the system reports, then end."},
        {"compare",
         "Compare two image files A and B given after it: the differing bytes (offset, A's, "
         "B's; the first 1024) and their count; exit 0 when identical, 1 when not."},
        {"check-port",
         "Check an adapter and cable with TX tied to RX: send every byte value and compare what "
         "comes back. Sends nothing a box would answer.",
         "device"},
        {"show",
         "Print the listing of an image file as a dump prints it, its sum and SHA-256. Files "
         "of up to 1 MiB; devices and directories are refused.",
         "file"},
        {"simulate", "Dump from a simulated box instead."},
        {"simulate-box",
         "Dump from a simulated box that misbehaves as listed (comma-separated: " +
             sim::boxBehaviourItems() + ").",
         "list"},
    });
}

}  // namespace

std::variant<DumpOptions, QString> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(helpDescription());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    addOptions(parser);
    if (!parser.parse(arguments)) {
        QString sentence = parser.errorText();
        if (sentence.endsWith('.')) sentence.chop(1);
        throw usageError(sentence);
    }
    if (parser.isSet(help)) return parser.helpText();
    if (parser.isSet(version))
        return QStringLiteral("%1 %2\n").arg(QLatin1StringView(kProductName),
                                             QLatin1StringView(kVersionText));
    return optionsFrom(parser);
}

}  // namespace tessaly::cli
