// tessaly-dump: the dump for scripts and workshops, through the same exchange and serial code as
// the window. Prints the window's log on stdout and every failure as one sentence on stderr.
#include <BoxBehaviour.h>
#include <BuiltInBox.h>
#include <CommError.h>
#include <DumpLog.h>
#include <DumpRun.h>
#include <ImageFile.h>
#include <MSComm.h>
#include <PortAdvice.h>
#include <Version.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

using tessaly::CommError;
using tessaly::DumpRun;
using tessaly::MSComm;

enum ExitStatus {
    kSavedAndVerified = 0,
    kChecksumMismatch = 1,
    kPortNotOpened = 2,
    kBoxSilent = 3,
    kLinkOrFileFailed = 4,
    kBadUsage = 64,
};

constexpr char kExitStatusHelp[] =
    "Exit status:\n"
    "  0   dump saved and checksum matched\n"
    "  1   dump saved but the checksum did not match\n"
    "  2   the port could not be opened\n"
    "  3   the box did not answer in time\n"
    "  4   the link was lost or the file could not be written (no file written)\n"
    "  64  bad usage\n";

struct Options {
    QString port;
    QString directory;
    int timeoutSeconds = 10;
    bool simulate = false;
    QString boxBehaviour;
};

void printOut(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printError(const QString& sentence) {
    std::fprintf(stderr, "tessaly-dump: %s\n", sentence.toLocal8Bit().constData());
}

// The log uses CR LF like the window; a terminal wants the platform's own line ends.
QString forTerminal(QString logText) {
#ifndef Q_OS_WIN
    logText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
    return logText;
}

std::optional<Options> parseArguments(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads the 1024-byte EEPROM of a set-top box in \"HOST - MODE\" over a "
                       "serial port and saves it as EEPROM.bin.\n\n") +
        QLatin1StringView(kExitStatusHelp));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Serial device (/dev/ttyUSB0, a pseudo-terminal) or \"COM 1\" to \"COM 4\" "
                       "or a port number 1 to 4."),
        QStringLiteral("device"));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Directory for EEPROM.bin (default: current)."),
                                 QStringLiteral("directory"), QStringLiteral("."));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Longest wait in seconds for each answer of the box; 0 waits forever."),
        QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Dump from a simulated box instead."));
    const QCommandLineOption simulateBox(
        QStringLiteral("simulate-box"),
        QStringLiteral("Dump from a simulated box that misbehaves as listed (comma-separated: "
                       "wrong-checksum, silent-after=N, disconnect-after-bytes=N, split-tokens, "
                       "noise=N, baud=N)."),
        QStringLiteral("list"));
    parser.addOptions({port, dir, timeout, simulate, simulateBox});

    if (!parser.parse(app.arguments())) {
        printError(parser.errorText() + QStringLiteral(". Try --help."));
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(parser.helpText());
        std::exit(kSavedAndVerified);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printOut(QStringLiteral("%1 %2\n").arg(QLatin1StringView(tessaly::kProductName),
                                               QLatin1StringView(tessaly::kVersionText)));
        std::exit(kSavedAndVerified);
    }

    Options options;
    options.port = parser.value(port);
    options.directory = parser.value(dir);
    options.simulate = parser.isSet(simulate) || parser.isSet(simulateBox);
    options.boxBehaviour = parser.value(simulateBox);
    bool numeric = false;
    options.timeoutSeconds = parser.value(timeout).toInt(&numeric);
    if (!numeric || options.timeoutSeconds < 0) {
        printError(
            QStringLiteral("--timeout takes a whole number of seconds, 0 or more. Try --help."));
        return std::nullopt;
    }
    if (options.port.isEmpty() == !options.simulate) {
        printError(QStringLiteral("Give exactly one of --port DEVICE and --simulate. Try --help."));
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("Unexpected argument \"%1\". Try --help.")
                       .arg(parser.positionalArguments().first()));
        return std::nullopt;
    }
    return options;
}

// "COM 3", "COM3" and "3" name the platform's first four ports; anything else is a device path.
int portNumberFor(MSComm& link, const QString& port) {
    static const QRegularExpression comPort(QStringLiteral("^(?:COM\\s*)?([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comPort.match(port.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : link.AddDevice(port);
}

QString openFailureSentence(const CommError& error) {
    const QString device = error.device();
    switch (error.number()) {
        case CommError::NoSuchPort:
            return QStringLiteral(
                       "Serial port %1 does not exist (%2). Check the port name and "
                       "that the adapter is plugged in.")
                .arg(device, error.reason());
        case CommError::PortInUse:
            return QStringLiteral(
                       "Serial port %1 is in use by another program (%2). Close that "
                       "program and try again.")
                .arg(device, error.reason());
        case CommError::AccessDenied:
            return QStringLiteral("No permission to open serial port %1 (%2). %3")
                .arg(device, error.reason(), tessaly::accessDeniedHint());
        default:
            return QStringLiteral("Serial port %1 cannot be opened: %2.")
                .arg(device, error.reason());
    }
}

QString failureSentence(const DumpRun::Result& result, const QString& device,
                        const QString& imagePath, int timeoutSeconds) {
    switch (result.outcome) {
        case DumpRun::Outcome::ChecksumMismatch:
            return QStringLiteral(
                       "The checksum of the dump does not match: %1 holds the data as "
                       "received, which is damaged. Run the dump again.")
                .arg(imagePath);
        case DumpRun::Outcome::TimedOut:
            return QStringLiteral(
                       "The box on %1 did not send %2 within %3 s. Check that it is in "
                       "\"HOST - MODE\" and cabled to this port.")
                .arg(device, result.detail)
                .arg(timeoutSeconds);
        case DumpRun::Outcome::LinkLost:
            return QStringLiteral(
                       "The connection to the box on %1 was lost (%2). Check the cable "
                       "and the adapter; no file was written.")
                .arg(device, result.detail);
        case DumpRun::Outcome::WriteFailed:
            return QStringLiteral("Cannot write %1: %2. An earlier file there is unchanged.")
                .arg(imagePath, result.detail);
        default:
            return {};
    }
}

int exitStatusFor(DumpRun::Outcome outcome) {
    switch (outcome) {
        case DumpRun::Outcome::Saved:
            return kSavedAndVerified;
        case DumpRun::Outcome::ChecksumMismatch:
            return kChecksumMismatch;
        case DumpRun::Outcome::TimedOut:
            return kBoxSilent;
        default:
            return kLinkOrFileFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-dump"));
    QCoreApplication::setApplicationVersion(QLatin1StringView(tessaly::kVersionText));
    const std::optional<Options> options = parseArguments(app);
    if (!options) return kBadUsage;

    // Found out before the box is asked for anything, rather than after the whole exchange.
    if (!QFileInfo(options->directory).isDir()) {
        printError(
            QStringLiteral("The directory %1 does not exist; EEPROM.bin cannot be saved there.")
                .arg(QDir::toNativeSeparators(options->directory)));
        return kLinkOrFileFailed;
    }

    std::unique_ptr<tessaly::sim::BuiltInBox> simulator;
    try {
        if (options->simulate)
            simulator = tessaly::sim::startBuiltInBox(
                tessaly::sim::boxBehaviourFrom(options->boxBehaviour));
    } catch (const std::invalid_argument& error) {
        printError(QString::fromUtf8(error.what()) + QStringLiteral(". Try --help."));
        return kBadUsage;
    }
    const QString port = simulator ? simulator->devicePath() : options->port;

    MSComm link;
    tessaly::setUpLinkForBox(link);
    link.setCommPort(portNumberFor(link, port));
    const QString device = link.DeviceName(link.CommPort());
    try {
        link.setPortOpen(true);
    } catch (const CommError& error) {
        printError(openFailureSentence(error));
        return kPortNotOpened;
    }

    const QString imagePath =
        tessaly::imagePathIn(options->directory, QLatin1StringView(tessaly::kImageFileName));
    DumpRun run(link);
    run.setWaitLimit(std::chrono::seconds(options->timeoutSeconds));
    int status = kLinkOrFileFailed;
    QObject::connect(&run, &DumpRun::finished, &app, [&](const DumpRun::Result& result) {
        printOut(forTerminal(tessaly::dumpResultLog(result)));
        const QString failure = failureSentence(result, device, imagePath, options->timeoutSeconds);
        if (!failure.isEmpty()) printError(failure);
        status = exitStatusFor(result.outcome);
        if (link.PortOpen()) {
            link.setPortOpen(false);
            printOut(forTerminal(QLatin1StringView(tessaly::kPortClosedLog)));
        }
        app.quit();
    });
    printOut(forTerminal(QLatin1StringView(tessaly::kRequestLog)));
    QTimer::singleShot(0, &run, [&] { run.start(imagePath); });
    app.exec();
    return status;
}
