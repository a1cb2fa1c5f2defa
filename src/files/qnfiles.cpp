// Native files. A table of up to 127 ties holds each tied file's descriptor, mode, name, position
// and translate tables; the tie-based functions convert between arrays and raw bytes with a
// conversion code, and ⎕NGET/⎕NPUT read and write whole text files through the codecs below. Every
// failure is an APL error with the native-file ⎕DMX message and, when the system refused, its errno.
#include "files/qnfiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstring>
#include <thread>
#include <vector>

#include "base/platform/regularfile.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/messages.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "primitives/op.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "qnfiles";

namespace {

// ---- Conversion codes ----------------------------------------------------------------------------

// The conversion code an array is written with when none is given.
int OwnCode(Ref data) {
  switch (ElementOf(TypeWord(data))) {
    case kInt64: return 323;
    default: return DrCode(data);
  }
}

// ---- The tie table -------------------------------------------------------------------------------

constexpr size_t kTieSlots = 127;
constexpr int kAccessMask = 7;
constexpr int kReadOnlyFallback = 8;

using TranslateTable = std::array<uint8_t, 256>;

struct NativeTie {
  int32_t tie = 0;  // negative; 0 marks a free slot
  FileDescriptor fd;
  int mode = 0;
  std::u32string name;
  uint64_t position = 0;
  TranslateTable incoming{};  // byte → ⎕AV position
  TranslateTable outgoing{};  // ⎕AV position → byte
};

std::array<NativeTie, kTieSlots> g_ties;
TranslateTable g_defaultIncoming;
TranslateTable g_defaultOutgoing;

TranslateTable IdentityTable() {
  TranslateTable t;
  for (size_t i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}

// The inverse of an incoming table: positions that no byte maps to go out as themselves.
TranslateTable InverseTable(const TranslateTable& incoming) {
  TranslateTable out = IdentityTable();
  for (size_t b = 256; b-- > 0;) out[incoming[b]] = static_cast<uint8_t>(b);
  return out;
}

void UntieEverything() {
  for (NativeTie& t : g_ties) t = NativeTie();
  g_defaultIncoming = IdentityTable();
  g_defaultOutgoing = IdentityTable();
}

NativeTie* FindTie(int64_t tie) {
  for (NativeTie& t : g_ties)
    if (t.tie != 0 && t.tie == tie) return &t;
  return nullptr;
}

void CheckTieNumber(int64_t tie) {
  if (tie >= 0 || tie < INT32_MIN) NATIVE_ERROR(kDomainError, U"Invalid tie number");
}

NativeTie& TieOf(int64_t tie) {
  CheckTieNumber(tie);
  NativeTie* t = FindTie(tie);
  if (!t) NATIVE_ERROR(kFileTieError, U"Tie number not in use");
  return *t;
}

// ---- Arguments -----------------------------------------------------------------------------------

bool IsSimpleVectorOrScalar(Ref r) {
  return IsArray(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) <= 1;
}

// The integers of a simple scalar or vector with between `least` and `most` elements.
bool SmallIntegers(Ref r, size_t least, size_t most, std::vector<int64_t>& out) {
  return IsSimpleVectorOrScalar(r) && ReadIntegers(r, out) && out.size() >= least && out.size() <= most;
}


uint64_t ItemCount(Ref r) { return ElementCount(r); }
Ref ItemOf(Ref nested, uint64_t i) { return DataOf<Ref>(nested)[i]; }

// A file name as the system takes it; a name with a NUL cannot name a file.
std::string PathOf(std::u32string_view name) {
  if (name.find(U'\0') != std::u32string_view::npos) return std::string(1, '\0');
  return ToUtf8(name);
}

int64_t FileSize(const NativeTie& t) {
  struct stat info;
  if (fstat(t.fd.get(), &info) != 0) NATIVE_OS_ERROR(U"Unable to read file status", errno);
  return info.st_size;
}

Ref NumberVector(const std::vector<double>& values) {
  Ref r = AllocVector(kFloat64, static_cast<uint32_t>(values.size()));
  std::copy(values.begin(), values.end(), DataOf<double>(r));
  Narrow(r);
  return r;
}

// The numbers as an array shaped like the argument they answer (a scalar for a scalar).
Ref NumbersLike(Ref shapeOf, const std::vector<double>& values) {
  if (RankOf(TypeWord(shapeOf)) != 0 || values.size() != 1) return NumberVector(values);
  Temporaries hold;
  hold[0] = NumberVector(values);
  return ElementAsScalar(hold[0], 0);
}

// The elements of a simple numeric scalar or vector as real numbers.
bool ReadReals(Ref r, std::vector<double>& out) {
  if (!IsSimpleVectorOrScalar(r)) return false;
  const uint64_t n = ElementCount(r);
  return WithReader(r, [&](auto read) {
    using V = decltype(read(0));
    if constexpr (std::is_arithmetic_v<V> && !decltype(read)::kCharacter) {
      for (uint64_t i = 0; i < n; ++i) out.push_back(static_cast<double>(read(i)));
      return true;
    }
    return false;
  });
}

CallResult Shy(Ref value) { return {value, true}; }

// ---- Tie and create ------------------------------------------------------------------------------

struct TieRequest {
  int64_t tie;
  int mode;
};

// The right argument of ⎕NTIE and ⎕NCREATE: tie number, or tie number and mode.
TieRequest ReadTieRequest(Ref right, int defaultMode) {
  std::vector<int64_t> v;
  if (!SmallIntegers(right, 1, 2, v)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  if (v[0] != 0) CheckTieNumber(v[0]);
  if (v[0] != 0 && FindTie(v[0])) NATIVE_ERROR(kFileTieError, U"Tie number in use");
  int64_t mode = v.size() > 1 ? v[1] : defaultMode;
  int64_t access = mode & kAccessMask;
  if (mode < 0 || mode > 255 || access > 2 || (mode & 0xF) > (access | kReadOnlyFallback) || (mode >> 4) > 4)
    NATIVE_ERROR(kDomainError, U"Invalid mode");
  return {v[0], static_cast<int>(mode)};
}

NativeTie& FreeSlot() {
  for (NativeTie& t : g_ties)
    if (t.tie == 0) return t;
  NATIVE_ERROR(kFileTieQuotaUsedUp, U"Too many tied files");
}

int32_t FirstFreeTieNumber() {
  for (int32_t n = -1;; --n)
    if (!FindTie(n)) return n;
}

std::u32string ReadFileNameArgument(Ref left) {
  if (!IsRef(left)) NATIVE_ERROR(kDomainError, U"Missing left argument");
  if (!IsText(left)) NATIVE_ERROR(kDomainError, U"Invalid left argument");
  return CharacterText(left);
}

int OpenFlags(int access) {
  return (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK;
}

// A descriptor made blocking again after an open that must not wait (a FIFO without a writer).
void MakeBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// ---- Sharing modes -------------------------------------------------------------------------------
//
// A tie announces how it uses the file, and what it denies to others, with shared locks on marker
// bytes far beyond any data: one byte each for "reads", "writes", "denies reading" and "denies
// writing". An opener that would use what a holder denies, or deny what a holder uses, is refused.
// The locks belong to the tie's open file description, so they go when the tie goes, and ties in
// this process are told apart as other processes' ties are. ⎕NLOCK ranges stop short of the markers.

constexpr off_t kShareMarkers = off_t{1} << 62;
enum ShareMarker : off_t { kReads = 0, kWrites = 1, kDeniesReading = 2, kDeniesWriting = 3 };

bool MarkerHeldByOthers(int fd, off_t marker) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kShareMarkers + marker;
  probe.l_len = 1;
  return fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

void HoldMarker(int fd, off_t marker) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareMarkers + marker;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {}  // a file system without locks shares freely
}

// Checks the tie's access and sharing against the other ties of the file and announces its own.
// A descriptor that cannot read cannot hold shared locks: such a tie neither denies nor is seen.
void ApplySharing(int fd, int mode) {
  const int access = mode & kAccessMask, sharing = mode >> 4;
  const bool reads = access != 1, writes = access != 0;
  const bool deniesReading = sharing <= 1 || sharing == 3, deniesWriting = sharing <= 2;
  if ((reads && MarkerHeldByOthers(fd, kDeniesReading)) || (writes && MarkerHeldByOthers(fd, kDeniesWriting)) ||
      (deniesReading && MarkerHeldByOthers(fd, kReads)) || (deniesWriting && MarkerHeldByOthers(fd, kWrites)))
    NATIVE_ERROR(kFileTied, U"File already tied");
  if (!reads) return;
  HoldMarker(fd, kReads);
  if (writes) HoldMarker(fd, kWrites);
  if (deniesReading) HoldMarker(fd, kDeniesReading);
  if (deniesWriting) HoldMarker(fd, kDeniesWriting);
}

CallResult Tie(std::u32string name, TieRequest request, FileDescriptor fd) {
  ApplySharing(fd.get(), request.mode);
  NativeTie& slot = FreeSlot();
  slot.tie = request.tie != 0 ? static_cast<int32_t>(request.tie) : FirstFreeTieNumber();
  slot.fd = std::move(fd);
  slot.mode = request.mode;
  slot.name = std::move(name);
  slot.position = 0;
  slot.incoming = g_defaultIncoming;
  slot.outgoing = g_defaultOutgoing;
  return Shy(MakeIntScalar(slot.tie));
}

// Native files are shared without restriction by default, read and write, falling back to read.
constexpr int kDefaultTieMode = 64 | kReadOnlyFallback | 2;
constexpr int kDefaultCreateMode = 64 | 2;

// name ⎕NTIE tie [mode]
CallResult QuadNTIE(const Ref& left, const Ref& right) {
  std::u32string name = ReadFileNameArgument(left);
  TieRequest request = ReadTieRequest(right, kDefaultTieMode);
  if (request.tie == 0) FreeSlot();
  std::string path = PathOf(name);
  int access = request.mode & kAccessMask;
  FileDescriptor fd(open(path.c_str(), OpenFlags(access)));
  if (!fd && (request.mode & kReadOnlyFallback) && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = FileDescriptor(open(path.c_str(), OpenFlags(0)));
    request.mode &= ~kAccessMask;
  }
  if (!fd) NATIVE_OS_ERROR(U"Unable to open file", errno);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) NATIVE_OS_ERROR(U"Unable to read file status", errno);
  if (S_ISDIR(info.st_mode)) NATIVE_OS_ERROR(U"Unable to open file", EISDIR);
  MakeBlocking(fd.get());
  return Tie(std::move(name), request, std::move(fd));
}

// name ⎕NCREATE tie [mode]: a new file only.
CallResult QuadNCREATE(const Ref& left, const Ref& right) {
  std::u32string name = ReadFileNameArgument(left);
  TieRequest request = ReadTieRequest(right, kDefaultCreateMode);
  if (request.tie == 0) FreeSlot();
  std::string path = PathOf(name);
  int access = request.mode & kAccessMask;
  FileDescriptor fd(open(path.c_str(), OpenFlags(access) | O_CREAT | O_EXCL, 0666));
  if (!fd && (errno == EMFILE || errno == ENFILE)) SIGNAL_MESSAGE_IN(kLimitError, kCategoryNativeFiles, U"Unable to create file");
  if (!fd) NATIVE_OS_ERROR(U"Unable to create file", errno);
  MakeBlocking(fd.get());
  return Tie(std::move(name), request, std::move(fd));
}

// ⎕NUNTIE ties: unties them (0 is ignored); an empty argument flushes every tied file.
CallResult QuadNUNTIE(const Ref&, const Ref& right) {
  std::vector<int64_t> ties;
  if (!IsSimpleVectorOrScalar(right) || !ReadIntegers(right, ties)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  if (ties.empty()) {
    for (NativeTie& t : g_ties)
      if (t.tie != 0) fsync(t.fd.get());
  }
  std::vector<double> untied;
  for (int64_t n : ties)
    if (n != 0) TieOf(n);
  for (int64_t n : ties) {
    NativeTie* t = n != 0 ? FindTie(n) : nullptr;
    if (!t) continue;
    *t = NativeTie();
    untied.push_back(static_cast<double>(n));
  }
  return Shy(NumberVector(untied));
}

// ---- Reading -------------------------------------------------------------------------------------

constexpr uint64_t kMaxReadBytes = uint64_t{1} << 62;

// Reads up to `bytes` bytes at `offset` into `into`; the count read (short at the end of the file).
uint64_t ReadAt(int fd, uint64_t offset, uint8_t* into, uint64_t bytes) {
  uint64_t done = 0;
  while (done < bytes) {
    const ssize_t n = pread(fd, into + done, std::min<uint64_t>(bytes - done, 1u << 30), static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) NATIVE_OS_ERROR(U"Unable to read expected data", errno);
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  return done;
}

// Whether a value read from a file is a number the interpreter can hold.
bool FiniteDouble(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, 8);
  return std::isfinite(d);
}
bool FiniteDecimal(const uint8_t* p) { return ((p[15] >> 2) & 0x1F) < 0x1E; }

void CheckNumbersRead(Ref array, const ConversionCode& c, uint64_t count) {
  const uint8_t* data = DataOf<uint8_t>(array);
  for (uint64_t i = 0; i < count; ++i) {
    bool finite = c.code == 645    ? FiniteDouble(data + 8 * i)
                  : c.code == 1289 ? FiniteDouble(data + 16 * i) && FiniteDouble(data + 16 * i + 8)
                                   : FiniteDecimal(data + 16 * i);
    if (!finite) SIGNAL_MESSAGE(kDomainError, U"Invalid floating point number (NaN?) encountered");
  }
}

// ⎕NREAD tie code count [start]
CallResult QuadNREAD(const Ref&, const Ref& right) {
  std::vector<int64_t> v;
  if (!SmallIntegers(right, 3, 4, v)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  NativeTie& t = TieOf(v[0]);
  const ConversionCode& c = ConversionCodeInfo(v[1]);
  int64_t count = v[2];
  if (count < -1) NATIVE_ERROR(kDomainError, U"Invalid element count");
  int64_t start = v.size() > 3 ? v[3] : -1;
  if (start < -1) NATIVE_ERROR(kDomainError, U"Invalid file offset");
  uint64_t offset = start == -1 ? t.position : static_cast<uint64_t>(start);
  struct stat info;
  if (fstat(t.fd.get(), &info) != 0) NATIVE_OS_ERROR(U"Unable to read file status", errno);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  // A device has no size to go by: a count is read as far as it yields, ¯1 reads nothing.
  uint64_t available = !S_ISREG(info.st_mode) ? (count == -1 ? 0 : UINT64_MAX) : size > offset ? size - offset : 0;
  uint64_t wanted;  // bytes
  if (count == -1) {
    wanted = available;
  } else {
    if (static_cast<uint64_t>(count) > kMaxReadBytes / c.bits) NATIVE_ERROR(kDomainError, U"Array too large");
    wanted = (static_cast<uint64_t>(count) * c.bits + 7) / 8;
    wanted = std::min(wanted, available);
  }
  uint64_t elements = wanted * 8 / c.bits;
  if (count != -1) elements = std::min<uint64_t>(elements, static_cast<uint64_t>(count));
  if (elements > 0xFFFFFFFFull) NATIVE_ERROR(kDomainError, U"Array too large");
  Temporaries hold;
  hold[0] = AllocVector(c.type, static_cast<uint32_t>(elements));
  uint64_t got = ReadElementsInto(hold[0], t.fd.get(), offset, c, elements);
  if (got < elements) {  // the file shrank since its size was read
    ShapeOf(hold[0])[0] = static_cast<uint32_t>(got);
    ShrinkInPlace(hold[0], ArrayWords(c.type, 1, got));
  }
  uint8_t* data = DataOf<uint8_t>(hold[0]);
  if (c.code == 82)
    for (uint64_t i = 0; i < got; ++i) data[i] = t.incoming[data[i]];
  uint64_t bytes = (got * c.bits + 7) / 8;
  t.position = offset + bytes;
  return {hold.Take(0)};
}

// ---- Writing -------------------------------------------------------------------------------------

[[noreturn]] void CannotConvert() {
  NATIVE_ERROR(kDomainError, U"Left argument array could not be converted to the requested type");
}

template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

// A number read from an array as a real value (complex numbers must have no imaginary part).
template <typename V>
double RealValue(V v) {
  if constexpr (std::is_same_v<V, std::complex<double>>) {
    if (v.imag() != 0) CannotConvert();
    return v.real();
  } else if constexpr (std::is_same_v<V, BID_UINT128>) {
    _IDEC_flags flags = 0;
    return bid128_to_binary64(v, BID_ROUNDING_TO_NEAREST, &flags);
  } else {
    return static_cast<double>(v);
  }
}

template <typename V>
int64_t IntegerValue(V v, int64_t low, int64_t high) {
  int64_t n;
  if constexpr (std::is_same_v<V, int64_t>) {
    n = v;
  } else {
    double d = RealValue(v);
    if (d != std::floor(d) || d < static_cast<double>(low) || d > static_cast<double>(high)) CannotConvert();
    n = static_cast<int64_t>(d);
  }
  if (n < low || n > high) CannotConvert();
  return n;
}

template <typename V>
BID_UINT128 DecimalValue(V v) {
  _IDEC_flags flags = 0;
  if constexpr (std::is_same_v<V, BID_UINT128>) return v;
  else if constexpr (std::is_same_v<V, int64_t>) return bid128_from_int64(v);
  else return binary64_to_bid128(RealValue(v), BID_ROUNDING_TO_NEAREST, &flags);
}

// Numbers into the bytes of a numeric conversion code.
template <typename Reader>
void EncodeNumbers(Reader read, uint64_t n, int code, std::string& out) {
  switch (code) {
    case 11: {
      if (n % 8) NATIVE_ERROR(kDomainError, U"The total number of bits in the right argument is not an exact multiple of the number of bits in the type given in the left argument");
      for (uint64_t i = 0; i < n; i += 8) {
        uint8_t byte = 0;
        for (uint64_t k = 0; k < 8; ++k) byte = static_cast<uint8_t>(byte << 1 | IntegerValue(read(i + k), 0, 1));
        out.push_back(static_cast<char>(byte));
      }
      return;
    }
    // Byte and word codes take values of either sign that fit their width.
    case 83: for (uint64_t i = 0; i < n; ++i) Put(out, static_cast<uint8_t>(IntegerValue(read(i), -128, 255))); return;
    case 163: for (uint64_t i = 0; i < n; ++i) Put(out, static_cast<uint16_t>(IntegerValue(read(i), -32768, 65535))); return;
    case 323: for (uint64_t i = 0; i < n; ++i) Put(out, static_cast<int32_t>(IntegerValue(read(i), INT32_MIN, INT32_MAX))); return;
    case 645: for (uint64_t i = 0; i < n; ++i) Put(out, RealValue(read(i))); return;
    case 1287: for (uint64_t i = 0; i < n; ++i) Put(out, DecimalValue(read(i))); return;
    case 1289:
      for (uint64_t i = 0; i < n; ++i) {
        auto v = read(i);
        if constexpr (std::is_same_v<decltype(v), std::complex<double>>) Put(out, v);
        else Put(out, std::complex<double>(RealValue(v), 0));
      }
      return;
    default: CannotConvert();
  }
}

void EncodeCharacters(const std::u32string& text, int code, const TranslateTable& outgoing, std::string& out) {
  for (char32_t ch : text) {
    switch (code) {
      case 80:
        if (ch > 0xFF) CannotConvert();
        out.push_back(static_cast<char>(ch));
        break;
      case 82: {
        int position = AvPosition(ch);
        if (position < 0) CannotConvert();
        out.push_back(static_cast<char>(outgoing[static_cast<uint8_t>(position)]));
        break;
      }
      case 160:
        if (ch > 0xFFFF) CannotConvert();
        Put(out, static_cast<char16_t>(ch));
        break;
      case 320: Put(out, ch); break;
      default: CannotConvert();
    }
  }
}

// The bytes an array is written as with a conversion code (0: the array's own type).
std::string EncodeData(Ref data, int64_t code, const NativeTie& t) {
  if (!IsArray(data) || KindOf(TypeWord(data)) != kKindSimple) CannotConvert();
  if (code == 0) code = OwnCode(data);
  const ConversionCode& c = ConversionCodeInfo(code);
  const uint64_t n = ElementCount(data);
  std::string out;
  ElementType type = ElementOf(TypeWord(data));
  if (type == c.type && c.code != 82 && (c.code != 11 || n % 8 == 0)) {
    out.assign(DataOf<char>(data), (n * c.bits + 7) / 8);  // already in the file's form
    return out;
  }
  if (IsSimpleCharacterArray(data)) {
    EncodeCharacters(CharacterText(data), c.code, t.outgoing, out);
    return out;
  }
  bool known = WithReader(data, [&](auto read) {
    if constexpr (!decltype(read)::kCharacter) EncodeNumbers(read, n, c.code, out);
    return true;
  });
  if (!known) CannotConvert();
  return out;
}

// Writes all of `bytes` at `offset`; on failure leaves the errno of the failing call.
bool WriteAt(int fd, uint64_t offset, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, std::min<size_t>(bytes.size() - done, 1u << 30),
                             static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// data ⎕NAPPEND tie [code]: writes at the end of the file; an append that fails leaves the file as
// it was.
CallResult QuadNAPPEND(const Ref& left, const Ref& right) {
  std::vector<int64_t> v;
  if (!SmallIntegers(right, 1, 2, v)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  NativeTie& t = TieOf(v[0]);
  std::string bytes = EncodeData(left, v.size() > 1 ? v[1] : 0, t);
  uint64_t end = static_cast<uint64_t>(FileSize(t));
  if (!WriteAt(t.fd.get(), end, bytes)) {
    int err = errno;
    if (ftruncate(t.fd.get(), static_cast<off_t>(end)) != 0) {}  // best effort: the error below is reported
    NATIVE_OS_ERROR(U"Unable to write to file", err);
  }
  t.position = end + bytes.size();
  return Shy(NumberVector({static_cast<double>(bytes.size())}));
}

// data ⎕NREPLACE tie start [code]: the result is the position after the data.
CallResult QuadNREPLACE(const Ref& left, const Ref& right) {
  std::vector<int64_t> v;
  if (!SmallIntegers(right, 2, 3, v)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  NativeTie& t = TieOf(v[0]);
  if (v[1] < 0) NATIVE_ERROR(kDomainError, U"Invalid file offset");
  std::string bytes = EncodeData(left, v.size() > 2 ? v[2] : 0, t);
  uint64_t start = static_cast<uint64_t>(v[1]);
  if (!WriteAt(t.fd.get(), start, bytes)) NATIVE_OS_ERROR(U"Unable to write to file", errno);
  t.position = start + bytes.size();
  return Shy(NumberVector({static_cast<double>(t.position)}));
}

// ---- Size, name and lock -------------------------------------------------------------------------

CallResult QuadNSIZE(const Ref&, const Ref& right) {
  std::vector<int64_t> ties;
  if (!IsSimpleVectorOrScalar(right) || !ReadIntegers(right, ties)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  std::vector<double> sizes;
  for (int64_t n : ties) sizes.push_back(static_cast<double>(FileSize(TieOf(n))));
  return {NumbersLike(right, sizes)};
}

// size ⎕NRESIZE tie
CallResult QuadNRESIZE(const Ref& left, const Ref& right) {
  std::vector<int64_t> size, tie;
  if (!IsRef(left)) NATIVE_ERROR(kDomainError, U"Missing left argument");
  if (!SmallIntegers(left, 1, 1, size) || size[0] < 0) NATIVE_ERROR(kDomainError, U"Invalid left argument");
  if (!SmallIntegers(right, 1, 1, tie)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  NativeTie& t = TieOf(tie[0]);
  if (ftruncate(t.fd.get(), static_cast<off_t>(size[0])) != 0) NATIVE_OS_ERROR(U"Unable to truncate file", errno);
  return Shy(MakeIntScalar(t.tie));
}

// The tie number of a function whose right argument is one tie.
NativeTie& SingleTie(Ref right) {
  std::vector<int64_t> tie;
  if (!SmallIntegers(right, 1, 1, tie)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  return TieOf(tie[0]);
}

// name ⎕NRENAME tie: an existing file of the new name is never replaced.
CallResult QuadNRENAME(const Ref& left, const Ref& right) {
  std::u32string name = ReadFileNameArgument(left);
  NativeTie& t = SingleTie(right);
  std::string from = PathOf(t.name), to = PathOf(name);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    int err = errno;
    if (err != EINVAL || rename(from.c_str(), to.c_str()) != 0) NATIVE_OS_ERROR(U"Unable to modify file or directory", err);
  }
  t.name = std::move(name);
  return Shy(MakeIntScalar(t.tie));
}

// Whether `name` names the same file as the tie.
bool NamesTiedFile(const std::u32string& name, const NativeTie& t) {
  struct stat named, tied;
  if (name == t.name) return true;
  std::string path = PathOf(name);
  return stat(path.c_str(), &named) == 0 && fstat(t.fd.get(), &tied) == 0 && named.st_dev == tied.st_dev &&
         named.st_ino == tied.st_ino;
}

// name ⎕NERASE tie: deletes the tied file and unties it.
CallResult QuadNERASE(const Ref& left, const Ref& right) {
  std::u32string name = ReadFileNameArgument(left);
  NativeTie& t = SingleTie(right);
  if (!NamesTiedFile(name, t)) NATIVE_ERROR(kFileNameError, U"File name mismatch");
  std::string path = PathOf(name);
  if (unlink(path.c_str()) != 0) NATIVE_OS_ERROR(U"Unable to delete file", errno);
  int32_t tie = t.tie;
  t = NativeTie();
  return Shy(MakeIntScalar(tie));
}

// How long ⎕NLOCK waits between attempts at a lock another holder keeps.
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// type [timeout] ⎕NLOCK tie [start [length]]: byte-range locks that belong to the tie, so that ties
// of one file in this process exclude each other as other processes' ties do.
CallResult QuadNLOCK(const Ref& left, const Ref& right) {
  std::vector<int64_t> where;
  std::vector<double> how;
  if (!IsRef(left)) NATIVE_ERROR(kDomainError, U"Missing left argument");
  if (!ReadReals(left, how) || how.empty() || how.size() > 2) NATIVE_ERROR(kDomainError, U"Invalid left argument");
  if (how[0] != 0 && how[0] != 1 && how[0] != 2) NATIVE_ERROR(kDomainError, U"Invalid lock type");
  const int type = static_cast<int>(how[0]);
  const double timeout = how.size() > 1 ? how[1] : -1;  // none: wait as long as it takes
  if (how.size() > 1 && !(timeout >= 0)) NATIVE_ERROR(kDomainError, U"Invalid timeout");
  if (!SmallIntegers(right, 1, 3, where)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  NativeTie& t = TieOf(where[0]);
  int64_t start = where.size() > 1 ? where[1] : 0, length = where.size() > 2 ? where[2] : 0;
  if (start < 0) NATIVE_ERROR(kDomainError, U"Invalid file offset");
  if (length < 0) NATIVE_ERROR(kDomainError, U"Invalid length");
  struct flock lock {};
  lock.l_type = static_cast<short>(type == 0 ? F_UNLCK : type == 1 ? F_RDLCK : F_WRLCK);
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(start);
  // A length of 0 reaches to the sharing markers, past any data the file can hold.
  lock.l_len = length == 0 ? (start < kShareMarkers ? kShareMarkers - start : 1) : static_cast<off_t>(length);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(timeout, 0.0));
  while (fcntl(t.fd.get(), F_OFD_SETLK, &lock) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) NATIVE_OS_ERROR(U"Unable to lock file", errno);
    if (timeout >= 0 && std::chrono::steady_clock::now() >= deadline)
      NATIVE_ERROR(kTimeout, U"Unable to lock file");
    CheckInterruptAtLine();
    std::this_thread::sleep_for(kLockRetry);
  }
  return Shy(MakeIntScalar(t.tie));
}

// ---- Translate tables and the list of ties ------------------------------------------------------

Ref TableVector(const TranslateTable& table) {
  Ref r = AllocVector(kInt16, 256);
  std::copy(table.begin(), table.end(), DataOf<int16_t>(r));
  Narrow(r);
  return r;
}

// [table] ⎕NXLATE tie: the tie's incoming translate table (tie 0: the one new ties get); with a left
// argument it is replaced and the previous one is the result.
CallResult TranslateTableOf(const Ref& left, const Ref& right) {
  std::vector<int64_t> tie;
  if (!SmallIntegers(right, 1, 1, tie)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
  TranslateTable* incoming = &g_defaultIncoming;
  TranslateTable* outgoing = &g_defaultOutgoing;
  if (tie[0] != 0) {
    NativeTie& t = TieOf(tie[0]);
    incoming = &t.incoming;
    outgoing = &t.outgoing;
  }
  TranslateTable previous = *incoming;
  if (IsRef(left)) {
    std::vector<int64_t> values;
    if (!IsSimpleVectorOrScalar(left) || !ReadIntegers(left, values)) NATIVE_ERROR(kDomainError, U"Invalid left argument");
    if (values.size() != 256) NATIVE_ERROR(kLengthError, U"Translate vector should have 256 elements");
    for (int64_t value : values)
      if (value < 0 || value > 255) NATIVE_ERROR(kDomainError, U"Translate vector element value out of range");
    for (size_t i = 0; i < 256; ++i) (*incoming)[i] = static_cast<uint8_t>(values[i]);
    *outgoing = InverseTable(*incoming);
  }
  return {TableVector(previous), IsRef(left)};
}

CallResult QuadNXLATE(const Ref& left, const Ref& right) { return TranslateTableOf(left, right); }

Ref QuadNNUMS() {
  std::vector<double> ties;
  for (const NativeTie& t : g_ties)
    if (t.tie != 0) ties.push_back(t.tie);
  return NumberVector(ties);
}

Ref QuadNNAMES() {
  std::vector<const std::u32string*> names;
  size_t width = 0;
  for (const NativeTie& t : g_ties)
    if (t.tie != 0) {
      names.push_back(&t.name);
      width = std::max(width, t.name.size());
    }
  Ref m = AllocMatrix(kChar32, static_cast<uint32_t>(names.size()), static_cast<uint32_t>(width));
  char32_t* data = DataOf<char32_t>(m);
  for (size_t row = 0; row < names.size(); ++row) {
    std::fill_n(data + row * width, width, U' ');
    std::copy(names[row]->begin(), names[row]->end(), data + row * width);
  }
  Narrow(m);
  return m;
}

// ---- Text codecs ---------------------------------------------------------------------------------

struct EncodingInfo {
  TextEncoding encoding;
  std::u32string_view name;
  std::string_view mark;
};

// In the order in which byte-order marks are recognised (UTF-32LE before UTF-16LE, whose mark
// begins it).
constexpr EncodingInfo kEncodings[] = {
    {TextEncoding::kUtf8, U"UTF-8", "\xEF\xBB\xBF"},
    {TextEncoding::kUtf32LE, U"UTF-32LE", std::string_view("\xFF\xFE\x00\x00", 4)},
    {TextEncoding::kUtf32BE, U"UTF-32BE", std::string_view("\x00\x00\xFE\xFF", 4)},
    {TextEncoding::kUtf16LE, U"UTF-16LE", "\xFF\xFE"},
    {TextEncoding::kUtf16BE, U"UTF-16BE", "\xFE\xFF"},
    {TextEncoding::kAscii, U"ASCII", ""},
    {TextEncoding::kWindows1252, U"Windows-1252", ""},
};

const EncodingInfo& InfoOf(TextEncoding encoding) {
  for (const EncodingInfo& e : kEncodings)
    if (e.encoding == encoding) return e;
  return kEncodings[0];
}

bool IsUnicode(TextEncoding encoding) { return encoding >= TextEncoding::kUtf8; }

char32_t FoldCase(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }

bool SameIgnoringCase(std::u32string_view a, std::u32string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char32_t x, char32_t y) {
           return FoldCase(x) == FoldCase(y);
         });
}

// Windows-1252 bytes 80..9F; the five unassigned bytes stand for themselves.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t FromWindows1252(uint8_t b) { return b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b; }

int ToWindows1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i)
    if (kWindows1252High[i] == c) return 0x80 + i;
  return -1;
}

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

template <bool BigEndian>
char32_t Unit16(std::string_view b, size_t i) {
  auto x = static_cast<uint8_t>(b[i]), y = static_cast<uint8_t>(b[i + 1]);
  return BigEndian ? (x << 8 | y) : (y << 8 | x);
}

template <bool BigEndian>
bool DecodeUtf16(std::string_view b, std::u32string& out) {
  if (b.size() % 2) return false;
  for (size_t i = 0; i < b.size(); i += 2) {
    char32_t c = Unit16<BigEndian>(b, i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < b.size()) {
      char32_t low = Unit16<BigEndian>(b, i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      out.push_back(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
      i += 2;
    } else if (IsSurrogate(c)) {
      return false;
    } else {
      out.push_back(c);
    }
  }
  return true;
}

template <bool BigEndian>
bool DecodeUtf32(std::string_view b, std::u32string& out) {
  if (b.size() % 4) return false;
  for (size_t i = 0; i < b.size(); i += 4) {
    uint32_t c = 0;
    for (size_t k = 0; k < 4; ++k) c |= static_cast<uint32_t>(static_cast<uint8_t>(b[i + (BigEndian ? 3 - k : k)])) << (8 * k);
    if (c > 0x10FFFF || IsSurrogate(c)) return false;
    out.push_back(c);
  }
  return true;
}

bool DecodeUtf8Strict(std::string_view b, std::u32string& out) {
  const size_t start = out.size();
  out.resize(start + b.size());  // never more characters than bytes
  char32_t* to = out.data() + start;
  for (size_t i = 0; i < b.size();) {
    auto lead = static_cast<uint8_t>(b[i]);
    if (lead < 0x80) {
      *to++ = lead;
      ++i;
      continue;
    }
    size_t at = i;
    char32_t c = DecodeUtf8(b, i);
    if (c == kReplacementCharacter && b.substr(at, 3) != "\xEF\xBF\xBD") return false;
    *to++ = c;
  }
  out.resize(static_cast<size_t>(to - out.data()));
  return true;
}

template <bool BigEndian>
void PutUnit16(std::string& out, char32_t u) {
  char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
  out.push_back(BigEndian ? hi : lo);
  out.push_back(BigEndian ? lo : hi);
}

template <bool BigEndian>
bool EncodeUtf16(std::u32string_view text, std::string& out) {
  for (char32_t c : text) {
    if (c > 0x10FFFF || IsSurrogate(c)) return false;
    if (c < 0x10000) {
      PutUnit16<BigEndian>(out, c);
    } else {
      PutUnit16<BigEndian>(out, 0xD800 + ((c - 0x10000) >> 10));
      PutUnit16<BigEndian>(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return true;
}

template <bool BigEndian>
bool EncodeUtf32(std::u32string_view text, std::string& out) {
  for (char32_t c : text) {
    if (c > 0x10FFFF || IsSurrogate(c)) return false;
    for (size_t k = 0; k < 4; ++k) out.push_back(static_cast<char>(c >> (8 * (BigEndian ? 3 - k : k))));
  }
  return true;
}

// ---- Encoding detection --------------------------------------------------------------------------

enum ByteClass : uint8_t { kPlain = 1, kInUtf8 = 2, kIn1252 = 4 };

constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    uint8_t c = 0;
    if ((b >= 0x20 && b <= 0x7E) || (b >= 7 && b <= 13) || b == 27) c = kPlain | kInUtf8 | kIn1252;
    else if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) c = kInUtf8;
    else if (b == 0xC0 || b == 0xC1 || b >= 0xF5) c = kIn1252;
    else if (b >= 0x80) c = kInUtf8 | kIn1252;
    classes[b] = c;
  }
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

// A character that text is expected to hold.
bool IsLikelyCharacter(char32_t c) {
  if (c > 0x10FFFF) return false;
  if (c >= 256) return true;
  return (c >= 7 && c <= 13) || c == 0x1B || (c >= 0x20 && c <= 0x7E) || c == 0x85 || c >= 0xA0;
}

bool AllLikely(const std::u32string& text) { return std::all_of(text.begin(), text.end(), IsLikelyCharacter); }

// Whether bytes whose ASCII bytes are all plain decode as UTF-8 to likely characters. Nothing is
// kept: a long text is checked without its characters being stored (runs of ASCII go 8 at a time).
bool DecodesAsLikelyUtf8(std::string_view b) {
  for (size_t i = 0; i < b.size();) {
    uint64_t eight;
    if (i + 8 <= b.size() && (std::memcpy(&eight, b.data() + i, 8), (eight & 0x8080808080808080u) == 0)) {
      i += 8;
      continue;
    }
    if (static_cast<uint8_t>(b[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t at = i;
    char32_t c = DecodeUtf8(b, i);
    if (c == kReplacementCharacter && b.substr(at, 3) != "\xEF\xBF\xBD") return false;
    if (!IsLikelyCharacter(c)) return false;
  }
  return true;
}

size_t LineCharacterCount(const std::u32string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char32_t c) {
    return c == U'\n' || c == U'\r' || c == U' ' || c == 0x85;
  }));
}

// A Unicode encoding whose decoding of the bytes holds only likely characters: its line-character
// count, or -1.
int64_t Candidate(std::string_view bytes, TextEncoding encoding) {
  std::u32string text;
  if (!DecodeText(bytes, encoding, text) || !AllLikely(text)) return -1;
  return static_cast<int64_t>(LineCharacterCount(text));
}

TextEncoding GuessEncoding(std::string_view bytes) {
  uint8_t all = kPlain | kInUtf8 | kIn1252;
  for (char b : bytes) all &= kByteClasses[static_cast<uint8_t>(b)];
  if (all & kPlain) return TextEncoding::kUtf8;
  if ((all & kInUtf8) && DecodesAsLikelyUtf8(bytes)) return TextEncoding::kUtf8;
  if (all & kIn1252) return TextEncoding::kWindows1252;
  if (bytes.size() % 2 == 0) {
    int64_t le = Candidate(bytes, TextEncoding::kUtf16LE), be = Candidate(bytes, TextEncoding::kUtf16BE);
    if (le >= 0 || be >= 0) return be > le ? TextEncoding::kUtf16BE : TextEncoding::kUtf16LE;
  }
  if (bytes.size() % 4 == 0) {
    if (Candidate(bytes, TextEncoding::kUtf32LE) >= 0) return TextEncoding::kUtf32LE;
    if (Candidate(bytes, TextEncoding::kUtf32BE) >= 0) return TextEncoding::kUtf32BE;
  }
  return TextEncoding::kUtf8;
}

}  // namespace

namespace {
constexpr ConversionCode kConversionCodes[] = {
    {11, kBool, 1},       {80, kChar8, 8},      {82, kCharAv, 8},      {83, kInt8, 8},
    {160, kChar16, 16},   {163, kInt16, 16},    {320, kChar32, 32},    {323, kInt32, 32},
    {645, kFloat64, 64},  {1287, kDecimal128, 128}, {1289, kComplex, 128},
};
}  // namespace

const ConversionCode& ConversionCodeInfo(int64_t code) {
  for (const ConversionCode& c : kConversionCodes)
    if (c.code == code) return c;
  NATIVE_ERROR(kDomainError, U"Invalid conversion code");
}

uint64_t ReadElementsInto(Ref array, int fd, uint64_t offset, const ConversionCode& c, uint64_t count) {
  const uint64_t bytes = (count * c.bits + 7) / 8;
  const uint64_t got = ReadAt(fd, offset, DataOf<uint8_t>(array), bytes);
  const uint64_t elements = got == bytes ? count : got * 8 / c.bits;
  uint8_t* data = DataOf<uint8_t>(array);
  if (c.code == 11 && elements % 8) data[elements / 8] &= static_cast<uint8_t>(0xFF00 >> (elements % 8));
  if (c.code == 645 || c.code == 1287 || c.code == 1289) CheckNumbersRead(array, c, elements);
  return elements;
}

uint32_t FileErrorForErrno(int err) {
  switch (err) {
    case ENOENT: case ENXIO: case EEXIST: case EXDEV: case ENODEV: case ENOTDIR: case EISDIR: case EINVAL:
    case ENOTTY: case ENAMETOOLONG:
      return kFileNameError;
    case EIO: case EDEADLK:
      return kFileSystemError;
    case ENOMEM: case ENFILE: case EMFILE: case EMLINK: case ENOLCK:
      return kFileSystemTiesUsedUp;
    case EFBIG: case ENOSPC:
      return kFileFull;
    default:
      return kFileAccessError;
  }
}

void SignalFileSystemError(uint32_t messageRow, int err, const char* unit, int line) {
  SignalError(FileErrorForErrno(err), messageRow, kOsErrorErrno, err, unit, line);
}

// ---- Streams of other units ----------------------------------------------------------------------

bool ReadRestOfTiedFile(int64_t tie, uint64_t limit, std::string& out, bool& tooLong) {
  tooLong = false;
  NativeTie* t = FindTie(tie);
  if (!t) return false;
  constexpr uint64_t kChunk = 1u << 20;
  uint64_t offset = t->position;
  for (;;) {  // in chunks, as a device has no size to go by
    const uint64_t at = out.size();
    if (at >= limit + 1) {
      tooLong = true;
      return false;
    }
    const uint64_t size = static_cast<uint64_t>(FileSize(*t));
    const uint64_t want = size > offset ? std::max(kChunk, size - offset) : kChunk;
    out.resize(at + std::min(want, limit + 1 - at));
    const uint64_t got = ReadAt(t->fd.get(), offset, reinterpret_cast<uint8_t*>(out.data() + at), out.size() - at);
    out.resize(at + got);
    offset += got;
    if (got == 0) break;
  }
  t->position = offset;
  return true;
}

bool AppendToTiedFile(int64_t tie, std::string_view mark, std::string_view bytes) {
  NativeTie* t = FindTie(tie);
  if (!t) return false;
  const uint64_t end = static_cast<uint64_t>(FileSize(*t));
  const uint64_t markLength = end == 0 ? mark.size() : 0;
  if (!WriteAt(t->fd.get(), end, mark.substr(0, markLength)) || !WriteAt(t->fd.get(), end + markLength, bytes)) {
    const int err = errno;
    if (ftruncate(t->fd.get(), static_cast<off_t>(end)) != 0) {}  // best effort: the error below is reported
    NATIVE_OS_ERROR(U"Unable to write to file", err);
  }
  t->position = end + markLength + bytes.size();
  return true;
}

// ---- Codec interface -----------------------------------------------------------------------------

std::optional<EncodingChoice> ParseEncodingName(std::u32string_view name) {
  for (const EncodingInfo& e : kEncodings) {
    if (SameIgnoringCase(name, e.name)) return EncodingChoice{e.encoding, false};
    if (!IsUnicode(e.encoding) || name.size() <= e.name.size() || !SameIgnoringCase(name.substr(0, e.name.size()), e.name))
      continue;
    std::u32string_view suffix = name.substr(e.name.size());
    if (SameIgnoringCase(suffix, U"-BOM")) return EncodingChoice{e.encoding, true};
    if (SameIgnoringCase(suffix, U"-NOBOM")) return EncodingChoice{e.encoding, false};
  }
  if (SameIgnoringCase(name, U"ANSI")) return EncodingChoice{TextEncoding::kWindows1252, false};
  return std::nullopt;
}

std::u32string EncodingName(EncodingChoice choice) {
  std::u32string name(InfoOf(choice.encoding).name);
  if (IsUnicode(choice.encoding)) name += choice.byteOrderMark ? U"-BOM" : U"-NOBOM";
  return name;
}

std::string_view ByteOrderMark(TextEncoding encoding) { return InfoOf(encoding).mark; }

TextEncoding DetectEncoding(std::string_view bytes, size_t& markLength) {
  for (const EncodingInfo& e : kEncodings) {
    if (!e.mark.empty() && bytes.starts_with(e.mark)) {
      markLength = e.mark.size();
      return e.encoding;
    }
  }
  markLength = 0;
  return GuessEncoding(bytes);
}

bool DecodeText(std::string_view bytes, TextEncoding encoding, std::u32string& out) {
  out.reserve(out.size() + bytes.size());
  switch (encoding) {
    case TextEncoding::kAscii:
      for (char b : bytes) {
        if (static_cast<uint8_t>(b) > 0x7F) return false;
        out.push_back(static_cast<uint8_t>(b));
      }
      return true;
    case TextEncoding::kWindows1252:
      for (char b : bytes) out.push_back(FromWindows1252(static_cast<uint8_t>(b)));
      return true;
    case TextEncoding::kUtf8: return DecodeUtf8Strict(bytes, out);
    case TextEncoding::kUtf16LE: return DecodeUtf16<false>(bytes, out);
    case TextEncoding::kUtf16BE: return DecodeUtf16<true>(bytes, out);
    case TextEncoding::kUtf32LE: return DecodeUtf32<false>(bytes, out);
    case TextEncoding::kUtf32BE: return DecodeUtf32<true>(bytes, out);
  }
  return false;
}

bool EncodeText(std::u32string_view text, TextEncoding encoding, std::string& out) {
  out.reserve(out.size() + text.size());
  switch (encoding) {
    case TextEncoding::kAscii:
      for (char32_t c : text) {
        if (c > 0x7F) return false;
        out.push_back(static_cast<char>(c));
      }
      return true;
    case TextEncoding::kWindows1252:
      for (char32_t c : text) {
        int b = ToWindows1252(c);
        if (b < 0) return false;
        out.push_back(static_cast<char>(b));
      }
      return true;
    case TextEncoding::kUtf8: {
      size_t i = 0;
      while (i < text.size()) {
        size_t plain = i;  // a run of ASCII goes in one append
        while (plain < text.size() && text[plain] < 0x80) ++plain;
        size_t at = out.size();
        out.resize(at + plain - i);
        std::transform(text.begin() + i, text.begin() + plain, out.begin() + at,
                       [](char32_t c) { return static_cast<char>(c); });
        if (plain == text.size()) break;
        char32_t c = text[plain];
        if (c > 0x10FFFF || IsSurrogate(c)) return false;
        AppendUtf8(out, c);
        i = plain + 1;
      }
      return true;
    }
    case TextEncoding::kUtf16LE: return EncodeUtf16<false>(text, out);
    case TextEncoding::kUtf16BE: return EncodeUtf16<true>(text, out);
    case TextEncoding::kUtf32LE: return EncodeUtf32<false>(text, out);
    case TextEncoding::kUtf32BE: return EncodeUtf32<true>(text, out);
  }
  return false;
}

namespace {

// ---- ⎕NGET ---------------------------------------------------------------------------------------

struct FileArgument {
  std::u32string name;
  int64_t flags = 0;
};

// The right argument of ⎕NGET and ⎕NPUT: a file name, or a file name and flags 0 or 1.
FileArgument ReadFileArgument(Ref right) {
  FileArgument arg;
  if (IsText(right)) {
    arg.name = CharacterText(right);
  } else {
    std::vector<int64_t> flags;
    if (!IsArray(right) || KindOf(TypeWord(right)) != kKindNested || RankOf(TypeWord(right)) != 1 ||
        ItemCount(right) != 2 || !IsText(ItemOf(right, 0)) || !SmallIntegers(ItemOf(right, 1), 1, 1, flags) ||
        flags[0] < 0 || flags[0] > 1)
      NATIVE_ERROR(kDomainError, U"Right argument should be file name and optional flags");
    arg.name = CharacterText(ItemOf(right, 0));
    arg.flags = flags[0];
  }
  if (arg.name.empty()) NATIVE_ERROR(kDomainError, U"Missing filename");
  return arg;
}

std::string ReadWholeFile(const std::u32string& name) {
  std::string path = PathOf(name);
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) NATIVE_OS_ERROR(U"Unable to open file", errno);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) NATIVE_OS_ERROR(U"Unable to read file status", errno);
  if (S_ISDIR(info.st_mode)) SignalError(kFileAccessError, MessageRow(kCategoryNativeFiles, U"Unable to open file"),
                                         kOsErrorErrno, EISDIR, kUnit, __LINE__);
  MakeBlocking(fd.get());
  if (static_cast<uint64_t>(info.st_size) > g_space->limitBytes) SIGNAL(kWsFull);
  std::string bytes;
  if (S_ISREG(info.st_mode)) {
    bytes.resize(static_cast<size_t>(info.st_size));
    bytes.resize(ReadAt(fd.get(), 0, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()));
    return bytes;
  }
  char buffer[65536];
  for (;;) {  // a pipe or device: read to its end
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) NATIVE_OS_ERROR(U"Unable to read expected data", errno);
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > g_space->limitBytes) SIGNAL(kWsFull);
  }
}

bool EndsLine(char32_t c) {
  return c == U'\n' || c == U'\r' || c == 0x85 || c == 0x0B || c == 0x0C || c == 0x2028 || c == 0x2029;
}

// Replaces every line ending by LF; the first LF, CR, CR LF or NEL found, as codes.
std::vector<uint32_t> NormaliseLineEndings(std::u32string& text) {
  std::vector<uint32_t> first;
  size_t to = 0;
  for (size_t from = 0; from < text.size(); ++from) {
    char32_t c = text[from];
    if (EndsLine(c)) {
      bool crlf = c == U'\r' && from + 1 < text.size() && text[from + 1] == U'\n';
      if (first.empty() && (c == U'\n' || c == U'\r' || c == 0x85))
        first = crlf ? std::vector<uint32_t>{13, 10} : std::vector<uint32_t>{static_cast<uint32_t>(c)};
      if (crlf) ++from;
      c = U'\n';
    }
    text[to++] = c;
  }
  text.resize(to);
  return first;
}

// ---- UTF-8 text as lines, without a text of code points in between ----

// Bytes that may end a line in UTF-8: LF, VT, FF, CR, and the lead bytes of NEL (C2 85), LS and
// PS (E2 80 A8, E2 80 A9).
constexpr std::array<bool, 256> LineEndLeads() {
  std::array<bool, 256> leads{};
  for (uint8_t b : {0x0A, 0x0B, 0x0C, 0x0D, 0xC2, 0xE2}) leads[b] = true;
  return leads;
}
constexpr std::array<bool, 256> kLineEndLeads = LineEndLeads();

struct LineSpan {
  size_t start;
  size_t length;
  bool ascii;
};

// The lines of UTF-8 bytes as NormaliseLineEndings and the split into lines make them (CR LF is
// one ending; no line follows a final ending), and the first LF, CR, CR LF or NEL as codes.
std::vector<LineSpan> Utf8Lines(std::string_view b, std::vector<uint32_t>& firstEnding) {
  std::vector<LineSpan> lines;
  const size_t n = b.size();
  size_t start = 0;
  uint8_t seen = 0;  // the bits of every byte of the line so far
  for (size_t i = 0; i < n;) {
    const auto c = static_cast<uint8_t>(b[i]);
    if (!kLineEndLeads[c]) {
      seen |= c;
      ++i;
      continue;
    }
    auto at = [&](size_t k) { return k < n ? static_cast<uint8_t>(b[k]) : 0; };
    size_t width = 0;
    if (c == 0x0A || c == 0x0B || c == 0x0C) width = 1;
    else if (c == 0x0D) width = at(i + 1) == 0x0A ? 2 : 1;
    else if (c == 0xC2 && at(i + 1) == 0x85) width = 2;
    else if (c == 0xE2 && at(i + 1) == 0x80 && (at(i + 2) == 0xA8 || at(i + 2) == 0xA9)) width = 3;
    if (width == 0) {
      seen |= c;
      ++i;
      continue;
    }
    if (firstEnding.empty() && c != 0x0B && c != 0x0C && c != 0xE2)
      firstEnding = c == 0x0A ? std::vector<uint32_t>{10}
                    : c == 0xC2 ? std::vector<uint32_t>{133}
                    : width == 2 ? std::vector<uint32_t>{13, 10}
                                 : std::vector<uint32_t>{13};
    lines.push_back({start, i - start, seen < 0x80});
    i += width;
    start = i;
    seen = 0;
  }
  if (start < n) lines.push_back({start, n - start, seen < 0x80});
  return lines;
}

// A line as a character vector: ASCII bytes are copied as they are, anything else is decoded.
Ref Utf8LineText(std::string_view b, const LineSpan& line, std::u32string& scratch) {
  if (line.ascii) {
    Ref text = AllocVector(kChar8, static_cast<uint32_t>(line.length));
    std::memcpy(DataOf<char>(text), b.data() + line.start, line.length);
    return text;
  }
  scratch.clear();
  if (!DecodeUtf8Strict(b.substr(line.start, line.length), scratch))
    NATIVE_ERROR(kTranslationError, U"Unable to decode the file");
  return MakeText(scratch);
}

// [encoding] ⎕NGET name or (name flags): (text, encoding name, line ending); with flags 1 the text
// is a vector of lines.
CallResult QuadNGET(const Ref& left, const Ref& right) {
  std::optional<EncodingChoice> chosen;
  if (IsRef(left)) {
    if (!IsText(left)) NATIVE_ERROR(kDomainError, U"Invalid left argument");
    chosen = ParseEncodingName(CharacterText(left));
    if (!chosen) NATIVE_ERROR(kDomainError, U"Invalid file encoding type");
  }
  FileArgument file = ReadFileArgument(right);
  std::string bytes = ReadWholeFile(file.name);
  EncodingChoice encoding;
  size_t markLength = 0;
  if (chosen) {
    encoding = *chosen;
    std::string_view mark = ByteOrderMark(encoding.encoding);
    encoding.byteOrderMark = !mark.empty() && std::string_view(bytes).starts_with(mark);
    if (encoding.byteOrderMark) markLength = mark.size();
  } else {
    encoding.encoding = DetectEncoding(bytes, markLength);
    encoding.byteOrderMark = markLength > 0;
  }
  if (file.flags == 1 && encoding.encoding == TextEncoding::kUtf8) {
    const std::string_view content = std::string_view(bytes).substr(markLength);
    std::vector<uint32_t> lineEnding;
    const std::vector<LineSpan> lines = Utf8Lines(content, lineEnding);
    std::u32string scratch;
    return {MakeNested({3}, [&](uint64_t i) -> Ref {
      if (i == 1) return MakeText(EncodingName(encoding));
      if (i == 2) return IntegerVector(lineEnding);
      return MakeNested({static_cast<uint32_t>(lines.size())},
                        [&](uint64_t k) { return Utf8LineText(content, lines[k], scratch); });
    })};
  }
  std::u32string text;
  if (!DecodeText(std::string_view(bytes).substr(markLength), encoding.encoding, text))
    NATIVE_ERROR(kTranslationError, U"Unable to decode the file");
  std::string().swap(bytes);
  std::vector<uint32_t> lineEnding = NormaliseLineEndings(text);
  std::vector<std::u32string_view> lines;
  if (file.flags == 1) {
    std::u32string_view rest = text;
    while (!rest.empty()) {
      size_t end = std::min(rest.find(U'\n'), rest.size());
      lines.push_back(rest.substr(0, end));
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
  }
  return {MakeNested({3}, [&](uint64_t i) -> Ref {
    if (i == 1) return MakeText(EncodingName(encoding));
    if (i == 2) return IntegerVector(lineEnding);
    if (file.flags == 0) return MakeText(text);
    return MakeNested({static_cast<uint32_t>(lines.size())}, [&](uint64_t k) { return MakeText(lines[k]); });
  })};
}

// ---- ⎕NPUT ---------------------------------------------------------------------------------------

struct TextToWrite {
  Ref lines = 0;  // the vector of lines (borrowed: read before anything is allocated)
  std::u32string text;                // written as it is, LF becoming the line ending
  bool asLines = false;
  EncodingChoice encoding{TextEncoding::kUtf8, false};
  std::u32string lineEnding = U"\r\n";
};

bool IsLineItem(Ref item) { return IsText(item) || (IsArray(item) && RankOf(TypeWord(item)) == 1 && ElementCount(item) == 0); }

void ReadContent(Ref content, TextToWrite& out) {
  if (IsText(content)) {
    out.text = CharacterText(content);
    return;
  }
  if (!IsArray(content) || RankOf(TypeWord(content)) != 1 ||
      (KindOf(TypeWord(content)) != kKindNested && ElementCount(content) != 0))
    NATIVE_ERROR(kDomainError, U"Invalid text array");
  out.asLines = true;
  if (KindOf(TypeWord(content)) != kKindNested) return;
  for (uint64_t i = 0; i < ElementCount(content); ++i)
    if (!IsLineItem(ItemOf(content, i))) NATIVE_ERROR(kDomainError, U"Invalid text array");
  out.lines = content;
}

// Appends a line of 1-byte characters as UTF-8: runs of ASCII are copied as they are.
void AppendUtf8(const uint8_t* chars, uint64_t n, std::string& out) {
  for (uint64_t i = 0; i < n;) {
    uint64_t run = i;
    while (run < n && chars[run] < 0x80) ++run;
    out.append(reinterpret_cast<const char*>(chars + i), run - i);
    for (i = run; i < n && chars[i] >= 0x80; ++i) {
      out.push_back(static_cast<char>(0xC0 | chars[i] >> 6));
      out.push_back(static_cast<char>(0x80 | (chars[i] & 0x3F)));
    }
  }
}

void ReadLineEnding(Ref value, TextToWrite& out) {
  std::vector<int64_t> codes;
  if (!IsSimpleVectorOrScalar(value) || !ReadIntegers(value, codes)) NATIVE_ERROR(kDomainError, U"Invalid line ending");
  if (codes.empty()) return;
  bool known = codes == std::vector<int64_t>{10} || codes == std::vector<int64_t>{13} ||
               codes == std::vector<int64_t>{13, 10} || codes == std::vector<int64_t>{133};
  if (!known) NATIVE_ERROR(kDomainError, U"Invalid line ending");
  out.lineEnding.assign(codes.begin(), codes.end());
}

TextToWrite ReadTextToWrite(Ref left) {
  TextToWrite out;
  if (!IsRef(left)) NATIVE_ERROR(kDomainError, U"Missing left argument");
  if (IsText(left)) {
    ReadContent(left, out);
    return out;
  }
  if (!IsArray(left) || KindOf(TypeWord(left)) != kKindNested || RankOf(TypeWord(left)) > 1 || ItemCount(left) > 3)
    NATIVE_ERROR(kDomainError, U"Left argument should be content, optional encoding and optional line ending");
  uint64_t n = ItemCount(left);
  ReadContent(ItemOf(left, 0), out);
  if (n > 1) {
    Ref name = ItemOf(left, 1);
    std::optional<EncodingChoice> choice = IsText(name) ? ParseEncodingName(CharacterText(name)) : std::nullopt;
    if (!choice) NATIVE_ERROR(kDomainError, U"Invalid file encoding type");
    out.encoding = *choice;
  }
  if (n > 2) ReadLineEnding(ItemOf(left, 2), out);
  if (out.lineEnding == U"\x85" && !IsUnicode(out.encoding.encoding))
    NATIVE_ERROR(kDomainError, U"NEL line ending (133) not supported by the selected file encoding");
  return out;
}

// Encodes the text a piece at a time, each LF (or the end of each line) becoming the line ending.
std::string EncodedFile(const TextToWrite& t) {
  const TextEncoding encoding = t.encoding.encoding;
  std::string bytes(t.encoding.byteOrderMark ? ByteOrderMark(encoding) : "");
  std::string ending;
  bool encoded = EncodeText(t.lineEnding, encoding, ending);
  auto piece = [&](std::u32string_view text) {
    encoded = encoded && EncodeText(text, encoding, bytes);
  };
  if (t.asLines) {
    const uint64_t count = IsRef(t.lines) ? ElementCount(t.lines) : 0;
    for (uint64_t i = 0; i < count; ++i) {
      Ref line = ItemOf(t.lines, i);
      if (encoding == TextEncoding::kUtf8 && ElementOf(TypeWord(line)) == kChar8)
        AppendUtf8(DataOf<uint8_t>(line), ElementCount(line), bytes);
      else
        piece(CharacterText(line));
      bytes += ending;
    }
  } else {
    std::u32string_view rest = t.text;
    for (size_t lf = rest.find(U'\n'); lf != std::u32string_view::npos; lf = rest.find(U'\n')) {
      piece(rest.substr(0, lf));
      bytes += ending;
      rest.remove_prefix(lf + 1);
    }
    piece(rest);
  }
  if (!encoded) NATIVE_ERROR(kTranslationError, U"Unable to encode the file");
  return bytes;
}

[[noreturn]] void CannotCreate(int err, int line) {
  SignalError(kFileNameError, MessageRow(kCategoryNativeFiles, U"Unable to create file"), kOsErrorErrno, err, kUnit, line);
}

[[noreturn]] void CannotWrite(int err, int line) {
  uint32_t en = err == ENOSPC || err == EDQUOT ? kFileSystemNoSpace : FileErrorForErrno(err);
  SignalError(en, MessageRow(kCategoryNativeFiles, U"Unable to write to file"), kOsErrorErrno, err, kUnit, line);
}

// A temporary file beside the target that is removed unless it has become the target.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) : path_(DirectoryOf(target) + "/.vantor-XXXXXX") {
    fd_ = FileDescriptor(mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_) path_.clear();
  }
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  void Kept() { path_.clear(); }

 private:
  std::string path_;
  FileDescriptor fd_;
};

// Overwrites an existing file in place, for when no file can be made beside it. A failure part way
// is reported; the file is then as far as the write got.
void WriteInPlace(const std::string& path, std::string_view bytes) {
  FileDescriptor fd(open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!fd) CannotCreate(errno, __LINE__);
  if (!WriteAt(fd.get(), 0, bytes)) CannotWrite(errno, __LINE__);
}

// Writes a whole file so that no reader ever sees it half written: the bytes go to a temporary
// file beside it, which is renamed over the target. Without `replace` the name is claimed first,
// exclusively, so an existing file is never touched.
void WriteWholeFile(const std::u32string& name, std::string_view bytes, bool replace) {
  std::string path = PathOf(name);
  char resolved[PATH_MAX];
  struct stat link;
  if (replace && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && realpath(path.c_str(), resolved))
    path = resolved;  // write through a symbolic link, keeping the link
  if (path.empty() || path.back() == '/') CannotCreate(EISDIR, __LINE__);
  mode_t mode = NewFileMode(path);
  if (!replace) {
    FileDescriptor claim(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!claim) CannotCreate(errno, __LINE__);
  } else {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) CannotCreate(EISDIR, __LINE__);
  }
  TemporaryFile temporary(path);
  auto abandon = [&](int err, int line, bool writing) {
    if (!replace) unlink(path.c_str());
    if (writing) CannotWrite(err, line);
    CannotCreate(err, line);
  };
  if (temporary.path().empty() && replace && (errno == EACCES || errno == EPERM))
    return WriteInPlace(path, bytes);  // a directory closed to new files: the file itself may be open
  if (temporary.path().empty()) abandon(errno, __LINE__, false);
  if (fchmod(temporary.fd(), mode) != 0) {}  // a file system without modes keeps its own
  if (!WriteAt(temporary.fd(), 0, bytes)) abandon(errno, __LINE__, true);
  if (rename(temporary.path().c_str(), path.c_str()) != 0) abandon(errno, __LINE__, false);
  temporary.Kept();
}

// content ⎕NPUT name or (name flags): writes the text; flags 1 replaces an existing file. The
// result is the number of bytes written.
CallResult QuadNPUT(const Ref& left, const Ref& right) {
  FileArgument file = ReadFileArgument(right);
  TextToWrite text = ReadTextToWrite(left);  // its lines are read where they lie, so nothing comes between
  std::string bytes = EncodedFile(text);
  WriteWholeFile(file.name, bytes, file.flags == 1);
  return Shy(NumberVector({static_cast<double>(bytes.size())}));
}

}  // namespace

void InitialiseNativeFiles() {
  // A write past the process's file-size limit (ulimit -f) then fails with EFBIG, which becomes
  // FILE FULL, instead of ending the interpreter.
  signal(SIGXFSZ, SIG_IGN);
  UntieEverything();
  RegisterWorkspaceForgetter(UntieEverything);
  InstallSystemFunction(U"NTIE", nullptr, QuadNTIE);
  InstallSystemFunction(U"NCREATE", nullptr, QuadNCREATE);
  InstallSystemFunction(U"NUNTIE", QuadNUNTIE, nullptr);
  InstallSystemFunction(U"NREAD", QuadNREAD, nullptr);
  InstallSystemFunction(U"NAPPEND", nullptr, QuadNAPPEND);
  InstallSystemFunction(U"NREPLACE", nullptr, QuadNREPLACE);
  InstallSystemFunction(U"NSIZE", QuadNSIZE, nullptr);
  InstallSystemFunction(U"NRESIZE", nullptr, QuadNRESIZE);
  InstallSystemFunction(U"NRENAME", nullptr, QuadNRENAME);
  InstallSystemFunction(U"NERASE", nullptr, QuadNERASE);
  InstallSystemFunction(U"NLOCK", nullptr, QuadNLOCK);
  InstallSystemFunction(U"NXLATE", QuadNXLATE, QuadNXLATE);
  InstallSystemFunction(U"NGET", QuadNGET, QuadNGET);
  InstallSystemFunction(U"NPUT", nullptr, QuadNPUT);
  InstallNiladicFunction(U"NNUMS", QuadNNUMS);
  InstallNiladicFunction(U"NNAMES", QuadNNAMES);
}

// ---- Paths ----------------------------------------------------------------------------------------

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

uint32_t NewFileMode(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return info.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

void SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace vantor
