// ⎕XML import of a 20 MB document (a catalogue of records with attributes, text, references and
// indentation) against CPython's xml.etree.ElementTree.fromstring on the same text, measured in the
// same run (goal: ratio <= 1.0), and the export of the rows for information. Each side runs several
// times; the runs are compared pairwise in order.
#include <cstdio>
#include <string>
#include <vector>

#include "base/startup.h"
#include "language/session.h"
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

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(4ull << 30, kFlagDisplayResults);
  const std::string document = Document();
  const std::string path = bench::ShareDocument("xml", ".xml", document);
  const std::vector<double> import = bench::LineTimes(U"r←⎕XML t", kRuns);
  const std::vector<double> exported = bench::LineTimes(U"x←⎕XML r", kRuns);
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
