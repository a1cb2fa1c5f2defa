// ⎕FMT and dyadic ⍕ as functions of the evaluator: the argument checks that need the names unit
// (character text through ⎕AVU) and the registration, over the formatting of format/fmt and the
// display matrix of format/disp.
#pragma once

namespace vantor {

// Registers ⎕FMT (monadic: the display of the argument as a character matrix, one row for a scalar or
// vector; dyadic: the left argument, a character vector or scalar, is the format text) and the
// dyadic valence of ⍕ (width and decimals). DOMAIN ERROR for format text that is not character
// text, RANK ERROR for one of rank 2 or more.
void InitialiseFormatting();

}  // namespace vantor
