// ⎕XML import of a 20 MB document (a catalogue of records with attributes, text, references and
// indentation) against CPython's xml.etree.ElementTree.fromstring on the same text, measured in the
// same run (goal: ratio <= 1.0), and the export of the rows for information. Each side runs several
// times; the runs are compared pairwise in order.
#include <cstdio>
#include <string>
#include <vector>

#include "host/aplmain.h"
#include "host/utf8.h"
#include "language/dmx.h"
#include "language/parse.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr size_t kCharacters = 20'000'000;

std::string Document() {
  std::string text = "<?xml version=\"1.0\"?>\n<catalog>\n";
  for (int i = 0; text.size() < kCharacters; ++i) {
    const std::string n = std::to_string(i);
    text += "  <book id=\"bk" + n + "\" lang=\"en\">\n    <author>Author &amp; Co " + n +
            "</author>\n    <title>A title with some words " + n + "</title>\n    <price>" +
            std::to_string(i % 100) +
            ".95</price>\n    <description>A longer description that runs on for a while &lt;here&gt; and "
            "there.</description>\n  </book>\n";
  }
  return text + "</catalog>\n";
}

std::vector<double> OurTimes(const std::u32string& line) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) times.push_back(bench::Milliseconds([&] { ExecuteLine(line); }));
  return times;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(4ull << 30, kFlagDisplayResults);
  const std::string document = Document();
  const std::string path = "/tmp/vantor_bench_xml_" + std::to_string(getpid()) + ".xml";
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(document.data(), 1, document.size(), file);
    std::fclose(file);
  }
  {
    Temporaries hold;
    hold[0] = MakeText(FromUtf8(document));
    SetEntry(LookupName(U"t", LookupMode::Create), kNameVariable, hold[0]);
  }
  const std::vector<double> import = OurTimes(U"r←⎕XML t");
  const std::vector<double> exported = OurTimes(U"x←⎕XML r");
  ExecuteLine(U"⎕←(⍕≢t),' characters, ',(⍕≢r),' rows, ',(⍕≢x),' characters exported'");
  const std::vector<double> theirs = bench::PythonNumbers(
      "import time, xml.etree.ElementTree as ET\ns = open('" + path + "').read()\nfor _ in range(" +
      std::to_string(kRuns) + "):\n    t0 = time.perf_counter(); x = ET.fromstring(s)\n"
      "    print((time.perf_counter() - t0) * 1e3); del x\n");
  std::remove(path.c_str());
  bench::PrintRuns("⎕XML import of 20 MB", import, "ElementTree.fromstring", theirs, 1.0);
  const bench::Spread spread = bench::SpreadOf(exported);
  std::printf("⎕XML export of the rows: min/median/max %.4g/%.4g/%.4g ms\n", spread.min, spread.median, spread.max);
  return 0;
}
