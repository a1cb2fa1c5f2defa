// ⎕DR: the data representation of an array, and its bits read as another representation.
//
//   ⎕DR y         the type code of y's elements as stored: 11 Boolean, 83 163 323 integers of 8, 16
//                 and 32 bits, 645 binary64, 1287 decimal, 1289 complex, 80 160 320 characters of 8,
//                 16 and 32 bits, 82 ⎕AV characters, 326 anything nested or holding references
//   code ⎕DR y    y's bits, row by row along its last axis, read as elements of `code` (11 80 83 160
//                 163 320 323 645 1289): the last axis takes the length that holds the same bits.
//                 DOMAIN ERROR for another code, a nested y, a row whose bits do not make whole
//                 elements, or bits that are not a number or character of the new type.
#pragma once

namespace vantor {

void InitialiseDataRepresentation();

}  // namespace vantor
