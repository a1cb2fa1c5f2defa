// The interactive console: when standard input and the session output are both terminals, input lines
// are read through the libedit line editor, with the cursor keys, a history kept in ~/.vantor_history
// and APL glyphs typed as the backtick prefix key followed by an ordinary key. aplio decides when a
// line is read here and what its prompt is; piped input never comes here.
#pragma once
#include <string>
#include <string_view>

namespace vantor {

// True when standard input and `outputFd` are terminals and the editor could be set up on them, so
// that lines are read with it.
bool ConsoleIsInteractive(int outputFd);

// Reads one line with the editor on the terminal `outputFd`. The prompt is drawn from the start of the
// cursor's line, so text already written on that line can be given as the prompt and the line goes
// on after it. A break (Ctrl-C) abandons the typed line and prompts afresh without disturbing
// interrupt requests made before. Afterwards the cursor is at the start of a fresh line. False at
// the end of input (Ctrl-D on an empty line). A line that is not blank goes into the history when
// `remember` is set (not for the answers an application asks for with ⍞).
bool ReadConsoleLine(int outputFd, std::u32string_view prompt, bool remember, std::u32string& line);

}  // namespace vantor
