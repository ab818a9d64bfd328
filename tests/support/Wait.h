#pragma once

#include <QtTest/QTest>
#include <chrono>
#include <functional>

namespace tessaly::test {

// Runs the event loop until `condition` holds or the generous bound passes; true when it held.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    return QTest::qWaitFor(condition, int(bound.count()));
}

}  // namespace tessaly::test
