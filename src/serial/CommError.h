#pragma once

#include <QString>
#include <stdexcept>

namespace tessaly::serial {

// A failed open of the serial link, numbered like the serial control's run-time errors so that
// callers can tell the two cases users meet most (no such port, port in use) from the rest.
class CommError : public std::runtime_error {
public:
    static constexpr int NoSuchPort = 8002;
    static constexpr int PortInUse = 8005;
    static constexpr int AccessDenied = 8010;
    static constexpr int OpenFailed = 8015;

    CommError(int number, QString device, QString reason);

    int number() const { return number_; }
    // The device path the open was tried on.
    const QString& device() const { return device_; }
    // The platform's own words for the failure.
    const QString& reason() const { return reason_; }

private:
    int number_;
    QString device_;
    QString reason_;
};

// What a user can do when the system refuses access to a serial device (CommError::AccessDenied).
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
