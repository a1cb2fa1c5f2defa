// The worker pool of parallel kernel runs: workers are started on the first run that needs them and
// then wait on their own semaphore for a slice; the interpreter's thread hands out the slices, runs
// the first itself, waits for the others and gathers their give-ups and floating-point exceptions.
#include "primitives/parallel.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <semaphore>
#include <system_error>
#include <thread>
#include <vector>
#include <xmmintrin.h>

#include "base/config.h"
#include "language/dmx.h"
#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "parallel";

namespace {

constexpr uint32_t kMaxSlices = 64;
constexpr uint64_t kDefaultThreshold = 32768;
constexpr uint64_t kMaxThreshold = 2147483647;
// The SSE status bits the scalar engine's post-checks read, and all six flag bits.
constexpr unsigned kCheckedFlags = _MM_EXCEPT_INVALID | _MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_OVERFLOW;
constexpr unsigned kAllFlags = _MM_EXCEPT_MASK;

uint32_t ProcessorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

// A setting from the configuration, or `fallback` when absent or not a number.
uint64_t ConfiguredNumber(const char* name, uint64_t fallback) {
  const char* text = ConfigLookup(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (*end) return fallback;
  return value < 1 ? 1 : static_cast<uint64_t>(value);
}

struct Settings {
  uint32_t threads;
  uint64_t threshold;
};

Settings& CurrentSettings() {
  static Settings settings = [] {
    uint64_t processors = ProcessorCount();
    uint64_t threads = std::min(ConfiguredNumber("APL_MAX_THREADS", processors), 16 * processors);
    uint64_t threshold = std::min(ConfiguredNumber("APL_MIN_PARALLEL", kDefaultThreshold), kMaxThreshold);
    return Settings{static_cast<uint32_t>(threads), threshold};
  }();
  return settings;
}

struct Slice {
  SliceRoutine routine = nullptr;
  const void* context = nullptr;
  uint64_t begin = 0, count = 0;
  unsigned control = 0;   // the interpreter thread's SSE control bits (rounding, flush to zero)
  bool done = false;      // the routine did not give up
  bool raised = false;    // the slice raised a floating-point exception
};

void RunSlice(Slice& slice) {
  _mm_setcsr(slice.control);
  slice.done = slice.routine(slice.context, slice.begin, slice.count);
  slice.raised = (_mm_getcsr() & kCheckedFlags) != 0;
}

struct Worker {
  std::binary_semaphore wake{0};
  Slice slice;
};

// Never destroyed: workers may still wait on their semaphores while the process exits.
struct Pool {
  std::array<std::unique_ptr<Worker>, kMaxSlices> workers;  // slot 0 is the interpreter's thread
  std::counting_semaphore<kMaxSlices> finished{0};
};

Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

void WorkerLoop(Worker* worker) {
  Pool& pool = ThePool();
  for (;;) {
    worker->wake.acquire();
    RunSlice(worker->slice);
    pool.finished.release();
  }
}

// Starts the workers of slots 1 to threads-1 that do not exist yet, from the highest slot down.
void StartWorkers(uint32_t threads) {
  Pool& pool = ThePool();
  for (uint32_t k = threads - 1; k >= 1; --k) {
    if (pool.workers[k]) continue;
    pool.workers[k] = std::make_unique<Worker>();
    try {
      std::thread(WorkerLoop, pool.workers[k].get()).detach();
    } catch (const std::system_error&) {
      SystemError(710);
    }
  }
}

void RaiseOverflow() {
  volatile double huge = 1E308;
  huge = huge * huge;
}

}  // namespace

uint32_t ParallelThreadCount() { return std::min(CurrentSettings().threads, kMaxSlices); }

bool WorthSlicing(uint64_t count) {
  const Settings& s = CurrentSettings();
  return s.threads > 1 && count >= s.threshold;
}

bool RunInSlices(uint64_t count, uint32_t narrowestBits, SliceRoutine routine, const void* context) {
  const uint32_t threads = ParallelThreadCount();
  if (threads <= 1) return routine(context, 0, count);
  StartWorkers(threads);
  Pool& pool = ThePool();
  // Every share but the last is a whole number of 64-bit words of the narrowest buffer.
  const uint64_t share = narrowestBits * count / threads / 64 * 64 / narrowestBits;
  const unsigned control = _mm_getcsr() & ~kAllFlags;
  const unsigned flags = _mm_getcsr() & kAllFlags;
  for (uint32_t k = 1; k < threads; ++k) {
    Slice& slice = pool.workers[k]->slice;
    slice = {routine, context, k * share, k + 1 == threads ? count - k * share : share, control, false, false};
    pool.workers[k]->wake.release();
  }
  Slice own{routine, context, 0, share, control, false, false};
  RunSlice(own);
  for (uint32_t k = 1; k < threads; ++k) pool.finished.acquire();
  _mm_setcsr(control | flags | (_mm_getcsr() & kAllFlags));
  bool done = own.done, raised = false;
  for (uint32_t k = 1; k < threads; ++k) {
    done &= pool.workers[k]->slice.done;
    raised |= pool.workers[k]->slice.raised;
  }
  if (raised) RaiseOverflow();
  return done;
}

// ---- I-beams -------------------------------------------------------------------------------------

namespace {

// The one number of a scalar or one-element argument that must be a whole number from 1 to `most`.
uint64_t PositiveWholeNumber(const Ref& right, uint64_t most) {
  std::vector<int64_t> values;
  if (!IsArray(right) || ElementCount(right) != 1 || !ReadIntegers(right, values)) SIGNAL(kDomainError);
  if (values[0] < 1 || static_cast<uint64_t>(values[0]) > most) SIGNAL(kDomainError);
  return static_cast<uint64_t>(values[0]);
}

Ref CountResult(uint64_t n) { return MakeIntScalar(static_cast<int32_t>(std::min<uint64_t>(n, INT32_MAX))); }

}  // namespace

CallResult ParallelThreadsService(const Ref&, const Ref& right) {
  if (IsArray(right) && ElementCount(right) == 0) return {CountResult(ProcessorCount())};
  uint64_t threads = PositiveWholeNumber(right, INT32_MAX);
  uint32_t previous = CurrentSettings().threads;
  CurrentSettings().threads = static_cast<uint32_t>(threads);
  return {CountResult(previous)};
}

CallResult ParallelThresholdService(const Ref&, const Ref& right) {
  uint64_t threshold = PositiveWholeNumber(right, kMaxThreshold);
  uint64_t previous = CurrentSettings().threshold;
  CurrentSettings().threshold = threshold;
  return {CountResult(previous)};
}

}  // namespace vantor
