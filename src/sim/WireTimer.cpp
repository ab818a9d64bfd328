#include "sim/WireTimer.h"

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#else
#include <QTimer>
#endif

namespace tessaly::sim {

#ifdef Q_OS_LINUX

WireTimer::WireTimer(std::function<void()> onTimeout)
    : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (fd_ < 0)
        throw std::runtime_error(std::string("cannot create a timer: ") + std::strerror(errno));
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, onTimeout] {
        std::uint64_t expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) == sizeof expirations) onTimeout();
    });
}

WireTimer::~WireTimer() {
    notifier_.reset();
    ::close(fd_);
}

void WireTimer::startIn(qint64 nanoseconds) {
    // A zero value would disarm the timer instead of firing it.
    const qint64 delay = std::max<qint64>(1, nanoseconds);
    itimerspec due{};
    due.it_value.tv_sec = delay / 1'000'000'000;
    due.it_value.tv_nsec = delay % 1'000'000'000;
    timerfd_settime(fd_, 0, &due, nullptr);
}

void WireTimer::stop() {
    const itimerspec disarmed{};
    timerfd_settime(fd_, 0, &disarmed, nullptr);
}

#else

WireTimer::WireTimer(std::function<void()> onTimeout) : timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, std::move(onTimeout));
}

WireTimer::~WireTimer() = default;

void WireTimer::startIn(qint64 nanoseconds) {
    timer_->start(int(std::max<qint64>(0, (nanoseconds + 999'999) / 1'000'000)));
}

void WireTimer::stop() { timer_->stop(); }

#endif

}  // namespace tessaly::sim
