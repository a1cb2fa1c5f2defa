// Process start-up and end: the start-up state that other units consult (flags, diagnostic bits,
// interactivity, the workspace name), the start-up sequence itself with its command-line splitting,
// options and start-up errors, and the one exit routine through which every normal end goes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

// Start-up flag bits (the word bound as resource 3, or given by a host to Vantor_Initialize).
enum StartupFlagBits : uint32_t {
  kFlagNonInteractive = 1u << 0,
  kFlagConsole = 1u << 1,
  kFlagNoRegistry = 1u << 3,
  kFlagDisplayResults = 1u << 16,
  kFlagEndOnImmediate = 1u << 18,
};

// Diagnostic bits of the -D option.
enum DiagnosticBits : uint32_t {
  kDiagValidateProcessHeap = 1,
  kDiagCompactOnAllocation = 8,
  kDiagCheckAfterCompaction = 32,
};

// The host's output-text hook: called with the executable's own path, the text and the message
// flags of a status message; installed by Vantor_InstallOutputTextFn.
using HostOutputTextFn = int (*)(const char16_t* context, const char16_t* text, int flags);
// Called by ExitApl with the exit code just before the process ends; given to Vantor_Initialize.
using HostExitFn = void (*)(int code);

struct StartupState {
  uint32_t startupFlags = 0;
  uint32_t diagnosticBits = 0;
  std::string workspaceName = "./CONTINUE";
  bool sessionFlag = false;
  bool runLatentExpression = true;

  // Option flags (see ApplyOptions).
  bool qFlag = false;
  bool eFlag = false;
  bool bFlag = true;
  bool navigationFlag = false;
  bool alternateReader = false;  // the terminal reader asks with code 2049 instead of 2048
  std::string scriptFile;        // -script: read as session input

  // Modes recognised anywhere in the command line.
  bool previewMode = false;
  bool editOnlyMode = false;
  bool embeddingMode = false;

  // Settings read at start-up.
  std::string installDirectory;
  uint32_t workspaceBytes = 0;     // MAXWS as the heap was obtained
  uintptr_t workspaceBaseAddress = 0;
  int64_t threadsFlags = 0;        // Threads\Flags
  int64_t maxThreads = 1;          // APL_MAX_THREADS
  int64_t minParallel = 32768;     // APL_MIN_PARALLEL
  int64_t fcreateChecksum = 1;     // APL_FCREATE_PROPS_C: new component files are checksummed
  int64_t fcreateJournaling = 1;   // APL_FCREATE_PROPS_J: their journaling level
  int64_t flockYield = 0;          // APL_FLOCK_YIELD
  int64_t flockPause = 0;          // APL_FLOCK_PAUSE
  int64_t compat5977 = 1;          // VANTOR_5977
  int64_t compat12021 = 0;         // VANTOR_12021
  int64_t userNumber = 0;          // APLNID
  int yearWindowFirst = 0;         // YY_WINDOW; both 0 when no window is set
  int yearWindowLast = 0;

  uint32_t startupErrors = 0;      // the StartupErrorSet
  std::string startupErrorText;    // the message of kStartupErrorRuntimeText

  int sessionOutputFd = 1;         // standard output, or standard error when both are one device
  bool workspaceBound = false;     // a bound workspace (resource 2) is the active workspace
  HostOutputTextFn outputTextFn = nullptr;
  HostExitFn exitFn = nullptr;
};

StartupState& Startup();

// True when message boxes may ask a user: standard input is a terminal and flag bit 0 is clear.
bool IsInteractive();

// Registers a clean-up that ExitApl runs (latest first) before the process ends.
void RegisterCleanup(void (*cleanup)());

// Ends the process through the registered clean-up with the given exit code. A code of 256 or more
// ends the process with 127.
[[noreturn]] void ExitApl(int code);

// --- Start-up failures ---

// Thrown by a start-up step that cannot go on; the start-up sequence shows `message` (unless it is
// empty because the step has already told the user) and ends the process with `exitCode`, or, when
// a host called Vantor_Initialize, returns 0 to it.
struct StartupFailure {
  int exitCode;
  std::string message;
};
[[noreturn]] void FailStartup(int exitCode, std::string message);

// "Vantor APL could not initialise", followed by " because <reason>" when there is a reason, and ".".
std::string CouldNotInitialiseMessage(std::string_view reason);

// Bits of the StartupErrorSet.
enum StartupErrorBits : uint32_t {
  kStartupErrorFcreatePropsC = 1,
  kStartupErrorFcreatePropsJ = 2,
  kStartupErrorJournalingNeedsChecksum = 4,
  kStartupErrorFastFchk = 8,
  kStartupErrorFlock = 16,
  kStartupErrorKite = 32,
  kStartupErrorRuntimeText = 64,
};

// The messages of the set's bits in increasing bit order, joined by ", " and, before the last,
// " and ". `runtimeText` is the message of kStartupErrorRuntimeText.
std::string StartupErrorReason(uint32_t errorSet, std::string_view runtimeText);
// The exit code for a non-empty set: 6 with the run-time text, else 5 for the Kite library, else 1.
int StartupErrorExitCode(uint32_t errorSet);

// --- Command line ---

// The command-line text of a process started with `argv`: the arguments after the program name
// joined by single blanks. An argument holding a blank or tab is quoted: a parameter word
// (name=value) has its value quoted, any other word is quoted whole.
std::string JoinArguments(int argc, const char* const* argv);

// The ArgumentList holds "apl", the built-in second word and at most this many entries in all.
inline constexpr size_t kMaxArgumentEntries = 64;

struct Redirection {
  enum Kind { Read, Truncate, Append, Duplicate, Close };
  int stream = 0;        // the descriptor redirected
  Kind kind = Read;
  std::string target;    // the file for Read, Truncate and Append
  int duplicateOf = -1;  // the descriptor copied for Duplicate
};

// The command line cut into the ArgumentList and the redirections. Parameter words (name=value)
// stay only in the command-line copy that ConfigLookup searches. `error` is empty unless the text is
// malformed (an unterminated quote, a misplaced quote, too many words); such a command line ends
// start-up with exit code 1.
struct CommandLineSplit {
  std::vector<std::string> arguments;  // the ArgumentList: "apl", "+s" or "-C", then the words
  std::vector<Redirection> redirections;
  std::string error;
};
CommandLineSplit SplitCommandLine(std::string_view text, uint32_t startupFlags);

// What examining the options asks the caller to do.
struct OptionEffects {
  int sleepSeconds = 0;  // -sleep: wait before going on
  std::string error;     // a malformed option (exit code 1)
};
// Examines the ArgumentList from entry 1 on: option words set the flags of `state`; any other word
// becomes the workspace name.
OptionEffects ApplyOptions(const std::vector<std::string>& arguments, StartupState& state);

// Applies one redirection to the process's descriptors; false when the file cannot be opened or the
// descriptor cannot be copied.
bool ApplyRedirection(const Redirection& redirection);

// --- Settings ---

struct YearWindow {
  int first;
  int last;
};
// Reads a YY_WINDOW value ("first" or "first,last"; numbers below 1000 count from `currentYear`);
// nullopt when the value is invalid.
std::optional<YearWindow> ParseYearWindow(std::string_view text, int currentYear);

// A workspace size as the memory question shows it: whole megabytes as "16Mb", otherwise "1536Kb".
std::string FormatWorkspaceSize(uint64_t bytes);

// --- Entry ---

// The process entry: reads the bound resources, builds the command line from `argv` (unless a
// bound command line replaces it), starts the interpreter and runs it. Does not return.
[[noreturn]] void RunProcess(int argc, const char* const* argv);

// The start-up sequence for a host process (Vantor_Initialize): true when the interpreter is ready;
// a start-up failure is shown and gives false instead of ending the process. Runs once: later calls
// return true at once.
bool InitialiseForHost(std::string_view commandLine, uint32_t startupFlags, HostExitFn exitFn);

// Runs every unit's start-up routine (tables, kinds, dispatch entries) on the current space, in
// dependency order. Start-up calls it once; tests and tools that make a fresh space call it again.
void InitialiseModules();

// Enters the evaluator's outer loop, which runs the latent expression. Does not return.
[[noreturn]] void EnterOuterLoop();

}  // namespace vantor
