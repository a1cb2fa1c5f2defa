// Host input and output in console mode: session output written as UTF-8 to the session stream, input
// lines read from standard input (through the console's line editor on a terminal), the status
// channel with its filter and host hook, and the rule that decides whether the runtime edition shows
// statement values.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf8.h"  // FromUtf8 and ToUtf8, for the units that read and write UTF-8

namespace vantor {

// Writes text to the session (UTF-8) and leaves the line open (⍞ output and prompts).
void WriteSessionText(std::u32string_view text);
// Writes one line to the session, followed by a line end. A line left open by WriteSessionText is
// ended first.
void WriteSessionLine(std::u32string_view line);

// Ends a line left open by WriteSessionText (registered as a clean-up at exit).
void EndOpenLine();

// What an input line is read for; on a terminal it chooses the prompt. Piped input is never prompted.
enum class InputKind : uint8_t {
  Session,    // six blanks, or the text that ⍞← left open on the line
  QuoteQuad,  // ⍞: the line goes on after the text that ⍞← left open, else from the margin; the
              // answer is not kept in the console's history
  Evaluated,  // ⎕: "⎕:" on a line of its own, then six blanks
};

// Reads the next input line (without its line end) from standard input; false at the end of input.
// When standard input and the session output are terminals, the line is read with the console's
// line editor (iosys); when only standard input is one, the prompt is written and the line read
// plainly.
bool ReadInputLine(std::u32string& line, InputKind kind = InputKind::Session);

// True when statement values and ⎕← are shown: start-up flag bit 16 (build/apl is bound with it).
bool ResultsDisplayed();

// Status output: shown when flags AND StatusFlags (default 7) is not zero; flag 32 in console mode
// also writes it to standard error.
void WriteStatus(std::u32string_view text, uint32_t flags);

}  // namespace vantor
