#pragma once

#include <QString>
#include <optional>

namespace tessaly::program {

// The whole number `text` holds when it lies from `lowest` to `highest`; nothing for anything
// else, overflow included.
std::optional<qint64> boundedNumber(const QString& text, qint64 lowest, qint64 highest);

// What a refused number is told: "SUBJECT takes a whole number from LOWEST to HIGHEST".
QString wholeNumberRange(const QString& subject, qint64 lowest, qint64 highest);

}  // namespace tessaly::program
