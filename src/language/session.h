// The session: the outer loop that every error, branch and return comes back to, reading lines from
// the host, scanning and executing them; system commands; the latent expression; the state
// indicator cut back to immediate execution.
#pragma once
#include <string>
#include <string_view>

namespace vantor {

// ---- System commands -------------------------------------------------------------------------------

// A session line that starts with ')' is a system command: the outer loop hands the text after the
// parenthesis to the handler that the system-command unit installs (without one, every command is
// "Incorrect command").
using SystemCommandHandler = void (*)(std::u32string_view command);
void SetSystemCommandHandler(SystemCommandHandler handler);

// Cuts the state indicator back to immediate execution, undoing every localisation; the session
// continues in the namespace from which the outermost function was called.
void ClearStateIndicator();

// Scans and executes one line in immediate execution; an untrapped error is displayed and the line
// abandoned.
void ExecuteLine(std::u32string_view line);
// A latent expression to run as the next line of immediate execution (a load sets it).
void SetPendingLatentExpression(std::u32string text);

// The outer loop: the start action, then lines read from the host until ⎕OFF or the end of input.
// `betweenLines` runs after every line (a workspace that ⎕LOAD read is put in place there). Before
// each line is read (with no ⎕LX pending) `beforeInput` is told whether the state indicator is
// empty, so that a runtime application can end there.
struct SessionHooks {
  void (*start)() = nullptr;
  void (*betweenLines)() = nullptr;
  void (*beforeInput)(bool stateIndicatorEmpty) = nullptr;
};
[[noreturn]] void RunSession(const SessionHooks& hooks);

}  // namespace vantor
