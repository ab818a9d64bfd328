#pragma once

#include <QByteArray>

namespace tessaly::sim {

// What a reader makes of `sent` (8N1 frames back to back) when it runs at `rateRatio` times the
// sender's baud rate: frames are split or merged and bits shift, as across a wrong speed setting.
QByteArray asReadAtOtherSpeed(const QByteArray& sent, double rateRatio);

}  // namespace tessaly::sim
