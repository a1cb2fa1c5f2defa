// Formatting by format phrases: dyadic ⎕FMT (format phrases with widths, decimals, qualifiers,
// decorations, literal texts, repetition groups and picture patterns) and dyadic ⍕ (width and
// decimals per column). Numbers take the shortest digits of disp1 and are rounded half up on those
// digits to what the field shows. The handlers that read the arguments live in sysfns/quadfmt.
#pragma once
#include <string_view>

#include "memory/pockutil.h"

namespace vantor {

// The character matrix of `array` formatted by the phrases of `format`. `array` is a simple
// scalar, vector (one column) or matrix, or a vector of such arrays set side by side; it must be held
// where compaction updates it (an argument register), since the result is allocated after the
// format text and the columns are measured. FORMAT ERROR for faulty format text, DOMAIN ERROR
// for a number under A or a character under a numeric code, RANK ERROR for an argument of the wrong
// rank, LIMIT ERROR when the phrase list or the result grows too large. The result is counted.
Ref FormatByPhrases(std::u32string_view format, const Ref& array);

// Dyadic ⍕: `left` gives one decimals count D, one width-decimals pair W D, or k pairs for k groups of
// columns (the last axis of `right`, a simple numeric array, is a multiple of k). Width 0 sizes a
// column to its widest number plus one blank; a negative D shows |D| significant digits in
// exponential form. A scalar or vector gives a character vector; a higher rank keeps its leading
// axes. Both arguments are held where compaction updates them. The result is counted.
Ref FormatWidthDecimals(const Ref& left, const Ref& right);

}  // namespace vantor
