#include "StopSignals.h"

#include <QSocketNotifier>
#include <array>
#include <csignal>
#include <stdexcept>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessaly {

#ifdef Q_OS_UNIX
namespace {

constexpr std::array kStopSignals{SIGINT, SIGTERM, SIGHUP};

// The handler may only write to a descriptor; the event loop reads the signal number from the
// other end.
int requestPipe[2] = {-1, -1};

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
    notifier_ = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::takeRequest);
    for (const int signalNumber : kStopSignals) setHandler(signalNumber, onStopSignal);
}

StopSignals::~StopSignals() {
    for (const int signalNumber : kStopSignals) setHandler(signalNumber, SIG_DFL);
    delete notifier_;
    for (int& end : requestPipe) {
        ::close(end);
        end = -1;
    }
}

void StopSignals::takeRequest() {
    unsigned char number = 0;
    while (::read(requestPipe[0], &number, 1) == 1) emit stopRequested(exitStatusFor(number));
}

void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }
#endif

int StopSignals::exitStatusFor(int signalNumber) { return 128 + signalNumber; }

}  // namespace tessaly
