#pragma once

#include "sim/SimulatedBox.h"

namespace tessaly::sim {

// A simulated box inside the program, on every platform: MSComm opens it by devicePath() through
// an in-process link. Only this process can reach it.
class InProcessBox : public SimulatedBox {
    Q_OBJECT
public:
    explicit InProcessBox(SimOptions options = {}, QObject* parent = nullptr);
};

}  // namespace tessaly::sim
