// Niladic system functions that report constants, the character set of the executing namespace,
// the clock, the process's user and the workspace's free space. Errors are raised under the unit
// name "quadcons".
#include "sysfns/quadcons.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <initializer_list>
#include <string>
#include <utility>

#include "host/aplio.h"
#include "base/startup.h"
#include "language/dmx.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "quadcons";

namespace {

constexpr uint32_t kUnderscoredAlphabetFirst = 97;
constexpr uint32_t kAlphabetLength = 26;

const std::chrono::steady_clock::time_point g_processStart = std::chrono::steady_clock::now();
uint64_t g_keyingMilliseconds = 0;

bool FitsInt32(int64_t n) { return n >= INT32_MIN && n <= INT32_MAX; }

// A numeric vector of whole numbers: 32-bit integers when they all fit, else binary64.
Ref MakeWholeNumbers(std::initializer_list<int64_t> numbers) {
  bool fits = true;
  for (int64_t n : numbers) fits = fits && FitsInt32(n);
  Ref r = AllocVector(fits ? kInt32 : kFloat64, static_cast<uint32_t>(numbers.size()));
  uint32_t i = 0;
  for (int64_t n : numbers) {
    if (fits) DataOf<int32_t>(r)[i++] = static_cast<int32_t>(n);
    else DataOf<double>(r)[i++] = static_cast<double>(n);
  }
  return r;
}

// The characters of ⎕AV from position `first` on, as a 16-bit character vector (⎕AVU values fit).
Ref AvRun(uint32_t first, uint32_t count) {
  Ref r = AllocVector(kChar16, count);
  uint16_t* data = DataOf<uint16_t>(r);
  for (uint32_t i = 0; i < count; ++i) data[i] = static_cast<uint16_t>(AvCharacter(first + i));
  return r;
}

int64_t ThreadCpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + (t.tv_nsec + 500000) / 1000000;
}

std::u32string UserName() {
  std::string name;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) name = found->pw_name;
  return FromUtf8(name);
}

}  // namespace

Ref QuadA() {
  Ref r = RootWordAt(kRootAlphabet);
  Retain(r);
  return r;
}

Ref QuadD() {
  Ref r = RootWordAt(kRootDigits);
  Retain(r);
  return r;
}

Ref QuadAI() {
  static const int64_t cpuAtFirstCall = ThreadCpuMilliseconds();
  int64_t connect = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                          g_processStart)
                        .count();
  return MakeWholeNumbers({Startup().userNumber, ThreadCpuMilliseconds() - cpuAtFirstCall, connect,
                           static_cast<int64_t>(g_keyingMilliseconds)});
}

Ref QuadAV() { return AvRun(0, 256); }

Ref QuadUnderscoredA() { return AvRun(kUnderscoredAlphabetFirst, kAlphabetLength); }

// Positions 1 to 3 of ⎕AV: backspace, line feed, carriage return.
Ref QuadTC() {
  Ref r = AvRun(1, 3);
  if (MigrationLevel() == 3) std::swap(DataOf<uint16_t>(r)[1], DataOf<uint16_t>(r)[2]);
  return r;
}

Ref QuadTS() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return MakeWholeNumbers({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec, now.tv_nsec / 1000000});
}

// The free space is what a compaction leaves, so the heap is compacted first.
Ref QuadWA() {
  Compact(0);
  uint64_t available = SpaceUsage().bytesAvailable;
  if (FitsInt32(static_cast<int64_t>(available))) return MakeIntScalar(static_cast<int32_t>(available));
  Ref r = AllocScalar(kFloat64);
  *DataOf<double>(r) = static_cast<double>(available);
  return r;
}

Ref QuadAN() {
  return MakeText(UserName());
}

Ref QuadFAVAIL() { return MakeIntScalar(1); }

Ref QuadNULL() { return NullItem(); }

Ref QuadOLDDMX() { SIGNAL(kSyntaxError); }

void AddKeyingTime(uint64_t milliseconds) { g_keyingMilliseconds += milliseconds; }

}  // namespace vantor
