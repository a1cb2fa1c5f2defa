// ⎕MAP: a file's bytes as an array of one conversion code, shaped as asked.
//
//   code [shape] ⎕MAP name, or (name mode), or (name mode offset)
//
// `code` is a native-file conversion code; the shape has at most 15 axes, of which one may be ¯1,
// to be computed from the file's size (less the offset); without a shape the result is a vector of
// every whole element in the file. The mode is 'R' (read only, the default). The array is a copy
// taken when ⎕MAP runs, so changing it never changes the file; mode 'W' (changes reaching the file)
// is NONCE ERROR.
#pragma once

namespace vantor {

void InitialiseMappedFiles();

}  // namespace vantor
