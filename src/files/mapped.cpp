// ⎕MAP reads a file's bytes from an offset into an array of the requested type and shape; the
// shape is checked against the file's size first, so a file that is too small, or too large for an
// array, is refused before anything is allocated.
#include "files/mapped.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "files/qnfiles.h"
#include "base/platform/regularfile.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/messages.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/memory1.h"

namespace vantor {

static constexpr char kUnit[] = "mapped";

namespace {

#define MAPPING_ERROR(text) SIGNAL_MESSAGE_IN(kDomainError, kCategoryFileMapping, text)

struct MapRequest {
  std::u32string name;
  uint64_t offset = 0;
};

// name, or (name mode), or (name mode offset).
MapRequest ReadMapRequest(Ref right) {
  MapRequest request;
  if (IsText(right)) {
    request.name = CharacterText(right);
    return request;
  }
  uint64_t n = IsArray(right) ? ElementCount(right) : 0;
  if (!IsArray(right) || KindOf(TypeWord(right)) != kKindNested || RankOf(TypeWord(right)) != 1 || n < 2 || n > 3 ||
      !IsText(DataOf<Ref>(right)[0]) || !IsText(DataOf<Ref>(right)[1]))
    SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid right argument");
  request.name = CharacterText(DataOf<Ref>(right)[0]);
  std::u32string mode = CharacterText(DataOf<Ref>(right)[1]);
  if (mode == U"W" || mode == U"w") SIGNAL(kNonceError);
  if (mode != U"R" && mode != U"r") SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid mode");
  if (n == 3) {
    std::vector<int64_t> offset;
    if (!ReadIntegers(DataOf<Ref>(right)[2], offset) || offset.size() != 1 || offset[0] < 0)
      SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid file offset");
    request.offset = static_cast<uint64_t>(offset[0]);
  }
  return request;
}

// The shape of the result from the left argument's axes and the elements the file holds.
std::vector<uint32_t> ResultShape(const std::vector<int64_t>& axes, uint64_t available, const ConversionCode& c) {
  if (axes.empty()) {
    if (available > 0xFFFFFFFFull) MAPPING_ERROR(U"File too big");
    return {static_cast<uint32_t>(available)};
  }
  if (axes.size() > kMaxRank) SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid left argument");
  uint64_t known = 1;
  int open = -1;
  for (size_t i = 0; i < axes.size(); ++i) {
    if (axes[i] == -1) {
      if (open >= 0) MAPPING_ERROR(U"Shape needs to be fully specified");
      open = static_cast<int>(i);
    } else if (axes[i] < 0 || axes[i] > 0xFFFFFFFFll) {
      SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid left argument");
    } else {
      known = axes[i] == 0 ? 0 : known > 0xFFFFFFFFull ? known : known * static_cast<uint64_t>(axes[i]);
    }
  }
  if (open >= 0 && known == 0) MAPPING_ERROR(U"Shape needs to be fully specified");
  std::vector<uint32_t> shape(axes.begin(), axes.end());
  if (open >= 0) {
    uint64_t axis = available / known;
    if (axis > 0xFFFFFFFFull) MAPPING_ERROR(U"File too big");
    shape[static_cast<size_t>(open)] = static_cast<uint32_t>(axis);
    known *= axis;
  }
  if (known > 0xFFFFFFFFull) MAPPING_ERROR(U"File too big");
  if (known > available) {
    if (c.code == 11) MAPPING_ERROR(U"Too many boolean elements");
    MAPPING_ERROR(U"File too small");
  }
  return shape;
}

CallResult QuadMAP(const Ref& left, const Ref& right) {
  std::vector<int64_t> codeAndShape;
  if (!IsRef(left)) SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Missing left argument");
  if (!IsArray(left) || RankOf(TypeWord(left)) > 1 || !ReadIntegers(left, codeAndShape) || codeAndShape.empty())
    SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid left argument");
  const ConversionCode& c = ConversionCodeInfo(codeAndShape[0]);
  MapRequest request = ReadMapRequest(right);
  std::string path = ToUtf8(request.name);
  if (request.name.empty() || request.name.find(U'\0') != std::u32string::npos)
    SignalFileSystemError(MessageRow(kCategoryFileMapping, U"Cannot map file"), ENOENT, kUnit, __LINE__);
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) SignalFileSystemError(MessageRow(kCategoryFileMapping, U"Cannot map file"), errno, kUnit, __LINE__);
  struct stat info;
  if (fstat(fd.get(), &info) != 0)
    SignalFileSystemError(MessageRow(kCategoryFileMapping, U"GetFileSizeEx() failed"), errno, kUnit, __LINE__);
  if (!S_ISREG(info.st_mode))
    SignalFileSystemError(MessageRow(kCategoryFileMapping, U"Cannot map file"), S_ISDIR(info.st_mode) ? EISDIR : ENODEV,
                          kUnit, __LINE__);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (request.offset > size) MAPPING_ERROR(U"File too small");
  const uint64_t available = (size - request.offset) * 8 / c.bits;
  std::vector<uint32_t> shape = ResultShape({codeAndShape.begin() + 1, codeAndShape.end()}, available, c);
  const uint32_t rank = static_cast<uint32_t>(shape.size());
  uint64_t count = 1;
  for (uint32_t axis : shape) count *= axis;
  if (count * c.bits / 8 > g_space->limitBytes) SIGNAL(kWsFull);
  Temporaries hold;
  hold[0] = AllocArray(c.type, rank, count);
  for (uint32_t i = 0; i < rank; ++i) ShapeOf(hold[0])[i] = shape[i];
  if (ReadElementsInto(hold[0], fd.get(), request.offset, c, count) < count) MAPPING_ERROR(U"File too small");
  return {hold.Take(0)};
}

}  // namespace

void InitialiseMappedFiles() { InstallSystemFunction(U"MAP", nullptr, QuadMAP); }

}  // namespace vantor
