// The start-up state that every part of the interpreter may consult (flags, diagnostic bits,
// interactivity, the workspace name, the settings read at start-up), the failure that ends start-up,
// and the one exit routine through which every normal end of the process goes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace vantor
