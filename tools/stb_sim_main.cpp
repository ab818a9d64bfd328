// A simulated set-top box on a pseudo-terminal, for trying the program without hardware: prints
// the device to open, then serves dumps until interrupted.
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "sim/StbSimulator.h"
#include "Version.h"

using tessaly::sim::SimOptions;
using tessaly::sim::StbSimulator;

namespace {

constexpr int kUsageError = 64;
constexpr int kNoTerminal = 71;

int signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop from inside it, so that the terminal is closed cleanly.
void quitOnStopSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void printLine(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int integerOption(const QCommandLineParser& parser, const QString& name, int lowest, int highest) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(QStringLiteral("--%1 takes a whole number from %2 to %3")
                             .arg(name)
                             .arg(lowest)
                             .arg(highest)
                             .toStdString());
    return value;
}

std::array<std::uint8_t, 1024> readImage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError(
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()).toStdString());
    const QByteArray bytes = file.read(1025);
    std::array<std::uint8_t, 1024> image{};
    if (bytes.size() != qsizetype(image.size()))
        throw UsageError(QStringLiteral("%1 must hold exactly 1024 bytes").arg(path).toStdString());
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return image;
}

SimOptions optionsFrom(const QCommandLineParser& parser) {
    SimOptions options;
    if (parser.isSet("image")) options.image = readImage(parser.value("image"));
    options.wrongChecksum = parser.isSet("wrong-checksum");
    if (parser.isSet("silent-after"))
        options.silentAfterMessage = integerOption(parser, "silent-after", 1, 10);
    if (parser.isSet("disconnect-after-bytes"))
        options.disconnectAfterReplyBytes =
            integerOption(parser, "disconnect-after-bytes", 0, 1024);
    options.splitTokens = parser.isSet("split-tokens");
    if (parser.isSet("noise")) options.noiseBeforeTokens = integerOption(parser, "noise", 0, 4096);
    if (parser.isSet("baud")) options.baud = integerOption(parser, "baud", 50, 4'000'000);
    if (parser.isSet("pace-step"))
        options.paceStepMicroseconds = integerOption(parser, "pace-step", 0, 100'000);
    return options;
}

// Keeps the file equal to the transcript as bytes arrive, so it is complete whenever it is read.
void recordTranscript(StbSimulator& box, const QString& path) {
    auto* file = new QFile(path, &box);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw UsageError(
            QStringLiteral("cannot write %1: %2").arg(path, file->errorString()).toStdString());
    QObject::connect(&box, &StbSimulator::received, file, [file](const QByteArray& bytes) {
        file->write(bytes);
        file->flush();
    });
}

void logEvents(StbSimulator& box) {
    QObject::connect(&box, &StbSimulator::acknowledged, [](bool success) {
        printLine(stderr, success ? QStringLiteral("acknowledged: success")
                                  : QStringLiteral("acknowledged: error"));
    });
    QObject::connect(&box, &StbSimulator::hostDeviated, [](const QString& what) {
        printLine(stderr, QStringLiteral("deviation: ") + what);
    });
    QObject::connect(&box, &StbSimulator::hungUp,
                     [] { printLine(stderr, QStringLiteral("hung up")); });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-stb-sim"));
    QCoreApplication::setApplicationVersion(
        QStringLiteral("%1 %2").arg(tessaly::kProductName, tessaly::kVersionText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated set-top box in \"HOST - MODE\". Prints the device to open, then serves "
        "EEPROM dumps until interrupted."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
        {"image", "Serve the 1024 bytes of <file>.", "file"},
        {"wrong-checksum", "Send a wrong checksum byte."},
        {"silent-after", "Stop answering after host message <n> (1 to 10).", "n"},
        {"disconnect-after-bytes", "Hang up after <n> bytes of the reply.", "n"},
        {"split-tokens", "Send every token byte on its own."},
        {"noise", "Send <n> bytes of line noise before each token.", "n"},
        {"baud", "Pace both directions at <rate> baud (8N1).", "rate"},
        {"pace-step",
         "With --baud: send in bursts of <us> microseconds of wire time, each when its last "
         "byte is due (default 0: byte by byte).",
         "us"},
        {"record", "Keep everything the host sent in <file>.", "file"},
        {"boxes",
         "Serve <n> boxes alike (1 to 64), each on its own terminal; prints one "
         "device a line.",
         "n"},
    });
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(stderr, parser.errorText());
        return kUsageError;
    }
    if (parser.isSet(help)) parser.showHelp();
    if (parser.isSet(version)) parser.showVersion();

    try {
        const SimOptions options = optionsFrom(parser);
        const int count = parser.isSet("boxes") ? integerOption(parser, "boxes", 1, 64) : 1;
        if (count > 1 && parser.isSet("record"))
            throw UsageError("--record keeps one box's transcript; leave out --boxes");
        std::vector<std::unique_ptr<StbSimulator>> boxes;
        for (int i = 0; i < count; ++i) {
            StbSimulator& box = *boxes.emplace_back(std::make_unique<StbSimulator>(options));
            if (parser.isSet("record")) recordTranscript(box, parser.value("record"));
            logEvents(box);
        }
        quitOnStopSignals(app);
        for (const auto& box : boxes) printLine(stdout, box->devicePath());
        return app.exec();
    } catch (const UsageError& error) {
        printLine(stderr, QString::fromStdString(error.what()));
        return kUsageError;
    } catch (const std::runtime_error& error) {
        printLine(stderr, QString::fromStdString(error.what()));
        return kNoTerminal;
    }
}
