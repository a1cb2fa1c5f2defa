// The interactive console: libedit through its wide-character interface reads session lines from a
// terminal, with emacs-style editing keys, a bounded history file in the user's home directory and
// the backtick prefix key for APL glyphs. Terminal bytes are decoded here with the interpreter's own
// UTF-8 decoder (the editor's character reader), which is also where a break (Ctrl-C) is noticed:
// libedit's signal handling restores the terminal and passes the signal on to the interpreter's
// handler, and the reader then abandons the line.
#include "host/iosys.h"

#include <histedit.h>
#include <langinfo.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/utf8.h"
#include "memory/memory1.h"

namespace vantor {

static_assert(sizeof(wchar_t) == sizeof(char32_t), "the editor's characters are whole code points");

// ---- The prefix key ------------------------------------------------------------------------------
// The usual APL keyboard layout on a US keyboard, by row. The backtick key's own glyph ⋄ is on its
// shifted key (~) here, so that the backtick typed twice is a backtick.

struct PrefixedKey {
  char key;
  char32_t glyph;
};

constexpr PrefixedKey kPrefixedKeys[] = {
    {'`', U'`'}, {'1', U'¨'}, {'2', U'¯'}, {'3', U'<'}, {'4', U'≤'}, {'5', U'='}, {'6', U'≥'},
    {'7', U'>'}, {'8', U'≠'}, {'9', U'∨'}, {'0', U'∧'}, {'-', U'×'}, {'=', U'÷'},
    {'~', U'⋄'}, {'!', U'⌶'}, {'@', U'⍫'}, {'#', U'⍒'}, {'$', U'⍋'}, {'%', U'⌽'}, {'^', U'⍉'},
    {'&', U'⊖'}, {'*', U'⍟'}, {'(', U'⍱'}, {')', U'⍲'}, {'_', U'!'}, {'+', U'⌹'},

    {'q', U'?'}, {'w', U'⍵'}, {'e', U'∊'}, {'r', U'⍴'}, {'t', U'~'}, {'y', U'↑'}, {'u', U'↓'},
    {'i', U'⍳'}, {'o', U'○'}, {'p', U'*'}, {'[', U'←'}, {']', U'→'}, {'\\', U'⊢'},
    {'W', U'⍹'}, {'E', U'⍷'}, {'T', U'⍨'}, {'I', U'⍸'}, {'O', U'⍥'}, {'P', U'⍣'}, {'{', U'⍞'},
    {'}', U'⍬'}, {'|', U'⊣'},

    {'a', U'⍺'}, {'s', U'⌈'}, {'d', U'⌊'}, {'f', U'_'}, {'g', U'∇'}, {'h', U'∆'}, {'j', U'∘'},
    {'k', U'\''}, {'l', U'⎕'}, {';', U'⍎'}, {'\'', U'⍕'},
    {'A', U'⍶'}, {'H', U'⍙'}, {'J', U'⍤'}, {'K', U'⌸'}, {'L', U'⌷'}, {':', U'≡'}, {'"', U'≢'},

    {'z', U'⊂'}, {'x', U'⊃'}, {'c', U'∩'}, {'v', U'∪'}, {'b', U'⊥'}, {'n', U'⊤'}, {'m', U'|'},
    {',', U'⍝'}, {'.', U'⍀'}, {'/', U'⌿'},
    {'Z', U'⊆'}, {'<', U'⍪'}, {'>', U'⍙'}, {'?', U'⍠'},
};

// The glyph the prefix key followed by `key` types, or 0 when the key has none.
static char32_t PrefixedGlyph(wchar_t key) {
  const auto* found = std::find_if(std::begin(kPrefixedKeys), std::end(kPrefixedKeys),
                                   [key](const PrefixedKey& k) { return wchar_t{k.key} == key; });
  return found == std::end(kPrefixedKeys) ? 0 : found->glyph;
}

// Bound to the backtick: reads the next key and types its glyph. A key without one types the backtick
// and then keeps its own meaning (a cursor key still moves, Enter still ends the line).
static unsigned char TypePrefixedGlyph(EditLine* editor, wint_t) {
  wchar_t key;
  if (el_wgetc(editor, &key) != 1) return CC_NORM;  // end of input or a break: the next read says so
  if (char32_t glyph = PrefixedGlyph(key)) {
    const wchar_t text[] = {static_cast<wchar_t>(glyph), 0};
    el_winsertstr(editor, text);
    return CC_REFRESH;
  }
  el_winsertstr(editor, L"`");
  const wchar_t pushed[] = {key, 0};
  el_wpush(editor, pushed);
  return CC_REFRESH;
}

// ---- Reading the terminal ------------------------------------------------------------------------

// Interrupt requests as they stood when the current line's reading began: only a break that comes
// while the line is being typed abandons it.
struct InterruptState {
  bool weak, strong;
};

static InterruptState CurrentInterrupts() {
  return {g_weakInterrupt != 0, g_interruptPending.load(std::memory_order_relaxed)};
}

static InterruptState g_interruptsBeforeLine{};
static bool g_lineAbandoned = false;
static std::string g_unreadBytes;  // read from the terminal but not yet decoded

static bool BreakArrived() {
  const InterruptState now = CurrentInterrupts();
  return (now.weak && !g_interruptsBeforeLine.weak) || (now.strong && !g_interruptsBeforeLine.strong);
}

// Waits until standard input can be read; false when a break arrives first. The break signal is
// blocked while the requests are tested and let through only inside ppoll, so that a break coming
// between the test and the wait still ends the wait.
static bool WaitForInput() {
  sigset_t breakSignal, usual;
  sigemptyset(&breakSignal);
  sigaddset(&breakSignal, SIGINT);
  pthread_sigmask(SIG_BLOCK, &breakSignal, &usual);
  bool ready = true;
  for (;;) {
    if (BreakArrived()) {
      ready = false;
      break;
    }
    pollfd input{0, POLLIN, 0};
    if (ppoll(&input, 1, nullptr, &usual) >= 0 || errno != EINTR) break;
  }
  pthread_sigmask(SIG_SETMASK, &usual, nullptr);
  return ready;
}

// One byte of standard input: 1, or 0 at the end of input, or -1 on an error or an abandoned line.
static int ReadByte(char& byte) {
  if (g_lineAbandoned) return -1;
  if (!g_unreadBytes.empty()) {
    byte = g_unreadBytes.front();
    g_unreadBytes.erase(0, 1);
    return 1;
  }
  for (;;) {
    if (!WaitForInput()) {
      g_lineAbandoned = true;
      return -1;
    }
    const ssize_t n = read(0, &byte, 1);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

// The editor's character reader: one UTF-8 character from standard input. A sequence that is not
// well-formed gives U+FFFD for its maximal subpart, as everywhere else; the bytes after that subpart
// are decoded next.
static int ReadCharacter(EditLine*, wchar_t* character) {
  char lead;
  if (int got = ReadByte(lead); got != 1) return got;
  std::string bytes(1, lead);
  for (int k = utf8::Classify(static_cast<uint8_t>(lead)).continuations; k > 0; --k) {
    char next;
    const int got = ReadByte(next);
    if (got < 0) return got;
    if (got == 0) break;
    bytes.push_back(next);
    if ((static_cast<uint8_t>(next) & 0xC0) != 0x80) break;  // not a continuation byte
  }
  size_t used = 0;
  *character = static_cast<wchar_t>(DecodeUtf8(bytes, used));
  g_unreadBytes.insert(0, bytes, used);
  return 1;
}

// ---- The editor and its history ------------------------------------------------------------------

constexpr int kHistoryLines = 1000;

struct Console {
  EditLine* editor = nullptr;
  HistoryW* history = nullptr;
  FILE* terminal = nullptr;  // the session output, for the editor's drawing
  std::string historyFile;   // empty when there is no home directory
};

static std::wstring g_prompt;
static wchar_t* PromptText(EditLine*) { return g_prompt.data(); }

// libedit converts its wide characters to terminal bytes through the C library's character locale;
// the interpreter's terminal text is UTF-8 whatever the environment says.
static void UseUtf8CharacterLocale() {
  if (setlocale(LC_CTYPE, "") && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
  setlocale(LC_CTYPE, "C.UTF-8");
}

static std::string HistoryFilePath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == 0) return "";
  return std::string(home) + "/.vantor_history";
}

// Keys that terminals send in more than one way and that libedit's defaults may not all know.
static void BindEditingKeys(EditLine* editor) {
  struct Binding {
    const wchar_t* keys;
    const wchar_t* command;
  };
  static constexpr Binding kBindings[] = {
      {L"\033[H", L"ed-move-to-beg"},  {L"\033[1~", L"ed-move-to-beg"}, {L"\033OH", L"ed-move-to-beg"},
      {L"\033[F", L"ed-move-to-end"},  {L"\033[4~", L"ed-move-to-end"}, {L"\033OF", L"ed-move-to-end"},
      {L"\033[3~", L"ed-delete-next-char"}, {L"\033[1;5D", L"ed-prev-word"},
      {L"\033[1;5C", L"em-next-word"},
  };
  for (const Binding& b : kBindings) el_wset(editor, EL_BIND, b.keys, b.command, nullptr);
  el_wset(editor, EL_ADDFN, L"apl-glyph", L"Type the APL glyph of the next key", TypePrefixedGlyph);
  el_wset(editor, EL_BIND, L"`", L"apl-glyph", nullptr);
}

static Console OpenConsole(int outputFd) {
  UseUtf8CharacterLocale();
  Console console;
  const int terminalFd = dup(outputFd);
  console.terminal = terminalFd < 0 ? nullptr : fdopen(terminalFd, "w");
  console.editor = el_init("vantor", stdin, console.terminal ? console.terminal : stdout, stderr);
  if (console.editor == nullptr) return console;
  console.history = history_winit();
  HistEventW event;
  history_w(console.history, &event, H_SETSIZE, kHistoryLines);
  history_w(console.history, &event, H_SETUNIQUE, 1);
  console.historyFile = HistoryFilePath();
  if (!console.historyFile.empty()) {
    history_w(console.history, &event, H_LOAD, console.historyFile.c_str());
  }
  el_wset(console.editor, EL_EDITOR, L"emacs");
  el_wset(console.editor, EL_SIGNAL, 1);
  el_wset(console.editor, EL_GETCFN, ReadCharacter);
  el_wset(console.editor, EL_PROMPT, PromptText);
  el_wset(console.editor, EL_HIST, history_w, console.history);
  BindEditingKeys(console.editor);
  return console;
}

static Console& TheConsole(int outputFd) {
  static Console console = OpenConsole(outputFd);
  return console;
}

static void WriteToTerminal(const Console& console, const char* text) {
  FILE* out = console.terminal ? console.terminal : stdout;
  std::fputs(text, out);
  std::fflush(out);
}

// Keeps a line that is not blank in the history and rewrites the file (failures are ignored).
static void Remember(Console& console, const std::wstring& line) {
  if (line.find_first_not_of(L' ') == std::wstring::npos) return;
  HistEventW event;
  history_w(console.history, &event, H_ENTER, line.c_str());
  if (!console.historyFile.empty()) {
    history_w(console.history, &event, H_SAVE, console.historyFile.c_str());
  }
}

bool ConsoleIsInteractive(int outputFd) {
  return isatty(0) && isatty(outputFd) && TheConsole(outputFd).editor != nullptr;
}

bool ReadConsoleLine(int outputFd, std::u32string_view prompt, bool remember, std::u32string& line) {
  Console& console = TheConsole(outputFd);
  g_prompt.assign(prompt.begin(), prompt.end());
  for (;;) {
    g_interruptsBeforeLine = CurrentInterrupts();
    g_lineAbandoned = false;
    WriteToTerminal(console, "\r");  // the editor draws its prompt from the start of the line
    int count = 0;
    const wchar_t* text = el_wgets(console.editor, &count);
    if (text != nullptr && count > 0) {
      std::wstring typed(text, static_cast<size_t>(count));
      if (typed.back() == L'\n') typed.pop_back();
      if (remember) Remember(console, typed);
      line.assign(typed.begin(), typed.end());
      return true;
    }
    WriteToTerminal(console, "\n");
    if (!g_lineAbandoned) return false;
    g_weakInterrupt = g_interruptsBeforeLine.weak;  // the break is used up by abandoning the line
    g_interruptPending.store(g_interruptsBeforeLine.strong, std::memory_order_relaxed);
  }
}

}  // namespace vantor
