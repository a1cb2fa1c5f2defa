// Compression: byte strings and whole arrays through LZ4 block compression (library 1), zlib-framed
// deflate (2) and gzip-framed deflate (3). A compressed item is an 8-byte header (its length, the
// magic 201, the library, whether the content is a serialised array, and the uncompressed length
// most significant byte first) followed by the compressor's output. An array that is not a simple
// vector of 1-byte integers travels in the transfer form behind the flags byte 148.
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"
#include "memory/pockutil.h"

namespace vantor {

enum CompressionLibrary : int { kLibraryLz4 = 1, kLibraryZlib = 2, kLibraryGzip = 3 };

// How compressed bytes are held: the compressor's output alone (bare), the header and that output as
// the two items of a nested vector (pair, 219⌶), or both in one byte vector (single, 2194⌶ and
// component files).
enum class CompressedForm { kBare, kPair, kSingle };

// Compresses `item` with a library at a level (-1: the library's default; only deflate has levels).
// Returns a counted array in `form` (kPair or kSingle).
Ref Compress(Ref item, int library, CompressedForm form, int level);
// Decompresses `item`: with library 0 a framed item in `form`, whose header chooses the library and
// whether the result is an array; with library -1, -2 or -3 a bare stream of that library, giving
// its bytes. DOMAIN ERROR for data that is not what it claims to be.
Ref Decompress(Ref item, int library, CompressedForm form);

// L 219⌶ R (compressed form as a header-and-data pair) and L 2194⌶ R (as one byte vector).
CallResult CompressionPairService(const Ref& left, const Ref& right);
CallResult CompressionVectorService(const Ref& left, const Ref& right);

}  // namespace vantor
