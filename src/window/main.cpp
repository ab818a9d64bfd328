#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <utility>

#include "Version.h"
#include "program/OptionValues.h"
#include "program/ProcessResources.h"
#include "program/StandardDescriptors.h"
#include "program/StopSignals.h"
#include "program/Utf8Arguments.h"
#include "sim/SimulatedBox.h"
#include "window/DumpController.h"
#include "window/Form1.h"
#include "window/WindowOptions.h"

namespace {

void explainNoDisplay(const char* why) {
    std::fprintf(stderr,
                 "tessaly needs a desktop session (%s); for dumps without a window use "
                 "tessaly-dump.\n",
                 why);
}

bool namesAny(int argc, char** argv, std::initializer_list<const char*> options) {
    for (int i = 1; i < argc; ++i)
        for (const char* option : options)
            if (std::strcmp(argv[i], option) == 0) return true;
    return false;
}

// Only X11 and Wayland sessions announce themselves in the environment; elsewhere the
// platform always has a desktop.
bool announcesDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// Qt's own lines while the platform starts; shown only when it starts after all.
QStringList heldMessages;

// A display that is announced but cannot be reached ends in a fatal message from the platform
// plugin: that is the one place to learn about it. The platform's first complaint says why.
void holdStartupMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        explainNoDisplay(heldMessages.isEmpty() ? "the window system cannot be started"
                                                : qPrintable(heldMessages.first()));
        std::_Exit(1);
    }
    heldMessages << message;
}

// The application object for the window (a plain one for help and version), or nothing when
// there is no display to show it on; then one line on stderr has said so and pointed to the
// command-line tool. Without this check Qt aborts with a long text about platform plugins that
// tells a user nothing.
std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv) {
    // Help and version need no window, so they must also work where there is no display.
    if (namesAny(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"}))
        return std::make_unique<QCoreApplication>(argc, argv);
    const bool platformChosen = namesAny(argc, argv, {"-platform", "--platform"}) ||
                                !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen && !announcesDisplay()) {
        explainNoDisplay("no display is set");
        return nullptr;
    }
    const QtMessageHandler previous = qInstallMessageHandler(holdStartupMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& message : std::exchange(heldMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    return application;
}

// The toolkit's threads and the window system take about a dozen descriptors (measured on X11),
// a port and its image four more; with room to spare.
constexpr int kWindowDescriptors = 32;

}  // namespace

int main(int argc, char** argv) {
    tessaly::program::holdClosedStandardDescriptors();
    // Short of descriptors, the toolkit aborts while it starts, before the window could say why.
    if (tessaly::program::spareDescriptors(kWindowDescriptors) < kWindowDescriptors) {
        std::fprintf(stderr,
                     "tessaly cannot start: it may open too few files (it needs %d more); raise "
                     "the limit (ulimit -n).\n",
                     kWindowDescriptors);
        return 71;
    }
    // The toolkit draws with threads of its own and waits for them without end when none starts.
    if (!tessaly::program::canStartThread()) {
        std::fprintf(stderr,
                     "tessaly cannot start: the system gives it no thread (a limit on processes "
                     "or memory); end other programs or raise the limit.\n");
        return 71;
    }
    const std::unique_ptr<QCoreApplication> application = createApplication(argc, argv);
    if (!application) return 1;
    tessaly::program::ignoreSignalsOfFailedWrites();
    QCoreApplication::setApplicationName(QLatin1String(tessaly::kProductName));
    QCoreApplication::setApplicationVersion(QLatin1String(tessaly::kVersionText));

    QCommandLineParser parser;
    tessaly::window::addWindowOptions(parser);
    parser.process(*application);  // leaves the program for help, version and bad options
    // Refused in the form and with the status of the parser's own refusals.
    if (const QString repeated = tessaly::program::repeatedOptionSentence(parser);
        !repeated.isEmpty()) {
        std::fprintf(stderr, "%s: %s.\n", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(repeated));
        return 1;
    }
    const tessaly::window::WindowOptions options = tessaly::window::windowOptions(
        parser, tessaly::program::describeNonUtf8Argument(argc, argv));

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
    // Said in the window: started from a launcher, nobody reads the terminal.
    if (!options.refusal.isEmpty())
        form.showMessage(options.refusal, tessaly::window::kErrorCaption);
    // Checked as a chosen folder is, once the window is there to own the warning.
    if (!options.targetFolder.isEmpty()) form.setTargetFolder(options.targetFolder);
    return application->exec();
}
