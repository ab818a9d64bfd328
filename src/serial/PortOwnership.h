#pragma once

#include <QString>

// Who owns a serial device before it is opened. The serial layer locks a device under the name
// it is opened by and trusts only lock files in its own format; these functions make one device
// one port whatever it is called, and respect the lock files that other serial programs write.
namespace tessaly::serial::port_ownership {

// The device that `device` names, links resolved, so that all its names share one lock; a name
// that leads to nothing is returned as given.
QString resolvedDevice(const QString& device);

// The device itself, whatever it is called: its device number for a device, the file otherwise;
// empty when the name leads to nothing.
QString deviceIdentity(const QString& device);

// Whether two names lead to one device: through links, bind mounts or a second device node.
bool sameDevice(const QString& first, const QString& second);

// The lock file that the serial layer takes for `device` (a resolved device); empty where
// devices are not locked with files.
QString lockFileOf(const QString& device);

// Who holds `device`, for telling the user, through a live process's lock file in one of the
// classic formats that the serial layer would take for stale; empty when nobody does. Such a lock
// file whose process has ended is removed, so that the open takes the device over.
QString holderOf(const QString& device);

// Who holds `device` once the serial layer has refused it as held: the live process of its lock
// file in any format, otherwise that no lock file names one; empty where there are no lock files.
QString holderDescription(const QString& device);

// For an open of `device` that was refused as if someone held it: why no lock file could be made
// when that was the cause (too many open files, a lock directory we may not write); empty when
// the device really is held.
QString lockFailure(const QString& device);

// A device held for this process under any of its names, from before the serial layer opens it
// (which changes the line's settings) until after it has closed it. Two advisory locks: one on
// the device itself, which other programs take too and which reaches across mount namespaces, and
// one on its device number beside the lock files, which reaches a second device node. Both end
// with their descriptors, so that neither outlives the port or the process.
class DeviceClaim {
public:
    DeviceClaim() = default;
    DeviceClaim(const DeviceClaim&) = delete;
    DeviceClaim& operator=(const DeviceClaim&) = delete;
    ~DeviceClaim() { release(); }

    // Claims `device` (a resolved device), opened as `name`; throws CommError: in use (naming
    // the holder where known), no such port, no permission, a lock that cannot be made.
    void take(const QString& name, const QString& device);
    void release();
    // What became of the claimed device when its link failed ("the device hung up", "... went
    // away"); empty when it shows neither.
    QString lossCause() const;

private:
    void claim(const QString& name, const QString& device);
    void lockDeviceNumber(const QString& name);

    QString device_;
    QString identity_;
    int deviceDescriptor_ = -1;
    int numberLock_ = -1;
    QString numberLockFile_;
    bool ownsNumberLock_ = false;  // written by us, so ours to remove
};

}  // namespace tessaly::serial::port_ownership
