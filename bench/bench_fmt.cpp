// 'F12.2' ⎕FMT of a million numbers against CPython formatting the same numbers with '%12.2f' (a list
// of the million texts, Debian's /usr/bin/python3), measured in the same run (goal: ratio <= 0.5).
// The numbers are ((7919 × i) mod 2000003 − 1000000) ÷ 7 for i = 1 … 1e6 on both sides, so both format
// the same doubles; dyadic ⍕ (12 2⍕) on the same vector is shown beside it. Each side runs several
// times; the ratios of the runs taken pairwise in order are shown as min/median/max.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/startup.h"
#include "language/session.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 7;

void PrintRatios(const char* name, std::vector<double> ours, std::vector<double> theirs, double goal) {
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) ratios.push_back(ours[i] / theirs[i]);
  std::sort(ours.begin(), ours.end());
  if (ratios.empty()) {
    std::printf("%s: ours median %.4g ms | CPython not available\n", name, ours[ours.size() / 2]);
    return;
  }
  std::sort(theirs.begin(), theirs.end());
  std::sort(ratios.begin(), ratios.end());
  std::printf("%s: ours median %.4g ms | CPython median %.4g ms | ratio min %.3g median %.3g max %.3g "
              "(goal <= %.2f)\n",
              name, ours[ours.size() / 2], theirs[theirs.size() / 2], ratios.front(), ratios[ratios.size() / 2],
              ratios.back(), goal);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(1ull << 30, kFlagDisplayResults);
  ExecuteLine(U"x←((2000003|7919×⍳1000000)-1000000)÷7");
  std::vector<double> fmt = bench::LineTimes(U"r←'F12.2' ⎕FMT x", kRuns);
  ExecuteLine(U"⎕←'⎕FMT result ',(⍕⍴r),', first row ',r[1;],', last row ',r[1000000;]");
  std::vector<double> format = bench::LineTimes(U"r←12 2⍕x", kRuns);
  std::vector<double> python = bench::PythonNumbers(
      "import time\n"
      "x = [((7919 * i) % 2000003 - 1000000) / 7 for i in range(1, 1000001)]\n"
      "for _ in range(" + std::to_string(kRuns) + "):\n"
      "    t0 = time.perf_counter(); r = ['%12.2f' % v for v in x]; t = time.perf_counter() - t0\n"
      "    print(t * 1e3)\n");
  PrintRatios("'F12.2' ⎕FMT of 1e6 numbers", fmt, python, 0.5);
  PrintRatios("12 2⍕ of 1e6 numbers", format, python, 0.5);
  return 0;
}
