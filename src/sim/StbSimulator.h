#pragma once

#include "sim/SimulatedBox.h"

namespace tessaly::sim {

// A simulated box on a pseudo-terminal of its own, which any program can open by devicePath().
// Throws std::runtime_error when no pseudo-terminal can be had.
class StbSimulator : public SimulatedBox {
    Q_OBJECT
public:
    explicit StbSimulator(SimOptions options = {}, QObject* parent = nullptr);
};

}  // namespace tessaly::sim
