// Process start-up and end. The process entry reads the bound resources and the command line, the
// main start-up and `aplmain` steps follow in their fixed order (splitting the command line, reading
// the configuration, obtaining the workspace heap, collecting start-up errors), and ExitApl is the
// one way a started process ends.
#include "host/aplmain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

#include "host/aplio.h"
#include "base/config.h"
#include "language/fixapfns.h"
#include "language/parse.h"
#include "language/session.h"
#include "language/trap.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "sysfns/iofun.h"
#include "sysfns/pcre.h"
#include "sysfns/quadfmt.h"
#include "sysfns/quaddr.h"
#include "sysfns/quaducs.h"
#include "sysfns/quadvar.h"
#include "sysfns/quadvfi.h"
#include "sysfns/syscoms.h"
#include "sysfns/xml.h"
#include "files/load.h"
#include "files/mapped.h"
#include "files/pff.h"
#include "files/qfile1.h"
#include "files/qfile2.h"
#include "files/qnfiles.h"
#include "base/utf8.h"
#include "base/platform/eventlog.h"
#include "base/platform/msgbox.h"
#include "base/platform/resources.h"
#include "base/platform/service.h"
#include "memory/memory1.h"
#include "memory/memory3.h"
#include "primitives/arith.h"
#include "primitives/cat.h"
#include "primitives/encode.h"
#include "primitives/grade.h"
#include "primitives/index.h"
#include "primitives/key.h"
#include "primitives/op.h"
#include "primitives/rand.h"
#include "primitives/same.h"

namespace vantor {
namespace {

constexpr char kCaption[] = "Vantor APL";
constexpr char kEditionName[] = "Vantor APL/W";
// Exit codes of a failed start-up: a refused command line, value or memory size, and a failing
// start-up step (service requests included).
constexpr int kExitStartupRefused = 1;
constexpr int kExitStartupStepFailed = 9;
// A runtime application's code returned to immediate execution: with nothing suspended, or stopped
// at an untrapped error.
constexpr int kExitApplicationReturned = 2;
constexpr int kExitApplicationStopped = 4;
constexpr char kContinueWorkspace[] = "./CONTINUE";
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
// A shrinking heap request is retried only while it stays above this size.
constexpr uint64_t kLargestRefusedWorkspace = 524287;
constexpr int kSleepOptionSeconds = 30;

struct StartupErrorMessage {
  uint32_t bit;
  const char* message;
};

constexpr StartupErrorMessage kStartupErrorMessages[] = {
    {kStartupErrorFcreatePropsC, "the environment variable APL_FCREATE_PROPS_C contains an illegal value"},
    {kStartupErrorFcreatePropsJ, "the environment variable APL_FCREATE_PROPS_J contains an illegal value"},
    {kStartupErrorJournalingNeedsChecksum,
     "the value in the environment variable APL_FCREATE_PROPS_J requires that APL_FCREATE_PROPS_C be set to 1"},
    {kStartupErrorFastFchk, "the value in the environment variable APL_FAST_FCHK contains an illegal value"},
    {kStartupErrorFlock,
     "the values in the environment variable APL_FLOCK_YIELD and/or APL_FLOCK_PAUSE contain an illegal value"},
    {kStartupErrorKite, "the Kite library could not be loaded"},
};

struct DiagnosticLetter {
  char letter;
  uint32_t bit;
};

constexpr DiagnosticLetter kDiagnosticLetters[] = {
    {'1', 1}, {'d', 1}, {'c', 2}, {'4', 4}, {'K', 8}, {'M', 16}, {'S', 32}, {'W', 64}, {'w', 128},
    {'h', 256}, {'H', 512},
};

struct ServiceParameter {
  const char* name;
  ServiceAction action;
};

constexpr ServiceParameter kServiceParameters[] = {
    {"APL_ServiceInstall", ServiceAction::Install},
    {"APL_ServiceUninstall", ServiceAction::Uninstall},
    {"APL_ServiceRun", ServiceAction::Run},
};

bool g_started = false;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }


// The resources bound into this executable, read once. A damaged trailer is reported and the
// executable then runs as if nothing were bound.
const ResourceSet& OwnResources() {
  static const ResourceSet resources = [] {
    ResourceSet set = ReadResources("/proc/self/exe");
    if (!set.problem.empty()) {
      std::fprintf(stderr, "Vantor APL: ignoring the bound resources because %s\n", set.problem.c_str());
    }
    return set;
  }();
  return resources;
}

uint32_t BoundStartupFlags() {
  const Resource* flags = OwnResources().Find(kResourceStartupFlags);
  if (flags == nullptr || flags->data.size() < 4) return 0;
  const std::vector<uint8_t>& b = flags->data;
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

void ReportStartupFailure(const StartupFailure& failure) {
  if (failure.message.empty()) return;
  WriteEventLog(failure.message, EventKind::Error);
  ShowMessageBox(failure.message, kCaption, BoxKind::Error);
}

// A word such as "2>file", ">>log", "<in", "2>&1" or "1>&-", or nullopt for any other word.
std::optional<Redirection> ParseRedirection(std::string_view word) {
  Redirection r;
  size_t i = 0;
  int stream = -1;
  if (word.size() > 1 && IsDigit(word[0]) && (word[1] == '<' || word[1] == '>')) {
    stream = word[0] - '0';
    i = 1;
  }
  if (i >= word.size() || (word[i] != '<' && word[i] != '>')) return std::nullopt;
  if (word[i++] == '<') {
    r.kind = Redirection::Read;
    r.stream = stream < 0 ? 0 : stream;
  } else {
    r.kind = i < word.size() && word[i] == '>' ? (++i, Redirection::Append) : Redirection::Truncate;
    r.stream = stream < 0 ? 1 : stream;
  }
  r.target = std::string(word.substr(i));
  if (r.target == "&-") {
    r.kind = Redirection::Close;
  } else if (r.target.size() == 2 && r.target[0] == '&' && IsDigit(r.target[1])) {
    r.kind = Redirection::Duplicate;
    r.duplicateOf = r.target[1] - '0';
  }
  return r;
}

// The end of the word that starts at `start`: the next blank, except that a double quote after an
// '=' in the word opens a quoted value that runs to the next double quote (npos when none follows).
// After a double quote with no '=' before it the word is malformed and simply runs to the blank.
size_t WordEnd(std::string_view text, size_t start) {
  bool sawEquals = false;
  bool misplacedQuote = false;
  size_t i = start;
  for (; i < text.size() && !IsBlank(text[i]); ++i) {
    if (text[i] == '=') {
      sawEquals = true;
    } else if (text[i] == '"' && !misplacedQuote) {
      if (!sawEquals) {
        misplacedQuote = true;
        continue;
      }
      i = text.find('"', i + 1);
      if (i == std::string_view::npos) return i;
    }
  }
  return i;
}

std::string UnterminatedQuoteMessage() {
  return CouldNotInitialiseMessage("a double quote in the command line has no closing double quote");
}

// Handles the letters of one word beginning with '-'. Returns false when the word ends option
// processing ('c').
bool ApplyMinusWord(const std::vector<std::string>& arguments, size_t& n, StartupState& state,
                    OptionEffects& effects) {
  const std::string_view rest = std::string_view(arguments[n]).substr(1);
  for (size_t k = 0; k < rest.size(); ++k) {
    switch (rest[k]) {
      case 'C': state.sessionFlag = false; break;
      case 'D':
        for (char letter : rest.substr(k + 1)) {
          const DiagnosticLetter* found = nullptr;
          for (const DiagnosticLetter& d : kDiagnosticLetters) {
            if (d.letter == letter) found = &d;
          }
          if (found == nullptr) {
            state.diagnosticBits = 0;
            break;
          }
          state.diagnosticBits |= found->bit;
        }
        return true;
      case 'E': case 'e': state.eFlag = true; break;
      case 'N': case 'n':
        if (EqualsIgnoringCase(rest, "Navigate")) {
          state.navigationFlag = true;
          state.runLatentExpression = false;
          return true;
        }
        break;
      case 'a': state.alternateReader = true; break;
      case 'b': state.bFlag = false; break;
      case 'c': return false;
      case 'q': state.qFlag = false; break;
      case 's':
        if (rest == "sleep") {
          effects.sleepSeconds += kSleepOptionSeconds;
          return true;
        }
        if (rest == "script" || rest == "script -sleep") {
          if (rest != "script") effects.sleepSeconds += kSleepOptionSeconds;
          if (n + 1 >= arguments.size()) {
            effects.error = CouldNotInitialiseMessage("the -script option names no script file");
            return false;
          }
          state.scriptFile = arguments[++n];
          state.sessionFlag = false;
          return true;
        }
        break;
      case 'x': state.runLatentExpression = false; break;
      default: break;
    }
  }
  return true;
}

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// One year of a YY_WINDOW value: at most 4 digits after an optional '-'.
std::optional<int> ParseYear(std::string_view text, int currentYear) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 4) return std::nullopt;
  int year = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    year = year * 10 + (c - '0');
  }
  if (negative) year = -year;
  return year < 1000 ? currentYear + year : year;
}

// --- The start-up steps ---

void HandleServiceRequest() {
  for (const ServiceParameter& parameter : kServiceParameters) {
    const char* name = ConfigLookup(parameter.name);
    if (name != nullptr && *name != '\0') {
      FailStartup(kExitStartupStepFailed, RequestService(parameter.action, name));
    }
  }
}

void ObtainWorkspace(StartupState& state) {
  const uint64_t requested = state.workspaceBytes;
  const uint64_t step = requested / 64;
  uint64_t size = requested;
  while (!ObtainSpace(kMainSpace, size, state.workspaceBaseAddress)) {
    if (step == 0 || size - step <= kLargestRefusedWorkspace) {
      FailStartup(kExitStartupRefused, "There is insufficient free contiguous memory to obtain a " +
                         FormatWorkspaceSize(requested) + " workspace.\r\n\r\n");
    }
    size -= step;
  }
  if (size < requested) {
    const std::string question = "There is insufficient free contiguous memory to obtain a " +
                                 FormatWorkspaceSize(requested) + " workspace.\r\n" + kEditionName +
                                 " can obtain a " + FormatWorkspaceSize(size) + " workspace.\r\n\r\n";
    if (!ShowMessageBox(question, kCaption, BoxKind::YesNo, false)) FailStartup(kExitStartupRefused, "");
  }
  state.workspaceBytes = static_cast<uint32_t>(size);
}

void ReadComponentFileSettings(StartupState& state) {
  const bool checksumValid = ReadStrict("APL_FCREATE_PROPS_C", state.fcreateChecksum, 1);
  const bool journalingValid = ReadStrict("APL_FCREATE_PROPS_J", state.fcreateJournaling, 3);
  if (!checksumValid) state.startupErrors |= kStartupErrorFcreatePropsC;
  if (!journalingValid) state.startupErrors |= kStartupErrorFcreatePropsJ;
  // Journaling levels 2 and 3 need checksummed files.
  if (checksumValid && journalingValid && state.fcreateJournaling >= 2 && state.fcreateChecksum == 0) {
    state.startupErrors |= kStartupErrorJournalingNeedsChecksum;
  }
  if (!ReadStrict("APL_FLOCK_YIELD", state.flockYield, 2) ||
      !ReadStrict("APL_FLOCK_PAUSE", state.flockPause, kInt32Max)) {
    state.startupErrors |= kStartupErrorFlock;
  }
  if (!ReadStrict("VANTOR_5977", state.compat5977, 2)) state.compat5977 = 1;
  if (!ReadStrict("VANTOR_12021", state.compat12021, 1)) state.compat12021 = 0;
}

[[noreturn]] void RedirectionFailure(const std::string& target) {
  FailStartup(kExitStartupRefused, "Vantor APL redirection failure: " + target);
}

void ConnectStandardStreams(const std::vector<Redirection>& redirections, const StartupState& state) {
  std::fflush(nullptr);
  for (const Redirection& redirection : redirections) {
    if (!ApplyRedirection(redirection)) RedirectionFailure(redirection.target);
  }
  if (!state.scriptFile.empty()) {
    const Redirection script{0, Redirection::Read, state.scriptFile, -1};
    if (!ApplyRedirection(script)) RedirectionFailure(state.scriptFile);
  }
}

// Lets tests provoke a system error on purpose once the heap exists (see docs/configuration.md).
void RunSystemErrorTestHook() {
  int64_t code = 0;
  if (ReadStrict("APL_SYSERROR_TEST", code, kInt32Max) && code > 0) SystemError(static_cast<int>(code));
}

bool SameDevice(int a, int b) {
  struct stat first {}, second {};
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

void ReadYearWindowSetting(StartupState& state) {
  const char* value = ConfigLookup("YY_WINDOW");
  if (value == nullptr) return;
  if (const std::optional<YearWindow> window = ParseYearWindow(value, CurrentYear())) {
    state.yearWindowFirst = window->first;
    state.yearWindowLast = window->last;
  } else {
    ShowMessageBox("Invalid YY_WINDOW entry", kCaption, BoxKind::Error);
  }
}

// The main start-up. The Windows edition also starts GDI+ and OLE, installs an invalid-parameter
// handler, declares DPI awareness, loads a resource library and activates comctl32 here; none of
// these has a counterpart on this platform, so nothing replaces them.
CommandLineSplit MainStartup(std::string_view commandLine) {
  StartupState& state = Startup();
  SetConfigCommandLine(commandLine);

  state.previewMode = commandLine.find("-PREVIEW") != std::string_view::npos;
  state.editOnlyMode = commandLine.find("-EDITONLY") != std::string_view::npos;
  state.embeddingMode = commandLine.find("Embedding") != std::string_view::npos;

  HandleServiceRequest();

  CommandLineSplit split = SplitCommandLine(commandLine, state.startupFlags);
  if (!split.error.empty()) FailStartup(kExitStartupRefused, split.error);

  const char* installDirectory = ConfigLookup("VANTOR");
  state.installDirectory = installDirectory ? installDirectory : "/usr/vantor";
  state.workspaceBytes = ReadSize("MAXWS", kMinimumWorkspaceBytes);
  state.workspaceBaseAddress = ReadSize("APL_WS_BASEADDR", 0);
  ReadStrict("Threads\\Flags", state.threadsFlags, kInt32Max);
  // Session windows, window classes and drawing objects belong to the GUI, which has its own
  // start-up; the system-name tables are sorted at first use by their owner.
  return split;
}

// The units' start-up routines, in the order their dependencies need: the tokeniser's tables, the
// system variables (which every namespace refers to), the names with # and ⎕SE, the state indicator
// and last the evaluator's dispatch tables.
constexpr void (*kModuleInitialisers[])() = {
    InitialiseScanner, InitialiseSystemVariables, InitialiseErrors, InitialiseNames, InitialiseStack,
    InitialiseFunctions, InitialiseEvaluator, InitialiseSame, InitialiseStructure, InitialiseScalarEngine, InitialiseIndexing,
    InitialiseEncode, InitialiseRandom, InitialiseSearch, InitialiseGrade, InitialiseOperators, InitialiseKeyOperator,
    InitialiseIBeams, InitialiseSystemCommands, InitialiseWorkspaceFiles, InitialiseCharacterCodes, InitialiseDataRepresentation, InitialiseVerifyFix,
    InitialiseFormatting, InitialiseNativeFiles, InitialiseFileSystemFunctions, InitialiseMappedFiles,
    InitialiseComponentFiles, InitialiseComponentFileNames, InitialiseRegex, InitialiseXml,
};

}  // namespace

void InitialiseModules() {
  for (auto initialise : kModuleInitialisers) initialise();
}

namespace {

// `aplmain` up to the start-up error exit. The caller's handler for StartupFailure is the armed
// start-up error exit.
void AplMain(const CommandLineSplit& split) {
  StartupState& state = Startup();
  const int64_t processors = std::max(1u, std::thread::hardware_concurrency());
  state.maxThreads = ReadLenient("APL_MAX_THREADS", processors, 16 * processors);
  state.minParallel = ReadLenient("APL_MIN_PARALLEL", 32768, kInt32Max);

  const OptionEffects effects = ApplyOptions(split.arguments, state);
  if (!effects.error.empty()) FailStartup(kExitStartupRefused, effects.error);
  if (effects.sleepSeconds > 0) std::this_thread::sleep_for(std::chrono::seconds(effects.sleepSeconds));

  ReadComponentFileSettings(state);

  ConnectStandardStreams(split.redirections, state);
  ReadStrict("APLNID", state.userNumber, kInt32Max);

  ObtainWorkspace(state);
  InitialiseHeap();
  if (std::fpclassify(std::numeric_limits<double>::infinity()) != FP_INFINITE) SystemError(270);
  InstallInterruptHandler();
  InitialiseModules();
  RunSystemErrorTestHook();

  if (state.startupErrors != 0) {
    FailStartup(StartupErrorExitCode(state.startupErrors),
                CouldNotInitialiseMessage(StartupErrorReason(state.startupErrors, state.startupErrorText)));
  }
}

// The run step up to entering the outer loop.
void PrepareRun() {
  StartupState& state = Startup();
  state.sessionOutputFd = SameDevice(1, 2) ? 2 : 1;
  ReadYearWindowSetting(state);
  SetWorkspaceInitialiser(InitialiseModules);
  // A bound workspace is loaded now; a named one is loaded by the outer loop's start action.
  if (const Resource* bound = OwnResources().Find(kResourceWorkspace)) {
    MemorySource source(bound->data);
    if (int refusal = LoadWorkspace(source, kFileKindWorkspace))
      FailStartup(kExitStartupRefused, "the bound workspace cannot be loaded: " + ToUtf8(LoadSaveMessageText(refusal)));
    state.workspaceBound = true;
  }
}

// The start action of the outer loop: a bound workspace is already loaded and only its ⎕LX runs; a
// named one is loaded as )LOAD (or )XLOAD with -x) would; when none was named, ./CONTINUE is loaded
// if it exists, and otherwise the session starts in a clear workspace without a message.
void StartApplication() {
  const StartupState& state = Startup();
  if (state.workspaceBound) {
    if (state.runLatentExpression) SetPendingLatentExpression(CharacterVariableText(kQuadLX));
    return;
  }
  std::u32string name = FromUtf8(state.workspaceName);
  if (state.workspaceName == kContinueWorkspace && !SearchWorkspace(name)) return;
  std::u32string quoted = U"\"";
  for (char32_t c : name) quoted += c == U'"' ? std::u32string(U"\"\"") : std::u32string(1, c);
  RunSystemCommand((state.runLatentExpression ? U"LOAD " : U"XLOAD ") + quoted + U"\"");
}

// A workspace that ⎕LOAD read replaces this one once the running code is gone; it is reported as a
// load is, and its ⎕LX runs next.
void CompleteLoad() {
  if (!InstallPendingLoad()) return;
  if (ResultsDisplayed()) WriteSessionLine(SavedLine(WorkspaceFile()));
  if (Startup().runLatentExpression) SetPendingLatentExpression(CharacterVariableText(kQuadLX));
}

// A runtime application (start-up flag bit 18) ends when its code returns to immediate execution:
// with exit code 2 when nothing is suspended, otherwise after telling that it stopped at an error.
void EndRuntimeApplication(bool stateIndicatorEmpty) {
  if (!(Startup().startupFlags & kFlagEndOnImmediate)) return;
  if (stateIndicatorEmpty) ExitApl(kExitApplicationReturned);
  const char* configured = ConfigLookup("RunTimeError");
  std::string message = configured ? configured
                                   : "This Vantor APL runtime application has attempted to use the APL session "
                                     "and will therefore be closed.";
  for (size_t at; (at = message.find("\\n")) != std::string::npos;) message.replace(at, 2, "\n");
  const char* title = ConfigLookup("RunTimeTitle");
  WriteEventLog(message, EventKind::Information);
  ShowMessageBox(message, title ? title : kEditionName, BoxKind::Information);
  ExitApl(kExitApplicationStopped);
}

void StartInterpreter(std::string_view commandLine) {
  AplMain(MainStartup(commandLine));
  PrepareRun();
  g_started = true;
}

}  // namespace

std::string StartupErrorReason(uint32_t errorSet, std::string_view runtimeText) {
  std::vector<std::string> messages;
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if (!(errorSet & bit)) continue;
    std::string message = bit == kStartupErrorRuntimeText ? std::string(runtimeText)
                                                           : "there is an unspecified error";
    for (const StartupErrorMessage& entry : kStartupErrorMessages) {
      if (entry.bit == bit) message = entry.message;
    }
    messages.push_back(std::move(message));
  }
  std::string reason;
  for (size_t i = 0; i < messages.size(); ++i) {
    if (i > 0) reason += i + 1 == messages.size() ? " and " : ", ";
    reason += messages[i];
  }
  return reason;
}

int StartupErrorExitCode(uint32_t errorSet) {
  if (errorSet & kStartupErrorRuntimeText) return 6;
  if (errorSet & kStartupErrorKite) return 5;
  return 1;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    const std::string_view argument = argv[i];
    const size_t blank = argument.find_first_of(" \t");
    if (blank == std::string_view::npos) {
      text += argument;
      continue;
    }
    // name=value keeps its name outside the quotes so that ConfigLookup still finds it.
    const size_t equals = argument.find('=');
    const size_t quoteFrom =
        equals < blank && argument.find('"') == std::string_view::npos ? equals + 1 : 0;
    text += argument.substr(0, quoteFrom);
    text += '"';
    text += argument.substr(quoteFrom);
    text += '"';
  }
  return text;
}

CommandLineSplit SplitCommandLine(std::string_view text, uint32_t startupFlags) {
  CommandLineSplit split;
  split.arguments = {"apl", startupFlags & kFlagConsole ? "-C" : "+s"};
  auto addArgument = [&split](std::string_view word) {
    if (split.arguments.size() == kMaxArgumentEntries) {
      split.error = CouldNotInitialiseMessage("the command line has more than " +
                                              std::to_string(kMaxArgumentEntries - 2) + " words");
      return false;
    }
    split.arguments.emplace_back(word);
    return true;
  };
  size_t i = 0;
  while (true) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    if (text[i] == '"') {
      const size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) {
        split.error = UnterminatedQuoteMessage();
        return split;
      }
      if (!addArgument(text.substr(i + 1, close - i - 1))) return split;
      i = close + 1;
      continue;
    }
    const size_t end = WordEnd(text, i);
    if (end == std::string_view::npos) {
      split.error = UnterminatedQuoteMessage();
      return split;
    }
    const std::string_view word = text.substr(i, end - i);
    i = end;
    if (std::optional<Redirection> redirection = ParseRedirection(word)) {
      split.redirections.push_back(std::move(*redirection));
      continue;
    }
    const size_t quote = word.find('"');
    if (quote != std::string_view::npos && word.substr(0, quote).find('=') == std::string_view::npos) {
      split.error = CouldNotInitialiseMessage("the command-line word " + std::string(word) +
                                              " has a double quote outside a parameter value");
      return split;
    }
    if (word.find('=') != std::string_view::npos) continue;  // a parameter: ConfigLookup finds it
    if (!addArgument(word)) return split;
  }
  return split;
}

OptionEffects ApplyOptions(const std::vector<std::string>& arguments, StartupState& state) {
  OptionEffects effects;
  for (size_t n = 1; n < arguments.size(); ++n) {
    const std::string& word = arguments[n];
    if (word.starts_with('+')) {
      for (char letter : word.substr(1)) {
        if (letter == 'q') state.qFlag = true;
        if (letter == 's') state.sessionFlag = true;
      }
    } else if (word.starts_with('-')) {
      if (!ApplyMinusWord(arguments, n, state, effects)) break;
    } else {
      state.workspaceName = word;
    }
  }
  return effects;
}

bool ApplyRedirection(const Redirection& redirection) {
  switch (redirection.kind) {
    case Redirection::Close:
      close(redirection.stream);
      return true;
    case Redirection::Duplicate:
      return dup2(redirection.duplicateOf, redirection.stream) >= 0;
    default:
      break;
  }
  const int mode = redirection.kind == Redirection::Read     ? O_RDONLY
                   : redirection.kind == Redirection::Append ? O_WRONLY | O_CREAT | O_APPEND
                                                             : O_WRONLY | O_CREAT | O_TRUNC;
  const int fd = open(redirection.target.c_str(), mode, 0666);
  if (fd < 0) return false;
  if (fd == redirection.stream) return true;
  const bool copied = dup2(fd, redirection.stream) >= 0;
  close(fd);
  return copied;
}

std::optional<YearWindow> ParseYearWindow(std::string_view text, int currentYear) {
  const size_t comma = text.find(',');
  const std::optional<int> first = ParseYear(text.substr(0, comma), currentYear);
  if (!first) return std::nullopt;
  if (comma == std::string_view::npos) return YearWindow{*first, *first + 99};
  const std::optional<int> last = ParseYear(text.substr(comma + 1), currentYear);
  if (!last || *last < *first || *last - *first > 99) return std::nullopt;
  return YearWindow{*first, *last};
}

std::string FormatWorkspaceSize(uint64_t bytes) {
  constexpr uint64_t kMegabyte = 1024 * 1024;
  return bytes % kMegabyte == 0 ? std::to_string(bytes / kMegabyte) + "Mb"
                                : std::to_string(bytes / 1024) + "Kb";
}

void RunProcess(int argc, const char* const* argv) {
  // The session and thread code keep their locks and semaphore as static objects, so there is
  // nothing to create before the flags and the command line are read.
  StartupState& state = Startup();
  state.startupFlags = BoundStartupFlags();
  const Resource* boundCommandLine = OwnResources().Find(kResourceCommandLine);
  const std::string commandLine =
      boundCommandLine ? DecodeResourceText(boundCommandLine->data) : JoinArguments(argc, argv);
  try {
    StartInterpreter(commandLine);
  } catch (const StartupFailure& failure) {
    ReportStartupFailure(failure);
    ExitApl(failure.exitCode);
  }
  EnterOuterLoop();
}

bool InitialiseForHost(std::string_view commandLine, uint32_t startupFlags, HostExitFn exitFn) {
  if (g_started) return true;
  StartupState& state = Startup();
  state.startupFlags = startupFlags;
  state.exitFn = exitFn;
  try {
    StartInterpreter(commandLine);
  } catch (const StartupFailure& failure) {
    ReportStartupFailure(failure);
    return false;
  }
  return true;
}

void EnterOuterLoop() { RunSession({StartApplication, CompleteLoad, EndRuntimeApplication}); }

}  // namespace vantor
