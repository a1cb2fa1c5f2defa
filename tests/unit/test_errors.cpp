// Errors: the ⎕EM texts, the extended message table, message formatting, what SignalError records in
// ⎕EN and ⎕DMX, the values ⎕DMX, ⎕EN, ⎕DM and ⎕EM give, ⎕SIGNAL's argument forms and errors, and the
// three-line error display.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "heap_fixture.h"
#include "language/dmx.h"
#include "language/qem.h"
#include "language/quadsignal.h"
#include "language/space.h"
#include "language/trap.h"

namespace vantor::test {
namespace {

using namespace argcheck;

constexpr char kUnit[] = "test_errors";
using Lines = std::vector<std::u32string>;

// Runs `f`, which must raise an APL error, and returns the error.
AplError Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const AplError& e) {
    return e;
  }
  ADD_FAILURE() << "no error was raised";
  return AplError(0, 0, 0, 0, "", 0);
}

// ---- Tables ----------------------------------------------------------------------------------------

TEST(ErrorTables, EmTextsOfNumbers) {
  struct Case {
    uint32_t en;
    std::u32string text;
  } cases[] = {
      {1, U"WS FULL"},
      {2, U"SYNTAX ERROR"},
      {11, U"DOMAIN ERROR"},
      {25, U"FILE TIED REMOTELY"},
      {35, U"FILE ACCESS ERROR - CONVERTING FILE"},
      {56, U"FIELD CONTENTS/TYPE MISMATCH"},
      {94, U"CHARACTER NOT REPRESENTABLE IN QUORNEL"},
      {99, U"INTERNAL ERROR"},
      {1001, U""},
      {1002, U""},
      {1003, U"INTERRUPT"},
      {1008, U"DEADLOCK"},
      {32772, U""},
      {32775, U"DEBUG RESET"},
      {0, U"ERROR 0"},
      {8, U"ERROR 8"},
      {100, U"ERROR 100"},
      {200, U"ERROR 200"},
      {500, U"ERROR 500"},
      {4294967295u, U"ERROR 4294967295"},
      {101, U"FILE ERROR 1 Operation not permitted"},
      {102, U"FILE ERROR 2 No such file or directory"},
      {113, U"FILE ERROR 13 Permission denied"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorMessage(c.en), c.text) << c.en;
}

TEST(ErrorTables, ForkFailureTextFollowsErrno) {
  struct Case {
    int error;
    std::u32string text;
  } cases[] = {{11, U"PROCESSOR TABLE FULL"},
               {12, U"INSUFFICIENT SWAP SPACE"},
               {0, U"UNABLE TO FORK PROCESS"},
               {2, U"UNABLE TO FORK PROCESS"}};
  for (const Case& c : cases) {
    errno = c.error;
    EXPECT_EQ(ErrorMessage(76), c.text) << c.error;
  }
}

TEST(ErrorTables, ExtendedRowsByNumber) {
  struct Case {
    uint32_t row;
    MessageCategory category;
    uint32_t enx;
    std::u32string_view text;
  } cases[] = {
      {1, kCategoryGeneral, 1, U"Divide by zero"},
      {62, kCategoryGeneral, 62, U"Operation cannot be completed with an \"external\" call on the stack"},
      {69, kCategoryGeneral, 69, U"The program could not be created"},
      {70, kCategoryGui, 1, U"%ls%ls"},
      {91, kCategoryInternal, 1, U"\"%ls\" is false"},
      {97, kCategoryDotNet, 2, U"A .NET exception has occurred. Check ⎕EXCEPTION for details"},
      {197, kCategorySearchReplace, 38, U"Invalid pattern: %ls"},
      {198, kCategoryComponentFiles, 1, U"Tie number not in use"},
      {301, kCategoryComponentFiles, 104, U"Component length miscalculation"},
      {355, kCategoryNativeFiles, 54, U"NEL line ending (133) not supported by the selected file encoding"},
      {410, kCategoryIsolates, 4, U"isolate function %ls does not exist or is not valid"},
      {411, kCategoryWordExpansion, 1, U"Left argument is not NOCMD or SHOWERR or UNDEF"},
      {443, kCategoryDevelopment, 1, U"The editor can only be used within a Session"},
      {513, kCategoryLoadSave, 43, U"64-bit version is needed to load this workspace"},
      {514, kCategoryKite, 1, U"Disabled in this environment"},
      {520, kCategorySourceFiles, 5, U"The prefix \"file://\" was expected"},
      {521, kCategorySourceFiles, 6, U"The type of code in \"%ls\" could not be inferred"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kExtendedMessages[c.row], c.text) << c.row;
    EXPECT_EQ(CategoryOfRow(c.row), c.category) << c.row;
    EXPECT_EQ(IndexInCategory(c.row), c.enx) << c.row;
  }
  EXPECT_EQ(CategoryOfRow(0), kCategoryNone);
  EXPECT_EQ(IndexInCategory(0), 0u);
  EXPECT_EQ(CategoryOfRow(kMessageRowCount + 1), kCategoryNone);
}

TEST(ErrorTables, CategoriesAndTheirNames) {
  EXPECT_EQ(kMessageCategoryCount, 30u);
  EXPECT_EQ(kMessageCategories[kCategoryNone].name, U"");
  EXPECT_EQ(kMessageCategories[kCategoryDotNet].name, U".NET interface");
  EXPECT_EQ(kMessageCategories[kCategoryUnused].name, U"unused");
  EXPECT_EQ(kMessageCategories[kCategoryUnused].count, 0u);
  EXPECT_EQ(kMessageCategories[kCategorySourceFiles].name, U"Source Code Files");
  uint32_t total = 0;
  for (const MessageCategoryInfo& info : kMessageCategories) total += info.count;
  EXPECT_EQ(total, 521u);
}

TEST(ErrorTables, RowsByText) {
  static_assert(MessageRow(U"Divide by zero") == 1);
  static_assert(MessageRow(U"Rank of resultant array would exceed maximum permitted") == 46);
  static_assert(MessageRow(U"Component length miscalculation") == 301);
  static_assert(MessageRow(kCategoryComponentFiles, U"Invalid tie number") == 200);
  static_assert(MessageRow(kCategoryNativeFiles, U"Invalid tie number") == 304);
  static_assert(MessageRow(kCategoryGeneral, U"%ls") == 37);
  static_assert(MessageRow(kCategoryIsolates, U"%ls") == 408);
  // A text that several categories share is found only within a category.
  EXPECT_EQ(FindMessageRowIn(1, kMessageRowCount, U"Invalid left argument"), 0u);
  EXPECT_EQ(FindMessageRowIn(1, kMessageRowCount, U"Divide by zero "), 0u);
  // Within its category every text is unique, so each row can be named by its text.
  for (uint32_t row = 1; row <= kMessageRowCount; ++row) {
    const MessageCategoryInfo& info = kMessageCategories[CategoryOfRow(row)];
    EXPECT_EQ(FindMessageRowIn(info.firstRow, info.firstRow + info.count - 1, kExtendedMessages[row]), row);
  }
}

TEST(ErrorTables, FormattingFillsPlaceholders) {
  EXPECT_EQ(FormatMessage(U"%ls%ls", {U"Invalid ", std::u32string(U"property")}), U"Invalid property");
  EXPECT_EQ(FormatMessage(kExtendedMessages[161], {2, -7, U"missing )"}),
            U"Regular expression 2 (indexed from 0), offset -7: missing )");
  EXPECT_EQ(FormatMessage(kExtendedMessages[36], {9054u}),
            U"Unicode character ⎕UCS 9054 has no equivalent in Quornel (not in ⎕AVU)");
  EXPECT_EQ(FormatMessage(kExtendedMessages[182], {0x2395}),
            U"Non-Unicode interpreter: invalid character \\x{2395} in result");
  EXPECT_EQ(FormatMessage(kExtendedMessages[71], {3}),
            U"There was an error processing the property at position 3 of the right argument");
  EXPECT_EQ(FormatMessage(U"ERROR %u", {4000000000u}), U"ERROR 4000000000");
  std::u32string failure = U"An error occurred retrieving the error message.";
  EXPECT_EQ(FormatMessage(U"%ls%ls", {U"only one"}), failure);
  EXPECT_EQ(FormatMessage(U"Internal error %d", {U"text"}), failure);
  EXPECT_EQ(FormatMessage(U"Option '%ls': invalid value", {5}), failure);
  EXPECT_EQ(FormatMessage(U"50%", {}), failure);
}

// ---- Signalling and the record ---------------------------------------------------------------------

// Each test starts with a thread that has seen no error and with no trap search installed.
class ErrorStateTest : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    SetErrorState(&state_);
  }
  void TearDown() override {
    SetTrapSearch(nullptr);
    SetErrorState(nullptr);
    HeapTest::TearDown();
  }
  static const ErrorRecord& Dmx() { return ErrorState().dmx; }

  ThreadErrorState state_;
};

using ErrorSignal = ErrorStateTest;

TEST_F(ErrorSignal, RecordsTheErrorBeforeThrowing) {
  int line = __LINE__ + 1;
  AplError e = Raised([] { SIGNAL_MESSAGE(kDomainError, U"Divide by zero"); });
  EXPECT_EQ(e.errorNumber, kDomainError);
  EXPECT_EQ(e.messageRow, 1u);
  EXPECT_FALSE(e.trapped);
  EXPECT_FALSE(e.raisedBySignal);
  EXPECT_EQ(ErrorState().en, 11u);
  EXPECT_TRUE(Dmx().filled);
  EXPECT_EQ(Dmx().en, 11u);
  EXPECT_EQ(Dmx().message, U"Divide by zero");
  EXPECT_EQ(Dmx().enx, 1u);
  EXPECT_EQ(Dmx().category, U"General");
  EXPECT_EQ(Dmx().unit, "test_errors");
  EXPECT_EQ(Dmx().line, line);
  EXPECT_EQ(Dmx().vendor, U"Vantor");
  EXPECT_EQ(Dmx().osKind, 0);
  EXPECT_EQ(Dmx().osText, U"");
  EXPECT_EQ(ErrorState().dm, (Lines{U"DOMAIN ERROR", U"", U""}));
}

TEST_F(ErrorSignal, RecordedNumberMapsTheFileErrorVariants) {
  struct Case {
    uint32_t signalled, recorded;
    std::u32string shown;
  } cases[] = {{25, 24, U"FILE TIED REMOTELY"},
               {35, 19, U"FILE ACCESS ERROR - CONVERTING FILE"},
               {24, 24, U"FILE TIED"},
               {11, 11, U"DOMAIN ERROR"}};
  for (const Case& c : cases) {
    AplError e = Raised([&] { SIGNAL(c.signalled); });
    EXPECT_EQ(e.errorNumber, c.signalled);
    EXPECT_EQ(ErrorState().en, c.recorded);
    EXPECT_EQ(Dmx().en, c.recorded);
    EXPECT_EQ(DisplayMessage(Dmx()), c.shown);
  }
}

TEST_F(ErrorSignal, ArgumentsFillTheMessage) {
  Raised([] { SIGNAL_MESSAGE(kDomainError, U"I-Beam function %d has been withdrawn", 8); });
  EXPECT_EQ(Dmx().message, U"I-Beam function 8 has been withdrawn");
  std::u32string library = U"libfoo.so";
  Raised([&] {
    SIGNAL_MESSAGE(kDomainError, U"Shared library could not be loaded %ls %ls", library, U"(not found)");
  });
  EXPECT_EQ(Dmx().message, U"Shared library could not be loaded libfoo.so (not found)");
  EXPECT_EQ(Dmx().category, U"Name association");
}

TEST_F(ErrorSignal, OperatingSystemErrorAndSourceUnit) {
  uint32_t row = MessageRow(kCategoryComponentFiles, U"Unable to seek in file");
  Raised([&] { SignalError(kFileSystemError, row, kOsErrorErrno, ENOENT, "src/files/qfile1.cpp", 42); });
  EXPECT_EQ(Dmx().osKind, kOsErrorErrno);
  EXPECT_EQ(Dmx().osCode, ENOENT);
  EXPECT_EQ(Dmx().osText, U"No such file or directory");
  EXPECT_EQ(Dmx().unit, "qfile1.cpp");
  EXPECT_EQ(Dmx().line, 42);
  EXPECT_EQ(DmxOutputText(Dmx()), U"Unable to seek in file (\"No such file or directory\")");

  Raised([] { SignalError(kDomainError, 0, kOsErrorSystem, 0, "C:\\vantor\\src\\ws.cpp", 7); });
  EXPECT_EQ(Dmx().osKind, kOsErrorSystem);
  EXPECT_EQ(Dmx().osText, U"");
  EXPECT_EQ(Dmx().unit, "ws.cpp");
  EXPECT_EQ(DmxOutputText(Dmx()), U"");

  std::string longUnit = "dir/" + std::string(70, 'u');
  Raised([&] { SignalError(kDomainError, 0, 0, 0, longUnit.c_str(), 1); });
  EXPECT_EQ(Dmx().unit, std::string(63, 'u'));
}

TEST_F(ErrorSignal, HelpAddressNamesCategoryAndIndex) {
  struct Case {
    uint32_t row;
    std::u32string tail;
  } cases[] = {{1, U"/15.0/General/1"},
               {97, U"/15.0/%2ENETinterface/2"},
               {197, U"/15.0/SearchReplace/38"},
               {521, U"/15.0/SourceCodeFiles/6"}};
  for (const Case& c : cases) {
    std::u32string address = HelpAddress(c.row);
    EXPECT_TRUE(address.starts_with(U"https://")) << c.row;
    EXPECT_TRUE(address.ends_with(c.tail)) << c.row;
  }
  EXPECT_EQ(HelpAddress(0), U"");
}

TEST_F(ErrorSignal, ExceptionWithoutRowGetsTheDotNetMessage) {
  Raised([] { SIGNAL(kException); });
  EXPECT_EQ(Dmx().message, U"A .NET exception has occurred. Check ⎕EXCEPTION for details");
  EXPECT_EQ(Dmx().category, U".NET interface");
  EXPECT_EQ(Dmx().enx, 2u);
}

int g_searches = 0;
uint32_t g_enSeenBySearch = 0;
bool g_trapTakesIt = false;
bool CountingSearch(const AplError&) {
  ++g_searches;
  g_enSeenBySearch = ErrorState().en;
  return g_trapTakesIt;
}

TEST_F(ErrorSignal, TrapSearchSeesTheRecordedErrorAndDecides) {
  g_searches = 0;
  SetTrapSearch(CountingSearch);
  g_trapTakesIt = true;
  AplError trapped = Raised([] { SIGNAL(kFileTiedRemotely); });
  EXPECT_TRUE(trapped.trapped);
  EXPECT_EQ(g_enSeenBySearch, 24u) << "⎕EN is recorded before the search";
  g_trapTakesIt = false;
  EXPECT_FALSE(Raised([] { SIGNAL(kIndexError); }).trapped);
  EXPECT_EQ(g_searches, 2);

  // Unwind requests are neither recorded nor searched.
  AplError unwind = Raised([] { SIGNAL(kSilentUnwind); });
  EXPECT_EQ(unwind.errorNumber, kSilentUnwind);
  EXPECT_FALSE(unwind.trapped);
  EXPECT_EQ(g_searches, 2);
  EXPECT_EQ(ErrorState().en, kIndexError);
  EXPECT_EQ(Dmx().en, kIndexError);
}

// A search that fails inside itself, as reading a malformed ⎕TRAP might.
bool FailingSearch(const AplError&) {
  ++g_searches;
  try {
    SIGNAL_MESSAGE_IN(kDomainError, kCategoryNativeFiles, U"Invalid right argument");
  } catch (const AplError&) {
  }
  return false;
}

TEST_F(ErrorSignal, ErrorsInsideTheTrapSearchLeaveTheRecordAlone) {
  g_searches = 0;
  SetTrapSearch(FailingSearch);
  AplError e = Raised([] { SIGNAL_MESSAGE(kLengthError, U"Argument must be single"); });
  EXPECT_EQ(e.errorNumber, kLengthError);
  EXPECT_EQ(g_searches, 1) << "the inner error is not searched";
  EXPECT_FALSE(TrapSearchRunning());
  EXPECT_EQ(ErrorState().en, kLengthError);
  EXPECT_EQ(Dmx().message, U"Argument must be single");
}

// ---- ⎕DMX, ⎕EN, ⎕DM and ⎕EM as values ------------------------------------------------------------------

using DmxValues = ErrorStateTest;

bool IsEmptyText(Ref r) { return IsSimpleCharacterArray(r) && RankOf(TypeWord(r)) == 1 && ElementCount(r) == 0; }
bool IsEmptyNumeric(Ref r) { return !IsSimpleCharacterArray(r) && RankOf(TypeWord(r)) == 1 && ElementCount(r) == 0; }
int64_t IntegerOf(Ref r) {
  std::vector<int64_t> numbers;
  EXPECT_TRUE(ReadIntegers(r, numbers) && numbers.size() == 1 && RankOf(TypeWord(r)) == 0);
  return numbers.empty() ? -1 : numbers[0];
}
std::vector<Ref> Items(Ref nested) {
  EXPECT_EQ(ElementOf(TypeWord(nested)), kRefElement);
  const Ref* data = DataOf<Ref>(nested);
  return std::vector<Ref>(data, data + ElementCount(nested));
}
std::u32string TextValue(Ref r) {
  EXPECT_TRUE(IsSimpleCharacterArray(r));
  return CharacterText(r);
}

TEST_F(DmxValues, EveryPropertyHasItsDefaultBeforeAnyError) {
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxMessage)));
  EXPECT_EQ(IntegerOf(DmxPropertyValue(kDmxEN)), 0);
  EXPECT_EQ(IntegerOf(DmxPropertyValue(kDmxENX)), 0);
  EXPECT_TRUE(IsEmptyNumeric(DmxPropertyValue(kDmxInternalLocation)));
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxHelpURL)));
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxOSError)));
  EXPECT_TRUE(IsEmptyNumeric(DmxPropertyValue(kDmxDM)));
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxCategory)));
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxVendor)));
  EXPECT_TRUE(IsEmptyText(DmxPropertyValue(kDmxEM)));
  EXPECT_EQ(IntegerOf(QuadEN()), 0);
  EXPECT_TRUE(IsEmptyNumeric(QuadDM()));
}

TEST_F(DmxValues, PropertiesOfARecordedError) {
  uint32_t row = MessageRow(kCategoryNativeFiles, U"Unable to open file");
  RecordDmx(kFileAccessErrorConverting, row, kOsErrorErrno, EACCES, "qnfiles", 310);
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxMessage)), U"Unable to open file");
  EXPECT_EQ(IntegerOf(DmxPropertyValue(kDmxEN)), 19);
  EXPECT_EQ(IntegerOf(DmxPropertyValue(kDmxENX)), 12);
  std::vector<Ref> location = Items(DmxPropertyValue(kDmxInternalLocation));
  ASSERT_EQ(location.size(), 2u);
  EXPECT_EQ(TextValue(location[0]), U"qnfiles");
  EXPECT_EQ(IntegerOf(location[1]), 310);
  EXPECT_TRUE(TextValue(DmxPropertyValue(kDmxHelpURL)).ends_with(U"/Nativefiles/12"));
  std::vector<Ref> os = Items(DmxPropertyValue(kDmxOSError));
  ASSERT_EQ(os.size(), 3u);
  EXPECT_EQ(IntegerOf(os[0]), kOsErrorErrno);
  EXPECT_EQ(IntegerOf(os[1]), EACCES);
  EXPECT_EQ(TextValue(os[2]), U"Permission denied");
  std::vector<Ref> dm = Items(DmxPropertyValue(kDmxDM));
  ASSERT_EQ(dm.size(), 3u);
  EXPECT_EQ(TextValue(dm[0]), U"FILE ACCESS ERROR - CONVERTING FILE");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxCategory)), U"Native files");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxVendor)), U"Vantor");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxEM)), U"FILE ACCESS ERROR");
  EXPECT_EQ(IntegerOf(QuadEN()), 19);
  EXPECT_EQ(TextValue(Items(QuadDM())[0]), U"FILE ACCESS ERROR - CONVERTING FILE");
}

TEST_F(DmxValues, WholeRecordAndPropertyNames) {
  RecordDmx(kIndexError, 0, 0, 0, "index", 5);
  Ref whole = DmxValue();
  ASSERT_EQ(RankOf(TypeWord(whole)), 2u);
  EXPECT_EQ(ShapeOf(whole)[0], 10u);
  EXPECT_EQ(ShapeOf(whole)[1], 2u);
  std::vector<Ref> cells = Items(whole);
  const char32_t* names[] = {U"Message", U"EN",  U"ENX",      U"InternalLocation", U"HelpURL",
                             U"OSError", U"DM",  U"Category", U"Vendor",           U"EM"};
  for (uint32_t p = 1; p <= kDmxPropertyCount; ++p) {
    EXPECT_EQ(TextValue(cells[2 * (p - 1)]), names[p - 1]);
    EXPECT_EQ(FindDmxProperty(names[p - 1]), p);
  }
  EXPECT_EQ(IntegerOf(cells[3]), kIndexError);
  for (const char32_t* name : {U"en", U"Dm", U"", U"Vendors", U"A", U"Z"}) EXPECT_EQ(FindDmxProperty(name), 0u);
}

using ErrorEM = ErrorStateTest;

TEST_F(ErrorEM, MessagesOfEachNumber) {
  Ref scalar = MakeIntScalar(11);
  EXPECT_EQ(TextValue(QuadEM(0, scalar).value), U"DOMAIN ERROR");

  Ref matrix = AllocMatrix(kInt32, 2, 2);
  int32_t numbers[] = {1, 1003, 102, 7777};
  std::copy(numbers, numbers + 4, DataOf<int32_t>(matrix));
  Ref result = QuadEM(0, matrix).value;
  ASSERT_EQ(RankOf(TypeWord(result)), 2u);
  EXPECT_EQ(ShapeOf(result)[0], 2u);
  EXPECT_EQ(ShapeOf(result)[1], 2u);
  Lines texts;
  for (Ref item : Items(result)) texts.push_back(TextValue(item));
  EXPECT_EQ(texts, (Lines{U"WS FULL", U"INTERRUPT", U"FILE ERROR 2 No such file or directory", U"ERROR 7777"}));

  Ref empty = IntVector({});
  Ref none = QuadEM(0, empty).value;
  EXPECT_EQ(ElementCount(none), 0u);
  EXPECT_TRUE(IsEmptyText(DataOf<Ref>(none)[0])) << "the prototype of an empty result is ''";
}

TEST_F(ErrorEM, OnlyNonNegativeIntegers) {
  Ref negative = IntVector({3, -1});
  Ref fraction = AllocScalar(kFloat64);
  *DataOf<double>(fraction) = 1.5;
  Ref character = MakeText(U"a");
  Ref nested = NestedOf({MakeIntScalar(1)});
  for (Ref argument : {negative, fraction, character, nested})
    EXPECT_EQ(Raised([&] { QuadEM(0, argument); }).errorNumber, kDomainError);
}

// ---- ⎕SIGNAL -------------------------------------------------------------------------------------------

class SignalFunction : public ErrorStateTest {
 protected:
  static Ref Number(double value) {
    Ref r = AllocScalar(kFloat64);
    *DataOf<double>(r) = value;
    return r;
  }
  static Ref Pair(const char32_t* name, Ref value) { return NestedOf({MakeText(name), value}); }
  static Ref CharMatrix() {
    Ref r = AllocMatrix(kChar8, 2, 2);
    std::fill_n(DataOf<uint8_t>(r), 4, 'x');
    return r;
  }
  // ⎕SIGNAL with these arguments, which must raise an error.
  static AplError Signal(Ref left, Ref right) {
    return Raised([&] { QuadSignal(left, right); });
  }
  // ⎕SIGNAL refuses its arguments with this error and extended message.
  static void ExpectRefused(Ref left, Ref right, uint32_t en, std::u32string_view message, const char* what) {
    AplError e = Signal(left, right);
    EXPECT_EQ(e.errorNumber, en) << what;
    EXPECT_EQ(kExtendedMessages[e.messageRow], message) << what;
    EXPECT_FALSE(e.raisedBySignal) << what;
  }
};

constexpr std::u32string_view kInvalidNumber = U"Invalid error number for signal";

TEST_F(SignalFunction, EmptyRightArgumentDoesNothing) {
  Ref empty = IntVector({});
  Ref left = MakeText(U"ignored");
  EXPECT_EQ(QuadSignal(0, empty).value, 0u);
  EXPECT_EQ(QuadSignal(left, empty).value, 0u);
  EXPECT_FALSE(Dmx().filled);
}

TEST_F(SignalFunction, NumberIsRaisedForTheCaller) {
  Ref fiveHundred = MakeIntScalar(500);
  AplError e = Signal(0, fiveHundred);
  EXPECT_EQ(e.errorNumber, 500u);
  EXPECT_TRUE(e.raisedBySignal);
  EXPECT_EQ(ErrorState().en, 500u);
  EXPECT_EQ(DisplayMessage(Dmx()), U"ERROR 500");
  EXPECT_EQ(Dmx().unit, "quadsignal");
  EXPECT_EQ(Dmx().message, U"");

  Ref wholeFloat = Number(11.0);
  EXPECT_EQ(Signal(0, wholeFloat).errorNumber, kDomainError);
  EXPECT_EQ(ErrorState().dm[0], U"DOMAIN ERROR");
}

TEST_F(SignalFunction, NumberErrors) {
  ExpectRefused(0, MakeIntScalar(0), kDomainError, kInvalidNumber, "0");
  ExpectRefused(0, MakeIntScalar(1000), kDomainError, kInvalidNumber, "1000");
  ExpectRefused(0, MakeIntScalar(-5), kDomainError, kInvalidNumber, "¯5");
  ExpectRefused(0, Number(1.5), kDomainError, kInvalidNumber, "1.5");
  ExpectRefused(0, MakeText(U"a"), kDomainError, kInvalidNumber, "'a'");
  ExpectRefused(0, IntVector({1, 2}), kRankError, kInvalidNumber, "1 2");
}

TEST_F(SignalFunction, LeftArgumentReplacesTheMessage) {
  Ref message = MakeText(U"Custom trouble");
  Ref number = MakeIntScalar(500);
  Signal(message, number);
  EXPECT_EQ(ErrorState().en, 500u);
  EXPECT_EQ(DisplayMessage(Dmx()), U"Custom trouble");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxEM)), U"Custom trouble");
  EXPECT_EQ(ErrorState().dm[0], U"Custom trouble");

  std::u32string_view notText = U"A signalled message must be a character vector or scalar";
  ExpectRefused(MakeIntScalar(5), number, kDomainError, notText, "numeric message");
  ExpectRefused(CharMatrix(), number, kRankError, notText, "matrix message");
  ExpectRefused(message, MakeIntScalar(0), kDomainError, kInvalidNumber, "the number is checked first");
}

TEST_F(SignalFunction, DmxSpecificationSetsTheProperties) {
  Ref os = NestedOf({MakeIntScalar(2), MakeIntScalar(5), MakeText(U"Input/output error")});
  Ref spec = NestedOf({Pair(U"EN", MakeIntScalar(200)), Pair(U"Message", MakeText(U"Hello")),
                       Pair(U"Vendor", MakeText(U"Acme")), Pair(U"ENX", MakeIntScalar(7)),
                       Pair(U"Category", MakeText(U"Mine")), Pair(U"HelpURL", MakeText(U"x:y")),
                       Pair(U"OSError", os)});
  AplError e = Signal(0, spec);
  EXPECT_EQ(e.errorNumber, 200u);
  EXPECT_TRUE(e.raisedBySignal);
  EXPECT_EQ(Dmx().message, U"Hello");
  EXPECT_EQ(Dmx().vendor, U"Acme");
  EXPECT_EQ(Dmx().enx, 7u);
  EXPECT_EQ(Dmx().category, U"Mine");
  EXPECT_EQ(Dmx().helpUrl, U"x:y");
  EXPECT_EQ(Dmx().osKind, 2);
  EXPECT_EQ(Dmx().osCode, 5);
  EXPECT_EQ(Dmx().osText, U"Input/output error");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxEM)), U"ERROR 200");

  Ref single = Pair(U"EN", MakeIntScalar(201));  // one pair, not enclosed
  EXPECT_EQ(Signal(0, single).errorNumber, 201u);
  EXPECT_EQ(Dmx().message, U"");
  EXPECT_EQ(Dmx().vendor, U"Vantor");

  Ref pairs = NestedOf({Pair(U"EN", MakeIntScalar(202)), Pair(U"EM", MakeText(U"Mine"))});
  Ref enclosed = AllocScalar(kRefElement);  // ⊂ of the list of pairs
  *DataOf<Ref>(enclosed) = pairs;
  EXPECT_EQ(Signal(0, enclosed).errorNumber, 202u);
  EXPECT_EQ(DisplayMessage(Dmx()), U"Mine");
  EXPECT_EQ(TextValue(DmxPropertyValue(kDmxEM)), U"Mine");
}

TEST_F(SignalFunction, DmxSpecificationErrors) {
  auto en = [] { return Pair(U"EN", MakeIntScalar(200)); };
  Ref matrix = AllocMatrix(kRefElement, 2, 1);
  DataOf<Ref>(matrix)[0] = en();
  DataOf<Ref>(matrix)[1] = Pair(U"Message", MakeText(U"m"));
  std::u32string_view badFormat = U"Incorrect ⎕DMX specification format";
  std::u32string_view badName = U"Unexpected name in signalled ⎕DMX specification";
  std::u32string_view badValue = U"Unexpected value in signalled ⎕DMX specification";
  struct Case {
    const char* what;
    Ref left, right;
    uint32_t en;
    std::u32string_view message;
  } cases[] = {
      {"left argument", MakeText(U"m"), NestedOf({en()}), kDomainError,
       U"Cannot provide nested right argument and a left argument"},
      {"matrix of pairs", 0, matrix, kRankError, badFormat},
      {"three-item pair", 0, NestedOf({NestedOf({MakeText(U"EN"), MakeIntScalar(200), MakeIntScalar(1)})}),
       kLengthError, badFormat},
      {"scalar items", 0, NestedOf({MakeIntScalar(5), MakeText(U"ab")}), kRankError, badFormat},
      {"DM", 0, NestedOf({en(), Pair(U"DM", MakeText(U"x"))}), kDomainError, badName},
      {"InternalLocation", 0, NestedOf({en(), Pair(U"InternalLocation", MakeText(U"x"))}), kDomainError, badName},
      {"unknown name", 0, NestedOf({en(), Pair(U"Bogus", MakeText(U"x"))}), kDomainError, badName},
      {"lower-case name", 0, NestedOf({Pair(U"en", MakeIntScalar(200))}), kDomainError, badName},
      {"numeric name", 0, NestedOf({en(), NestedOf({MakeIntScalar(1), MakeText(U"x")})}), kDomainError, badName},
      {"duplicate", 0, NestedOf({en(), Pair(U"EN", MakeIntScalar(201))}), kDomainError,
       U"Duplicate name in signalled ⎕DMX specification"},
      {"numeric Message", 0, NestedOf({en(), Pair(U"Message", MakeIntScalar(5))}), kDomainError, badValue},
      {"matrix Message", 0, NestedOf({en(), Pair(U"Message", CharMatrix())}), kRankError, badValue},
      {"short OSError", 0, NestedOf({en(), Pair(U"OSError", IntVector({1, 2}))}), kDomainError, badValue},
      {"negative ENX", 0, NestedOf({en(), Pair(U"ENX", MakeIntScalar(-1))}), kDomainError, badValue},
      {"no EN", 0, NestedOf({Pair(U"Message", MakeText(U"m"))}), kDomainError, kInvalidNumber},
      {"EN out of range", 0, NestedOf({Pair(U"EN", MakeIntScalar(1000))}), kDomainError, kInvalidNumber},
  };
  for (const Case& c : cases) ExpectRefused(c.left, c.right, c.en, c.message, c.what);
}

// ---- ⎕TRAP ------------------------------------------------------------------------------------------------

class ErrorTrapValue : public ErrorStateTest {
 protected:
  static Ref Char(char32_t c) {
    Ref r = AllocScalar(kChar8);
    *DataOf<uint8_t>(r) = static_cast<uint8_t>(c);
    return r;
  }
  static Ref Spec(Ref numbers, char32_t action) { return NestedOf({numbers, Char(action)}); }
  static Ref Spec(Ref numbers, char32_t action, Ref expression) {
    return NestedOf({numbers, Char(action), expression});
  }
  static Ref Matrix(Ref item) {
    Ref r = AllocMatrix(kRefElement, 2, 1);
    DataOf<Ref>(r)[0] = item;
    Retain(item);
    DataOf<Ref>(r)[1] = item;
    return r;
  }
};

TEST_F(ErrorTrapValue, StoredAsAVectorOfSpecifications) {
  Ref single = Spec(MakeIntScalar(11), U'E', MakeText(U"⎕←1"));
  Ref stored = CheckTrapValue(single);
  ASSERT_EQ(ArrayRank(stored), 1u);
  EXPECT_EQ(Items(stored), std::vector<Ref>{single}) << "one specification is enclosed";

  Ref list = NestedOf({Spec(MakeIntScalar(11), U'N'), Spec(IntVector({0, 1000}), U'C', MakeText(U"→0")),
                       Spec(IntVector({}), U'S')});
  EXPECT_EQ(CheckTrapValue(list), list);

  Ref enclosed = AllocScalar(kRefElement);
  Ref inner = Spec(MakeIntScalar(5), U'N');
  *DataOf<Ref>(enclosed) = inner;
  Ref fromScalar = CheckTrapValue(enclosed);
  EXPECT_EQ(ArrayRank(fromScalar), 1u);
  EXPECT_EQ(Items(fromScalar), std::vector<Ref>{inner});

  Ref empty = IntVector({});
  EXPECT_TRUE(IsEmptyNumeric(CheckTrapValue(empty)));
  Ref emptyText = MakeText(U"");
  EXPECT_TRUE(IsEmptyNumeric(CheckTrapValue(emptyText)));
}

TEST_F(ErrorTrapValue, MalformedValuesAreRefused) {
  auto charMatrix = [] {
    Ref r = AllocMatrix(kChar8, 2, 2);
    std::fill_n(DataOf<uint8_t>(r), 4, 'x');
    return r;
  };
  Ref deep = AllocScalar(kRefElement);
  *DataOf<Ref>(deep) = NestedOf({Spec(MakeIntScalar(11), U'N')});
  Ref fraction = AllocScalar(kFloat64);
  *DataOf<double>(fraction) = 1.5;
  struct Case {
    const char* what;
    Ref value;
    uint32_t en;
  } cases[] = {
      {"unknown action", Spec(MakeIntScalar(11), U'X'), kDomainError},
      {"C without expression", Spec(MakeIntScalar(11), U'C'), kLengthError},
      {"E without expression", Spec(MakeIntScalar(11), U'E'), kLengthError},
      {"N with expression", Spec(MakeIntScalar(11), U'N', MakeText(U"x")), kLengthError},
      {"negative number", Spec(MakeIntScalar(-1), U'N'), kDomainError},
      {"fractional number", Spec(fraction, U'N'), kDomainError},
      {"number matrix", Spec(AllocMatrix(kInt8, 1, 1), U'N'), kRankError},
      {"action vector", NestedOf({MakeIntScalar(11), MakeText(U"E"), MakeText(U"x")}), kRankError},
      {"numeric expression", Spec(MakeIntScalar(11), U'E', MakeIntScalar(5)), kDomainError},
      {"expression matrix", Spec(MakeIntScalar(11), U'E', charMatrix()), kRankError},
      {"four items", NestedOf({MakeIntScalar(11), Char(U'E'), MakeText(U"x"), MakeText(U"y")}), kLengthError},
      {"simple pair", MakeText(U"EN"), kDomainError},
      {"simple scalar", MakeIntScalar(5), kDomainError},
      {"matrix of specifications", Matrix(Spec(MakeIntScalar(11), U'N')), kRankError},
      {"too deep", deep, kDomainError},
  };
  for (const Case& c : cases) EXPECT_EQ(Raised([&] { CheckTrapValue(c.value); }).errorNumber, c.en) << c.what;
}

// ---- The error display -----------------------------------------------------------------------------------

TEST(ErrorDisplayLines, FromTheirParts) {
  struct Case {
    uint32_t en;
    std::u32string message, extended;
    ErrorPlace place;
    Lines expected;
  } cases[] = {
      {11, U"DOMAIN ERROR", U"", {U"foo", 3, U" x←1÷0", 4, -1}, {U"DOMAIN ERROR", U"foo[3] x←1÷0", U"          ∧"}},
      {11, U"DOMAIN ERROR", U"Divide by zero", {U"", 0, U"1÷0", 1, -1},
       {U"DOMAIN ERROR: Divide by zero", U"      1÷0", U"       ∧"}},
      {3, U"INDEX ERROR", U"", {U"f", 12, U" v[9]", 0, 2}, {U"2:INDEX ERROR", U"f[12] v[9]", U"     ∧"}},
      {1002, U"", U"", {U"g", 1, U" ⎕DL 5", 1, -1}, {U"", U"g[1] ⎕DL 5"}},
      {1001, U"", U"", {U"", 0, U"go", 0, -1}, {U"", U"      go"}},
      {32772, U"", U"", {U"", 0, U"x", 0, -1}, {U"", U"      x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorDisplayLines(c.en, c.message, c.extended, c.place), c.expected) << c.en;
}

using ErrorDisplayRecord = ErrorStateTest;

TEST_F(ErrorDisplayRecord, SetsDmAndShowsTheExtendedMessage) {
  Raised([] { SIGNAL_MESSAGE(kDomainError, U"Divide by zero"); });
  ErrorDisplay display = RecordErrorDisplay({U"foo", 1, U" 1÷0", 2, 3});
  EXPECT_EQ(display.lines, (Lines{U"3:DOMAIN ERROR: Divide by zero", U"foo[1] 1÷0", U"        ∧"}));
  EXPECT_EQ(display.sessionText, U"") << "DMXOUTPUTONERROR defaults to 2";
  Lines dm = {U"DOMAIN ERROR", U"foo[1] 1÷0", U"        ∧"};
  EXPECT_EQ(ErrorState().dm, dm);
  EXPECT_EQ(Dmx().dm, dm);

  Raised([] { SIGNAL(kWeakInterrupt); });
  RecordErrorDisplay({U"", 0, U"x", 0, -1});
  EXPECT_EQ(ErrorState().dm, (Lines{U"", U"      x", U""})) << "⎕DM keeps three lines";

  Raised([] { SIGNAL(kIndexError); });
  EXPECT_EQ(RecordErrorDisplay({U"", 0, U"v[9]", 1, -1}).lines[0], U"INDEX ERROR");
}

}  // namespace
}  // namespace vantor::test
