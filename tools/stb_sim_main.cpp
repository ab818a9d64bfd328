// A simulated set-top box on a pseudo-terminal, for trying the program without hardware: prints
// the device to open, then serves dumps until interrupted.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "Version.h"
#include "program/BoundedRead.h"
#include "program/OptionValues.h"
#include "program/StandardDescriptors.h"
#include "program/StopSignals.h"
#include "sim/SimulatedBox.h"

using tessaly::sim::SimOptions;
using tessaly::sim::StbSimulator;

namespace {

constexpr int kUsageError = 64;
constexpr int kNoTerminal = 71;

void printLine(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

using UsageError = std::invalid_argument;

std::array<std::uint8_t, 1024> readImage(const QString& path) {
    std::array<std::uint8_t, 1024> image{};
    const tessaly::program::BoundedRead file = tessaly::program::readBounded(path, image.size());
    if (!file.failure.isEmpty())
        throw UsageError(
            QStringLiteral("cannot read %1: %2").arg(path, file.failure).toStdString());
    const QByteArray& bytes = file.bytes;
    if (bytes.size() != qsizetype(image.size()))
        throw UsageError(QStringLiteral("%1 must hold exactly 1024 bytes").arg(path).toStdString());
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return image;
}

SimOptions optionsFrom(const QCommandLineParser& parser) {
    const QString repeated = tessaly::program::repeatedOptionSentence(parser);
    if (!repeated.isEmpty()) throw UsageError(repeated.toStdString());
    SimOptions options;
    if (parser.isSet("image")) options.image = readImage(parser.value("image"));
    for (const tessaly::sim::BoxMisbehaviour& misbehaviour : tessaly::sim::boxMisbehaviours()) {
        const QString name = QString::fromLatin1(misbehaviour.name);
        if (parser.isSet(name)) misbehaviour.applyTo(options, parser.value(name), "--" + name);
    }
    options.paceStepMicroseconds =
        tessaly::sim::wholeNumber(parser.value("pace-step"), 0, 100'000, "--pace-step");
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
        printLine(stderr, QStringLiteral("acknowledged: ") + (success ? "success" : "error"));
    });
    QObject::connect(&box, &StbSimulator::hostDeviated, [](const QString& what) {
        printLine(stderr, QStringLiteral("deviation: ") + what);
    });
    QObject::connect(&box, &StbSimulator::hungUp,
                     [] { printLine(stderr, QStringLiteral("hung up")); });
}

void addOptions(QCommandLineParser& parser) {
    parser.addOption({"image", "Serve the 1024 bytes of <file>.", "file"});
    for (const tessaly::sim::BoxMisbehaviour& misbehaviour : tessaly::sim::boxMisbehaviours()) {
        parser.addOption({misbehaviour.name, misbehaviour.help,
                          misbehaviour.valueName ? misbehaviour.valueName : ""});
    }
    parser.addOptions({
        {"pace-step",
         "With --baud: send in bursts of <us> microseconds of wire time, each when its last "
         "byte is due (default 0: byte by byte).",
         "us", "0"},
        {"record", "Keep everything the host sent in <file>.", "file"},
        {"boxes",
         "Serve <n> boxes alike (1 to 64), each on its own terminal; prints one device a line.",
         "n", "1"},
    });
}

}  // namespace

int main(int argc, char** argv) {
    tessaly::program::holdClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    tessaly::program::ignoreSignalsOfFailedWrites();
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-stb-sim"));
    QCoreApplication::setApplicationVersion(
        QStringLiteral("%1 %2").arg(tessaly::kProductName, tessaly::kVersionText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated set-top box in \"HOST - MODE\". Prints the device to open, then serves "
        "EEPROM dumps until interrupted."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    addOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(stderr, parser.errorText());
        return kUsageError;
    }
    if (parser.isSet(help)) parser.showHelp();
    if (parser.isSet(version)) parser.showVersion();

    try {
        const SimOptions options = optionsFrom(parser);
        const int count = tessaly::sim::wholeNumber(parser.value("boxes"), 1, 64, "--boxes");
        if (count > 1 && parser.isSet("record"))
            throw UsageError("--record keeps one box's transcript; leave out --boxes");
        std::vector<std::unique_ptr<StbSimulator>> boxes;
        for (int i = 0; i < count; ++i) {
            StbSimulator& box = *boxes.emplace_back(std::make_unique<StbSimulator>(options));
            if (parser.isSet("record")) recordTranscript(box, parser.value("record"));
            logEvents(box);
        }
        // Ctrl-C, kill or a closed terminal end the event loop, so the terminals close cleanly.
        const tessaly::program::StopSignals stopSignals;
        QObject::connect(&stopSignals, &tessaly::program::StopSignals::stopRequested, &app,
                         &QCoreApplication::quit);
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
