#pragma once

// The simulated box the tests run in their own process: on a pseudo-terminal where there are
// some, so that the real serial path is exercised, and over the in-process link otherwise (on
// Windows, and in the in-process variants of the suites).
#ifdef TESSALY_TEST_BOX_IN_PROCESS
#include "sim/SimulatedBox.h"
namespace tessaly::test {
using TestBox = sim::InProcessBox;
}
#else
#include "sim/SimulatedBox.h"
namespace tessaly::test {
using TestBox = sim::StbSimulator;
}
#endif
