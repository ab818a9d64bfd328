#pragma once

#include <QString>

namespace tessaly::serial {

// What a user can do when the system refuses access to a serial device.
inline QString accessDeniedHint() {
#ifdef Q_OS_WIN
    return QStringLiteral("Check that no other program or service uses the port.");
#else
    return QStringLiteral(
        "Add your user to the group that owns the device (usually \"dialout\": "
        "sudo usermod -aG dialout $USER) and log in again.");
#endif
}

}  // namespace tessaly::serial
