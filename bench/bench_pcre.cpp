// ⎕R and ⎕S over 100 MB of text (lines of words ending in line feeds) against CPython's re module on
// the same text, measured in the same run: a word replaced in Mode L against re.sub (goal: ratio <=
// 0.5), and the offsets of its matches (⎕S 0) against the starts of re.finditer (goal: ratio <= 0.5).
// Each side runs several times; the runs are compared pairwise in order.
#include <cstdio>
#include <string>
#include <vector>

#include "base/startup.h"
#include "language/session.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr size_t kBytes = 100'000'000;

std::string Text() {
  static const char* const kLines[] = {
      "The quick brown fox jumps over the lazy dog near the river bank\n",
      "A slow green turtle walks under the old wooden bridge at noon\n",
      "Every good boy deserves fudge and the fox knows it well enough\n",
      "Pack my box with five dozen liquor jugs before the evening\n",
  };
  std::string text;
  text.reserve(kBytes + 100);
  for (size_t i = 0; text.size() < kBytes; ++i) text += kLines[i % 4];
  return text;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(6ull << 30, kFlagDisplayResults);
  const std::string text = Text();
  const std::string path = bench::ShareDocument("pcre", ".txt", text);
  const std::vector<double> replace = bench::LineTimes(U"r←'fox' ⎕R 'cat' ⍠ 'Mode' 'L' ⊢ t", kRuns);
  const std::vector<double> search = bench::LineTimes(U"s←'fox' ⎕S 0 ⍠ 'Mode' 'L' ⊢ t", kRuns);
  ExecuteLine(U"⎕←(⍕≢t),' characters, ',(⍕≢s),' matches, ',(⍕+/'cat'⍷r),' replaced'");
  const std::string runs = std::to_string(kRuns);
  const std::string setup = "import time, re\ns = open('" + path + "').read()\nfor _ in range(" + runs + "):\n";
  const std::vector<double> sub = bench::PythonNumbers(
      setup + "    t0 = time.perf_counter(); x = re.sub('fox', 'cat', s)\n"
              "    print((time.perf_counter() - t0) * 1e3); del x\n");
  const std::vector<double> finditer = bench::PythonNumbers(
      setup + "    t0 = time.perf_counter(); x = [m.start() for m in re.finditer('fox', s)]\n"
              "    print((time.perf_counter() - t0) * 1e3); del x\n");
  std::remove(path.c_str());
  bench::PrintRuns("⎕R of a word over 100 MB, Mode L", replace, "re.sub", sub, 0.5);
  bench::PrintRuns("⎕S 0 of a word over 100 MB", search, "re.finditer", finditer, 0.5);
  return 0;
}
