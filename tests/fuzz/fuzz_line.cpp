// Fuzz target: any bytes, read as UTF-8 lines, are scanned and executed in immediate execution. A
// line must give a value, a displayed error or nothing: never a crash, a hang, a system error or a
// C++ exception escaping. The interpreter runs as the runtime edition without console mode, so ⎕ and
// ⍞ input give DOMAIN ERROR instead of waiting; lines that would end the process (⎕OFF, )OFF) or
// write files into the directory the fuzzer runs in (⎕SAVE, ⎕NPUT, ⎕NCREATE, ⎕MKDIR, a tie that
// could change a file) or delete them (⎕NDELETE) are skipped.
#include <fcntl.h>
#include <sys/time.h>

#include <csignal>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "host/aplio.h"
#include "fresh.h"
#include "base/startup.h"
#include "base/config.h"
#include "language/session.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "memory/memory1.h"
#include "base/errors.h"
#include "sysfns/quadvar.h"

using namespace vantor;

static bool IsSkipped(const std::u32string& line) {
  std::u32string upper;
  for (char32_t c : line) upper.push_back(c >= U'a' && c <= U'z' ? c - 32 : c);
  size_t first = line.find_first_not_of(U' ');
  bool systemCommand = first != std::u32string::npos && line[first] == U')';
  if (systemCommand) return true;
  // Names that end the process, write workspace files, or create, change or delete files by name.
  for (std::u32string_view word : {U"OFF", U"SAVE", U"NPUT", U"NCREATE", U"NTIE", U"NDELETE", U"MKDIR"})
    if (upper.find(word) != std::u32string::npos) return true;
  return false;
}

// APL code may loop for ever (a dfn that calls itself in tail position, :While 1): an input still
// running after two seconds of processor time is interrupted as a user would, and again every second
// after that, so that each looping line ends with INTERRUPT. The timer counts processor time
// (SIGVTALRM) because libFuzzer's own -timeout owns the real-time timer and SIGALRM: a unit that the
// interrupts cannot stop is still reported as a hang.
static void InterruptLongRun(int) {
  RequestInterrupt();
  RequestInterrupt();
}
static void ArmInterruptTimer(long seconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  timer.it_interval.tv_sec = seconds ? 1 : 0;
  setitimer(ITIMER_VIRTUAL, &timer, nullptr);
}

// Every input starts from a fresh workspace in which interrupts are enabled, so that a long run can
// be stopped.
static void StartFresh() {
  static bool configured = false;
  if (!configured) {
    configured = true;
    signal(SIGVTALRM, InterruptLongRun);
    g_interruptOnAllocation = true;
  }
  fuzz::StartFresh({.displayResults = true, .checkAfterCompaction = true});
}

// The input's lines run one after another in the same workspace, so that what one line leaves (a
// suspended function, a namespace, a localised name) meets the next.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u32string text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  if (text.find(U'\r') != std::u32string::npos) return 0;
  std::vector<std::u32string> lines;
  for (size_t start = 0, end; start <= text.size(); start = end + 1) {
    end = std::min(text.find(U'\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    if (IsSkipped(lines.back())) return 0;
  }
  StartFresh();
  ArmInterruptTimer(2);
  for (const std::u32string& line : lines) ExecuteLine(line);
  ArmInterruptTimer(0);
  ClearInterrupts();  // one that came too late is not left for the next input
  return 0;
}
