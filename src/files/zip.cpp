// Compression through the LZ4 and zlib libraries, framed with the 8-byte header, and the two I-beams
// that reach it. Output is compressed straight into the result array, which is then cut to the
// length the compressor reports.
#include "files/zip.h"

#include <lz4.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "language/dmx.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/partner.h"

namespace vantor {

static constexpr char kUnit[] = "zip";

namespace {

constexpr uint8_t kHeaderBytes = 8;
constexpr uint8_t kMagic = 201;
constexpr int kDefaultLevel = -1;

#define COMPRESSION_ERROR(en, text) SIGNAL_MESSAGE_IN((en), kCategoryCompression, text)

[[noreturn]] void InvalidData() { COMPRESSION_ERROR(kDomainError, U"Invalid compressed data"); }
[[noreturn]] void CorruptData() {
  COMPRESSION_ERROR(kDomainError, U"Invalid compressed data and/or mismatched left argument");
}
[[noreturn]] void OutOfMemory() { COMPRESSION_ERROR(kWsFull, U"Compression library ran out of memory"); }
[[noreturn]] void UnexpectedError() {
  COMPRESSION_ERROR(kInternalError, U"Compression library reported an unexpected error");
}

// ---- Bytes in arrays -------------------------------------------------------------------------------

bool IsSimpleVector(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) == 1; }

// The bytes of an argument: a simple vector of 1-byte integers (a wider one is narrowed first, which
// changes no value) is read where it lies, through `array`, a registered slot, once nothing more is allocated;
// a Boolean vector is widened to one byte per bit into `widened`.
struct ByteArgument {
  const Ref& array;
  bool inPlace = false;
  std::vector<uint8_t> widened;
  uint64_t Size() const { return inPlace ? ElementCount(array) : widened.size(); }
  std::span<const uint8_t> View() const {
    return inPlace ? std::span<const uint8_t>(DataOf<uint8_t>(array), ElementCount(array)) : widened;
  }
};

// Whether `argument.array` holds bytes (a Boolean vector only when `widenBooleans`).
bool ReadBytes(ByteArgument& argument, bool widenBooleans) {
  Ref r = argument.array;
  if (!IsSimpleVector(r) || !(kElementInfo[ElementOf(TypeWord(r))].classes & kClassNumeric)) return false;
  if (ElementOf(TypeWord(r)) != kInt8) Narrow(r);
  const uint64_t n = ElementCount(r);
  if (ElementOf(TypeWord(r)) == kInt8) return argument.inPlace = true;
  if (ElementOf(TypeWord(r)) != kBool || !widenBooleans) return false;
  argument.widened.resize(n);
  for (uint64_t i = 0; i < n; ++i) argument.widened[i] = GetBit(DataOf<uint8_t>(r), i);
  return true;
}

// A counted vector of 1-byte integers holding `bytes`.
Ref ByteVector(std::span<const uint8_t> bytes) {
  Ref r = AllocVector(kInt8, static_cast<uint32_t>(bytes.size()));
  std::memcpy(DataOf<uint8_t>(r), bytes.data(), bytes.size());
  return r;
}

// Cuts a byte vector made for a worst case down to the bytes used.
void CutByteVector(Ref r, uint64_t used) {
  ShapeOf(r)[0] = static_cast<uint32_t>(used);
  ShrinkInPlace(r, ArrayWords(kInt8, 1, used));
}

// ---- The compressors ----------------------------------------------------------------------------------

uint64_t WorstCase(int library, uint64_t n) {
  if (library == kLibraryLz4) return n + n / 255 + 16;
  uint64_t deflate = n + (n >> 12) + (n >> 14) + (n >> 25) + 13;
  return library == kLibraryGzip ? deflate + 24 : deflate;
}

int WindowBits(int library) { return library == kLibraryGzip ? 31 : 15; }

[[noreturn]] void ZlibFailure(int status) {
  if (status == Z_MEM_ERROR) OutOfMemory();
  UnexpectedError();
}

// Compresses `in` into `out` (room for the worst case); the compressed length.
uint64_t CompressInto(int library, int level, std::span<const uint8_t> in, uint8_t* out, uint64_t room) {
  if (library == kLibraryLz4) {
    int n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out),
                                 static_cast<int>(in.size()), static_cast<int>(std::min<uint64_t>(room, INT_MAX)));
    if (n <= 0) UnexpectedError();
    return static_cast<uint64_t>(n);
  }
  z_stream z{};
  int status = deflateInit2(&z, level == kDefaultLevel ? Z_DEFAULT_COMPRESSION : level, Z_DEFLATED,
                            WindowBits(library), 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) ZlibFailure(status);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out;
  z.avail_out = static_cast<uInt>(std::min<uint64_t>(room, UINT_MAX));
  status = deflate(&z, Z_FINISH);
  uint64_t produced = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) ZlibFailure(status);
  return produced;
}

// Decompresses `in` into `out`, which must come out exactly `expected` bytes long.
void DecompressExactly(int library, std::span<const uint8_t> in, uint8_t* out, uint64_t expected) {
  if (library == kLibraryLz4) {
    if (in.size() > INT_MAX) CorruptData();
    int n = LZ4_decompress_safe(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out),
                                static_cast<int>(in.size()), static_cast<int>(expected));
    if (n < 0 || static_cast<uint64_t>(n) != expected) CorruptData();
    return;
  }
  z_stream z{};
  int status = inflateInit2(&z, WindowBits(library));
  if (status != Z_OK) ZlibFailure(status);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out;
  z.avail_out = static_cast<uInt>(expected);
  status = inflate(&z, Z_FINISH);
  uint64_t produced = z.total_out;
  inflateEnd(&z);
  if (status == Z_MEM_ERROR) OutOfMemory();
  if (status != Z_STREAM_END || produced != expected) CorruptData();
}

// Decompresses a stream whose result length is not known, growing the buffer until it holds it.
std::vector<uint8_t> DecompressGrowing(int library, std::span<const uint8_t> in) {
  std::vector<uint8_t> out(std::max<size_t>(4 * in.size(), 256));
  if (library == kLibraryLz4) {
    // LZ4 expands at most 255 times; a stream that fails with that much room is corrupt.
    const uint64_t most = 255ull * in.size() + 64;
    for (;;) {
      int n = LZ4_decompress_safe(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                                  static_cast<int>(std::min<size_t>(in.size(), INT_MAX)),
                                  static_cast<int>(std::min<size_t>(out.size(), INT_MAX)));
      if (n >= 0) {
        out.resize(static_cast<size_t>(n));
        return out;
      }
      if (out.size() >= most || out.size() >= INT_MAX) CorruptData();
      out.resize(std::min<uint64_t>({2 * out.size(), most, INT_MAX}));
    }
  }
  z_stream z{};
  int status = inflateInit2(&z, WindowBits(library));
  if (status != Z_OK) ZlibFailure(status);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  for (;;) {
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    status = inflate(&z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    if (status == Z_BUF_ERROR && z.avail_out == 0 && out.size() < INT_MAX) {
      out.resize(std::min<size_t>(2 * out.size(), INT_MAX));
      continue;
    }
    inflateEnd(&z);
    if (status == Z_MEM_ERROR) OutOfMemory();
    CorruptData();
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// ---- Framing ----------------------------------------------------------------------------------------

std::array<uint8_t, kHeaderBytes> Header(int library, bool serialised, uint64_t length) {
  return {kHeaderBytes,
          kMagic,
          static_cast<uint8_t>(library),
          static_cast<uint8_t>(serialised),
          static_cast<uint8_t>(length >> 24),
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length)};
}

// A framed item taken apart: its header, and where its compressed data lies (`data.array` holds the
// pair's data item or the single vector; the data starts `dataStart` bytes into its bytes).
struct Frame {
  std::vector<uint8_t> header;
  ByteArgument data;
  uint64_t dataStart = 0;
  std::span<const uint8_t> Data() const { return data.View().subspan(dataStart); }
};

// `holder` is a registered slot that receives the array holding the data.
void ReadFrame(Ref item, CompressedForm form, Frame& frame, Ref& holder) {
  if (form == CompressedForm::kPair) {
    if (!IsRef(item) || !IsArrayKind(KindOf(TypeWord(item)))) InvalidData();
    if (RankOf(TypeWord(item)) != 1) COMPRESSION_ERROR(kRankError, U"Invalid compressed data");
    if (KindOf(TypeWord(item)) != kKindNested || ElementCount(item) != 2) InvalidData();
    Ref headerItem = DataOf<Ref>(item)[0];
    ByteArgument header{headerItem};
    if (!ReadBytes(header, true)) InvalidData();
    frame.header.assign(header.View().begin(), header.View().end());
    holder = Retained(DataOf<Ref>(item)[1]);
    if (!ReadBytes(frame.data, true)) InvalidData();
  } else {
    holder = Retained(item);
    if (!ReadBytes(frame.data, true) || frame.data.Size() == 0 || frame.data.View()[0] > frame.data.Size()) InvalidData();
    frame.dataStart = frame.data.View()[0];
    frame.header.assign(frame.data.View().begin(), frame.data.View().begin() + static_cast<ptrdiff_t>(frame.dataStart));
  }
  const std::vector<uint8_t>& h = frame.header;
  if (h.size() < 4 || h[0] < 4 || h[1] != kMagic || h[3] > 1) InvalidData();
  if (h[2] < kLibraryLz4 || h[2] > kLibraryGzip) COMPRESSION_ERROR(kDomainError, U"Invalid compression library");
}

// The array that decompressed content stands for.
Ref ContentValue(const std::vector<uint8_t>& bytes, bool serialised) {
  if (!serialised) return ByteVector(bytes);
  if (bytes.empty() || bytes[0] != kTransferArchitecture) InvalidData();
  return ValueFromTransferBytes(bytes.data() + 1, bytes.size() - 1);
}

// ---- The left argument of the I-beams ----------------------------------------------------------

struct Choice {
  int library;
  int level = kDefaultLevel;
};

std::optional<double> NumberAt(Ref array, uint64_t i) {
  if (!(kElementInfo[ElementOf(TypeWord(array))].classes & kClassNumeric) || ElementOf(TypeWord(array)) == kComplex)
    return std::nullopt;
  Temporaries hold;
  hold[0] = AllocScalar(kFloat64);
  CopyElement(hold[0], 0, array, i);
  return *DataOf<double>(hold[0]);
}

Choice ReadChoice(Ref left) {
  if (!IsRef(left) || KindOf(TypeWord(left)) != kKindSimple)
    COMPRESSION_ERROR(kDomainError, U"Invalid compression library");
  if (RankOf(TypeWord(left)) > 1) COMPRESSION_ERROR(kRankError, U"Invalid left argument");
  const uint64_t n = ElementCount(left);
  if (n < 1 || n > 2) COMPRESSION_ERROR(kLengthError, U"Invalid left argument");
  std::optional<double> library = NumberAt(left, 0);
  if (!library || *library != std::floor(*library) || std::abs(*library) > 3)
    COMPRESSION_ERROR(kDomainError, U"Invalid compression library");
  Choice choice{static_cast<int>(*library)};
  if (n == 1) return choice;
  if (choice.library == kLibraryLz4)
    COMPRESSION_ERROR(kLengthError, U"Compression level cannot be specified for this compression library");
  if (choice.library <= 0) COMPRESSION_ERROR(kLengthError, U"Invalid left argument");
  std::optional<double> level = NumberAt(left, 1);
  if (!level || *level != std::floor(*level) || *level < 0 || *level > 9)
    COMPRESSION_ERROR(kDomainError, U"Invalid compression level");
  choice.level = static_cast<int>(*level);
  return choice;
}

CallResult CompressionService(const Ref& left, const Ref& right, CompressedForm form) {
  if (!IsRef(left)) COMPRESSION_ERROR(kDomainError, U"Invalid left argument");
  Choice choice = ReadChoice(left);
  if (choice.library == 0) return {Decompress(right, 0, form)};
  if (choice.library < 0) {
    if (form != CompressedForm::kPair) COMPRESSION_ERROR(kDomainError, U"Invalid compression library");
    return {Decompress(right, choice.library, CompressedForm::kBare)};
  }
  return {Compress(right, choice.library, form, choice.level)};
}

}  // namespace

// The bytes of an array are compressed where they lie; any other array is serialised first.
Ref Compress(Ref item, int library, CompressedForm form, int level) {
  Temporaries keep;
  keep[0] = Retained(item);
  ByteArgument content{keep[0]};
  const bool serialised = !ReadBytes(content, form == CompressedForm::kPair);
  if (serialised) {
    content.widened.assign(1, kTransferArchitecture);
    TransferWriter writer(AppendTransferBytes, &content.widened);
    writer.Write(keep[0]);
    writer.Flush();
  }
  const uint64_t n = content.Size();
  if (n > INT32_MAX) COMPRESSION_ERROR(kLimitError, U"Data too long for selected compressor");
  const auto header = Header(library, serialised, n);
  const uint64_t room = WorstCase(library, n);
  Temporaries hold;
  if (form == CompressedForm::kPair) {
    hold[0] = ByteVector(header);
    hold[1] = AllocVector(kInt8, static_cast<uint32_t>(room));
    CutByteVector(hold[1], CompressInto(library, level, content.View(), DataOf<uint8_t>(hold[1]), room));
    hold[2] = AllocVector(kRefElement, 2);
    DataOf<Ref>(hold[2])[0] = hold.Take(0);
    DataOf<Ref>(hold[2])[1] = hold.Take(1);
    return hold.Take(2);
  }
  hold[0] = AllocVector(kInt8, static_cast<uint32_t>(kHeaderBytes + room));
  uint8_t* out = DataOf<uint8_t>(hold[0]);
  std::copy(header.begin(), header.end(), out);
  CutByteVector(hold[0], kHeaderBytes + CompressInto(library, level, content.View(), out + kHeaderBytes, room));
  return hold.Take(0);
}

// Raw content of known length is decompressed straight into the result.
Ref Decompress(Ref item, int library, CompressedForm form) {
  Temporaries keep;
  if (library < 0) {
    keep[0] = Retained(item);
    ByteArgument bytes{keep[0]};
    if (!ReadBytes(bytes, true)) InvalidData();
    return ByteVector(DecompressGrowing(-library, bytes.View()));
  }
  Frame frame{{}, ByteArgument{keep[0]}};
  ReadFrame(item, form, frame, keep[0]);
  const std::vector<uint8_t>& h = frame.header;
  const int frameLibrary = h[2];
  const bool serialised = h[3] == 1;
  if (h.size() < kHeaderBytes || h[0] < kHeaderBytes)
    return ContentValue(DecompressGrowing(frameLibrary, frame.Data()), serialised);
  const uint64_t length = uint64_t{h[4]} << 24 | uint64_t{h[5]} << 16 | uint64_t{h[6]} << 8 | h[7];
  if (!serialised) {
    keep[1] = AllocVector(kInt8, static_cast<uint32_t>(length));
    DecompressExactly(frameLibrary, frame.Data(), DataOf<uint8_t>(keep[1]), length);
    return keep.Take(1);
  }
  if (length > INT32_MAX) CorruptData();
  std::vector<uint8_t> bytes(length);
  DecompressExactly(frameLibrary, frame.Data(), bytes.data(), length);
  return ContentValue(bytes, true);
}

CallResult CompressionPairService(const Ref& left, const Ref& right) {
  return CompressionService(left, right, CompressedForm::kPair);
}

CallResult CompressionVectorService(const Ref& left, const Ref& right) {
  return CompressionService(left, right, CompressedForm::kSingle);
}

}  // namespace vantor
