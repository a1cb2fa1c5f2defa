// Random numbers: roll (monadic ?), deal (dyadic ?) and the random link ⎕RL, from one of three
// generators. Lehmer's generator (the default) keeps its state in ⎕RL itself, so a workspace saved
// and loaded goes on with the same sequence; the 64-bit Mersenne Twister keeps its state in the
// process and is seeded from ⎕RL; the third takes every value from the operating system's source.
//
//   ?n        for each item n (a non-negative integer): an integer from ⎕IO to n-1+⎕IO, or for 0 a
//             float strictly between 0 and 1
//   a?b       a distinct integers from ⎕IO to b-1+⎕IO, in random order
//   ⎕RL←s     s from 1 to 2147483646 seeds the generator; 0 or an empty array a fresh random seed
//   16807⌶g   selects generator g (0 Lehmer, 1 Mersenne Twister, 2 the system's), seeded from ⎕RL;
//             the result is the previous one
#pragma once

#include "primitives/dispatch.h"

namespace vantor {

// The 16807⌶ service.
CallResult SelectRandomGenerator(const Ref& left, const Ref& right);

// Installs ? in the evaluator's tables and the check of ⎕RL.
void InitialiseRandom();

}  // namespace vantor
