// The start-up sequence: command-line splitting, options, redirections and start-up errors, and the
// entry points through which a host process starts the interpreter.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/startup.h"

namespace vantor {

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
