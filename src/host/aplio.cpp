// Host input and output in console mode. Session output goes to the stream chosen at start-up as
// UTF-8; input lines come from standard input; status messages pass a filter and reach the host's
// output hook and, when asked, standard error.
#include "host/aplio.h"

#include <unistd.h>

#include <cerrno>


#include "host/aplmain.h"
#include "host/host.h"
#include "language/space.h"

namespace vantor {

// Writes all bytes; output to a closed or failing stream is ignored.
static void WriteBytes(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

static bool g_lineOpen = false;  // the last session output did not end its line

void WriteSessionText(std::u32string_view text) {
  if (text.empty()) return;
  WriteBytes(Startup().sessionOutputFd, ToUtf8(text));
  g_lineOpen = true;
}

void EndOpenLine() {
  if (g_lineOpen) WriteBytes(Startup().sessionOutputFd, "\n");
  g_lineOpen = false;
}

void WriteSessionLine(std::u32string_view line) {
  std::string bytes = g_lineOpen ? "\n" : "";
  bytes += ToUtf8(line);
  bytes.push_back('\n');
  WriteBytes(Startup().sessionOutputFd, bytes);
  g_lineOpen = false;
}

// Standard input, read in blocks.
static char g_inputBuffer[65536];
static size_t g_inputStart = 0, g_inputEnd = 0;

static bool NextInputByte(char& c) {
  while (g_inputStart == g_inputEnd) {
    ssize_t n = read(0, g_inputBuffer, sizeof g_inputBuffer);
    if (n < 0 && errno == EINTR) continue;  // a break signal while waiting for input
    if (n <= 0) return false;
    g_inputStart = 0;
    g_inputEnd = static_cast<size_t>(n);
  }
  c = g_inputBuffer[g_inputStart++];
  return true;
}

bool ReadInputLine(std::u32string& line) {
  // A terminal is prompted with six blanks, unless ⍞← left text open as the prompt.
  if (isatty(0) && !g_lineOpen) WriteSessionText(U"      ");
  std::string bytes;
  char c;
  bool any = false;
  while (NextInputByte(c)) {
    any = true;
    if (c == '\n') break;
    bytes.push_back(c);
  }
  if (!any) return false;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  line = FromUtf8(bytes);
  return true;
}

bool ResultsDisplayed() { return Startup().startupFlags & kFlagDisplayResults; }

void WriteStatus(std::u32string_view text, uint32_t flags) {
  static const int64_t statusFlags = ReadLenient("StatusFlags", 7, INT32_MAX);
  if ((flags & static_cast<uint32_t>(statusFlags)) == 0) return;
  std::string bytes = ToUtf8(text);
  if (HostOutputTextFn hook = Startup().outputTextFn) {
    hook(u"/proc/self/exe", ToUtf16(text).c_str(), static_cast<int>(flags));
  }
  if ((flags & 32) && (Startup().startupFlags & kFlagConsole)) WriteBytes(2, bytes + "\n");
}

}  // namespace vantor
