// ⎕R and ⎕S: regular-expression replace and search over text, with PCRE2 (UTF mode, JIT) doing the
// matching. This unit owns what surrounds the library: the operands (patterns, transformation strings
// and codes, a transformation function), the variant options given with ⍠ (or ⎕OPT), the split of
// the input into blocks, the search loop over several patterns, and the results.
#pragma once

namespace vantor {

// Installs the operators ⎕R and ⎕S and the variant operator (⍠, ⎕OPT) that attaches their options.
void InitialiseRegex();

}  // namespace vantor
