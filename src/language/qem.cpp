// Error messages: the ⎕EM text of an error number and the ⎕EM function. The extended message table
// itself is constant data in the header, so that message rows resolve while compiling.
#include "language/qem.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "language/dmx.h"
#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "qem";

static constexpr bool CategoriesTileTheRows() {
  uint32_t next = 1;
  for (const MessageCategoryInfo& info : kMessageCategories) {
    if (info.firstRow != next && info.count != 0) return false;
    next = info.firstRow + info.count;
  }
  return next == kMessageRowCount + 1;
}
static_assert(CategoriesTileTheRows(), "every row belongs to exactly one category, in category order");

struct ErrorText {
  uint32_t errorNumber;
  std::u32string_view text;
};

// Sorted by number: looked up by binary search.
static constexpr ErrorText kErrorTexts[] = {
    {1, U"WS FULL"},
    {2, U"SYNTAX ERROR"},
    {3, U"INDEX ERROR"},
    {4, U"RANK ERROR"},
    {5, U"LENGTH ERROR"},
    {6, U"VALUE ERROR"},
    {7, U"FORMAT ERROR"},
    {10, U"LIMIT ERROR"},
    {11, U"DOMAIN ERROR"},
    {12, U"HOLD ERROR"},
    {13, U"OPTION ERROR"},
    {15, U"LST FULL"},
    {16, U"NONCE ERROR"},
    {17, U"ACCESS ERROR"},
    {18, U"FILE TIE ERROR"},
    {19, U"FILE ACCESS ERROR"},
    {20, U"FILE INDEX ERROR"},
    {21, U"FILE FULL"},
    {22, U"FILE NAME ERROR"},
    {23, U"FILE DAMAGED"},
    {24, U"FILE TIED"},
    {25, U"FILE TIED REMOTELY"},
    {26, U"FILE SYSTEM ERROR"},
    {28, U"FILE SYSTEM NOT AVAILABLE"},
    {30, U"FILE SYSTEM TIES USED UP"},
    {31, U"FILE TIE QUOTA USED UP"},
    {32, U"FILE NAME QUOTA USED UP"},
    {34, U"FILE SYSTEM NO SPACE"},
    {35, U"FILE ACCESS ERROR - CONVERTING FILE"},
    {36, U"INCOMPATIBLE ARRAY"},
    {38, U"FILE COMPONENT DAMAGED"},
    {52, U"FIELD CONTENTS RANK ERROR"},
    {53, U"FIELD CONTENTS TOO MANY COLUMNS"},
    {54, U"FIELD POSITION ERROR"},
    {55, U"FIELD SIZE ERROR"},
    {56, U"FIELD CONTENTS/TYPE MISMATCH"},
    {57, U"FIELD TYPE/BEHAVIOUR UNRECOGNISED"},
    {58, U"FIELD ATTRIBUTES RANK ERROR"},
    {59, U"FIELD ATTRIBUTES LENGTH ERROR"},
    {60, U"FULL-SCREEN ERROR"},
    {61, U"KEY CODE UNRECOGNISED"},
    {62, U"KEY CODE RANK ERROR"},
    {63, U"KEY CODE TYPE ERROR"},
    {70, U"FORMAT FILE ACCESS ERROR"},
    {71, U"FORMAT FILE ERROR"},
    {72, U"NO PIPES"},
    {73, U"LOST SLAVE"},
    {84, U"TRAP ERROR"},
    {86, U"FUTURE ERROR"},
    {90, U"EXCEPTION"},
    {91, U"EXTERNAL DLL EXCEPTION"},
    {92, U"TRANSLATION ERROR"},
    {93, U"UNACCEPTABLE CHARACTER"},
    {94, U"CHARACTER NOT REPRESENTABLE IN QUORNEL"},
    {98, U"AFFIRM ERROR"},
    {99, U"INTERNAL ERROR"},
    {1001, U""},
    {1002, U""},
    {1003, U"INTERRUPT"},
    {1004, U"INPUT INTERRUPT"},
    {1005, U"EOF INTERRUPT"},
    {1006, U"TIMEOUT"},
    {1007, U"RESIZE"},
    {1008, U"DEADLOCK"},
    {32772, U""},
    {32774, U"DEBUG CUTSTACK"},
    {32775, U"DEBUG RESET"},
};
static_assert(std::ranges::is_sorted(kErrorTexts, {}, &ErrorText::errorNumber));

static constexpr uint32_t kForkFailure = 76;
static constexpr size_t kErrnoTextLimit = 255;

// 76 names the reason a process could not be forked, which only errno still knows.
static std::u32string_view ForkFailureText(int error) {
  if (error == 11) return U"PROCESSOR TABLE FULL";
  if (error == 12) return U"INSUFFICIENT SWAP SPACE";
  return U"UNABLE TO FORK PROCESS";
}

static std::u32string FileErrnoText(uint32_t errorNumber) {
  int error = static_cast<int>(errorNumber - 100);
  std::u32string systemText = OsErrorText(kOsErrorErrno, error).substr(0, kErrnoTextLimit);
  return FormatMessage(U"FILE ERROR %u %ls", {error, systemText});
}

static std::u32string UncutMessage(uint32_t errorNumber) {
  if (errorNumber == kForkFailure) return std::u32string(ForkFailureText(errno));
  if (errorNumber > 100 && errorNumber < 200) return FileErrnoText(errorNumber);
  const ErrorText* entry = std::ranges::lower_bound(kErrorTexts, errorNumber, {}, &ErrorText::errorNumber);
  if (entry != std::end(kErrorTexts) && entry->errorNumber == errorNumber) return std::u32string(entry->text);
  return FormatMessage(U"ERROR %u", {errorNumber});
}

std::u32string ErrorMessage(uint32_t errorNumber) {
  std::u32string text = UncutMessage(errorNumber);
  if (text.size() > kErrorMessageLimit) text.resize(kErrorMessageLimit);
  return text;
}

// ---- ⎕EM -------------------------------------------------------------------------------------------

CallResult QuadEM(const Ref&, const Ref& right) {
  std::vector<int64_t> numbers;
  if (!ReadIntegers(right, numbers)) SIGNAL(kDomainError);
  for (int64_t n : numbers)
    if (n < 0 || n > UINT32_MAX) SIGNAL(kDomainError);
  auto message = [&](uint64_t i) { return MakeText(ErrorMessage(static_cast<uint32_t>(numbers[i]))); };
  uint32_t rank = RankOf(TypeWord(right));
  if (rank == 0) return {message(0)};
  const uint32_t* shape = ShapeOf(right);
  return {MakeNested(std::vector<uint32_t>(shape, shape + rank), message)};
}

}  // namespace vantor
