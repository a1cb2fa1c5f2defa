// Fuzz target: any bytes, read as a UTF-8 line, are scanned and executed in immediate execution. A
// line must give a value, a displayed error or nothing: never a crash, a hang, a system error or a
// C++ exception escaping. The interpreter runs as the runtime edition without console mode, so ⎕ and
// ⍞ input give DOMAIN ERROR instead of waiting; lines that would end the process (⎕OFF, )OFF) are
// skipped.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/aplio.h"
#include "host/aplmain.h"
#include "host/host.h"
#include "language/parse.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "memory/memory1.h"
#include "language/trap.h"
#include "sysfns/quadvar.h"

using namespace vantor;

static bool EndsTheProcess(const std::u32string& line) {
  std::u32string upper;
  for (char32_t c : line) upper.push_back(c >= U'a' && c <= U'z' ? c - 32 : c);
  size_t first = line.find_first_not_of(U' ');
  bool systemCommand = first != std::u32string::npos && line[first] == U')';
  return systemCommand || upper.find(U"OFF") != std::u32string::npos;
}

// Every input starts from a fresh workspace, so that a failing input fails on its own and can be kept
// as a regression test.
static void StartFresh() {
  static bool configured = false;
  if (!configured) {
    configured = true;
    Startup().startupFlags = kFlagDisplayResults;  // values are formatted (and written to /dev/null)
    Startup().sessionOutputFd = open("/dev/null", O_WRONLY);
    Startup().diagnosticBits = kDiagCheckAfterCompaction;  // check the whole heap after every compaction
  }
  ObtainSpace(kMainSpace, 4u << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartFresh();
  std::u32string line = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  if (line.find_first_of(U"\r\n") != std::u32string::npos || EndsTheProcess(line)) return 0;
  ExecuteLine(line);
  return 0;
}
