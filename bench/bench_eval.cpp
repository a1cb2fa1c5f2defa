// Evaluator benchmarks:
//  1. scanning and executing a line of 20 constants and names, 1 million times through ExecuteLine
//     (goal: <= 1 µs a line), against a plain C++ loop that builds the same 20-item vector;
//  2. deep chains of nested levels: 10,000 parentheses (one line's tokens may not pass 65,535 bytes,
//     and each pair takes five) and 100,000 ⍎ execution levels, one inside the other; neither may
//     overflow the C++ stack;
//  3. lookup of every name in a namespace of 100,000 names created in ascending order.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/aplio.h"
#include "host/aplmain.h"
#include "language/session.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Start() {
  Startup().startupFlags = 0;  // the runtime edition: values are not displayed
  ObtainSpace(kMainSpace, 256u << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

void LineOfTwentyItems() {
  ExecuteLine(U"a←1 ⋄ b←2.5 ⋄ c←3 ⋄ d←4");
  const std::u32string line = U"x←a 1 b 2 c 3 d 4 a 5 b 6 c 7 d 8 a 9 b 10";
  constexpr int kLines = 1'000'000;
  for (int i = 0; i < kLines / 10; ++i) ExecuteLine(line);
  auto start = Clock::now();
  for (int i = 0; i < kLines; ++i) ExecuteLine(line);
  double perLine = Seconds(start) * 1e6 / kLines;

  volatile double sink = 0;
  start = Clock::now();
  for (int i = 0; i < kLines; ++i) {
    std::vector<double> items(20);
    for (int k = 0; k < 20; ++k) items[k] = k * 0.5;
    sink = sink + items[19];
  }
  double reference = Seconds(start) * 1e6 / kLines;
  std::printf("scan and execute a line of 20 constants and names: %.3f us a line (goal <= 1.000) | "
              "C++ vector of 20 built in a loop: %.3f us | ratio %.1f\n",
              perLine, reference, perLine / reference);
}

void DeepNesting() {
  constexpr int kDepth = 10'000;
  std::u32string line = U"deep←";
  line.append(kDepth, U'(');
  line += U"1";
  line.append(kDepth, U')');
  auto start = Clock::now();
  ExecuteLine(line);
  std::printf("a %d-deep chain of nested parentheses: %.3f s\n", kDepth, Seconds(start));

  // L0←'1', L1←'⍎L0', ... : ⍎L100000 opens 100,000 execution levels, one inside the other.
  constexpr int kLevels = 100'000;
  ExecuteLine(U"L0←'1'");
  for (int k = 1; k <= kLevels; ++k) {
    std::string text = "L" + std::to_string(k) + "←'⍎L" + std::to_string(k - 1) + "'";
    ExecuteLine(FromUtf8(text));
  }
  start = Clock::now();
  ExecuteLine(FromUtf8("chain←⍎L" + std::to_string(kLevels)));
  std::printf("a %d-deep chain of ⍎ execution levels: %.3f s\n", kLevels, Seconds(start));
}

void ManyNames() {
  constexpr int kNames = 100'000;
  ExecuteLine(U"ns←⎕NS ''");
  Ref ns = NamespaceOf(EntryValue(LookupName(U"ns", LookupMode::Find)));
  std::vector<std::u32string> names;
  for (int i = 0; i < kNames; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "N%06d", i);
    names.emplace_back(text, text + 7);
  }
  SpaceScope scope(ns);
  auto start = Clock::now();
  for (const std::u32string& name : names) LookupName(name, LookupMode::Create);
  double create = Seconds(start);
  start = Clock::now();
  for (const std::u32string& name : names) LookupName(name, LookupMode::Find);
  double find = Seconds(start);
  std::printf("%d names created in ascending order: %.3f s; every one found again: %.3f s (%.0f ns a lookup)\n",
              kNames, create, find, find * 1e9 / kNames);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Start();
  LineOfTwentyItems();
  DeepNesting();
  ManyNames();
  return 0;
}
