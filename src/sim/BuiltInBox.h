#pragma once

#include <QString>
#include <memory>

#include "sim/SimulatedBox.h"

namespace tessaly::sim {

// The simulated box that the programs offer with --simulate, started inside the program.
class BuiltInBox {
public:
    virtual ~BuiltInBox() = default;
    // The name the serial link opens it by.
    virtual QString devicePath() const = 0;
};

// Starts the built-in box; throws std::runtime_error when it cannot be started.
std::unique_ptr<BuiltInBox> startBuiltInBox(const SimOptions& options = {});

}  // namespace tessaly::sim
