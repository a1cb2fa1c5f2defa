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

std::u32string FromUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    char32_t code = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // A byte that does not start a valid sequence stands for itself (Latin-1), so no input is lost.
    out.push_back(valid ? code : c);
    i += valid ? length : 1;
  }
  return out;
}

std::string ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

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
