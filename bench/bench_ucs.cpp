// ⎕UCS between 100 MB of UTF-8 bytes and characters, against CPython's str.encode('utf-8') and
// bytes.decode('utf-8') on the same text (Debian's /usr/bin/python3), measured in the same run (goal:
// ratio <= 1.0). Three texts: plain ASCII, European text with one accented letter in six, and a mix
// of ASCII, CJK and emoji. Each side runs several times; the ratios of the runs taken pairwise in
// order are shown as min/median/max.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/startup.h"
#include "base/utf8.h"
#include "language/session.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr uint64_t kBytes = 100'000'000;

struct Text {
  const char* name;
  std::u32string pattern;  // repeated up to kBytes of UTF-8
};

std::string PythonLiteral(const std::u32string& text) {
  std::string s = "'";
  for (char32_t c : text) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "\\U%08x", static_cast<unsigned>(c));
    s += hex;
  }
  return s + "'";
}

void PrintRatios(const std::string& name, const std::vector<double>& ours, const std::vector<double>& theirs) {
  if (theirs.size() != ours.size()) {
    std::printf("%s: ours best %.4g ms | CPython not available\n", name.c_str(), *std::min_element(ours.begin(), ours.end()));
    return;
  }
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / theirs[i]);
  std::sort(ratios.begin(), ratios.end());
  std::printf("%s: ours best %.4g ms | CPython best %.4g ms | ratio min %.3g median %.3g max %.3g (goal <= 1.00)\n",
              name.c_str(), *std::min_element(ours.begin(), ours.end()), *std::min_element(theirs.begin(), theirs.end()),
              ratios.front(), ratios[ratios.size() / 2], ratios.back());
}

void Compare(const Text& text) {
  const uint64_t repeats = kBytes / ToUtf8(text.pattern).size();
  const std::u32string count = FromUtf8(std::to_string(repeats * text.pattern.size()));
  std::u32string pattern;
  for (char32_t c : text.pattern) pattern += U"," + FromUtf8(std::to_string(static_cast<unsigned>(c)));
  ExecuteLine(U"t←" + count + U"⍴⎕UCS " + pattern.substr(1) + U" ⋄ b←'UTF-8' ⎕UCS t");
  const std::vector<double> encode = bench::LineTimes(U"b←'UTF-8' ⎕UCS t", kRuns);
  const std::vector<double> decode = bench::LineTimes(U"c←'UTF-8' ⎕UCS b", kRuns);
  ExecuteLine(U"⎕←'" + FromUtf8(text.name) + U": ',(⍕≢b),' bytes, ',(⍕≢t),' characters, round trip ',⍕t≡c");
  ExecuteLine(U"⎕EX 'b' 'c' 't'");

  const std::string setup = "import time\ns = " + PythonLiteral(text.pattern) + " * " + std::to_string(repeats) +
                            "\nb = s.encode('utf-8')\n";
  auto timed = [&](const std::string& call) {
    return bench::PythonNumbers(setup + "for _ in range(" + std::to_string(kRuns) +
                         "):\n    t0 = time.perf_counter(); x = " + call +
                         "; print((time.perf_counter() - t0) * 1e3); del x\n");
  };
  PrintRatios(std::string(text.name) + " characters to UTF-8", encode, timed("s.encode('utf-8')"));
  PrintRatios(std::string(text.name) + " UTF-8 to characters", decode, timed("b.decode('utf-8')"));
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(2ull << 30, kFlagDisplayResults);
  Compare({"ASCII", U"The quick brown fox jumps over the lazy dog. "});
  Compare({"European", U"Größe café naïve "});
  Compare({"CJK and emoji", U"abc 漢字かな 😀 "});
  return 0;
}
