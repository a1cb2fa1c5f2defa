// The start-up state and the exit routine: clean-ups registered by the units run, latest first,
// before the process ends.
#include "base/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vantor {

namespace {
std::vector<void (*)()> g_cleanups;
bool g_exiting = false;
}  // namespace

StartupState& Startup() {
  static StartupState state;
  return state;
}

bool IsInteractive() {
  return isatty(STDIN_FILENO) && !(Startup().startupFlags & kFlagNonInteractive);
}

void RegisterCleanup(void (*cleanup)()) { g_cleanups.push_back(cleanup); }

void ExitApl(int code) {
  const int exitCode = code >= 256 ? 127 : code;
  if (!g_exiting) {  // a clean-up that ends the process itself skips the rest
    g_exiting = true;
    while (!g_cleanups.empty()) {
      void (*cleanup)() = g_cleanups.back();
      g_cleanups.pop_back();
      cleanup();
    }
    if (Startup().exitFn != nullptr) Startup().exitFn(exitCode);
  }
  std::fflush(nullptr);
  std::exit(exitCode);
}

void FailStartup(int exitCode, std::string message) { throw StartupFailure{exitCode, std::move(message)}; }

std::string CouldNotInitialiseMessage(std::string_view reason) {
  std::string message = "Vantor APL could not initialise";
  if (!reason.empty()) message += " because " + std::string(reason);
  return message + ".";
}

}  // namespace vantor
