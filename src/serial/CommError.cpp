#include "serial/CommError.h"

#include <utility>

namespace tessaly::serial {

CommError::CommError(int number, QString device, QString reason)
    : std::runtime_error(QStringLiteral("error %1 opening %2: %3")
                             .arg(number)
                             .arg(device.isEmpty() ? QStringLiteral("the port") : device, reason)
                             .toStdString()),
      number_(number),
      device_(std::move(device)),
      reason_(std::move(reason)) {}

}  // namespace tessaly::serial
