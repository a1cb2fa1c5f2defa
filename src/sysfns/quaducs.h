// ⎕UCS: characters and their Unicode code points, and characters and their UTF-8 and UTF-16
// encodings, in both directions. Which way a conversion runs is decided by the right argument: a
// character array is encoded into numbers, a numeric one decoded into characters. Each conversion
// measures its result in a first pass over the argument and writes it, at its narrowest element
// type, in a second (UTF-8 decoded into 8-bit characters is cut to its length afterwards); both
// passes are loops over the argument's own element type.
#pragma once

namespace vantor {

// Registers ⎕UCS. Monadic ⎕UCS and 'UTF-32' ⎕UCS map characters to code points and back with the
// argument's shape (a number must be an integer from 0 to 1,114,111, else DOMAIN ERROR); 'UTF-16'
// and 'UTF-8' ⎕UCS take a simple scalar or vector (RANK ERROR, DOMAIN ERROR) and give a vector.
// UTF-8 uses the original six-row scheme when encoding; decoding refuses a bad sequence (a
// truncated, overlong or misplaced byte, or a code point above 1,114,111) with DOMAIN ERROR
// "Invalid UTF-8 sequence". UTF-16 decoding needs every high surrogate followed by a low one.
void InitialiseCharacterCodes();

}  // namespace vantor
