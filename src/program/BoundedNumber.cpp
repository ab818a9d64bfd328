#include "program/BoundedNumber.h"

namespace tessaly::program {

std::optional<qint64> boundedNumber(const QString& text, qint64 lowest, qint64 highest) {
    bool numeric = false;
    const qint64 value = text.toLongLong(&numeric);
    if (!numeric || value < lowest || value > highest) return std::nullopt;
    return value;
}

QString wholeNumberRange(const QString& subject, qint64 lowest, qint64 highest) {
    return QStringLiteral("%1 takes a whole number from %2 to %3")
        .arg(subject, QString::number(lowest), QString::number(highest));
}

}  // namespace tessaly::program
