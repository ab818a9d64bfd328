#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace tessaly::sim {

// A single-shot timer on the event loop, to the nanosecond where the system allows (Linux): QTimer
// counts whole milliseconds, and a paced box would lose up to one at every turn of the exchange, a
// large part of a token's wire time. Elsewhere a precise QTimer, rounded up to the millisecond.
class WireTimer {
public:
    explicit WireTimer(std::function<void()> onTimeout);
    ~WireTimer();
    WireTimer(const WireTimer&) = delete;
    WireTimer& operator=(const WireTimer&) = delete;

    // Fires once after `nanoseconds` (at once, on the next turn of the event loop, when <= 0).
    void startIn(qint64 nanoseconds);
    void stop();

private:
#ifdef Q_OS_LINUX
    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
#else
    std::unique_ptr<QTimer> timer_;
#endif
};

}  // namespace tessaly::sim
