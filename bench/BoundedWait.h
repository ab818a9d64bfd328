#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace tessaly::bench {

// Runs the event loop until finish() or the bound. The process sleeps in between, so a wait adds
// no processor time of its own to what is measured.
class BoundedWait {
public:
    explicit BoundedWait(std::chrono::milliseconds bound) {
        bound_.setSingleShot(true);
        bound_.setInterval(bound);
        QObject::connect(&bound_, &QTimer::timeout, &loop_, [this] { loop_.exit(1); });
    }

    // May come before run(), from inside whatever run() would have waited for.
    void finish() {
        finished_ = true;
        loop_.exit(0);
    }

    // True when finish() came before the bound.
    bool run() {
        if (finished_) return true;
        bound_.start();
        const bool inTime = loop_.exec() == 0;
        bound_.stop();
        return inTime;
    }

private:
    QEventLoop loop_;
    QTimer bound_;
    bool finished_ = false;
};

}  // namespace tessaly::bench
