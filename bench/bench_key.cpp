// Key benchmark against NumPy, measured in the same run: {≢⍵}⌸ of 10,000,000 integer keys from 0 to
// 999 against np.unique(return_counts=True) of the same keys as int16, the type the interpreter keeps
// them in (goal: ratio <= 0.5; NumPy from Debian's python3-numpy, through /usr/bin/python3). The same
// counts through a dfn that the key does not recognise, {(≢⍵)}, are shown beside it for comparison.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/startup.h"
#include "language/session.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "primitives/index.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr uint32_t kLength = 10'000'000;
constexpr int32_t kDistinct = 1000;
constexpr int kRuns = 7;
constexpr char kDataFile[] = "/tmp/vantor_bench_key.i16";

// The keys, also written to kDataFile for NumPy.
std::vector<int16_t> RandomKeys() {
  std::mt19937 generator(7);
  std::uniform_int_distribution<int32_t> distribution(0, kDistinct - 1);
  std::vector<int16_t> keys(kLength);
  for (int16_t& k : keys) k = static_cast<int16_t>(distribution(generator));
  if (FILE* f = std::fopen(kDataFile, "wb")) {
    std::fwrite(keys.data(), sizeof(int16_t), keys.size(), f);
    std::fclose(f);
  }
  return keys;
}

// Gives the variable `name` a vector of the keys.
void AssignKeys(std::u32string_view name, const std::vector<int16_t>& keys) {
  Temporaries hold;
  hold[0] = AllocVector(kInt16, static_cast<uint32_t>(keys.size()));
  std::copy(keys.begin(), keys.end(), DataOf<int16_t>(hold[0]));
  SetEntry(LookupName(name, LookupMode::Create), kNameVariable, hold[0]);
}

// The best time of executing `line` in ms.
double BestMs(std::u32string_view line) {
  double best = 1e300;
  for (int run = 0; run < kRuns; ++run) best = std::min(best, bench::Milliseconds([&] { ExecuteLine(line); }));
  return best;
}

// Whether the variable `name` holds 1000 counts that add up to 10,000,000, as APL works it out.
bool CountsAddUp(const std::u32string& name) {
  ExecuteLine(U"ok←(1000=≢" + name + U")∧10000000=+/" + name);
  Ref entry = LookupName(U"ok", LookupMode::Find);
  if (!entry) return false;
  return IntegersOf(EntryValue(entry)) == std::vector<int64_t>{1};
}

// NumPy's best time for unique(return_counts=True) of the keys, in ms; negative when NumPy cannot be run.
double NumPyUniqueMs() {
  return bench::PythonNumber(std::string("import numpy as np, timeit; a = np.fromfile('") + kDataFile +
                             "', dtype=np.int16); "
                             "print(min(timeit.repeat(lambda: np.unique(a, return_counts=True), number=1, repeat=" +
                             std::to_string(kRuns) + ")) * 1e3)");
}

}  // namespace

int main() {
  bench::StartInterpreter(1024u << 20);
  AssignKeys(U"K", RandomKeys());
  const double ours = BestMs(U"R←{≢⍵}⌸K");
  const bool right = CountsAddUp(U"R");
  const double called = BestMs(U"C←{(≢⍵)}⌸K");
  const bool calledRight = CountsAddUp(U"C");
  const double numpy = NumPyUniqueMs();
  std::remove(kDataFile);
  std::printf("{≢⍵}⌸ counts %s; {(≢⍵)}⌸ counts %s\n", right ? "add up" : "WRONG", calledRight ? "add up" : "WRONG");
  bench::PrintComparison("{≢⍵}⌸ 10,000,000 keys 0-999", ours, "NumPy unique(return_counts=True)", numpy, 0.5);
  bench::PrintComparison("{(≢⍵)}⌸ (operand called per group)", called, "NumPy unique(return_counts=True)", numpy,
                         std::nullopt);
  return right && calledRight ? 0 : 1;
}
