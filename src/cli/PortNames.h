#pragma once

#include <QString>

#include "cli/Console.h"

// How tessaly-dump names, resolves and lists serial ports.
namespace tessaly::cli {

// The device that `port` names: "COM 3", "COM3" and "3" are the platform's third port, anything
// else is a device path.
QString devicePathFor(const QString& port);

// A directory name for a box's images: the device path without a leading /dev/, each run of
// separators turned into '-', without a leading '-' or '.' (ttyUSB0, serial-by-id-usb-FTDI...,
// COM7, tmp-box); never empty. Different paths may give the same name.
QString directoryNameFor(const QString& devicePath);

// Every serial port the system reports, one a line: device, description, manufacturer, serial
// number and its /dev/serial/by-id name where there is one (tab-separated, or one JSON object a
// line).
void listPorts(bool json, Console& console);

}  // namespace tessaly::cli
