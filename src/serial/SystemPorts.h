#pragma once

#include <QString>
#include <vector>

// The serial ports of this system, by the names the link opens them with, for both front ends.
namespace tessaly::serial {

// A serial port as the system lists it.
struct SystemPort {
    QString device;       // what the link opens: "/dev/ttyUSB0"; "COM5" on Windows
    QString description;  // what the system calls it ("FT232R USB UART"); may be empty
    QString manufacturer;
    QString serialNumber;
};

// The serial ports the system has now; adapters come and go.
std::vector<SystemPort> systemPorts();

// The device of one of the platform's first four serial ports, named as in the window's port
// list: "COM 3" or "COM3", in any case, is "/dev/ttyS2" ("COM3" on Windows). Empty for any other
// name.
QString comPortDevice(const QString& name);

}  // namespace tessaly::serial
