#include "program/StopSignals.h"

#include <QSocketNotifier>
#include <array>
#include <csignal>
#include <stdexcept>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>

#include <mutex>
#endif

namespace tessaly::program {

#ifdef Q_OS_UNIX
namespace {

constexpr std::array kStopSignals{SIGINT, SIGTERM, SIGHUP};

// The handler may only write to a descriptor; the event loop reads the signal number from the
// other end.
int requestPipe[2] = {-1, -1};
QSocketNotifier* requestNotifier = nullptr;

void onStopSignal(int signalNumber) {
    const auto number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = ::write(requestPipe[1], &number, 1);
}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (requestPipe[0] >= 0) throw std::logic_error("stop signals are handled already");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, requestPipe) != 0)
        throw std::runtime_error("no descriptors left for handling stop signals");
    requestNotifier = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
    connect(requestNotifier, &QSocketNotifier::activated, this, [this] {
        // The shell's convention for a program ended by a signal: 128 + its number (SIGINT 130,
        // SIGTERM 143, SIGHUP 129).
        unsigned char number = 0;
        while (::read(requestPipe[0], &number, 1) == 1) emit stopRequested(128 + number);
    });
    for (const int signalNumber : kStopSignals) setHandler(signalNumber, onStopSignal);
}

StopSignals::~StopSignals() {
    for (const int signalNumber : kStopSignals) setHandler(signalNumber, SIG_DFL);
    delete requestNotifier;
    for (int& end : requestPipe) {
        ::close(end);
        end = -1;
    }
}

void ignoreSignalsOfFailedWrites() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
#endif

#ifdef Q_OS_WIN
namespace {

// Ctrl-C, Ctrl-Break and closing the console all end a run as an interrupt would.
constexpr int kConsoleStopStatus = 130;
// Windows ends the process as soon as the handler returns from a close, log-off or shut-down
// event, and 5 s after the event at the latest: the handler holds on for that long, so that the
// run can end and the program exit on its own (which ends this thread too).
constexpr DWORD kEndOfRunBoundMs = 4500;

// The system calls the handler on a thread of its own.
std::mutex handlerLock;
StopSignals* handlerTarget = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    {
        const std::lock_guard lock(handlerLock);
        if (!handlerTarget) return FALSE;
        StopSignals* target = handlerTarget;
        QMetaObject::invokeMethod(
            target, [target] { emit target->stopRequested(kConsoleStopStatus); },
            Qt::QueuedConnection);
    }
    const bool processEndsOnReturn =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (processEndsOnReturn) Sleep(kEndOfRunBoundMs);
    return TRUE;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    const std::lock_guard lock(handlerLock);
    if (handlerTarget) throw std::logic_error("stop signals are handled already");
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE))
        throw std::runtime_error("cannot watch the console for Ctrl-C");
    handlerTarget = this;
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    const std::lock_guard lock(handlerLock);
    handlerTarget = nullptr;
}

// There are no such signals on Windows: the writes just fail.
void ignoreSignalsOfFailedWrites() {}
#endif

}  // namespace tessaly::program
