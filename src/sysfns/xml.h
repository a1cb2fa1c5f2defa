// ⎕XML: XML text to a matrix of rows and back. Import reads a character vector in one pass, with an
// explicit stack of the open elements (nesting costs heap memory, never C++ stack), into rows of five
// columns: level (0 for the outermost element), tag (for a comment, processing instruction or other
// markup its whole text between < and >), content (an element's text when it holds nothing but text,
// or the text of a text row), attributes (an n-by-2 matrix of names and values) and type, the sum of
// 1 element, 2 contains elements, 4 character data, 8 other markup, 16 comment, 32 processing
// instruction. Export writes such a matrix (3, 4 or 5 columns) as indented XML text.
//
// Options, as a left argument of one (name value) pair or a vector of pairs:
//   whitespace     strip (default): text is trimmed and inner runs of white space become one blank;
//                  trim: text is trimmed only; preserve: text is kept. xml:space="preserve" on an
//                  element keeps its text whatever the option.
//   markup         strip (default): comments, processing instructions and <!...> are checked and
//                  dropped; preserve: each is a row.
//   unknown-entity replace (default): an entity reference other than quot, amp, apos, lt, gt becomes
//                  ?; preserve: it is kept as written with ESC in place of &, and export writes the
//                  ESC back as &.
// Every error is DOMAIN ERROR with its message in ⎕DMX and where it was found: the character, line and
// column of the text for import, the row for export.
#pragma once
#include <span>

#include "primitives/dispatch.h"

namespace vantor {

// Registers ⎕XML.
void InitialiseXml();

// ⎕XML⍠options for the variant operator: `variantOptions` are the right operands of its applications,
// innermost first (a later one overrides an earlier one), each one pair or a vector of pairs spelt
// Whitespace, Markup, UnknownEntity with the values Strip, Trim, Preserve, Replace; options in `left`
// (if any) are applied after them. The operands are read before anything is allocated.
CallResult QuadXmlWithVariants(std::span<const Ref> variantOptions, const Ref& left, const Ref& right);

}  // namespace vantor
