#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "Version.h"
#include "program/StopSignals.h"
#include "sim/InProcessBox.h"
#include "window/DisplaySession.h"
#include "window/Form1.h"
#include "window/Startup.h"

namespace {

// Help and version need no window, so they must also work where there is no display.
bool wantsTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-?", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0) return true;
    }
    return false;
}

std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv) {
    if (wantsTextOnly(argc, argv)) return std::make_unique<QCoreApplication>(argc, argv);
    return tessaly::window::createWindowApplication(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<QCoreApplication> application = createApplication(argc, argv);
    if (!application) return 1;
    QCoreApplication::setApplicationName(QLatin1String(tessaly::kProductName));
    QCoreApplication::setApplicationVersion(QLatin1String(tessaly::kVersionText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the EEPROM of a set-top box over a serial port and saves it as EEPROM.bin."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Adds DEVICE to the port list and selects it."),
        QStringLiteral("DEVICE"));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Adds a simulated box to the port list and selects it."));
    parser.addOptions({portOption, simulateOption});
    parser.process(*application);  // leaves the program for help, version and bad options

    // Declared before the window so that the box outlives the window's open port.
    std::unique_ptr<tessaly::sim::InProcessBox> box;
    if (parser.isSet(simulateOption)) {
        try {
            box = std::make_unique<tessaly::sim::InProcessBox>();
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "No simulated box: %s\n", error.what());
            return 1;
        }
    }
    tessaly::window::Form1 form;
    tessaly::window::offerStartDevices(form, parser.value(portOption), box.get());

    // Ctrl-C, kill or a closed terminal end a run the way Close does, so the port is released.
    std::unique_ptr<tessaly::program::StopSignals> stopSignals;
    try {
        stopSignals = std::make_unique<tessaly::program::StopSignals>();
        QObject::connect(stopSignals.get(), &tessaly::program::StopSignals::stopRequested, &form,
                         [&form](int exitStatus) {
                             form.interruptRun();
                             QCoreApplication::exit(exitStatus);
                         });
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "Warning: %s; Ctrl-C may leave the port locked.\n", error.what());
    }
    form.show();
    return application->exec();
}
