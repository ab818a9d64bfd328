#pragma once

#include <QString>

#include "sim/SimulatedBox.h"

namespace tessaly::sim {

// How the built-in box should misbehave, from a comma-separated list of tessaly-stb-sim's option
// names without their dashes: "wrong-checksum,silent-after=5,split-tokens,noise=40,
// disconnect-after-bytes=300,baud=115200". An empty list is a well-behaved box.
// Throws std::invalid_argument with a sentence that names the offending item.
SimOptions boxBehaviourFrom(const QString& list);

}  // namespace tessaly::sim
