// Process start-up and end: the start-up state that other units consult (flags, diagnostic bits,
// interactivity, the workspace name), the start-up sequence itself and the one exit routine through
// which every normal end of the process goes.
#pragma once
#include <cstdint>
#include <string>

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
  kDiagCheckAfterCompaction = 32,
};

struct StartupState {
  uint32_t startupFlags = 0;
  uint32_t diagnosticBits = 0;
  std::string workspaceName = "./CONTINUE";
  bool sessionFlag = false;
  bool runLatentExpression = true;
};

StartupState& Startup();

// True when message boxes may ask a user: standard input is a terminal and flag bit 0 is clear.
bool IsInteractive();

// Ends the process through the registered clean-up with the given exit code.
[[noreturn]] void ExitApl(int code);

}  // namespace vantor
