// Token streams back to text: regenerates the source of a scanned line from its tokens and symbol
// list (for the function display and the editor), and the tokenising service, which returns the
// tokens of a text as a vector of character vectors.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "memory/pockutil.h"

namespace vantor {

// The text of one line: `tokens` are its token bytes from the leading 103 on (without the 16-byte
// header), `symbols` its symbol list. Blanks are put only where the items would otherwise run
// together, around ⋄ and after keywords; scanning the result gives the same tokens.
std::u32string TokensText(std::span<const uint8_t> tokens, Ref symbols, uint32_t leadingBlanks = 0);

// The same for a whole token stream as the scanner makes it (header included).
std::u32string LineText(Ref stream, Ref symbols);

// The source form of a constant: a quoted string ('' for a quote), or its numbers separated by
// blanks, negative numbers with ¯, exponents with E, complex numbers as real J imaginary.
std::u32string ConstantText(Ref constant);

// The tokens of a text (lines split at CR, LF and NEL, a dfn carried over line ends) as a nested
// vector of character vectors: one item per token, one per number of a numeric strand, strings with
// their quotes; blanks and the invisible tokens give no item. The evaluator's token slot and symbol
// list are left as they were. Returns a counted reference.
Ref TokeniseText(std::u32string_view text);

}  // namespace vantor
