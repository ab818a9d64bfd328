#pragma once

#include <QString>

namespace tessaly::sim {
class InProcessBox;
}

namespace tessaly::window {

class Form1;

inline constexpr char kSimulatedBoxLabel[] = "Simulated box";

// Adds the devices named on the command line to the port list and selects the last one:
// `device` (--port, may be empty) labelled by its path, then the simulated box (--simulate).
void offerStartDevices(Form1& form, const QString& device, const sim::InProcessBox* box);

}  // namespace tessaly::window
