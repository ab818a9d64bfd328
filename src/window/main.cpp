#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "Version.h"
#include "program/StopSignals.h"
#include "sim/SimulatedBox.h"
#include "window/DisplaySession.h"
#include "window/DumpController.h"
#include "window/Form1.h"
#include "window/WindowOptions.h"

int main(int argc, char** argv) {
    const std::unique_ptr<QCoreApplication> application =
        tessaly::window::createApplication(argc, argv);
    if (!application) return 1;
    tessaly::program::ignoreSignalsOfFailedWrites();
    QCoreApplication::setApplicationName(QLatin1String(tessaly::kProductName));
    QCoreApplication::setApplicationVersion(QLatin1String(tessaly::kVersionText));

    QCommandLineParser parser;
    tessaly::window::addWindowOptions(parser);
    parser.process(*application);  // leaves the program for help, version and bad options
    const tessaly::window::WindowOptions options = tessaly::window::windowOptions(parser);

    // Declared before the window so that the box outlives the window's open port.
    std::unique_ptr<tessaly::sim::InProcessBox> box;
    if (options.simulate) {
        try {
            box = std::make_unique<tessaly::sim::InProcessBox>();
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "No simulated box: %s\n", error.what());
            return 1;
        }
    }
    tessaly::window::Form1 form;
    tessaly::window::DumpController controller(form);
    controller.ports().offerStartDevices(options.port, box ? box->devicePath() : QString());

    // Ctrl-C, kill or a closed terminal end a run the way Close does, so the port is released.
    std::unique_ptr<tessaly::program::StopSignals> stopSignals;
    try {
        stopSignals = std::make_unique<tessaly::program::StopSignals>();
        QObject::connect(stopSignals.get(), &tessaly::program::StopSignals::stopRequested,
                         &controller, [&controller](int exitStatus) {
                             controller.interruptRun();
                             QCoreApplication::exit(exitStatus);
                         });
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "Warning: %s; Ctrl-C may leave the port locked.\n", error.what());
    }
    form.show();
    // Checked as a chosen folder is, once the window is there to own the warning.
    if (!options.targetFolder.isEmpty()) form.setTargetFolder(options.targetFolder);
    return application->exec();
}
