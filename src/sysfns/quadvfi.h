// ⎕VFI: reads the numbers out of a text, field by field, and says which fields were valid numbers.
// Each field is read by the scanner's reader of numbers (ReadNumber), so ⎕VFI accepts exactly the
// numbers that can be written in APL code: ¯ for negative, E for an exponent, J for complex.
#pragma once

namespace vantor {

// Registers ⎕VFI. ⎕VFI text splits the text at runs of blanks; separators ⎕VFI text splits it at
// each of the separator characters, every separator ending a field (so two adjacent separators
// enclose an empty, invalid field; a final field with no separator after it counts when it is not
// empty). A field is valid when, after leading blanks, it holds one number followed by nothing but
// blanks. The result is (validity) (values): a Boolean vector and a vector of the valid fields'
// values (0 for an invalid field), binary64 or, under ⎕FR 1287, decimal128, complex when a valid
// field is. DOMAIN ERROR for a non-character argument, RANK ERROR for one of rank 2 or more.
void InitialiseVerifyFix();

}  // namespace vantor
