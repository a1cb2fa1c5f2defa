// JSON import (7159⌶, the namespace form) of a 50 MB document against CPython's json.loads on the same
// text (goal: ratio <= 0.5), and export (7160⌶) of the imported value against json.dumps of Python's
// (goal: ratio <= 1.0), measured in the same run. The document is an array of records: objects with
// nested objects and arrays, strings with escapes (quotes, backslashes, line feeds, \u escapes and
// characters beyond ASCII), integers, fractions, exponents, true, false and null. Each side runs
// several times; the runs are compared pairwise in order.
#include <cstdio>
#include <string>
#include <vector>

#include "base/startup.h"
#include "language/session.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr size_t kBytes = 50'000'000;

std::string Document() {
  std::string text = "[";
  for (int i = 0; text.size() < kBytes; ++i) {
    const std::string n = std::to_string(i);
    if (i) text += ",\n";
    text += "{\"id\": " + n + ", \"name\": \"Item \\\"" + n + "\\\" of the catalogue\", \"price\": " +
            std::to_string(i % 1000) + "." + std::to_string(i % 100) + ", \"ratio\": -" +
            std::to_string(i % 97) + ".5e-3, \"active\": " + (i % 3 ? "true" : "false") +
            ", \"note\": null, \"tags\": [\"red\", \"green\", \"blue\\u00e9\", \"caf\xc3\xa9\"],"
            " \"text\": \"line one\\nline two\\twith a \\\\ backslash\","
            " \"size\": {\"w\": " + std::to_string(i % 640) + ", \"h\": " + std::to_string(i % 480) +
            ", \"scale\": [1, 2.5, 1e3]}}";
  }
  return text + "]\n";
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(6ull << 30, kFlagDisplayResults);
  const std::string document = Document();
  const std::string path = bench::ShareDocument("json", ".json", document);
  const std::vector<double> import = bench::LineTimes(U"r←0(7159⌶)t", kRuns, U"⎕EX'r'");
  const std::vector<double> exported = bench::LineTimes(U"x←7160⌶r", kRuns, U"⎕EX'x'");
  ExecuteLine(U"⎕←(⍕≢t),' characters, ',(⍕≢r),' records, ',(⍕≢x),' characters exported, round trip ',"
              U"⍕x≡7160⌶0(7159⌶)x");
  const std::string runs = std::to_string(kRuns);
  const std::vector<double> loads = bench::PythonNumbers(
      "import time, json\ns = open('" + path + "', encoding='utf-8').read()\nfor _ in range(" + runs +
      "):\n    t0 = time.perf_counter(); x = json.loads(s)\n    print((time.perf_counter() - t0) * 1e3); del x\n");
  const std::vector<double> dumps = bench::PythonNumbers(
      "import time, json\nv = json.loads(open('" + path + "', encoding='utf-8').read())\nfor _ in range(" + runs +
      "):\n    t0 = time.perf_counter(); x = json.dumps(v)\n    print((time.perf_counter() - t0) * 1e3); del x\n");
  std::remove(path.c_str());
  bench::PrintRuns("JSON import of 50 MB", import, "json.loads", loads, 0.5);
  bench::PrintRuns("JSON export of the value", exported, "json.dumps", dumps, 1.0);
  return 0;
}
