#pragma once

namespace tessaly::program {

// A program started with stdin, stdout or stderr closed (`tessaly-dump >&-`) would hand that
// number to the next thing it opens: the event loop's wake-up, a port, a lock file or an image,
// which would then receive text meant for the closed stream. Call first thing in main: each
// closed one gets /dev/null opened for reading, so that writes to it still fail as they would on
// a closed descriptor, and nothing else can take its number.
void holdClosedStandardDescriptors();

}  // namespace tessaly::program
