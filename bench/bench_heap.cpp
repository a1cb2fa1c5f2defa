// Heap benchmarks, each compared in the same run against a reference:
//  1. allocate and release a one-element array, 10 million times, against malloc/free of the same
//     byte size (goal: ratio <= 1.0);
//  2. compaction of a 256 MB heap holding 1 million live pockets interleaved with free blocks
//     (goal: <= 0.25 s), against a plain memmove of the same live bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/pockutil.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

inline void KeepAlive(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double HeapPairNs(ElementType type, int iterations) {
  auto start = Clock::now();
  for (int i = 0; i < iterations; ++i) {
    Ref r = AllocVector(type, 1);
    KeepAlive(Words(r));
    Release(r);
  }
  return Seconds(start) * 1e9 / iterations;
}

double MallocPairNs(size_t bytes, int iterations) {
  auto start = Clock::now();
  for (int i = 0; i < iterations; ++i) {
    void* p = std::malloc(bytes);
    KeepAlive(p);
    std::free(p);
  }
  return Seconds(start) * 1e9 / iterations;
}

void AllocateAndRelease() {
  constexpr int kIterations = 10'000'000;
  struct Row {
    const char* name;
    ElementType type;
  } rows[] = {{"int32", kInt32}, {"binary64", kFloat64}, {"char8", kChar8}};
  for (const Row& row : rows) {
    size_t bytes = 4ull * ArrayWords(row.type, 1, 1);
    HeapPairNs(row.type, kIterations / 10);  // warm up
    MallocPairNs(bytes, kIterations / 10);
    double heap = HeapPairNs(row.type, kIterations);
    double reference = MallocPairNs(bytes, kIterations);
    std::printf("alloc+release one-element %-8s array: %6.2f ns/pair | malloc/free(%zu bytes): %6.2f ns/pair | "
                "ratio %.2f (goal <= 1.00)\n",
                row.name, heap, bytes, reference, heap / reference);
  }
}

void CompactLargeHeap() {
  constexpr uint32_t kLive = 1'000'000;
  constexpr uint32_t kPerHolder = 1000;
  constexpr uint32_t kElements = 29;  // 3 + 1 + 29 = 33 words, about 132 bytes a pocket
  ReleaseSpace(kMainSpace);
  ObtainSpace(kMainSpace, 400u << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  // Holders 2k keep the live pockets, holders 2k+1 the pockets between them that are then freed.
  std::vector<Ref> holders(2 * kLive / kPerHolder);
  Temporaries hold;
  hold.SetBuffer(holders.data(), static_cast<uint32_t>(holders.size()));
  for (uint32_t h = 0; h < holders.size(); ++h) holders[h] = AllocVector(kRefElement, kPerHolder);
  for (uint32_t h = 0; h < holders.size(); h += 2) {
    for (uint32_t i = 0; i < kPerHolder; ++i) {
      for (uint32_t pair = 0; pair < 2; ++pair) {
        Ref r = AllocVector(kInt32, kElements);
        for (uint32_t k = 0; k < kElements; ++k) DataOf<int32_t>(r)[k] = 100000 + static_cast<int32_t>(k);
        DataOf<Ref>(holders[h + pair])[i] = r;
      }
    }
  }
  for (uint32_t h = 1; h < holders.size(); h += 2) Release(holders[h]);
  SpaceUsageReport usage = SpaceUsage();
  uint64_t span = g_space->end - g_space->begin;
  auto start = Clock::now();
  Compact(0);
  double seconds = Seconds(start);

  std::vector<uint8_t> from(usage.bytesInUse * 2), to(usage.bytesInUse);
  start = Clock::now();
  for (size_t offset = 0; offset + 264 <= from.size(); offset += 264)
    std::memmove(to.data() + offset / 2, from.data() + offset, 132);
  double copy = Seconds(start);
  std::printf("compaction of a %.0f MB heap, %u live pockets between free blocks: %.3f s (goal <= 0.250) | "
              "memmove of the live bytes: %.3f s | ratio %.1f\n",
              span / 1048576.0, kLive, seconds, copy, seconds / copy);
}

}  // namespace

int main() {
  ObtainSpace(kMainSpace, 64u << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  AllocateAndRelease();
  CompactLargeHeap();
  return 0;
}
