// Configuration: where a parameter's value comes from (the command-line copy, then the environment,
// then the registry stand-in, then the built-in defaults) and the readers that turn values into
// numbers. Every part of the interpreter reads its settings through ConfigLookup.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantor {

// Capacity of the shared value buffer, in characters.
inline constexpr size_t kConfigBufferChars = 32768;

// ASCII letters compared without regard to case (configuration names, option words).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// A blank or a tab, the separators of command-line words.
bool IsBlank(char c);

// Sets the command-line copy that ConfigLookup searches (the text after the program name).
void SetConfigCommandLine(std::string_view commandLine);

// Looks a parameter up. Returns a zero-terminated UTF-8 value in one shared buffer (overwritten by
// the next lookup; copy what you keep), or nullptr when no source yields a value.
const char* ConfigLookup(std::string_view name);

// Lenient reader for limits: no or empty value gives `fallback`; otherwise the leading decimal
// integer, raised to 1 when it is 0 or less and cut to `maximum`.
int64_t ReadLenient(std::string_view name, int64_t fallback, int64_t maximum);

// Strict reader: no value succeeds and leaves `destination` alone. Otherwise the whole value must be
// a decimal integer 0..maximum; `destination` receives the parsed number in any case and the result
// says whether the value was valid.
bool ReadStrict(std::string_view name, int64_t& destination, int64_t maximum);

// Size reader (MAXWS, APL_WS_BASEADDR): digits with an optional K/M/G/T unit (optionally followed by
// B or b; no unit means kilobytes), blanks skipped, '#' starts a comment. A bad letter or a value
// that overflows 32 bits ends start-up with "of a bad startup value for <name>". Values below
// `minimum` are raised to it.
uint32_t ReadSize(std::string_view name, uint32_t minimum);

}  // namespace vantor
