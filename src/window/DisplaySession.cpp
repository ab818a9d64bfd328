#include "window/DisplaySession.h"

#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tessaly::window {

namespace {

void explainNoDisplay(const char* why) {
    std::fprintf(stderr,
                 "tessaly needs a desktop session (%s); for dumps without a window use "
                 "tessaly-dump.\n",
                 why);
}

bool choosesPlatform(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
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

std::unique_ptr<QApplication> createWindowApplication(int& argc, char** argv) {
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
