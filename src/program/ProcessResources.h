#pragma once

// What a process may have at most, asked before work starts that cannot be undone half-way.
namespace tessaly::program {

// How many more descriptors (files, devices, pipes) this process can open now, counted up to
// `wanted`. Where the soft limit is what stands in the way, it is first raised towards the hard
// one by what is missing. Where there is no such limit (Windows), `wanted`.
int spareDescriptors(int wanted);

// Whether the system gives this process another thread now (a limit on processes or on memory
// may not).
bool canStartThread();

}  // namespace tessaly::program
