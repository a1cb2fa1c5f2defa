// Native-file text benchmarks, measured in the same run: ⎕NGET of a 100 MB UTF-8 text as lines
// against CPython's open(...).read().splitlines() on the same file, and ⎕NPUT of those lines
// against CPython writing '\n'.join(lines) (goal: ratio <= 1.0 for each). The text is lines of 0 to
// 120 characters, mostly ASCII, one line in eight with accented letters and one in 64 with CJK. The
// machine is shared, so both sides run several times alternately; each run gives a ratio.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "language/session.h"
#include "language/space.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr size_t kBytes = 100u << 20;

std::string MakeText() {
  std::string text;
  text.reserve(kBytes + 256);
  uint32_t state = 7;
  while (text.size() < kBytes) {
    state = state * 1103515245 + 12345;
    uint32_t length = (state >> 16) % 121;
    uint32_t kind = (state >> 8) % 64;
    for (uint32_t i = 0; i < length; ++i) {
      if (kind == 0 && i % 5 == 0) text += "漢";
      else if (kind % 8 == 1 && i % 7 == 0) text += "é";
      else text += static_cast<char>('a' + (i * 7 + length) % 26);
    }
    text += '\n';
  }
  return text;
}

double PythonMs(const std::string& script) { return bench::PythonNumber(script); }

}  // namespace

int main() {
  bench::StartInterpreter(2048u << 20);
  char pattern[] = "/tmp/vantor-bench-nfiles-XXXXXX";
  const std::string directory = mkdtemp(pattern);
  const std::string in = directory + "/in.txt", ours = directory + "/ours.txt", theirs = directory + "/theirs.txt";
  {
    std::string text = MakeText();
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  std::vector<double> ourGet, theirGet, ourPut, theirPut;
  for (int run = 0; run < kRuns; ++run) {
    ourGet.push_back(bench::Milliseconds([&] { ExecuteLine(U"lines←⊃⎕NGET '" + FromUtf8(in) + U"' 1"); }));
    theirGet.push_back(PythonMs("import time\nstart = time.perf_counter()\nlines = open('" + in +
                                "', encoding='utf-8').read().splitlines()\nprint((time.perf_counter() - start) * 1e3)\n"));
    unlink(ours.c_str());
    ourPut.push_back(bench::Milliseconds([&] { ExecuteLine(U"(⊂lines) ⎕NPUT '" + FromUtf8(ours) + U"'"); }));
    theirPut.push_back(PythonMs("import time\nlines = open('" + in + "', encoding='utf-8').read().splitlines()\n"
                                "start = time.perf_counter()\n"
                                "with open('" + theirs + "', 'w', encoding='utf-8') as f: f.write('\\n'.join(lines) + '\\n')\n"
                                "print((time.perf_counter() - start) * 1e3)\n"));
  }
  ExecuteLine(U"same←(⊃⎕NGET '" + FromUtf8(in) + U"' 1)≡⊃⎕NGET '" + FromUtf8(ours) + U"' 1");
  Ref same = EntryValue(LookupName(U"same", LookupMode::Find));
  bool right = IsRef(same) && ElementCount(same) == 1 && *DataOf<uint8_t>(same) != 0;
  if (!right) std::printf("the lines written do not read back as the lines read\n");
  bench::PrintRuns("⎕NGET of 100 MB of UTF-8 text as lines", ourGet, "CPython read().splitlines()", theirGet, 1.0);
  bench::PrintRuns("⎕NPUT of those lines", ourPut, "CPython write('\\n'.join(lines))", theirPut, 1.0);
  std::string command = "rm -rf " + directory;
  if (std::system(command.c_str()) != 0) right = false;
  return right ? 0 : 1;
}
