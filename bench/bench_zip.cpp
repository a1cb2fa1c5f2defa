// Compression benchmark, measured in the same run: an LZ4 round trip of 100 MB through 219⌶'s code
// (compressing a vector of 1-byte integers into the header-and-data pair, then decompressing the
// pair back into a vector) against the LZ4 library's own LZ4_compress_default and
// LZ4_decompress_safe on the same bytes into plain buffers (goal: ratio <= 1.1). The bytes are text
// with some repetition, so that both directions do real work. The machine is shared, so both sides
// run several times alternately; each run gives a ratio of its own.
#include <lz4.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "files/zip.h"
#include "memory/memory1.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr uint32_t kBytes = 100u << 20;

// Words drawn from a small vocabulary by a fixed generator: compressible, but not trivially.
void FillText(uint8_t* out, uint32_t n) {
  static const char* const kWords[] = {"apl ", "array ", "rank ", "shape ", "vector ", "matrix ", "reduce ",
                                       "scan ", "each ", "outer ", "inner ", "product ", "dyadic ", "monadic "};
  uint32_t state = 12345;
  for (uint32_t i = 0; i < n;) {
    state = state * 1103515245 + 12345;
    const char* word = kWords[(state >> 16) % std::size(kWords)];
    for (const char* c = word; *c && i < n; ++c) out[i++] = static_cast<uint8_t>(*c);
  }
}

}  // namespace

int main() {
  bench::StartInterpreter(1024u << 20);
  Temporaries hold;
  hold[0] = AllocVector(kInt8, kBytes);
  FillText(DataOf<uint8_t>(hold[0]), kBytes);
  std::vector<uint8_t> plain(DataOf<uint8_t>(hold[0]), DataOf<uint8_t>(hold[0]) + kBytes);
  std::vector<char> packed(LZ4_compressBound(kBytes)), unpacked(kBytes);

  std::vector<double> ours, theirs;
  bool same = true;
  for (int run = 0; run < kRuns; ++run) {
    ours.push_back(bench::Milliseconds([&] {
      hold[1] = Compress(hold[0], kLibraryLz4, CompressedForm::kPair, -1);
      hold[2] = Decompress(hold[1], 0, CompressedForm::kPair);
    }));
    same = same && ElementCount(hold[2]) == kBytes && std::memcmp(DataOf<uint8_t>(hold[2]), plain.data(), kBytes) == 0;
    Release(hold[1]);
    Release(hold[2]);
    theirs.push_back(bench::Milliseconds([&] {
      int n = LZ4_compress_default(reinterpret_cast<const char*>(plain.data()), packed.data(), kBytes,
                                   static_cast<int>(packed.size()));
      LZ4_decompress_safe(packed.data(), unpacked.data(), n, kBytes);
    }));
  }
  if (!same) std::printf("the round trip did not give the bytes back\n");
  bench::PrintRuns("LZ4 round trip of 100 MB (219⌶)", ours, "the LZ4 library", theirs, 1.1);
  return same ? 0 : 1;
}
