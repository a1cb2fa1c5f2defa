// Array display: the lines the session shows for a value (folded at ⎕PW), the same lines sent to a
// sink one character at a time, and monadic ⍕ (the display as a character vector or matrix). The
// driver picks the fast paths for Boolean and 1-byte integer arrays, otherwise measures the array
// (disp2, with numbers from disp1) and emits it line by line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "primitives/dispatch.h"
#include "memory/pockutil.h"

namespace vantor {

struct DisplaySettings {
  int printPrecision = 10;  // ⎕PP: significant digits of non-integral numbers, 1 to 34
  int printWidth = 76;      // ⎕PW: lines longer than this are folded
};

// The settings in force: the single place that reads ⎕PP and ⎕PW.
DisplaySettings CurrentDisplaySettings();

// The display before folding: one entry per line (the blank lines between planes are empty), every
// other line exactly `width` characters.
struct DisplayText {
  std::vector<std::u32string> lines;
  uint64_t width = 0;
  uint32_t rank = 0;        // rank of the array (1 for an item that is not an array)
  bool cutExactly = false;  // character arrays and arrays with nested items fold exactly at the width
};
DisplayText DisplayRows(Ref array, const DisplaySettings& settings);

// Folds lines wider than `printWidth`: later chunks are indented 6 blanks; numeric displays break at
// a column that is blank in every line, found within 43 columns left of the limit; chunks of a
// display of rank r are separated by r-1 blank lines.
std::vector<std::u32string> FoldLines(const DisplayText& text, int printWidth);

// The lines the session shows for an array, folded at the print width, without line ends.
std::vector<std::u32string> DisplayLines(Ref array, const DisplaySettings& settings);

// A receiver of display text: one character at a time, and the end of each line.
struct DisplaySink {
  void* context = nullptr;
  void (*put)(void* context, char32_t c) = nullptr;
  void (*endLine)(void* context) = nullptr;
};
// Sends the folded display of an array to a sink. A display that needs no folding is produced and
// sent one line at a time.
void DisplayArray(Ref array, const DisplaySettings& settings, const DisplaySink& sink);

// The unfolded display as a character matrix (one row per line): monadic ⎕FMT and other callers that
// need the text as an array. The result is counted.
Ref DisplayMatrix(Ref array, const DisplaySettings& settings);

// Monadic ⍕: a simple character array of rank 2 or less without control characters is returned as
// it is; any other array gives a character vector when its rank is at most 1 and its display is one
// line, and otherwise the character matrix of its display. Not folded at ⎕PW.
CallResult FormatMonadic(const Ref& left, const Ref& right);

}  // namespace vantor
