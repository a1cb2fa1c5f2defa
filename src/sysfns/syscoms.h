// System commands: a session line that begins with ')' names a command of the command table (exact
// upper-cased name, no abbreviation) and passes it the rest of the line. Commands never raise APL
// errors: every refusal is a message in the session output and the workspace is left as it was.
// This unit also reads the workspace and file names that the workspace commands take.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

// Installs the command handler in the evaluator. Called once at start-up.
void InitialiseSystemCommands();

// Runs one command: `command` is the text after the right parenthesis. An unknown word, or one
// that a list of permitted commands leaves out, writes "Incorrect command".
void RunSystemCommand(std::u32string_view command);

// While a list is in force only the commands on it are recognised. Names are upper case without the
// parenthesis ("FNS"); no list (std::nullopt) recognises every command.
void SetPermittedCommands(std::optional<std::vector<std::u32string>> names);

// A workspace or file name read from the start of a command's argument: a run of characters up to
// the next blank, or a text in double quotes in which a double quote is written twice (a quoted name
// may hold blanks). `refusal` is the message to write instead of going on: "unacceptable char" for
// an unquoted name followed by more text when `wholeArgument` is set, a quoted name that is not
// closed (or, with `wholeArgument`, not closed at the end), a lone quote, or a ⍝ anywhere; "name
// too long" when the name with its default extension (WithWorkspaceExtension) has more than
// kMaxWorkspaceNameLength characters. Otherwise `name` is the name as written (quotes removed, no
// extension added) and `rest` what follows it, blanks stripped.
struct CommandFileName {
  std::u32string name;
  std::u32string_view rest;
  const char32_t* refusal = nullptr;
};
CommandFileName ReadCommandFileName(std::u32string_view text, bool wholeArgument);

}  // namespace vantor
