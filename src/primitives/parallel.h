// Parallel runs of the scalar engine's costly vector kernels (binary64 and complex elements): a long
// run is split into slices that a small pool of worker threads and the interpreter's own thread
// process at the same time. Workers only run the slice routine over their part of flat buffers; they
// never touch the workspace heap, the evaluator or ⎕-state, and raise no APL errors (only routines
// that cannot signal run in slices). A slice's floating-point exceptions are carried back to the
// interpreter's thread, so the kernel's post-check sees them as if it had run alone.
//
//   APL_MAX_THREADS   threads sharing a run, the interpreter's included (default: the processors)
//   APL_MIN_PARALLEL  the smallest element count that runs in slices (default 32768)
//   1111⌶n            sets the thread count, gives the previous one; 1111⌶⍬ gives the processors
//   1112⌶n            sets the smallest count, gives the previous one
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"

namespace vantor {

// Processes elements [begin, begin+count) of the run described by `context`; false when it gives up.
using SliceRoutine = bool (*)(const void* context, uint64_t begin, uint64_t count);

// The number of threads that share a run (1 to 64), for libraries that run their own threads.
uint32_t ParallelThreadCount();

// Whether a run of `count` elements is long enough to split and more than one thread may share it.
bool WorthSlicing(uint64_t count);

// Runs `routine` over [0, count) in one slice per thread. Slice boundaries fall on 64-bit boundaries of
// the narrowest buffer (`narrowestBits` per element, 1 for packed Booleans), so packed slices are
// whole bytes. The interpreter's thread runs the first slice. Returns false when any slice gave up;
// a floating-point exception in a worker's slice leaves the overflow flag raised on the caller's
// thread. Results are the same, bit for bit, as one routine call over the whole run.
bool RunInSlices(uint64_t count, uint32_t narrowestBits, SliceRoutine routine, const void* context);

// The 1111⌶ and 1112⌶ services.
CallResult ParallelThreadsService(const Ref& left, const Ref& right);
CallResult ParallelThresholdService(const Ref& left, const Ref& right);

}  // namespace vantor
