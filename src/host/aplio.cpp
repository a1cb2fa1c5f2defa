// Host input and output in console mode. Session output goes to the stream chosen at start-up as
// UTF-8; input lines come from standard input, through the console's line editor when the session is
// on a terminal; status messages pass a filter and reach the host's output hook and, when asked,
// standard error.
#include "host/aplio.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/startup.h"
#include "base/config.h"
#include "host/iosys.h"
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
static std::u32string g_openLine;  // the text on that line, which an input prompt on a terminal continues

void WriteSessionText(std::u32string_view text) {
  if (text.empty()) return;
  WriteBytes(Startup().sessionOutputFd, ToUtf8(text));
  const size_t lastBreak = text.find_last_of(U"\r\n");
  if (lastBreak != std::u32string_view::npos) g_openLine.clear();
  g_openLine += text.substr(lastBreak == std::u32string_view::npos ? 0 : lastBreak + 1);
  g_lineOpen = true;
}

void EndOpenLine() {
  if (g_lineOpen) WriteBytes(Startup().sessionOutputFd, "\n");
  g_lineOpen = false;
  g_openLine.clear();
}

void WriteSessionLine(std::u32string_view line) {
  std::string bytes = g_lineOpen ? "\n" : "";
  bytes += ToUtf8(line);
  bytes.push_back('\n');
  WriteBytes(Startup().sessionOutputFd, bytes);
  g_lineOpen = false;
  g_openLine.clear();
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

// A line of standard input as it comes, for pipes and files.
static bool ReadPlainLine(std::u32string& line) {
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

constexpr std::u32string_view kSessionIndent = U"      ";

// The editor draws its prompt again at every key, so only a short line of printable characters
// left open by ⍞← serves as one; a longer or odder line is ended first.
constexpr size_t kLongestOpenLinePrompt = 1000;

static bool UsableAsEditorPrompt(std::u32string_view text) {
  return text.size() <= kLongestOpenLinePrompt &&
         std::all_of(text.begin(), text.end(), [](char32_t c) { return c >= U' ' && c != 0x7F; });
}

// The prompt of a line read from a terminal; ⎕'s heading line is written here.
static std::u32string TerminalPrompt(InputKind kind, bool editor) {
  if (kind == InputKind::Evaluated) {
    WriteSessionLine(U"⎕:");
    return std::u32string(kSessionIndent);
  }
  if (g_lineOpen && editor && !UsableAsEditorPrompt(g_openLine)) EndOpenLine();
  if (g_lineOpen) return g_openLine;
  return std::u32string(kind == InputKind::QuoteQuad ? U"" : kSessionIndent);
}

bool ReadInputLine(std::u32string& line, InputKind kind) {
  if (!isatty(0)) return ReadPlainLine(line);
  const int out = Startup().sessionOutputFd;
  const bool editor = ConsoleIsInteractive(out);
  const std::u32string prompt = TerminalPrompt(kind, editor);
  if (!editor) {
    if (!g_lineOpen) WriteSessionText(prompt);
    return ReadPlainLine(line);
  }
  g_lineOpen = false;  // the editor draws the open text again as its prompt and ends the line
  g_openLine.clear();
  return ReadConsoleLine(out, prompt, kind != InputKind::QuoteQuad, line);
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
