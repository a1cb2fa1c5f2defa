// Grade ⍋ ⍒: the permutation that sorts the major cells of an array, monadic (numbers by value,
// characters by code point, both exactly) and dyadic (characters ranked by a collating array). Equal
// cells keep their order in both directions. Counting and radix sorts serve cells of 1, 2, 4 and 8
// bytes above fixed sizes; a quicksort with the index as the last key serves the rest.
#pragma once
#include "memory/pockutil.h"

namespace vantor {

// ⍋B or (`down`) ⍒B for other units: `array` borrowed, the result counted (⎕IO added).
Ref Grade(Ref array, bool down);

// Installs ⍋ and ⍒ (monadic and dyadic) in the dispatch tables.
void InitialiseGrade();

}  // namespace vantor
