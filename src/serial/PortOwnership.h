#pragma once

#include <QString>

// Who owns a serial device before it is opened. The serial layer locks a device under the name
// it is opened by and trusts only lock files in its own format; these functions make one device
// one port whatever it is called, and respect the lock files that other serial programs write.
namespace tessaly::serial::port_ownership {

// The device that `device` names, links resolved, so that all its names share one lock; a name
// that leads to nothing is returned as given.
QString resolvedDevice(const QString& device);

// The lock file that the serial layer takes for `device` (a resolved device); empty where
// devices are not locked with files.
QString lockFileOf(const QString& device);

// Who holds `device`, for telling the user, through a live process's lock file in one of the
// classic formats that the serial layer would take for stale; empty when nobody does. Such a lock
// file whose process has ended is removed, so that the open takes the device over.
QString holderOf(const QString& device);

// For an open of `device` that was refused as if someone held it: why no lock file could be made
// when that was the cause (too many open files, a lock directory we may not write); empty when
// the device really is held.
QString lockFailure(const QString& device);

}  // namespace tessaly::serial::port_ownership
