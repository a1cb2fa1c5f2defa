// JSON text to APL arrays and back, the services behind 7159⌶ (import) and 7160⌶ (export). Both walk
// the data with explicit stacks, so that nesting of any depth costs heap memory, never C++ stack.
//
// Import forms, chosen by the first element of the left argument (form [true [false]], up to three
// numbers; the second and third are the values that true and false import as, 1 and 0 by default):
//   0  an object becomes a namespace whose names are the members' names, an array a vector (simple
//      when its items are all numbers), a string a character vector, a number a number, null ⎕NULL;
//   1  the matrix form: one row per JSON value, four columns: depth (0 for the outermost value), name
//      (the member's name inside an object, else ''), value (⍬ for an object or an array) and type;
//   2  as 0, but true, false and null import as ⊂'true', ⊂'false' and ⊂'null', which export back as
//      the literals (the second and third elements are refused with this form).
// Type codes of the matrix form: 1 object, 2 array, 3 number, 4 string, 5 literal (true, false,
// null). A member name that is not an APL name is stored in a namespace as ⍙ followed by the name
// with every character that may not stand in a name written as ⍙, its decimal code point and ⍙
// ("a b" becomes ⍙a⍙32⍙b, "1" becomes ⍙1); export turns such names back.
//
// Export: a namespace is an object (its variables and namespaces, in name order), a vector an array,
// a character vector or scalar a string, a number a number ("%.16g" for non-integers), ⎕NULL and
// ⊂'null' null, ⊂'true' and ⊂'false' the literals; a matrix is read as the matrix form.
#pragma once
#include "primitives/dispatch.h"

namespace vantor {

// 7159⌶: JSON text (a character scalar, vector or matrix whose rows end with a carriage return) to
// its APL form. A syntax error is DOMAIN ERROR with its message and " at offset N", N the number
// of characters before the offending one.
CallResult JsonImport(const Ref& left, const Ref& right);

// 7160⌶: an array to JSON text (a character vector). DOMAIN ERROR "Array unsupported by JSON" for a
// value with no JSON form, "Circular namespace reference" for a namespace inside itself, and the
// matrix-form messages with " in row R at depth D".
CallResult JsonExport(const Ref& left, const Ref& right);

}  // namespace vantor
