// System variables: the session, workspace, namespace and thread blocks that hold their values, the
// defaults (with the configuration parameters that change them), the checks each assignment must
// pass before anything is stored, and copy-on-assign of the namespace block that namespaces share.
#include "sysfns/quadvar.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/aplio.h"
#include "base/config.h"
#include "language/dmx.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "memory/memory2.h"

namespace vantor {

static constexpr char kUnit[] = "quadvar";

namespace {

// ---- Where each variable lives -------------------------------------------------------------------

enum class Scope : uint8_t { None, Session, Workspace, Namespace, Thread };

enum SessionSlot : uint8_t { kSessionPW, kSessionSE, kSessionPATH, kSessionSlots };
enum WorkspaceSlot : uint8_t { kWsLX, kWsTRAP, kWsSM, kWsWSID, kWsFR, kWsDCT, kWorkspaceSlots };
enum NamespaceSlot : uint8_t {
  kNsCT, kNsDIV, kNsIO, kNsPP, kNsRL, kNsRTL, kNsML, kNsWX, kNsUSING, kNsAVU, kNamespaceSlots
};
enum ThreadSlot : uint8_t { kThreadTNAME, kThreadDMX, kThreadSlots };

uint32_t RootWordOf(Scope scope) {
  switch (scope) {
    case Scope::Session: return kRootSessionBlock;
    case Scope::Workspace: return kRootWorkspaceBlock;
    case Scope::Namespace: return kRootNamespaceBlock;
    case Scope::Thread: return kRootThreadBlock;
    case Scope::None: break;
  }
  return 0;
}

uint32_t SlotCountOf(Scope scope) {
  switch (scope) {
    case Scope::Session: return kSessionSlots;
    case Scope::Workspace: return kWorkspaceSlots;
    case Scope::Namespace: return kNamespaceSlots;
    case Scope::Thread: return kThreadSlots;
    case Scope::None: break;
  }
  return 0;
}

// ---- Values -------------------------------------------------------------------------------------

constexpr double kMaxComparisonTolerance = 0x1p-32;

constexpr uint16_t kDefaultAvu[256] = {
    0x0000, 0x0008, 0x000A, 0x000D, 0x0020, 0x000C, 0x0006, 0x0007,
    0x001B, 0x0009, 0x2336, 0x026B, 0x0025, 0x0027, 0x237A, 0x2375,
    0x005F, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x0001, 0x0002, 0x00AF, 0x002E, 0x236C,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x0003, 0x22A2, 0x00A5, 0x0024, 0x00A3, 0x00A2,
    0x2206, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x0004, 0x0005, 0x00FD, 0x00B7, 0x007F,
    0x2359, 0x00C1, 0x00C2, 0x00C3, 0x00C7, 0x00C8, 0x00CA, 0x00CB,
    0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D2, 0x00D3, 0x00D4,
    0x00D5, 0x00D9, 0x00DA, 0x00DB, 0x00DD, 0x00FE, 0x00E3, 0x00EC,
    0x00F0, 0x00F2, 0x00F5, 0x007B, 0x20AC, 0x007D, 0x22A3, 0x2337,
    0x00A8, 0x00C0, 0x00C4, 0x00C5, 0x00C6, 0x2368, 0x00C9, 0x00D1,
    0x00D6, 0x00D8, 0x00DC, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E4,
    0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00ED,
    0x00EE, 0x00EF, 0x00F1, 0x005B, 0x002F, 0x233F, 0x005C, 0x2340,
    0x003C, 0x2264, 0x003D, 0x2265, 0x003E, 0x2260, 0x2228, 0x2227,
    0x002D, 0x002B, 0x00F7, 0x00D7, 0x003F, 0x220A, 0x2374, 0x007E,
    0x2191, 0x2193, 0x2373, 0x25CB, 0x002A, 0x2308, 0x230A, 0x2207,
    0x2218, 0x0028, 0x2282, 0x2283, 0x2229, 0x222A, 0x22A5, 0x22A4,
    0x007C, 0x003B, 0x002C, 0x2371, 0x2372, 0x2352, 0x234B, 0x2349,
    0x233D, 0x2296, 0x235F, 0x2339, 0x0021, 0x2355, 0x234E, 0x236B,
    0x236A, 0x2261, 0x2262, 0x00F3, 0x00F4, 0x00F6, 0x00F8, 0x0022,
    0x0023, 0x001E, 0x0026, 0x00B4, 0x2518, 0x2510, 0x250C, 0x2514,
    0x253C, 0x2500, 0x251C, 0x2524, 0x2534, 0x252C, 0x2502, 0x0040,
    0x00F9, 0x00FA, 0x00FB, 0x005E, 0x00FC, 0x0060, 0x2223, 0x00B6,
    0x003A, 0x2377, 0x00BF, 0x00A1, 0x22C4, 0x2190, 0x2192, 0x235D,
    0x0029, 0x005D, 0x001F, 0x00A0, 0x00A7, 0x2395, 0x235E, 0x2363,
};

Ref MakeFloatScalar(double x) {
  Ref r = AllocScalar(kFloat64);
  *DataOf<double>(r) = x;
  return r;
}

// ⎕DCT stays a decimal scalar: its readers need no other type.
Ref MakeDecimalScalar(BID_UINT128 x) {
  Ref r = AllocScalar(kDecimal128);
  std::memcpy(DataOf<uint8_t>(r), &x, sizeof x);
  TypeWord(r) |= kNoNarrowFlag;
  return r;
}

Ref SharedRoot(uint32_t word) {
  Ref r = RootWordAt(word);
  Retain(r);
  return r;
}

double DecimalToDouble(const uint8_t* element) {
  BID_UINT128 x;
  std::memcpy(&x, element, sizeof x);
  _IDEC_flags flags = 0;
  return bid128_to_binary64(x, BID_ROUNDING_TO_NEAREST, &flags);
}

// Calls `use(read)` with a reader that gives element i of a numeric array as a real number, or
// nothing when the element has no real value (a complex number with an imaginary part). Returns
// false when the array's elements are not numbers.
template <typename Use>
bool WithRealReader(Ref array, Use use) {
  const uint8_t* bytes = DataOf<uint8_t>(array);
  auto typed = [&]<typename T>(const T* data) {
    return use([data](uint64_t i) -> std::optional<double> { return static_cast<double>(data[i]); });
  };
  switch (ElementOf(TypeWord(array))) {
    case kBool: return use([bytes](uint64_t i) -> std::optional<double> { return GetBit(bytes, i); });
    case kInt8: return typed(reinterpret_cast<const int8_t*>(bytes));
    case kInt16: return typed(reinterpret_cast<const int16_t*>(bytes));
    case kInt32: return typed(reinterpret_cast<const int32_t*>(bytes));
    case kInt64: return typed(reinterpret_cast<const int64_t*>(bytes));
    case kFloat64: return typed(reinterpret_cast<const double*>(bytes));
    case kComplex:
      return use([bytes](uint64_t i) -> std::optional<double> {
        const double* pair = reinterpret_cast<const double*>(bytes) + 2 * i;
        if (pair[1] != 0) return std::nullopt;
        return pair[0];
      });
    case kDecimal128:
      return use([bytes](uint64_t i) -> std::optional<double> { return DecimalToDouble(bytes + 16 * i); });
    default: return false;
  }
}

bool IsArray(Ref value) { return IsRef(value) && IsArrayKind(KindOf(TypeWord(value))); }

// The elements of `value` as real numbers; nothing when one of them is not a real number.
std::optional<std::vector<double>> TakeNumbers(Ref value) {
  if (!IsArray(value)) return std::nullopt;
  std::vector<double> numbers;
  uint64_t count = ElementCount(value);
  if (count == 0) return numbers;
  bool taken = WithRealReader(value, [&](auto read) {
    for (uint64_t i = 0; i < count; ++i) {
      std::optional<double> x = read(i);
      if (!x) return false;
      numbers.push_back(*x);
    }
    return true;
  });
  if (!taken) return std::nullopt;
  return numbers;
}

// Element i of a numeric array as a real number (0 when it has none).
double NumberAt(Ref array, uint64_t i) {
  double x = 0;
  WithRealReader(array, [&](auto read) {
    x = read(i).value_or(0);
    return true;
  });
  return x;
}

// The elements of `value` as characters; nothing when one of them is not a character. ⎕AV
// positions become the characters of the executing namespace's ⎕AV.
std::optional<std::u32string> TakeCharacters(Ref value) {
  if (!IsArray(value)) return std::nullopt;
  uint64_t count = ElementCount(value);
  std::u32string text;
  if (count == 0) return text;
  auto append = [&]<typename T>(const T* data) {
    for (uint64_t i = 0; i < count; ++i) text += static_cast<char32_t>(data[i]);
  };
  switch (ElementOf(TypeWord(value))) {
    case kCharAv: {
      const uint8_t* positions = DataOf<uint8_t>(value);
      for (uint64_t i = 0; i < count; ++i) text += AvCharacter(positions[i]);
      return text;
    }
    case kChar8: append(DataOf<uint8_t>(value)); return text;
    case kChar16: append(DataOf<uint16_t>(value)); return text;
    case kChar32: append(DataOf<char32_t>(value)); return text;
    default: return std::nullopt;
  }
}

bool IsWholeNumber(double x) { return std::isfinite(x) && x == std::floor(x); }

// ---- Rules per variable --------------------------------------------------------------------------

using CheckFn = Ref (*)(uint32_t k, Ref value);   // returns the counted value to store
using DefaultFn = Ref (*)(uint32_t k);            // counted default; 0 for none
using AcceptsFn = bool (*)(int64_t n);

struct VariableRule {
  Scope scope;
  uint8_t slot;
  CheckFn check;
  DefaultFn makeDefault;  // nullptr: a reset keeps the value
  // Integer variables: the accepted range, an extra test, the built-in default and the
  // configuration parameter that may replace it (with its own range and test).
  int32_t low = 0;
  int32_t high = 0;
  AcceptsFn accepts = nullptr;
  int32_t builtIn = 0;
  const char* config = nullptr;
  int32_t configLow = 0;
  int32_t configHigh = 0;
  AcceptsFn configAccepts = nullptr;
};

SystemVariableCheck g_externalChecks[kSystemVariableLimit] = {};
NamespaceBlockWriter g_blockWriter = nullptr;
int32_t g_integerDefaults[kSystemVariableLimit] = {};
bool g_defaultsLoaded = false;

const VariableRule& RuleOf(uint32_t k);

[[noreturn]] void SignalSyntax() { SIGNAL(kSyntaxError); }

// -- Checks

// The one element of a value as a number: DOMAIN ERROR when an element is not a real number, LENGTH
// ERROR when there is not exactly one.
double TakeSingleNumber(Ref value) {
  std::optional<std::vector<double>> numbers = TakeNumbers(value);
  if (!numbers) SIGNAL(kDomainError);
  if (numbers->size() != 1) SIGNAL(kLengthError);
  return numbers->front();
}

int64_t TakeSingleInteger(uint32_t k, Ref value) {
  const VariableRule& rule = RuleOf(k);
  double x = TakeSingleNumber(value);
  if (!IsWholeNumber(x) || x < rule.low || x > rule.high) SIGNAL(kDomainError);
  int64_t n = static_cast<int64_t>(x);
  if (rule.accepts && !rule.accepts(n)) SIGNAL(kDomainError);
  return n;
}

Ref CheckInteger(uint32_t k, Ref value) {
  return MakeIntScalar(static_cast<int32_t>(TakeSingleInteger(k, value)));
}

Ref CheckComparisonTolerance(uint32_t, Ref value) {
  double x = TakeSingleNumber(value);
  if (!(x >= 0 && x <= kMaxComparisonTolerance)) SIGNAL(kDomainError);
  return MakeFloatScalar(x);
}

BID_UINT128 DecimalFromText(const char* text) {
  _IDEC_flags flags = 0;
  return bid128_from_string(const_cast<char*>(text), BID_ROUNDING_TO_NEAREST, &flags);
}

// The largest ⎕DCT: 2*¯32 written out exactly.
BID_UINT128 MaxDecimalTolerance() { return DecimalFromText("2.3283064365386962890625E-10"); }

std::optional<std::vector<BID_UINT128>> TakeDecimals(Ref value) {
  std::vector<BID_UINT128> decimals;
  if (IsArray(value) && ElementOf(TypeWord(value)) == kDecimal128) {
    const BID_UINT128* data = DataOf<BID_UINT128>(value);
    decimals.assign(data, data + ElementCount(value));
    return decimals;
  }
  std::optional<std::vector<double>> numbers = TakeNumbers(value);
  if (!numbers) return std::nullopt;
  for (double x : *numbers) {
    _IDEC_flags flags = 0;
    decimals.push_back(binary64_to_bid128(x, BID_ROUNDING_TO_NEAREST, &flags));
  }
  return decimals;
}

Ref CheckDecimalTolerance(uint32_t, Ref value) {
  std::optional<std::vector<BID_UINT128>> decimals = TakeDecimals(value);
  if (!decimals) SIGNAL(kDomainError);
  if (decimals->size() != 1) SIGNAL(kLengthError);
  BID_UINT128 x = decimals->front();
  _IDEC_flags flags = 0;
  bool inRange = bid128_quiet_greater_equal(x, bid128_from_int32(0), &flags) &&
                 bid128_quiet_less_equal(x, MaxDecimalTolerance(), &flags);
  if (!inRange) SIGNAL(kDomainError);
  return MakeDecimalScalar(x);
}

// ⎕LX: the rank is checked before the characters.
Ref CheckLatentExpression(uint32_t, Ref value) {
  if (IsArray(value) && RankOf(TypeWord(value)) > 1) SIGNAL(kRankError);
  std::optional<std::u32string> text = TakeCharacters(value);
  if (!text) SIGNAL(kDomainError);
  return MakeText(*text);
}

// ⎕TNAME and ⎕PATH: the characters are checked before the rank.
std::u32string TakeTextVector(Ref value) {
  std::optional<std::u32string> text = TakeCharacters(value);
  if (!text) SIGNAL(kDomainError);
  if (RankOf(TypeWord(value)) > 1) SIGNAL(kRankError);
  return *text;
}

Ref CheckThreadName(uint32_t, Ref value) { return MakeText(TakeTextVector(value)); }

Ref CheckPath(uint32_t, Ref value) {
  std::u32string text = TakeTextVector(value);
  if (std::any_of(text.begin(), text.end(), [](char32_t c) { return c > 0xFFFF; })) SIGNAL(kDomainError);
  return MakeText(text);
}

bool IsPathSeparator(char32_t c) { return c == U'\\' || c == U'/' || c == U':'; }

// The default workspace extension: the text of WSEXT before its first ':'.
std::u32string WorkspaceExtension() {
  const char* configured = ConfigLookup("WSEXT");
  std::string_view text = configured ? configured : ".vws:";
  return FromUtf8(text.substr(0, text.find(':')));
}

[[noreturn]] void SignalNameTooLong() { SIGNAL_MESSAGE(kLengthError, U"File name is too long"); }

Ref CheckWorkspaceName(uint32_t, Ref value) {
  if (IsArray(value) && RankOf(TypeWord(value)) > 1) SIGNAL(kRankError);
  std::optional<std::u32string> text = TakeCharacters(value);
  if (!text) SIGNAL(kDomainError);
  if (text->size() > kMaxWorkspaceNameLength) SignalNameTooLong();
  std::u32string name = WithWorkspaceExtension(*text);
  if (name.size() > kMaxWorkspaceNameLength) SignalNameTooLong();
  return MakeText(name);
}

Ref CheckAtomicVectorUnicode(uint32_t, Ref value) {
  static constexpr char kUnit[] = "quadavu";
  std::optional<std::vector<double>> numbers = TakeNumbers(value);
  if (!numbers) SIGNAL(kDomainError);
  if (RankOf(TypeWord(value)) != 1) SIGNAL(kRankError);
  if (numbers->size() != 256) SIGNAL(kLengthError);
  std::array<bool, 65536> seen{};
  for (double x : *numbers) {
    if (!IsWholeNumber(x) || x < 0 || x > 65535 || seen[static_cast<size_t>(x)]) SIGNAL(kDomainError);
    seen[static_cast<size_t>(x)] = true;
  }
  Ref r = AllocVector(kInt32, 256);
  std::copy(numbers->begin(), numbers->end(), DataOf<int32_t>(r));
  return r;
}

Ref RefuseWithSyntaxError(uint32_t, Ref) { SignalSyntax(); }
Ref RefuseWithNonceError(uint32_t, Ref) { SIGNAL(kNonceError); }

// ⎕RL, ⎕TRAP, ⎕USING, ⎕SM: the unit that owns the value checks it.
Ref HandToOwner(uint32_t k, Ref value) {
  if (!g_externalChecks[k]) SIGNAL(kNonceError);
  return g_externalChecks[k](value);
}

bool IsExposureLevel(int64_t n) { return n != 2; }
bool IsFloatRepresentation(int64_t n) { return n == 645 || n == 1287; }

// -- Defaults

Ref DefaultInteger(uint32_t k) { return MakeIntScalar(g_integerDefaults[k]); }
Ref DefaultComparisonTolerance(uint32_t) { return MakeFloatScalar(1E-14); }
Ref DefaultDecimalTolerance(uint32_t) { return MakeDecimalScalar(DecimalFromText("1E-28")); }
Ref DefaultEmptyText(uint32_t) { return SharedRoot(kRootEmptyCharVector); }
Ref DefaultEmptyNumeric(uint32_t) { return SharedRoot(kRootEmptyNumericVector); }
Ref DefaultWorkspaceName(uint32_t) { return MakeText(U"CLEAR WS"); }
Ref DefaultNone(uint32_t) { return 0; }
Ref DefaultAtomicVectorUnicode(uint32_t) {
  Ref r = AllocVector(kInt32, 256);
  std::copy(std::begin(kDefaultAvu), std::end(kDefaultAvu), DataOf<int32_t>(r));
  return r;
}

constexpr VariableRule Unstored() { return {Scope::None, 0, RefuseWithSyntaxError, nullptr}; }

constexpr VariableRule Integer(Scope scope, uint8_t slot, int32_t low, int32_t high, AcceptsFn accepts,
                               int32_t builtIn, const char* config, int32_t configLow, int32_t configHigh,
                               AcceptsFn configAccepts = nullptr) {
  return {scope, slot, CheckInteger, DefaultInteger, low, high, accepts,
          builtIn, config, configLow, configHigh, configAccepts};
}

constexpr VariableRule kRules[kSystemVariableLimit] = {
    /* 0 ⎕CT */ {Scope::Namespace, kNsCT, CheckComparisonTolerance, DefaultComparisonTolerance},
    /* 1 ⎕DIV */ Integer(Scope::Namespace, kNsDIV, 0, 1, nullptr, 0, "DEFAULT_DIV", 0, 1),
    /* 2 ⎕IO */ Integer(Scope::Namespace, kNsIO, 0, 1, nullptr, 1, "DEFAULT_IO", 0, 1),
    /* 3 ⎕LX */ {Scope::Workspace, kWsLX, CheckLatentExpression, DefaultEmptyText},
    /* 4 ⎕PP */ Integer(Scope::Namespace, kNsPP, 1, 34, nullptr, 10, "DEFAULT_PP", 1, 34),
    // ⎕PW's default is one less than the SESSION_COLS columns.
    /* 5 ⎕PW */ Integer(Scope::Session, kSessionPW, 42, 32767, nullptr, 76, "SESSION_COLS", 43, 32768),
    /* 6 ⎕RL */
    {Scope::Namespace, kNsRL, HandToOwner, DefaultInteger, 0, 0, nullptr, 16807, "DEFAULT_RL", 1, 2147483646},
    /* 7 ⎕RTL */ Integer(Scope::Namespace, kNsRTL, 0, 32767, nullptr, 0, "DEFAULT_RTL", 0, 32767),
    /* 8 ⎕TRAP */ {Scope::Workspace, kWsTRAP, HandToOwner, DefaultEmptyNumeric},
    /* 9 ⎕SM */ {Scope::Workspace, kWsSM, HandToOwner, DefaultNone},
    /* 10 ⎕WSID */ {Scope::Workspace, kWsWSID, CheckWorkspaceName, DefaultWorkspaceName},
    /* 11 ⎕ */ Unstored(),
    /* 12 ⍞ */ Unstored(),
    /* 13 ⎕SE */ {Scope::Session, kSessionSE, RefuseWithSyntaxError, nullptr},
    /* 14 */ Unstored(),
    /* 15 ⎕ML */ Integer(Scope::Namespace, kNsML, 0, 3, nullptr, 1, "DEFAULT_ML", 0, 3),
    /* 16 ⎕PATH */ {Scope::Session, kSessionPATH, CheckPath, DefaultEmptyText},
    /* 17 ⎕WX */ Integer(Scope::Namespace, kNsWX, 0, 3, IsExposureLevel, 3, "DEFAULT_WX", 0, 3),
    /* 18 ⎕USING */ {Scope::Namespace, kNsUSING, HandToOwner, DefaultNone},
    /* 19 ⎕AVU */ {Scope::Namespace, kNsAVU, CheckAtomicVectorUnicode, DefaultAtomicVectorUnicode},
    /* 20 ⎕TNAME */ {Scope::Thread, kThreadTNAME, CheckThreadName, DefaultEmptyText},
    /* 21 ⎕FR */
    Integer(Scope::Workspace, kWsFR, 645, 1287, IsFloatRepresentation, 645, "DEFAULT_FR", 645, 1287,
            IsFloatRepresentation),
    /* 22 ⎕DCT */ {Scope::Workspace, kWsDCT, CheckDecimalTolerance, DefaultDecimalTolerance},
    /* 23 ⎕DMX */ {Scope::Thread, kThreadDMX, RefuseWithNonceError, nullptr},
};

const VariableRule kUnstored = Unstored();

const VariableRule& RuleOf(uint32_t k) { return k < kSystemVariableLimit ? kRules[k] : kUnstored; }

// The built-in defaults, replaced by configuration values that pass their bounds. Read from the
// highest number down.
void ReadDefaults() {
  for (uint32_t k = kSystemVariableLimit; k-- > 0;) {
    const VariableRule& rule = kRules[k];
    g_integerDefaults[k] = rule.builtIn;
    if (!rule.config) continue;
    if (!ConfigLookup(rule.config)) continue;
    int64_t n = 0;
    bool valid = ReadStrict(rule.config, n, rule.configHigh) && n >= rule.configLow &&
                 (!rule.configAccepts || rule.configAccepts(n));
    if (!valid) continue;
    g_integerDefaults[k] = static_cast<int32_t>(k == kQuadPW ? n - 1 : n);
  }
  g_defaultsLoaded = true;
}

void EnsureDefaultsLoaded() {
  if (!g_defaultsLoaded) ReadDefaults();
}

// ---- Blocks -------------------------------------------------------------------------------------

Ref NewBlock(uint32_t slots) {
  Ref block = GetSpace(kHeaderWords + slots);
  uint32_t* w = Words(block);
  w[1] = 1;
  w[2] = kKindRefList | slots << 4;
  std::fill(w + kHeaderWords, w + kHeaderWords + slots, 0u);
  return block;
}

uint32_t& SlotWord(Ref block, uint32_t slot) { return Words(block)[kHeaderWords + slot]; }

Ref NewBlockOfDefaults(Scope scope) {
  EnsureDefaultsLoaded();
  Temporaries held;
  held[0] = NewBlock(SlotCountOf(scope));
  for (uint32_t k = 0; k < kSystemVariableLimit; ++k) {
    const VariableRule& rule = kRules[k];
    if (rule.scope != scope || !rule.makeDefault) continue;
    Ref value = rule.makeDefault(k);
    SlotWord(held[0], rule.slot) = value;
  }
  return held.Take(0);
}

// The current block's slot of a variable, not counted; 0 when the block does not exist yet.
Ref CurrentValue(uint32_t k) {
  const VariableRule& rule = RuleOf(k);
  if (rule.scope == Scope::None) return 0;
  Ref block = RootWordAt(RootWordOf(rule.scope));
  return IsRef(block) ? SlotWord(block, rule.slot) : 0;
}

// A copy of a block whose slots share the originals' values.
Ref CopyNamespaceBlock() {
  Ref copy = NewBlock(kNamespaceSlots);
  Ref original = RootWordAt(kRootNamespaceBlock);
  for (uint32_t i = 0; i < kNamespaceSlots; ++i) {
    Ref value = SlotWord(original, i);
    Retain(value);
    SlotWord(copy, i) = value;
  }
  return copy;
}

// Before a namespace-level variable changes: when another holder shares the block, the executing
// namespace (or, before there is one, the default) gets a copy of its own.
void MakeNamespaceBlockPrivate() {
  if (RefCount(RootWordAt(kRootNamespaceBlock)) <= 1) return;
  Ref copy = CopyNamespaceBlock();
  RootWordAt(kRootNamespaceBlock) = copy;
  if (g_blockWriter) {
    g_blockWriter(copy);
    ReleaseRef(copy);  // the namespace holds it now
    return;
  }
  Ref old = RootWordAt(kRootDefaultNamespaceBlock);
  RootWordAt(kRootDefaultNamespaceBlock) = copy;
  ReleaseRef(old);
}

const VariableRule& StoredRule(uint32_t k) {
  const VariableRule& rule = RuleOf(k);
  if (rule.scope == Scope::None) SignalSyntax();
  return rule;
}

int64_t IntegerOrDefault(uint32_t k) {
  Ref value = CurrentValue(k);
  return IsRef(value) ? static_cast<int64_t>(NumberAt(value, 0)) : kRules[k].builtIn;
}

void RegisterNullObjectClass() {
  RegisterObjectClass(kNullObjectClass, [](Ref, FieldRuns&) {}, nullptr);
}

Ref NewNullObject() {
  Ref r = GetSpace(kHeaderWords);
  RefCount(r) = 1;
  TypeWord(r) = kNullObjectClass;
  return r;
}

}  // namespace

// ---- Interface -----------------------------------------------------------------------------------

std::u32string WithWorkspaceExtension(std::u32string name) {
  if (name.empty() || IsPathSeparator(name.back())) return name;
  auto lastPart = std::find_if(name.rbegin(), name.rend(), IsPathSeparator).base();
  if (std::find(lastPart, name.end(), U'.') != name.end()) return name;
  return name + WorkspaceExtension();
}

void InitialiseSystemVariables() {
  RegisterNullObjectClass();
  LoadSystemVariableDefaults();
  Ref null = NewNullObject();
  RootWordAt(kRootNullItem) = null;
  Ref session = NewBlockOfDefaults(Scope::Session);
  RootWordAt(kRootSessionBlock) = session;
  Ref workspace = NewBlockOfDefaults(Scope::Workspace);
  RootWordAt(kRootWorkspaceBlock) = workspace;
  Ref names = NewNamespaceBlock();
  RootWordAt(kRootDefaultNamespaceBlock) = names;
  RootWordAt(kRootNamespaceBlock) = names;
  RegisterUncountedRootWord(kRootNamespaceBlock);
  Ref thread = NewThreadBlock();
  RootWordAt(kRootThreadBlock) = thread;
}

void LoadSystemVariableDefaults() { ReadDefaults(); }

Ref ReadSystemVariable(uint32_t k) {
  Ref value = CurrentValue(k);
  Retain(value);
  return value;
}

std::u32string CharacterVariableText(uint32_t k) {
  Ref value = CurrentValue(k);
  return IsRef(value) ? CharacterText(value) : std::u32string();
}

void AssignSystemVariable(uint32_t k, Ref value) {
  const VariableRule& rule = StoredRule(k);
  Temporaries held;  // the checks may allocate
  held[0] = Retained(value);
  EnsureDefaultsLoaded();
  ReleaseRef(ExchangeSystemVariable(k, rule.check(k, held[0])));
}

void ResetSystemVariable(uint32_t k) {
  const VariableRule& rule = RuleOf(k);
  if (!rule.makeDefault) return;
  EnsureDefaultsLoaded();
  ReleaseRef(ExchangeSystemVariable(k, rule.makeDefault(k)));
}

Ref ExchangeSystemVariable(uint32_t k, Ref value) {
  const VariableRule& rule = StoredRule(k);
  if (CurrentValue(k) == value) return value;
  if (rule.scope == Scope::Namespace) {
    Temporaries held;
    held[0] = value;
    MakeNamespaceBlockPrivate();
    value = held.Take(0);
  }
  uint32_t& slot = SlotWord(RootWordAt(RootWordOf(rule.scope)), rule.slot);
  Ref old = slot;
  slot = value;
  return old;
}

void RegisterSystemVariableCheck(uint32_t k, SystemVariableCheck check) { g_externalChecks[k] = check; }

Ref CurrentNamespaceBlock() { return SharedRoot(kRootNamespaceBlock); }
void InstallNamespaceBlock(Ref block) { RootWordAt(kRootNamespaceBlock) = block; }
void SetNamespaceBlockWriter(NamespaceBlockWriter writer) { g_blockWriter = writer; }
Ref NewNamespaceBlock() { return NewBlockOfDefaults(Scope::Namespace); }

bool IsNamespaceVariable(uint32_t k) {
  return k < kSystemVariableLimit && kRules[k].scope == Scope::Namespace &&
         (kRules[k].check != HandToOwner || g_externalChecks[k]);
}

Ref NamespaceBlockValue(Ref block, uint32_t k) {
  return IsNamespaceVariable(k) && IsRef(block) ? SlotWord(block, kRules[k].slot) : 0;
}

Ref NewThreadBlock() { return NewBlockOfDefaults(Scope::Thread); }

Ref InstallThreadBlock(Ref block) {
  Ref old = RootWordAt(kRootThreadBlock);
  RootWordAt(kRootThreadBlock) = block;
  return old;
}

void ResetWorkspaceBlock() {
  Ref fresh = NewBlockOfDefaults(Scope::Workspace);
  Ref old = RootWordAt(kRootWorkspaceBlock);
  RootWordAt(kRootWorkspaceBlock) = fresh;
  ReleaseRef(old);
}

void InstallSessionNamespace(Ref se) { ReleaseRef(ExchangeSystemVariable(kQuadSE, se)); }

uint32_t IndexOrigin() { return static_cast<uint32_t>(IntegerOrDefault(kQuadIO)); }
uint32_t DivisionMethod() { return static_cast<uint32_t>(IntegerOrDefault(kQuadDIV)); }
int PrintPrecision() { return static_cast<int>(IntegerOrDefault(kQuadPP)); }
int PrintWidth() { return static_cast<int>(IntegerOrDefault(kQuadPW)); }
uint32_t MigrationLevel() { return static_cast<uint32_t>(IntegerOrDefault(kQuadML)); }
int CurrentFloatRepresentation() { return static_cast<int>(IntegerOrDefault(kQuadFR)); }

double ComparisonTolerance() {
  Ref value = CurrentValue(kQuadCT);
  return IsRef(value) ? NumberAt(value, 0) : 1E-14;
}

char32_t AvCharacter(uint32_t position) {
  Ref avu = CurrentValue(kQuadAVU);
  if (!IsRef(avu)) return kDefaultAvu[position & 0xFF];
  return static_cast<char32_t>(NumberAt(avu, position & 0xFF));
}

int AvPosition(char32_t c) {
  for (uint32_t i = 0; i < 256; ++i)
    if (AvCharacter(i) == c) return static_cast<int>(i);
  return -1;
}

Ref NullItem() { return SharedRoot(kRootNullItem); }

}  // namespace vantor
