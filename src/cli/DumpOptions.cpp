#include "cli/DumpOptions.h"

#include <QCommandLineParser>
#include <QStringDecoder>

#include "Version.h"
#include "cli/ExitStatus.h"
#include "program/BoundedNumber.h"
#include "sim/BoxBehaviour.h"

namespace tessaly::cli {

namespace {

constexpr qint64 kLongestTimeoutSeconds = 10 * 24 * 3600;
constexpr int kMostReads = 10;
constexpr int kVerifiedReadsByDefault = 3;

int boundedNumber(const QString& text, const QString& option, qint64 lowest, qint64 highest) {
    if (const auto value = program::boundedNumber(text, lowest, highest)) return int(*value);
    throw Refusal{program::wholeNumberRange(option, lowest, highest) +
                      QStringLiteral(", not \"%1\".").arg(text),
                  kBadUsage};
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
    "without /dev/, with / turned into -).";
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

void checkCombinations(const DumpOptions& options, const QCommandLineParser& parser) {
    if (options.listPorts) {
        if (!options.ports.isEmpty() || options.simulate)
            throw Refusal{QStringLiteral("--list-ports reads no box; leave out --port and "
                                         "--simulate."),
                          kBadUsage};
        return;
    }
    if (options.ports.isEmpty() == !options.simulate)
        throw Refusal{QStringLiteral("Give --port DEVICE (once or more) or --simulate."),
                      kBadUsage};
    if (!options.outputFile.isEmpty() && parser.isSet(QStringLiteral("dir")))
        throw Refusal{QStringLiteral("--output names the file itself; leave out --dir."),
                      kBadUsage};
    if (!options.outputFile.isEmpty() && options.ports.size() > 1)
        throw Refusal{QStringLiteral("--output takes one port only; with several ports "
                                     "every image goes to DIRECTORY/NAME/EEPROM.bin."),
                      kBadUsage};
    if (options.verify && options.reads < 2)
        throw Refusal{QStringLiteral("--verify compares two reads at least; give --reads 2 "
                                     "or more."),
                      kBadUsage};
    if (!parser.positionalArguments().isEmpty())
        throw Refusal{
            QStringLiteral("Unexpected argument \"%1\".").arg(parser.positionalArguments().first()),
            kBadUsage};
}

DumpOptions optionsFrom(const QCommandLineParser& parser) {
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
    options.listPorts = parser.isSet(QStringLiteral("list-ports"));
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
        {"list-ports", "List the serial ports the system reports, then end."},
        {"simulate", "Dump from a simulated box instead."},
        {"simulate-box",
         "Dump from a simulated box that misbehaves as listed (comma-separated: " +
             sim::boxBehaviourItems() + ").",
         "list"},
    });
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(helpDescription());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    addOptions(parser);
    const QString tryHelp = QStringLiteral(" Try --help.");
    if (!parser.parse(arguments))
        return {std::nullopt, parser.errorText() + '.' + tryHelp, kBadUsage};
    if (parser.isSet(help)) return {std::nullopt, parser.helpText(), kSavedAndVerified};
    if (parser.isSet(version))
        return {std::nullopt,
                QStringLiteral("%1 %2\n").arg(QLatin1StringView(kProductName),
                                              QLatin1StringView(kVersionText)),
                kSavedAndVerified};
    try {
        return {optionsFrom(parser), {}, kSavedAndVerified};
    } catch (const Refusal& error) {
        return {std::nullopt, error.sentence + tryHelp, kBadUsage};
    }
}

QString describeNonUtf8Argument(int argc, const char* const* argv) {
#ifdef Q_OS_WIN
    // Qt takes the arguments from the system as UTF-16 there; argv is in the ANSI code page.
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return {};
#else
    for (int i = 1; i < argc; ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder(QByteArrayView(argv[i]));
        if (!decoder.hasError()) continue;
        QString where = QStringLiteral("as argument %1").arg(i);
        if (text.startsWith('-'))
            where = QStringLiteral("with ") + text.section('=', 0, 0);
        else if (i > 1 && argv[i - 1][0] == '-')
            where = QStringLiteral("with ") + QString::fromUtf8(argv[i - 1]);
        return QStringLiteral(
                   "The name given %1 (\"%2\") is not valid UTF-8; Tessaly can only use paths "
                   "whose names are. Rename it, or use a link with a UTF-8 name.")
            .arg(where, text);
    }
    return {};
#endif
}

}  // namespace tessaly::cli
