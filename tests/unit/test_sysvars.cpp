// The system-name registry (lookups by name and by number, flags, counts per class), the system
// variables (assignment checks and their errors, defaults from configuration, copy-on-assign of the
// shared namespace block, localisation by exchange) and the niladic functions built on them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "heap_fixture.h"
#include "base/config.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "sysfns/qsys.h"
#include "sysfns/quadcons.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

std::u32string NameOf(const SystemNameEntry& e) {
  std::u32string name;
  for (const char16_t* p = e.name; *p; ++p) name += static_cast<char32_t>(*p);
  return name;
}

// ---- Registry ----------------------------------------------------------------------------------

TEST(SystemNameRegistry, HoldsEachClassInSortedOrder) {
  uint32_t perClass[4] = {};
  std::set<std::pair<uint32_t, uint32_t>> numbers;
  for (uint32_t i = 0; i < kSystemNameCount; ++i) {
    const SystemNameEntry& e = SystemNameInNameOrder(i);
    ++perClass[e.cls];
    EXPECT_TRUE(numbers.insert({SystemNameNumber(e), e.cls}).second) << "number used twice";
    if (i > 0) {
      EXPECT_LT(NameOf(SystemNameInNameOrder(i - 1)), NameOf(e));
    }
  }
  EXPECT_EQ(perClass[kSystemFunction], 110u);
  EXPECT_EQ(perClass[kSystemVariable], 23u);
  EXPECT_EQ(perClass[kSystemNiladic], 33u);
  EXPECT_EQ(perClass[kSystemOperator], 4u);
}

TEST(SystemNameRegistry, BothLookupsFindEveryEntry) {
  for (uint32_t i = 0; i < kSystemNameCount; ++i) {
    const SystemNameEntry& e = SystemNameInNameOrder(i);
    uint32_t k = SystemNameNumber(e);
    EXPECT_EQ(FindSystemNameByNumber(k, e.cls), &e);
    bool internal = e.cls == kSystemVariable && (k == kQuadVariable || k == kQuoteQuadVariable);
    EXPECT_EQ(FindSystemName(NameOf(e)), internal ? nullptr : &e);
    if (e.cls == kSystemFunction) {
      EXPECT_GE(SystemFunctionCode(k), kFirstSystemFunctionCode);
      EXPECT_LE(SystemFunctionCode(k), kLastSystemFunctionCode);
    }
  }
}

TEST(SystemNameRegistry, NumbersThatOtherUnitsRelyOn) {
  struct Case {
    std::u32string name;
    uint32_t cls;
    uint32_t dispatch;  // function or operator code, niladic handler, or variable number
  };
  const Case cases[] = {
      {U"NA", kSystemFunction, 180},   {U"XML", kSystemFunction, 213}, {U"R", kSystemOperator, 249},
      {U"S", kSystemOperator, 250},    {U"OPT", kSystemOperator, 251}, {U"VARIANT", kSystemOperator, 252},
      {U"A", kSystemNiladic, 0},       {U"AV", kSystemNiladic, 2},     {U"TC", kSystemNiladic, 9},
      {U"Á", kSystemNiladic, 13},      {U"NULL", kSystemNiladic, 31},  {U"OLDDMX", kSystemNiladic, 37},
      {U"IO", kSystemVariable, 2},     {U"ML", kSystemVariable, 15},   {U"AVU", kSystemVariable, 19},
      {U"DMX", kSystemVariable, 23},
  };
  for (const Case& c : cases) {
    const SystemNameEntry* e = FindSystemName(c.name);
    ASSERT_NE(e, nullptr) << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(e->cls, c.cls);
    uint32_t k = SystemNameNumber(*e);
    uint32_t dispatch = c.cls == kSystemFunction   ? SystemFunctionCode(k)
                        : c.cls == kSystemOperator ? SystemOperatorCode(k)
                        : c.cls == kSystemNiladic  ? NiladicHandlerIndex(k)
                                                   : k;
    EXPECT_EQ(dispatch, c.dispatch) << std::string(c.name.begin(), c.name.end());
  }
}

TEST(SystemNameRegistry, FindsOnlyExactUpperCaseNames) {
  const std::u32string missing[] = {U"io", U"Io", U"I", U"IOX", U"", U"QNULL", U"QQUOTE",
                                    U"á", std::u32string(32, U'A'), U"IO\U0001F600"};
  for (const std::u32string& name : missing) EXPECT_EQ(FindSystemName(name), nullptr);
  EXPECT_NE(FindSystemNameByNumber(kQuadVariable, kSystemVariable), nullptr);
  EXPECT_EQ(FindSystemNameByNumber(14, kSystemVariable), nullptr);
  EXPECT_EQ(FindSystemNameByNumber(2, 4), nullptr);
}

TEST(SystemNameRegistry, ListingFlags) {
  const std::set<std::u32string> hidden = {U"QNULL", U"QQUOTE", U"OLDDMX", U"CATCH", U"HOLD", U"MM", U"VARIANT"};
  const std::set<std::u32string> listedOnly = {U"WD", U"Á"};
  for (uint32_t i = 0; i < kSystemNameCount; ++i) {
    const SystemNameEntry& e = SystemNameInNameOrder(i);
    uint32_t flags = e.code >> 8;
    uint32_t expected = hidden.count(NameOf(e)) ? 0 : listedOnly.count(NameOf(e)) ? 1 : 7;
    EXPECT_EQ(flags, expected) << std::string(NameOf(e).begin(), NameOf(e).end());
  }
}

TEST(SystemNameRegistry, TextOfLocalisedVariable) {
  EXPECT_EQ(SystemVariableText(kQuadIO), U"⎕IO");
  EXPECT_EQ(SystemVariableText(kQuadAVU), U"⎕AVU");
  EXPECT_EQ(SystemVariableText(kQuoteQuadVariable), U"⍞");
  EXPECT_EQ(SystemVariableText(14), U"⎕UNUSED");
}

// ---- System variables --------------------------------------------------------------------------

class SystemVariableTest : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    InitialiseSystemVariables();
  }
  void TearDown() override {
    SetNamespaceBlockWriter(nullptr);
    for (uint32_t k : {kQuadRL, kQuadTRAP, kQuadUSING, kQuadSM}) RegisterSystemVariableCheck(k, nullptr);
    SetConfigCommandLine("");
    LoadSystemVariableDefaults();
    HeapTest::TearDown();
  }

  static Ref Ints(std::vector<int32_t> values, std::vector<uint32_t> shape) {
    Ref r = AllocArray(kInt32, static_cast<uint32_t>(shape.size()), values.size());
    for (size_t i = 0; i < shape.size(); ++i) ShapeOf(r)[i] = shape[i];
    std::copy(values.begin(), values.end(), DataOf<int32_t>(r));
    return r;
  }
  static Ref Int(int32_t n) { return Ints({n}, {}); }
  static Ref Float(double x) {
    Ref r = AllocScalar(kFloat64);
    *DataOf<double>(r) = x;
    return r;
  }
  static Ref Decimal(const char* text) {
    _IDEC_flags flags = 0;
    BID_UINT128 x = bid128_from_string(const_cast<char*>(text), BID_ROUNDING_TO_NEAREST, &flags);
    Ref r = AllocScalar(kDecimal128);
    std::memcpy(DataOf<uint8_t>(r), &x, sizeof x);
    return r;
  }
  static Ref Text(std::u32string text, std::vector<uint32_t> shape = {}) {
    if (shape.empty()) shape = {static_cast<uint32_t>(text.size())};
    Ref r = AllocArray(kChar32, static_cast<uint32_t>(shape.size()), text.size());
    for (size_t i = 0; i < shape.size(); ++i) ShapeOf(r)[i] = shape[i];
    std::copy(text.begin(), text.end(), DataOf<char32_t>(r));
    return r;
  }
  static Ref CharScalar(char32_t c) { return Text(std::u32string(1, c), {1}); }

  static std::u32string TextValue(Ref r) {
    std::u32string text;
    for (uint64_t i = 0; i < ElementCount(r); ++i) text += AvCharOf(r, i);
    return text;
  }
  static char32_t AvCharOf(Ref r, uint64_t i) {
    switch (ElementOf(TypeWord(r))) {
      case kChar8: return DataOf<uint8_t>(r)[i];
      case kChar16: return DataOf<uint16_t>(r)[i];
      default: return DataOf<char32_t>(r)[i];
    }
  }
  static double Number(Ref r) {
    switch (ElementOf(TypeWord(r))) {
      case kInt8: return *DataOf<int8_t>(r);
      case kInt16: return *DataOf<int16_t>(r);
      case kInt32: return *DataOf<int32_t>(r);
      case kFloat64: return *DataOf<double>(r);
      default: ADD_FAILURE() << "not a number"; return 0;
    }
  }
  static std::vector<int32_t> Integers(Ref r) {
    std::vector<int32_t> out;
    for (uint64_t i = 0; i < ElementCount(r); ++i) {
      switch (ElementOf(TypeWord(r))) {
        case kInt16: out.push_back(DataOf<int16_t>(r)[i]); break;
        case kInt32: out.push_back(DataOf<int32_t>(r)[i]); break;
        default: ADD_FAILURE() << "not an integer vector"; return out;
      }
    }
    return out;
  }
  // The variable's value without keeping a reference.
  static Ref Peek(uint32_t k) {
    Ref r = ReadSystemVariable(k);
    ReleaseRef(r);
    return r;
  }
  static double VariableNumber(uint32_t k) {
    Ref r = ReadSystemVariable(k);
    double x = Number(r);
    ReleaseRef(r);
    return x;
  }
  static std::u32string VariableText(uint32_t k) {
    Ref r = ReadSystemVariable(k);
    std::u32string text = TextValue(r);
    ReleaseRef(r);
    return text;
  }

  // Assigns and returns the error raised (0 for none); the value is released afterwards.
  struct Outcome {
    uint32_t error = 0;
    std::string unit;
    uint32_t messageRow = 0;
  };
  static Outcome Assign(uint32_t k, Ref value) {
    Outcome outcome;
    try {
      AssignSystemVariable(k, value);
    } catch (const AplError& e) {
      outcome = {e.errorNumber, e.sourceUnit, e.messageRow};
    }
    ReleaseRef(value);
    return outcome;
  }
};

TEST_F(SystemVariableTest, BuiltInDefaults) {
  EXPECT_EQ(IndexOrigin(), 1u);
  EXPECT_EQ(MigrationLevel(), 1u);
  EXPECT_EQ(PrintPrecision(), 10);
  EXPECT_EQ(PrintWidth(), 76);
  EXPECT_EQ(DivisionMethod(), 0u);
  EXPECT_EQ(CurrentFloatRepresentation(), 645);
  EXPECT_DOUBLE_EQ(ComparisonTolerance(), 1E-14);
  EXPECT_EQ(VariableNumber(kQuadRL), 16807);
  EXPECT_EQ(VariableNumber(kQuadRTL), 0);
  EXPECT_EQ(VariableNumber(kQuadWX), 3);
  EXPECT_EQ(VariableText(kQuadWSID), U"CLEAR WS");
  EXPECT_EQ(VariableText(kQuadLX), U"");
  EXPECT_EQ(VariableText(kQuadPATH), U"");
  EXPECT_EQ(VariableText(kQuadTNAME), U"");

  Ref dct = ReadSystemVariable(kQuadDCT);
  Ref expected = Decimal("1E-28");
  ASSERT_EQ(ElementOf(TypeWord(dct)), kDecimal128);
  EXPECT_EQ(std::memcmp(DataOf<uint8_t>(dct), DataOf<uint8_t>(expected), 16), 0) << "coefficient 1, exponent ¯28";
  ReleaseRef(expected);
  ReleaseRef(dct);

  const uint32_t withoutValue[] = {kQuadSM, kQuadUSING, kQuadDMX, kQuadVariable, kQuoteQuadVariable, 14, 99};
  for (uint32_t k : withoutValue) EXPECT_EQ(ReadSystemVariable(k), 0u) << k;
}

TEST_F(SystemVariableTest, AssignmentChecks) {
  const double kTwoToMinus32 = std::ldexp(1.0, -32);
  struct Case {
    const char* what;
    uint32_t k;
    std::function<Ref()> value;
    uint32_t error;
  };
  const Case cases[] = {
      {"⎕IO←0", kQuadIO, [] { return Int(0); }, 0},
      {"⎕IO←1.0", kQuadIO, [] { return Float(1.0); }, 0},
      {"⎕IO←2", kQuadIO, [] { return Int(2); }, kDomainError},
      {"⎕IO←1 1", kQuadIO, [] { return Ints({1, 1}, {2}); }, kLengthError},
      {"⎕IO←,0", kQuadIO, [] { return Ints({0}, {1}); }, 0},
      {"⎕IO←'a'", kQuadIO, [] { return CharScalar(U'a'); }, kDomainError},
      {"⎕IO←''", kQuadIO, [] { return Text(U""); }, kLengthError},
      {"⎕IO←0.5", kQuadIO, [] { return Float(0.5); }, kDomainError},
      {"⎕DIV←1", kQuadDIV, [] { return Int(1); }, 0},
      {"⎕PW←41", kQuadPW, [] { return Int(41); }, kDomainError},
      {"⎕PW←42", kQuadPW, [] { return Int(42); }, 0},
      {"⎕PW←32768", kQuadPW, [] { return Int(32768); }, kDomainError},
      {"⎕PP←34", kQuadPP, [] { return Int(34); }, 0},
      {"⎕PP←35", kQuadPP, [] { return Int(35); }, kDomainError},
      {"⎕PP←0", kQuadPP, [] { return Int(0); }, kDomainError},
      {"⎕RTL←32767", kQuadRTL, [] { return Int(32767); }, 0},
      {"⎕RTL←¯1", kQuadRTL, [] { return Int(-1); }, kDomainError},
      {"⎕ML←3", kQuadML, [] { return Int(3); }, 0},
      {"⎕ML←4", kQuadML, [] { return Int(4); }, kDomainError},
      {"⎕WX←2", kQuadWX, [] { return Int(2); }, kDomainError},
      {"⎕WX←0", kQuadWX, [] { return Int(0); }, 0},
      {"⎕FR←1287", kQuadFR, [] { return Int(1287); }, 0},
      {"⎕FR←1000", kQuadFR, [] { return Int(1000); }, kDomainError},
      {"⎕FR←645 645", kQuadFR, [] { return Ints({645, 645}, {2}); }, kLengthError},
      {"⎕CT←2*¯32", kQuadCT, [=] { return Float(kTwoToMinus32); }, 0},
      {"⎕CT←0", kQuadCT, [] { return Int(0); }, 0},
      {"⎕CT←1E¯9", kQuadCT, [] { return Float(1E-9); }, kDomainError},
      {"⎕CT←¯1E¯20", kQuadCT, [] { return Float(-1E-20); }, kDomainError},
      {"⎕DCT←2*¯32 exactly", kQuadDCT, [] { return Decimal("2.3283064365386962890625E-10"); }, 0},
      {"⎕DCT just above 2*¯32", kQuadDCT, [] { return Decimal("2.3283064365386962890626E-10"); }, kDomainError},
      {"⎕DCT←¯1E¯30", kQuadDCT, [] { return Decimal("-1E-30"); }, kDomainError},
      {"⎕DCT←0", kQuadDCT, [] { return Int(0); }, 0},
      {"⎕LX←'⍳3'", kQuadLX, [] { return Text(U"⍳3"); }, 0},
      {"⎕LX←⍬", kQuadLX, [] { return Ints({}, {0}); }, 0},
      {"⎕LX←2 2⍴1", kQuadLX, [] { return Ints({1, 1, 1, 1}, {2, 2}); }, kRankError},
      {"⎕LX←1 2", kQuadLX, [] { return Ints({1, 2}, {2}); }, kDomainError},
      {"⎕TNAME←2 2⍴1", kQuadTNAME, [] { return Ints({1, 1, 1, 1}, {2, 2}); }, kDomainError},
      {"⎕TNAME←1 2⍴'ab'", kQuadTNAME, [] { return Text(U"ab", {1, 2}); }, kRankError},
      {"⎕PATH←'↑'", kQuadPATH, [] { return Text(U"↑", {}); }, 0},
      {"⎕PATH beyond 16 bits", kQuadPATH, [] { return Text(U"\U0001F600"); }, kDomainError},
      {"⎕PATH←5", kQuadPATH, [] { return Int(5); }, kDomainError},
      {"⎕SE←0", kQuadSE, [] { return Int(0); }, kSyntaxError},
      {"⎕DMX←0", kQuadDMX, [] { return Int(0); }, kNonceError},
      {"⎕TRAP without its owner", kQuadTRAP, [] { return Int(0); }, kNonceError},
      {"⎕RL without its owner", kQuadRL, [] { return Int(5); }, kNonceError},
      {"⎕ (internal)", kQuadVariable, [] { return Int(0); }, kSyntaxError},
  };
  for (const Case& c : cases) {
    Ref before = ReadSystemVariable(c.k);
    Outcome outcome = Assign(c.k, c.value());
    EXPECT_EQ(outcome.error, c.error) << c.what;
    if (c.error != 0) {
      EXPECT_EQ(outcome.unit, "quadvar") << c.what;
      EXPECT_EQ(Peek(c.k), before) << c.what << ": the old value must stay";
    }
    ReleaseRef(before);
  }
}

TEST_F(SystemVariableTest, StoredValues) {
  Assign(kQuadIO, Float(0.0));
  EXPECT_EQ(IndexOrigin(), 0u);
  Ref io = ReadSystemVariable(kQuadIO);
  EXPECT_EQ(io, RootWordAt(kRootScalarZero)) << "⎕IO holds the shared Boolean";
  ReleaseRef(io);

  Assign(kQuadPATH, Text(U"↑", {}));
  Ref path = ReadSystemVariable(kQuadPATH);
  EXPECT_EQ(RankOf(TypeWord(path)), 1u) << "a scalar becomes a one-character vector";
  EXPECT_EQ(TextValue(path), U"↑");
  ReleaseRef(path);

  Assign(kQuadPP, Float(17.0));
  EXPECT_EQ(PrintPrecision(), 17);
  Assign(kQuadCT, Int(0));
  EXPECT_EQ(ComparisonTolerance(), 0.0);
  Assign(kQuadLX, Ints({}, {0}));
  Ref lx = ReadSystemVariable(kQuadLX);
  EXPECT_TRUE(kElementInfo[ElementOf(TypeWord(lx))].classes & kClassCharacter);
  ReleaseRef(lx);
}

TEST_F(SystemVariableTest, WorkspaceNameGetsTheDefaultExtension) {
  struct Case {
    std::u32string given;
    std::u32string stored;
  };
  const Case cases[] = {
      {U"MYAPP", U"MYAPP.vws"},          {U"dir.x\\MYAPP", U"dir.x\\MYAPP.vws"}, {U"a/b.c/MYAPP", U"a/b.c/MYAPP.vws"},
      {U"C:MYAPP", U"C:MYAPP.vws"},      {U"MYAPP.", U"MYAPP."},                 {U"MYAPP.dws", U"MYAPP.dws"},
      {U"", U""},                        {U"dir/", U"dir/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Assign(kQuadWSID, Text(c.given)).error, 0u);
    EXPECT_EQ(VariableText(kQuadWSID), c.stored) << std::string(c.given.begin(), c.given.end());
  }

  SetConfigCommandLine("WSEXT=.abc:.def");
  EXPECT_EQ(Assign(kQuadWSID, Text(U"X")).error, 0u);
  EXPECT_EQ(VariableText(kQuadWSID), U"X.abc");
  SetConfigCommandLine("");

  EXPECT_EQ(Assign(kQuadWSID, Text(std::u32string(258, U'a') + U".")).error, 0u);
  for (size_t length : {260, 256}) {  // 256 is too long once .vws is added
    Outcome outcome = Assign(kQuadWSID, Text(std::u32string(length, U'a')));
    EXPECT_EQ(outcome.error, kLengthError) << length;
    EXPECT_EQ(outcome.messageRow, MessageRow(U"File name is too long")) << length;
  }
  EXPECT_EQ(Assign(kQuadWSID, Text(U"ab", {1, 2})).error, kRankError);
}

TEST_F(SystemVariableTest, AtomicVectorUnicodeChecksAndAtomicVector) {
  std::vector<int32_t> reversed(256);
  for (int32_t i = 0; i < 256; ++i) {
    reversed[i] = static_cast<int32_t>(AvCharacter(255 - i));
    EXPECT_EQ(AvPosition(AvCharacter(i)), i);
  }
  EXPECT_EQ(AvCharacter(1), U'\b');
  EXPECT_EQ(AvCharacter(65), U'A');
  EXPECT_EQ(AvCharacter(245), U'←');
  EXPECT_EQ(AvPosition(U'😀'), -1);

  std::vector<int32_t> duplicated = reversed;
  duplicated[7] = duplicated[8];
  std::vector<int32_t> outOfRange = reversed;
  outOfRange[0] = 65536;
  struct Case {
    const char* what;
    std::function<Ref()> value;
    uint32_t error;
  };
  const Case cases[] = {
      {"255⍴0", [] { return Ints(std::vector<int32_t>(255, 0), {255}); }, kLengthError},
      {"1 256⍴", [&] { return Ints(reversed, {1, 256}); }, kRankError},
      {"a value twice", [&] { return Ints(duplicated, {256}); }, kDomainError},
      {"65536", [&] { return Ints(outOfRange, {256}); }, kDomainError},
      {"characters", [] { return Text(std::u32string(256, U'a')); }, kDomainError},
  };
  for (const Case& c : cases) {
    Outcome outcome = Assign(kQuadAVU, c.value());
    EXPECT_EQ(outcome.error, c.error) << c.what;
    EXPECT_EQ(outcome.unit, "quadavu") << c.what;
  }

  ASSERT_EQ(Assign(kQuadAVU, Ints(reversed, {256})).error, 0u);
  EXPECT_EQ(AvCharacter(0), U'⍣');
  EXPECT_EQ(AvPosition(U'⍣'), 0);
  Ref av = QuadAV();
  ASSERT_EQ(ElementCount(av), 256u);
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(AvCharOf(av, i), static_cast<char32_t>(reversed[i]));
  ReleaseRef(av);
}

TEST_F(SystemVariableTest, NamespacesShareTheBlockUntilOneAssigns) {
  // Namespace N holds the block in force when it was made; the writer plays the names unit's part
  // of storing a private copy back into the executing namespace.
  static Ref executingField;
  static int writes;
  writes = 0;
  Ref root = CurrentNamespaceBlock();
  executingField = CurrentNamespaceBlock();
  SetNamespaceBlockWriter([](Ref block) {
    Retain(block);
    ReleaseRef(executingField);
    executingField = block;
    ++writes;
  });
  InstallNamespaceBlock(executingField);  // N starts executing

  ASSERT_EQ(Assign(kQuadIO, Int(0)).error, 0u);
  EXPECT_EQ(writes, 1);
  EXPECT_NE(executingField, root);
  EXPECT_EQ(IndexOrigin(), 0u);
  ASSERT_EQ(Assign(kQuadML, Int(3)).error, 0u);
  EXPECT_EQ(writes, 1) << "the block is private now";

  Ref child = CurrentNamespaceBlock();  // a namespace created inside N starts with N's values
  InstallNamespaceBlock(root);          // back in the root namespace
  EXPECT_EQ(IndexOrigin(), 1u);
  EXPECT_EQ(MigrationLevel(), 1u);
  InstallNamespaceBlock(child);
  EXPECT_EQ(IndexOrigin(), 0u);
  EXPECT_EQ(MigrationLevel(), 3u);

  InstallNamespaceBlock(RootWordAt(kRootDefaultNamespaceBlock));
  ReleaseRef(child);
  ReleaseRef(executingField);
  ReleaseRef(root);
}

TEST_F(SystemVariableTest, LocalisationExchangesValues) {
  Ref saved = ReadSystemVariable(kQuadIO);  // a function localises ⎕IO
  ASSERT_EQ(Assign(kQuadIO, Int(0)).error, 0u);
  Ref local = ExchangeSystemVariable(kQuadIO, saved);  // the frame ends
  EXPECT_EQ(IndexOrigin(), 1u);
  EXPECT_EQ(Number(local), 0);
  ReleaseRef(local);

  // Giving back the value already there copies nothing, even when the block is shared.
  static int writes;
  writes = 0;
  Ref sharer = CurrentNamespaceBlock();
  SetNamespaceBlockWriter([](Ref) { ++writes; });
  Ref same = ReadSystemVariable(kQuadIO);
  ReleaseRef(ExchangeSystemVariable(kQuadIO, same));
  EXPECT_EQ(writes, 0);
  ReleaseRef(sharer);
}

TEST_F(SystemVariableTest, DefaultsFromConfiguration) {
  SetConfigCommandLine(
      "DEFAULT_IO=0 DEFAULT_PP=35 SESSION_COLS=100 DEFAULT_ML=2x DEFAULT_FR=1000 DEFAULT_WX= DEFAULT_RTL=5 "
      "DEFAULT_RL=2147483647 DEFAULT_DIV=1");
  LoadSystemVariableDefaults();
  for (uint32_t k : {kQuadIO, kQuadPP, kQuadPW, kQuadML, kQuadFR, kQuadWX, kQuadRTL, kQuadRL, kQuadDIV})
    ResetSystemVariable(k);
  EXPECT_EQ(IndexOrigin(), 0u);
  EXPECT_EQ(PrintPrecision(), 10) << "35 is out of bounds";
  EXPECT_EQ(PrintWidth(), 99) << "one less than the columns";
  EXPECT_EQ(MigrationLevel(), 1u) << "not a decimal integer";
  EXPECT_EQ(CurrentFloatRepresentation(), 645) << "neither 645 nor 1287";
  EXPECT_EQ(VariableNumber(kQuadWX), 3) << "empty value";
  EXPECT_EQ(VariableNumber(kQuadRTL), 5);
  EXPECT_EQ(VariableNumber(kQuadRL), 16807) << "beyond 2147483646";
  EXPECT_EQ(DivisionMethod(), 1u);

  SetConfigCommandLine("SESSION_COLS=42 DEFAULT_FR=1287");
  LoadSystemVariableDefaults();
  ResetSystemVariable(kQuadPW);
  ResetSystemVariable(kQuadFR);
  EXPECT_EQ(PrintWidth(), 76) << "42 columns are too few";
  EXPECT_EQ(CurrentFloatRepresentation(), 1287);
}

TEST_F(SystemVariableTest, OwnersCheckTheirVariables) {
  RegisterSystemVariableCheck(kQuadTRAP, [](Ref value) {
    if (ElementCount(value) != 2) SignalError(kLengthError, 0, 0, 0, "trap", 0);
    Retain(value);
    return value;
  });
  Ref spec = Ints({11, 0}, {2});
  Retain(spec);
  EXPECT_EQ(Assign(kQuadTRAP, spec).error, 0u);
  Ref stored = ReadSystemVariable(kQuadTRAP);
  EXPECT_EQ(stored, spec);
  ReleaseRef(stored);
  ReleaseRef(spec);
  Outcome refused = Assign(kQuadTRAP, Int(1));
  EXPECT_EQ(refused.error, kLengthError);
  EXPECT_EQ(refused.unit, "trap");

  ResetSystemVariable(kQuadTRAP);
  Ref empty = ReadSystemVariable(kQuadTRAP);
  EXPECT_EQ(ElementCount(empty), 0u);
  ReleaseRef(empty);
}

TEST_F(SystemVariableTest, ThreadAndWorkspaceBlocks) {
  ASSERT_EQ(Assign(kQuadTNAME, Text(U"main")).error, 0u);
  Ref mainThread = InstallThreadBlock(NewThreadBlock());
  EXPECT_EQ(VariableText(kQuadTNAME), U"");
  Ref other = InstallThreadBlock(mainThread);
  EXPECT_EQ(VariableText(kQuadTNAME), U"main");
  ReleaseRef(other);

  ASSERT_EQ(Assign(kQuadWSID, Text(U"APP")).error, 0u);
  ASSERT_EQ(Assign(kQuadFR, Int(1287)).error, 0u);
  ResetWorkspaceBlock();
  EXPECT_EQ(VariableText(kQuadWSID), U"CLEAR WS");
  EXPECT_EQ(CurrentFloatRepresentation(), 645);
}

TEST_F(SystemVariableTest, BlocksSurviveCompaction) {
  Ref sharer = CurrentNamespaceBlock();
  Ref hole = IntVector(std::vector<int32_t>(1000, 7));
  ASSERT_EQ(Assign(kQuadIO, Int(0)).error, 0u);  // a private copy of the block, above the hole
  ASSERT_EQ(Assign(kQuadWSID, Text(U"MOVED")).error, 0u);
  ASSERT_EQ(Assign(kQuadCT, Float(1E-12)).error, 0u);
  Ref movedBlock = RootWordAt(kRootNamespaceBlock);
  ReleaseRef(hole);
  Compact(0);
  EXPECT_LT(RootWordAt(kRootNamespaceBlock), movedBlock) << "compaction slid the block down";
  CheckHeapConsistency();
  EXPECT_EQ(IndexOrigin(), 0u);
  EXPECT_EQ(ComparisonTolerance(), 1E-12);
  EXPECT_EQ(VariableText(kQuadWSID), U"MOVED.vws");
  EXPECT_EQ(AvCharacter(65), U'A');
  ReleaseRef(sharer);
}

// ---- Niladic functions -------------------------------------------------------------------------

TEST_F(SystemVariableTest, CharacterConstants) {
  struct Case {
    const char* what;
    Ref (*handler)();
    std::u32string expected;
  };
  const Case cases[] = {
      {"⎕A", QuadA, U"ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      {"⎕D", QuadD, U"0123456789"},
      {"⎕Á", QuadUnderscoredA, U"ÁÂÃÇÈÊËÌÍÎÏÐÒÓÔÕÙÚÛÝþãìðòõ"},
      {"⎕TC", QuadTC, U"\b\n\r"},
  };
  for (const Case& c : cases) {
    Ref r = c.handler();
    EXPECT_EQ(RankOf(TypeWord(r)), 1u) << c.what;
    EXPECT_EQ(TextValue(r), c.expected) << c.what;
    ReleaseRef(r);
  }
  Assign(kQuadML, Int(3));
  Ref tc = QuadTC();
  EXPECT_EQ(TextValue(tc), U"\b\r\n");
  ReleaseRef(tc);
}

TEST_F(SystemVariableTest, ClockAndWorkspaceReports) {
  Ref ts = QuadTS();
  ASSERT_EQ(ElementCount(ts), 7u);
  std::vector<int32_t> t = Integers(ts);
  EXPECT_GE(t[0], 2024);
  EXPECT_TRUE(t[1] >= 1 && t[1] <= 12 && t[2] >= 1 && t[2] <= 31 && t[3] < 24 && t[4] < 60 && t[5] < 61 &&
              t[6] < 1000);
  ReleaseRef(ts);

  AddKeyingTime(25);
  Ref ai = QuadAI();
  ASSERT_EQ(ElementCount(ai), 4u);
  std::vector<int32_t> a = Integers(ai);
  EXPECT_GE(a[1], 0);
  EXPECT_GE(a[2], 0);
  EXPECT_GE(a[3], 25);
  ReleaseRef(ai);

  Ref wa = QuadWA();
  EXPECT_GT(Number(wa), 0);
  EXPECT_LT(Number(wa), kTestWorkspaceBytes);
  ReleaseRef(wa);

  Ref null1 = QuadNULL();
  Ref null2 = QuadNULL();
  EXPECT_EQ(null1, null2);
  EXPECT_TRUE(IsNullItem(null1));
  EXPECT_EQ(TypeWord(null1) & 0xFFFF, kNullObjectClass);
  ReleaseRef(null1);
  ReleaseRef(null2);

  try {
    QuadOLDDMX();
    ADD_FAILURE() << "OLDDMX must fail";
  } catch (const AplError& e) {
    EXPECT_EQ(e.errorNumber, kSyntaxError);
    EXPECT_STREQ(e.sourceUnit, "quadcons");
  }
}

}  // namespace
}  // namespace vantor::test
