#include "window/DisplaySession.h"

#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace tessaly::window {

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

bool choosesPlatform(int argc, char** argv) {
    return namesAny(argc, argv, {"-platform", "--platform"}) ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
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

}  // namespace

std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv) {
    // Help and version need no window, so they must also work where there is no display.
    if (namesAny(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"}))
        return std::make_unique<QCoreApplication>(argc, argv);
    if (!choosesPlatform(argc, argv) && !announcesDisplay()) {
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

}  // namespace tessaly::window
