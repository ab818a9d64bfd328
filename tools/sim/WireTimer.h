#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace tessaly::sim {

// A single-shot timer with nanosecond resolution, driven by the event loop. QTimer counts whole
// milliseconds, and a paced box would lose up to one at every turn of the exchange, which is a
// large part of the wire time of a token.
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
    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onTimeout_;
};

}  // namespace tessaly::sim
