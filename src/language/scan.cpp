// The tokeniser: classifies each character of a line, runs the handler of each multi-character item
// (names, numbers, strings, ⎕-names, keywords, dfn braces, comments, namespace dots) and writes the
// token stream into working slot kSlotTokens. Names, constants and texts are interned once per
// workspace and listed once per symbol list, found again through their index records.
#include "language/scan.h"

#include <double-conversion/string-to-double.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "language/ctrl.h"
#include "primitives/dispatch.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "memory/memory3.h"
#include "memory/partner.h"
#include "sysfns/qsys.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "scan";

// ---- Character classes ----------------------------------------------------------------------------
// Below 112 a class is the single-byte token code of the character; from 112 on it names a handler.

enum CharClass : uint8_t {
  kClassUnknown = 0,
  kClassName = 112,
  kClassNumber,
  kClassQuote,
  kClassQuad,
  kClassColon,
  kClassSpecial,
  kClassComment,
  kClassDiamond,
  kClassDot,
  kClassHash,
  kClassAssign,
  kClassLeftBrace,
  kClassRightBrace,
  kClassLeftParen,
  kClassRightParen,
  kClassLeftBracket,
  kClassRightBracket,
};

// Characters whose handler replaces their plain code, and the other handled characters.
constexpr CodeCharacter kHandledCharacters[] = {
    {kClassQuote, U'\''},       {kClassQuad, U'⎕'},         {kClassColon, U':'},
    {kClassSpecial, U'∇'},      {kClassSpecial, U'⍺'},      {kClassSpecial, U'⍵'},
    {kClassComment, U'⍝'},      {kClassDiamond, U'⋄'},      {kClassDot, U'.'},
    {kClassHash, U'#'},         {kClassAssign, U'←'},       {kClassLeftBrace, U'{'},
    {kClassRightBrace, U'}'},   {kClassLeftParen, U'('},    {kClassRightParen, U')'},
    {kClassLeftBracket, U'['},  {kClassRightBracket, U']'}, {kClassNumber, U'¯'},
    {kClassName, U'_'},         {kClassName, U'∆'},         {kClassName, U'⍙'},
};

constexpr bool IsLatinLetter(char32_t c) {
  return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
         (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7 && c != 0xDE);
}
constexpr bool IsCircledLetter(char32_t c) { return c >= 0x24B6 && c <= 0x24CF; }
constexpr bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

constexpr std::array<uint8_t, 256> LowClasses() {
  std::array<uint8_t, 256> classes{};
  for (const CodeCharacter& e : kCodeCharacters)
    if (e.character < 256) classes[e.character] = e.code;
  for (const CodeCharacter& e : kHandledCharacters)
    if (e.character < 256) classes[e.character] = e.code;
  for (char32_t c = 0; c < 256; ++c) {
    if (IsLatinLetter(c)) classes[c] = kClassName;
    if (IsDigit(c)) classes[c] = kClassNumber;
  }
  return classes;
}
constexpr std::array<uint8_t, 256> kLowClasses = LowClasses();

constexpr bool IsHandled(char32_t c) {
  for (const CodeCharacter& e : kHandledCharacters)
    if (e.character == c) return true;
  return false;
}

constexpr size_t kHighCount = [] {
  size_t n = 0;
  for (const CodeCharacter& e : kCodeCharacters) n += e.character >= 256 && !IsHandled(e.character);
  for (const CodeCharacter& e : kHandledCharacters) n += e.character >= 256;
  return n;
}();

// The classes of characters from U+0100 on, sorted by character; a handled character replaces
// its plain code.
constexpr std::array<CodeCharacter, kHighCount> HighClasses() {
  std::array<CodeCharacter, kHighCount> table{};
  size_t n = 0;
  for (const CodeCharacter& e : kHandledCharacters)
    if (e.character >= 256) table[n++] = e;
  for (const CodeCharacter& e : kCodeCharacters)
    if (e.character >= 256 && !IsHandled(e.character)) table[n++] = e;
  std::sort(table.begin(), table.end(),
            [](const CodeCharacter& a, const CodeCharacter& b) { return a.character < b.character; });
  return table;
}
constexpr std::array<CodeCharacter, kHighCount> kHighClasses = HighClasses();

uint8_t Classify(char32_t c) {
  if (c < 256) return kLowClasses[c];
  if (IsCircledLetter(c)) return kClassName;
  auto it = std::lower_bound(kHighClasses.begin(), kHighClasses.end(), c,
                             [](const CodeCharacter& e, char32_t ch) { return e.character < ch; });
  if (it == kHighClasses.end() || it->character != c) return kClassUnknown;
  return it->code;
}

bool IsNameStart(char32_t c) { return Classify(c) == kClassName; }
bool IsNameCharacter(char32_t c) { return IsNameStart(c) || IsDigit(c); }

static bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }

// ---- Index records and the intern table ---------------------------------------------------------
// Every interned item (a NameEntry, a constant, a text) has one index record: a kind-10 pocket of
// sub-type 1 that holds the item (counted), the position where the item was last listed, and the
// item's hash. The records live in a workspace-wide open-addressing table (a nested vector in root
// word kRootInternTable, probed linearly): constants are found there by content, names by identity.

enum IndexRecordWord : uint32_t {
  kRecordItem = 3,
  kRecordPosition = 4,  // the symbol index where the item was last listed (kNotListed: none)
  kRecordHash = 5,
  kRecordWords = 6,
};
static constexpr uint32_t kIndexRecordSubType = 1;
static constexpr uint32_t kIndexRecordType = kKindSmallRecord | (kIndexRecordSubType << 4);
static constexpr uint32_t kNotListed = 0xFFFF;
static constexpr uint32_t kVacatedSlot = 1;  // a slot whose record was dropped; probing goes on past it
static constexpr uint32_t kInitialTableSlots = 1024;
static constexpr uint32_t kLongProbe = 64;

static void RecordChildren(Ref, FieldRuns& out) { out.Add(kRecordItem, 1); }

static uint32_t TableSlots(Ref table) { return ShapeOf(table)[0]; }

// FNV-1a over bytes.
static uint32_t HashBytes(uint32_t hash, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 16777619u;
  return hash;
}
static constexpr uint32_t kHashSeed = 2166136261u;

static uint32_t NameHash(std::u32string_view name) {
  return HashBytes(kHashSeed ^ 0x9E3779B9u, name.data(), name.size() * sizeof(char32_t));
}

// The bytes of an array's data that carry its values (Booleans: whole bytes, then the last bits).
struct ValueExtent {
  uint64_t wholeBytes;
  uint32_t lastBits;
};
static ValueExtent ValueBytesOf(Ref array) {
  uint64_t count = ElementCount(array);
  ElementType type = ElementOf(TypeWord(array));
  if (type == kBool) return {count / 8, static_cast<uint32_t>(count % 8)};
  return {count * kElementInfo[type].bytes, 0};
}

static uint32_t ConstantHash(Ref array) {
  uint32_t type = TypeWord(array) & (kRankMask | kElementMask);
  uint32_t hash = HashBytes(kHashSeed, &type, sizeof type);
  hash = HashBytes(hash, ShapeOf(array), 4ull * RankOf(type));
  ValueExtent v = ValueBytesOf(array);
  const uint8_t* data = DataOf<uint8_t>(array);
  hash = HashBytes(hash, data, v.wholeBytes);
  if (v.lastBits) {
    uint8_t last = data[v.wholeBytes] & static_cast<uint8_t>(0xFF00u >> v.lastBits);
    hash = HashBytes(hash, &last, 1);
  }
  return hash;
}

static bool SameConstant(Ref a, Ref b) {
  if (a == b) return true;
  uint32_t ta = TypeWord(a), tb = TypeWord(b);
  if (KindOf(ta) != kKindSimple || KindOf(tb) != kKindSimple) return false;
  if ((ta & (kRankMask | kElementMask)) != (tb & (kRankMask | kElementMask))) return false;
  if (std::memcmp(ShapeOf(a), ShapeOf(b), 4ull * RankOf(ta)) != 0) return false;
  ValueExtent v = ValueBytesOf(a);
  const uint8_t* da = DataOf<uint8_t>(a);
  const uint8_t* db = DataOf<uint8_t>(b);
  if (std::memcmp(da, db, v.wholeBytes) != 0) return false;
  uint8_t mask = static_cast<uint8_t>(0xFF00u >> v.lastBits);
  return v.lastBits == 0 || ((da[v.wholeBytes] ^ db[v.wholeBytes]) & mask) == 0;
}

// The record whose item satisfies `matches`, or 0.
template <typename Matches>
static Ref FindRecord(uint32_t hash, Matches matches) {
  Ref table = RootWordAt(kRootInternTable);
  if (!IsRef(table)) return 0;
  uint32_t mask = TableSlots(table) - 1;
  for (uint32_t i = hash & mask, probes = 0; probes <= mask; i = (i + 1) & mask, ++probes) {
    Ref record = DataOf<Ref>(table)[i];
    if (record == 0) return 0;
    if (IsRef(record) && Words(record)[kRecordHash] == hash && matches(Words(record)[kRecordItem])) return record;
  }
  return 0;
}

// The first free slot on the probe path of `hash`; `probes` receives the path length, which is
// the table's size when no slot is free.
static uint32_t FreeSlot(Ref table, uint32_t hash, uint32_t& probes) {
  uint32_t mask = TableSlots(table) - 1;
  uint32_t i = hash & mask;
  for (probes = 0; probes <= mask && IsRef(DataOf<Ref>(table)[i]); i = (i + 1) & mask) ++probes;
  return i;
}

static uint32_t RecordsIn(Ref table) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < TableSlots(table); ++i) n += IsRef(DataOf<Ref>(table)[i]);
  return n;
}

// Moves every record into a new table of `slots` slots (dropping vacated slots) and frees the old.
static void RebuildTable(uint32_t slots) {
  Temporaries t;
  t[0] = AllocVector(kRefElement, slots);
  Ref old = RootWordAt(kRootInternTable);
  for (uint32_t i = 0; i < TableSlots(old); ++i) {
    Ref record = DataOf<Ref>(old)[i];
    DataOf<Ref>(old)[i] = 0;
    if (!IsRef(record)) continue;
    uint32_t probes;
    DataOf<Ref>(t[0])[FreeSlot(t[0], Words(record)[kRecordHash], probes)] = record;
  }
  Release(RootWordAt(kRootInternTable));
  RootWordAt(kRootInternTable) = t.Take(0);
}

// Makes the record of an item (held, counted, in `item`) and enters it in the table.
static Ref AddRecord(Ref& item, uint32_t hash) {
  if (!IsRef(RootWordAt(kRootInternTable))) RootWordAt(kRootInternTable) = AllocVector(kRefElement, kInitialTableSlots);
  Temporaries t;
  t[0] = GetSpace(kRecordWords);
  uint32_t* w = Words(t[0]);
  w[1] = 1;
  w[2] = kIndexRecordType;
  w[kRecordItem] = item;
  Retain(item);
  w[kRecordPosition] = kNotListed;
  w[kRecordHash] = hash;
  uint32_t probes;
  uint32_t slot = FreeSlot(RootWordAt(kRootInternTable), hash, probes);
  if (probes > kLongProbe) {
    Ref table = RootWordAt(kRootInternTable);
    bool crowded = 2 * RecordsIn(table) > TableSlots(table);
    RebuildTable(crowded ? 2 * TableSlots(table) : TableSlots(table));
    slot = FreeSlot(RootWordAt(kRootInternTable), hash, probes);
  }
  DataOf<Ref>(RootWordAt(kRootInternTable))[slot] = t[0];
  return t.Take(0);
}

// True when nothing but its record holds an interned item, or, for an undefined name, nothing but
// its record and one link of its name tree.
static bool OnlyRecordHolds(Ref item) {
  if (RefCount(item) == 1) return true;
  return KindOf(TypeWord(item)) == kKindName && RefCount(item) == 2 && EntryClass(item) == kNameUndefined &&
         !IsRef(EntryValue(item));
}

// Space trimmer: drops the records of items that only their record keeps alive. It may run inside a
// scan: the items a scan is listing are held by its temporaries or its list, so they stay, and no
// table slot is remembered across an allocation.
static uint32_t TrimInternTable() {
  Ref table = RootWordAt(kRootInternTable);
  if (!IsRef(table)) return 0;
  uint32_t freed = 0;
  for (uint32_t i = 0; i < TableSlots(table); ++i) {
    Ref& slot = DataOf<Ref>(table)[i];
    if (!IsRef(slot) || !OnlyRecordHolds(Words(slot)[kRecordItem])) continue;
    // Code that is running may hold the item or its record in a temporary without counting it.
    if (HeldByRoots(slot) || HeldByRoots(Words(slot)[kRecordItem])) continue;
    Ref item = Words(slot)[kRecordItem];
    if (KindOf(TypeWord(item)) == kKindSimple) freed += PocketWords(item);
    freed += kRecordWords;
    Release(slot);
    slot = kVacatedSlot;
  }
  return freed;
}

static uint32_t g_lastSerial = 0;
static uint32_t g_claimedSerial = 0;  // the list whose positions the records hold

// A loaded or cleared workspace has lists of its own: no list's positions are held any more.
static void ForgetClaimedList() { g_claimedSerial = 0; }

void InitialiseScanner() {
  RegisterWorkspaceForgetter(ForgetClaimedList);
  static bool trimmerRegistered = false;
  RegisterSmallRecordType(kIndexRecordSubType, RecordChildren, nullptr);
  RegisterTransferKind(kKindRefList, PlainTransferRule());
  if (!trimmerRegistered) RegisterSpaceTrimmer(TrimInternTable);
  trimmerRegistered = true;
}

// ---- Symbol lists ----------------------------------------------------------------------------------
// A list carries a serial number in type-word bits 17-31. The records hold the positions of the list
// scanned last; extending a different list first points its items' records back at it.

static constexpr uint32_t kFreshListRoom = 144;
static constexpr uint32_t kSecondListRoom = 1023;
static constexpr uint32_t kListRoomStep = 1024;
static constexpr uint32_t kListSerialShift = 17;

static uint32_t ListSerial(Ref list) { return TypeWord(list) >> kListSerialShift; }
static uint32_t ListRoom(Ref list) { return PocketWords(list) - kSymbolListFirstEntry; }

static Ref NewSymbolList() {
  Ref list = GetSpace(kSymbolListFirstEntry + kFreshListRoom);
  g_lastSerial = g_lastSerial % 0x7FFF + 1;
  RefCount(list) = 1;
  TypeWord(list) = kKindRefList | (g_lastSerial << kListSerialShift);
  std::memset(Words(list) + kSymbolListFirstEntry, 0, 4 * kFreshListRoom);
  return list;
}

static uint32_t ItemHash(Ref item) {
  return KindOf(TypeWord(item)) == kKindName ? NameHash(EntryName(item)) : ConstantHash(item);
}

// Points the records of every item in the current list at their positions in it.
static void ClaimListPositions() {
  Ref list = RootWordAt(kRootSymbolList);
  for (uint32_t i = 0; i < SymbolCount(list); ++i) {
    Ref item = SymbolAt(list, i);
    if (!IsRef(item)) continue;
    Ref record = FindRecord(ItemHash(item), [item](Ref candidate) { return candidate == item; });
    if (record) Words(record)[kRecordPosition] = i;
  }
  g_claimedSerial = ListSerial(list);
}

// Grows the list in kRootSymbolList: to 1,023 entries first, then by 1,024 at a time.
static void GrowSymbolList() {
  uint32_t room = ListRoom(RootWordAt(kRootSymbolList));
  uint32_t wanted = std::min(room < kSecondListRoom ? kSecondListRoom : room + kListRoomStep, kMaxSymbols);
  Resize(RootWordAt(kRootSymbolList), wanted - room);
}

// The symbol index of the item whose record is `record`, listing the item when the current list
// does not hold it yet. nullopt when the list is full.
static std::optional<uint32_t> ListByRecord(Ref& record) {
  uint32_t position = Words(record)[kRecordPosition];
  Ref item = Words(record)[kRecordItem];
  Ref list = RootWordAt(kRootSymbolList);
  if (position < SymbolCount(list) && SymbolAt(list, position) == item) return position;
  uint32_t count = SymbolCount(list);
  if (count >= kMaxSymbols) return std::nullopt;
  if (count == ListRoom(list)) GrowSymbolList();  // `record` is a temporary: it follows a compaction
  list = RootWordAt(kRootSymbolList);
  item = Words(record)[kRecordItem];
  Retain(item);
  Words(list)[kSymbolListFirstEntry + count] = item;
  TypeWord(list) += 1u << kRankShift;
  Words(record)[kRecordPosition] = count;
  return count;
}

// ---- Interning -------------------------------------------------------------------------------------

// A name's symbol index in the current list.
static std::optional<uint32_t> ListName(std::u32string_view name) {
  Temporaries t;
  t[0] = LookupName(name, LookupMode::Create);
  Retain(t[0]);
  uint32_t hash = NameHash(name);
  Ref entry = t[0];
  Ref record = FindRecord(hash, [entry](Ref item) { return item == entry; });
  t[1] = record ? record : AddRecord(t[0], hash);
  Retain(t[1]);
  return ListByRecord(t[1]);
}

// The symbol index of a new constant or text (a counted reference, consumed): it is narrowed, a
// small integer scalar becomes the shared one, and an equal interned item replaces it.
static std::optional<uint32_t> ListConstant(Ref constant) {
  Temporaries t;
  t[0] = constant;
  Narrow(t[0]);
  uint32_t type = TypeWord(t[0]);
  if (RankOf(type) == 0 && (ElementOf(type) == kInt8 || ElementOf(type) == kBool)) {
    int32_t v = ElementOf(type) == kInt8 ? *DataOf<int8_t>(t[0]) : GetBit(DataOf<uint8_t>(t[0]), 0);
    Release(t[0]);
    t[0] = MakeIntScalar(v);
  }
  uint32_t hash = ConstantHash(t[0]);
  Ref value = t[0];
  Ref record = FindRecord(hash, [value](Ref item) { return SameConstant(item, value); });
  t[1] = record ? record : AddRecord(t[0], hash);
  Retain(t[1]);
  return ListByRecord(t[1]);
}

static Ref TextVector(std::u32string_view text, bool scalarWhenSingle) {
  Ref r = scalarWhenSingle && text.size() == 1 ? AllocScalar(kChar32)
                                               : AllocVector(kChar32, static_cast<uint32_t>(text.size()));
  std::memcpy(DataOf<char32_t>(r), text.data(), text.size() * sizeof(char32_t));
  return r;
}

static std::optional<uint32_t> ListText(std::u32string_view text) { return ListConstant(TextVector(text, false)); }

// ---- Numbers ---------------------------------------------------------------------------------------

// Reads [¯]digits[.digits][E[¯]digits] (or a leading point) at s[i]; appends the ASCII form.
static bool ReadNumberPart(std::u32string_view s, size_t& i, std::string& out) {
  auto digitsAt = [&](size_t& k, std::string& to) {
    size_t from = k;
    while (k < s.size() && IsDigit(s[k])) to.push_back(static_cast<char>(s[k++]));
    return k - from;
  };
  if (i < s.size() && s[i] == U'¯') {
    out.push_back('-');
    ++i;
  }
  std::string whole, fraction;
  size_t mantissaDigits = digitsAt(i, whole);
  if (i < s.size() && s[i] == U'.') {
    ++i;
    mantissaDigits += digitsAt(i, fraction);
  }
  if (mantissaDigits == 0) return false;
  out += whole.empty() ? "0" : whole;
  if (!fraction.empty()) out += "." + fraction;
  if (i < s.size() && (s[i] == U'E' || s[i] == U'e')) {
    size_t k = i + 1;
    std::string exponent = "e";
    if (k < s.size() && s[k] == U'¯') {
      exponent.push_back('-');
      ++k;
    }
    if (digitsAt(k, exponent) == 0) return false;
    out += exponent;
    i = k;
  }
  return true;
}

static bool ContinuesNumber(char32_t c) { return IsNameCharacter(c) || c == U'.' || c == U'¯'; }

NumberSyntax ReadNumber(std::u32string_view s) {
  NumberSyntax n;
  size_t i = 0;
  bool ok = ReadNumberPart(s, i, n.real);
  if (ok && i < s.size() && (s[i] == U'J' || s[i] == U'j')) {
    ++i;
    n.complex = true;
    ok = ReadNumberPart(s, i, n.imaginary);
  }
  n.valid = ok && !(i < s.size() && ContinuesNumber(s[i]));
  if (!n.valid) {  // the malformed text runs to the end of the number-like characters
    i = 1;
    while (i < s.size() && ContinuesNumber(s[i])) ++i;
  }
  n.length = i;
  return n;
}

static bool StartsNumber(std::u32string_view s) {
  return !s.empty() && (IsDigit(s[0]) || s[0] == U'¯' || (s[0] == U'.' && s.size() > 1 && IsDigit(s[1])));
}

double AsciiToDouble(std::string_view text) {
  static const double_conversion::StringToDoubleConverter converter(
      double_conversion::StringToDoubleConverter::NO_FLAGS, 0.0, 0.0, nullptr, nullptr);
  int processed = 0;
  return converter.StringToDouble(text.data(), static_cast<int>(text.size()), &processed);
}

__extension__ typedef unsigned __int128 Uint128;

// A decimal128 value with trailing zeros moved from the significand into the exponent, so that
// equal values written differently (1.5 and 1.50) share one constant.
static BID_UINT128 CanonicalDecimal(BID_UINT128 x) {
  uint64_t hi = x.w[1];
  if (((hi >> 61) & 3) == 3) return x;  // not finite
  uint64_t exponent = (hi >> 49) & 0x3FFF;
  Uint128 significand = (static_cast<Uint128>(hi & 0x1FFFFFFFFFFFFull) << 64) | x.w[0];
  if (significand == 0) exponent = 6176;
  while (significand != 0 && significand % 10 == 0 && exponent < 12287) {
    significand /= 10;
    ++exponent;
  }
  BID_UINT128 r;
  r.w[0] = static_cast<uint64_t>(significand);
  r.w[1] = (hi & (1ull << 63)) | (exponent << 49) | static_cast<uint64_t>(significand >> 64);
  return r;
}

BID_UINT128 AsciiToDecimal(std::string text) {
  unsigned int flags = 0;
  return CanonicalDecimal(bid128_from_string(text.data(), BID_ROUNDING_TO_NEAREST, &flags));
}

static BID_UINT128 ToDecimal(const std::string& text) {
  BID_UINT128 x = AsciiToDecimal(text);
  if (!bid128_isFinite(x)) SIGNAL(kDomainError);
  return x;
}

// The constant pocket of a strand: complex when any number is, else binary64 (decimal128 under
// ⎕FR 1287, or when a binary64 value overflows). DOMAIN ERROR for a number that is not finite.
static Ref StrandConstant(const std::vector<NumberSyntax>& numbers) {
  uint32_t count = static_cast<uint32_t>(numbers.size());
  uint32_t rank = count == 1 ? 0 : 1;
  bool complex = std::any_of(numbers.begin(), numbers.end(), [](const NumberSyntax& n) { return n.complex; });
  if (complex) {
    Ref r = AllocArray(kComplex, rank, count);
    for (uint32_t i = 0; i < count; ++i) {
      double re = AsciiToDouble(numbers[i].real);
      double im = numbers[i].complex ? AsciiToDouble(numbers[i].imaginary) : 0.0;
      if (!std::isfinite(re) || !std::isfinite(im)) {
        ReleaseRef(r);
        SIGNAL(kDomainError);
      }
      DataOf<double>(r)[2 * i] = re;
      DataOf<double>(r)[2 * i + 1] = im;
    }
    return r;
  }
  if (CurrentFloatRepresentation() != 1287) {
    std::vector<double> values(count);
    for (uint32_t i = 0; i < count; ++i) values[i] = AsciiToDouble(numbers[i].real);
    if (std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); })) {
      Ref r = AllocArray(kFloat64, rank, count);
      std::memcpy(DataOf<double>(r), values.data(), count * sizeof(double));
      return r;
    }
  }
  std::vector<BID_UINT128> values(count);
  for (uint32_t i = 0; i < count; ++i) values[i] = ToDecimal(numbers[i].real);
  Ref r = AllocArray(kDecimal128, rank, count);
  std::memcpy(DataOf<uint8_t>(r), values.data(), count * sizeof(BID_UINT128));
  return r;
}

// ---- The scanner -----------------------------------------------------------------------------------

namespace {

// Where the scanner stands in the statement, for the colon's three meanings.
enum class Place {
  LineStart,        // just after 103
  StatementStart,   // just after 102 or a label
  NameAtLineStart,  // just after a name that directly follows 103
  Other,
};

struct OpenParen {
  uint32_t offset;    // token offset of the (
  size_t source;      // its position in the text
  int referenceStart; // where a reference expression ending at the matching ) starts
};

class Scanner {
 public:
  Scanner(std::u32string_view text, ScanState& state, DfnFlagTable& flags)
      : text_(text), state_(state), flags_(flags), depth_(state.dfnDepth & 0xFF) {}

  int Run() {
    StartBuffer();
    uint32_t leading = SkipBlanks();
    EmitByte(kTokLineStart);
    statementStart_ = 0;
    place_ = Place::LineStart;
    while (result_ == kScanOk && pos_ < text_.size()) {
      ScanItem();
      blanks_ = SkipBlanks();
    }
    if (result_ != kScanOk) return result_;
    Finish(leading);
    return kScanOk;
  }

 private:
  // -- Source ------------------------------------------------------------------------------------
  char32_t Peek(size_t ahead) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : 0; }
  uint32_t SkipBlanks() {
    uint32_t n = 0;
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_, ++n;
    return n;
  }
  size_t NameRunEnd(size_t from) const {
    size_t end = from;
    if (end < text_.size() && IsNameStart(text_[end]))
      while (end < text_.size() && IsNameCharacter(text_[end])) ++end;
    return end;
  }

  // -- The token buffer in working slot kSlotTokens -----------------------------------------------
  static constexpr uint32_t kStartBytes = 128;

  void StartBuffer() {
    Release(WorkingSlot(kSlotTokens));
    WorkingCursor(kSlotTokens) = 0;
    WorkingSlot(kSlotTokens) = AllocVector(kChar8, kStartBytes);
    capacity_ = kStartBytes - kTokenHeaderBytes;
  }
  void Reserve(uint32_t n) {
    if (used_ + n > kMaxTokenBytes) SIGNAL(kLimitError);
    if (used_ + n <= capacity_) return;
    if (g_interruptOnAllocation) CheckStrongInterrupt();  // interrupts are enabled: act on a pending one
    uint32_t total = capacity_ + kTokenHeaderBytes;
    uint32_t grown = total;
    while (grown < used_ + n + kTokenHeaderBytes) grown *= 2;
    Resize(WorkingSlot(kSlotTokens), (grown - total) / 4);
    ShapeOf(WorkingSlot(kSlotTokens))[0] = grown;
    capacity_ = grown - kTokenHeaderBytes;
  }
  uint8_t* At(uint32_t offset) { return TokenBytes(WorkingSlot(kSlotTokens)) + offset; }
  // Writes one token; its offset (that of its last byte) is used_ - 1 afterwards.
  void Emit(std::initializer_list<uint8_t> bytes) {
    Reserve(static_cast<uint32_t>(bytes.size()));
    lastStart_ = used_;
    std::memcpy(At(used_), bytes.begin(), bytes.size());
    used_ += static_cast<uint32_t>(bytes.size());
    lastCode_ = *(bytes.end() - 1);
  }
  void EmitByte(uint8_t code) { Emit({code}); }
  void Unemit() { used_ = lastStart_; }
  static uint8_t High(uint32_t v) { return static_cast<uint8_t>(v >> 8); }
  static uint8_t Low(uint32_t v) { return static_cast<uint8_t>(v); }

  // A token that carries a symbol index in one byte, with the extension for indexes above 255.
  void EmitIndexed(uint8_t code, uint32_t index) {
    if (index < 256) Emit({Low(index), code});
    else Emit({0, code, High(index), Low(index), kTokExtension});
  }
  void EmitName(uint32_t index) {
    if (index < kShortNameLimit) EmitByte(static_cast<uint8_t>(kTokFirstName + index));
    else Emit({kTokFirstName, High(index), Low(index), kTokExtension});
  }
  void EmitStructure(uint8_t code) {
    Emit({0, High(structureChain_), Low(structureChain_), code, kTokStructure});
    structureChain_ = used_ - 1;
  }
  // The last token cannot end the left side of a namespace reference.
  void Ends(Place place = Place::Other) {
    referenceStart_ = -1;
    dotLeft_ = -1;
    place_ = place;
  }
  // The last token ends a possible left side of a namespace reference that began at `tokenStart`
  // (or, right after a namespace dot, where the dot's own left side began).
  void EndsReference(uint32_t tokenStart) {
    int start = dotLeft_ >= 0 ? dotLeft_ : static_cast<int>(tokenStart);
    Ends();
    referenceStart_ = start;
  }

  // Interning results: a full list stops the scan.
  bool Listed(std::optional<uint32_t> index, uint32_t& out) {
    if (!index) {
      result_ = kScanSymbolListFull;
      return false;
    }
    out = *index;
    return true;
  }
  void EmitUnknown(std::u32string_view text) {
    uint32_t index;
    if (!Listed(ListText(text), index)) return;
    Emit({High(index), Low(index), kTokUnknown});
    Ends();
  }

  // -- Dispatch ------------------------------------------------------------------------------------
  void ScanItem() {
    if (text_[pos_] == U'\n' && depth_ > 0) return LineBreakInDfn();
    uint8_t cls = Classify(text_[pos_]);
    if (cls != kClassUnknown && cls < kClassName) {
      ++pos_;
      EmitByte(cls);
      return Ends();
    }
    switch (cls) {
      case kClassName: return Name();
      case kClassNumber: return Number();
      case kClassQuote: return String();
      case kClassQuad: return SystemName();
      case kClassColon: return Colon();
      case kClassSpecial: return Special();
      case kClassComment: return Comment();
      case kClassDiamond: return Diamond();
      case kClassDot: return Dot();
      case kClassHash: return Namespace();
      case kClassAssign: return Assign();
      case kClassLeftBrace: return OpenBrace();
      case kClassRightBrace: return CloseBrace();
      case kClassLeftParen: return OpenParenthesis();
      case kClassRightParen: return CloseParenthesis();
      case kClassLeftBracket: return OpenBracket();
      case kClassRightBracket: return CloseBracket();
      default:
        ++pos_;
        return EmitUnknown(text_.substr(pos_ - 1, 1));
    }
  }

  // -- Handlers ------------------------------------------------------------------------------------
  void Name() {
    size_t end = NameRunEnd(pos_);
    std::u32string_view name = text_.substr(pos_, end - pos_);
    uint32_t index;
    if (!Listed(ListName(name), index)) return;
    pos_ = end;
    bool atLineStart = place_ == Place::LineStart;
    uint32_t start = used_;
    EmitName(index);
    EndsReference(start);
    if (atLineStart) place_ = Place::NameAtLineStart;
    lastNameIndex_ = index;
    if (blankAfterName_) {
      blankAfterName_ = false;
      EmitUnknown(U" ");
    }
  }

  void Number() {
    std::vector<NumberSyntax> strand{ReadNumber(text_.substr(pos_))};
    if (!strand[0].valid) {
      size_t length = strand[0].length;
      pos_ += length;
      return EmitUnknown(text_.substr(pos_ - length, length));
    }
    size_t end = pos_ + strand[0].length;
    for (size_t next = end;; end = next) {
      while (next < text_.size() && IsBlank(text_[next])) ++next;
      if (!StartsNumber(text_.substr(next))) break;
      NumberSyntax n = ReadNumber(text_.substr(next));
      if (!n.valid) break;
      strand.push_back(std::move(n));
      next += strand.back().length;
    }
    uint32_t index;
    if (!Listed(ListConstant(StrandConstant(strand)), index)) return;
    pos_ = end;
    EmitIndexed(strand.size() == 1 ? kTokConstant : kTokStrand, index);
    Ends();
  }

  void String() {
    std::u32string value;
    size_t i = pos_ + 1;
    for (;; ++i) {
      if (i >= text_.size()) {
        state_.unbalancedQuote = true;
        std::u32string_view rest = text_.substr(pos_);
        pos_ = text_.size();
        return EmitUnknown(rest);
      }
      if (text_[i] == U'\'') {
        if (i + 1 < text_.size() && text_[i + 1] == U'\'') ++i;
        else break;
      }
      value.push_back(text_[i]);
    }
    Ref constant = value.empty() ? RootWordAt(kRootEmptyCharVector) : TextVector(value, true);
    if (value.empty()) Retain(constant);
    uint32_t index;
    if (!Listed(ListConstant(constant), index)) return;
    pos_ = i + 1;
    EmitIndexed(kTokConstant, index);
    Ends();
  }

  static std::u32string UpperCase(std::u32string_view s) {
    std::u32string upper(s);
    for (char32_t& c : upper)
      if (c >= U'a' && c <= U'z') c = c - U'a' + U'A';
    return upper;
  }

  void SystemName() {
    size_t start = pos_ + 1;
    size_t end = NameRunEnd(start);
    if (end == start) {
      ++pos_;
      EmitByte(kPrimQuad);
      return Ends();
    }
    std::u32string_view name = text_.substr(start, end - start);
    const SystemNameEntry* entry = FindSystemName(name);
    if (!entry) entry = FindSystemName(UpperCase(name));
    if (!entry) {
      ++pos_;
      EmitUnknown(U"⎕");
      blankAfterName_ = true;  // the name that follows is scanned next
      return;
    }
    static constexpr uint8_t kClassToken[] = {kTokSystemFunction, kTokSystemVariable, kTokSystemNiladic,
                                              kTokSystemOperator};
    pos_ = end;
    uint32_t tokenStart = used_;
    Emit({static_cast<uint8_t>(SystemNameNumber(*entry)), kClassToken[entry->cls & 3]});
    EndsReference(tokenStart);
  }

  bool AtStatementStart() const { return place_ == Place::LineStart || place_ == Place::StatementStart; }

  void Colon() {
    if (depth_ > 0 && Peek(1) == U':') {
      pos_ += 2;
      EmitStructure(kStructErrorGuard);
      return Ends();
    }
    size_t wordEnd = NameRunEnd(pos_ + 1);
    const KeywordEntry* keyword =
        wordEnd > pos_ + 1 ? FindKeyword(text_.substr(pos_ + 1, wordEnd - pos_ - 1)) : nullptr;
    // :In and :InEach stand in the middle of a :For statement.
    bool forClause = keyword && forStatement_ && (keyword->code == kKeyIn || keyword->code == kKeyInEach);
    if (keyword && (depth_ > 0 || AtStatementStart() || forClause)) return Keyword(*keyword, wordEnd);
    ++pos_;
    if (depth_ > 0) {
      EmitStructure(kStructGuard);
      return Ends();
    }
    if (place_ == Place::NameAtLineStart) {
      Emit({Low(lastNameIndex_), kTokLabel});
      label_ = static_cast<uint16_t>(lastNameIndex_);
      return Ends(Place::StatementStart);
    }
    EmitUnknown(U":");
  }

  void Keyword(const KeywordEntry& keyword, size_t wordEnd) {
    if (state_.acceptKeyword && !state_.acceptKeyword(keyword.code)) {
      result_ = kScanKeywordRejected;
      return;
    }
    pos_ = wordEnd;
    EmitStructure(keyword.code);
    Ends();
    if (keyword.code == kKeyFor) forStatement_ = true;
    if (!TakesRestOfLine(keyword.code)) return;
    std::u32string_view rest = text_.substr(pos_);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    pos_ = text_.size();
    uint32_t index;
    if (rest.empty() || !Listed(ListText(rest), index)) return;
    Emit({High(index), Low(index), kTokDeclarationText});
  }

  void Special() {
    static constexpr uint32_t kUse[] = {kDfnUsesAlpha, kDfnUsesOmega, 0, kDfnUsesAlphaAlpha, kDfnUsesOmegaOmega, 0};
    char32_t c = text_[pos_];
    bool doubled = Peek(1) == c;
    uint8_t n = c == U'⍺' ? kSpecialAlpha : c == U'⍵' ? kSpecialOmega : kSpecialDel;
    if (doubled) n += kSpecialAlphaAlpha;
    pos_ += doubled ? 2 : 1;
    flags_[depth_] |= kUse[n];
    uint32_t tokenStart = used_;
    Emit({n, kTokSpecialName});
    if (n == kSpecialDel || n == kSpecialDelDel) return Ends();
    EndsReference(tokenStart);
  }

  void Comment() {
    if (blanks_ > 0) {
      uint32_t b = std::min<uint32_t>(blanks_, 0xFFFF);
      if (b < 256) Emit({Low(b), kTokBlanks});
      else Emit({0, kTokBlanks, High(b), Low(b), kTokExtension});
    }
    // A comment runs to the end of its line: in a dfn written over several lines, the next line
    // goes on after the line break.
    const size_t end = depth_ > 0 ? std::min(text_.find(U'\n', pos_), text_.size()) : text_.size();
    std::u32string_view comment = text_.substr(pos_, end - pos_);
    while (!comment.empty() && IsBlank(comment.back())) comment.remove_suffix(1);
    pos_ = end;
    uint32_t index;
    if (!Listed(ListText(comment), index)) return;
    Emit({High(index), Low(index), kTokComment});
    Ends();
  }

  // The lines of a dfn written over several lines are scanned as one text joined by line breaks; a
  // break separates statements as ⋄ does, and is written back as a line break.
  void LineBreakInDfn() {
    ++pos_;
    forStatement_ = false;
    Emit({0, 0});
    EmitStructure(kStructDfnContinues);
    Ends(Place::StatementStart);
  }

  void Diamond() {
    ++pos_;
    forStatement_ = false;
    if (depth_ > 0) {
      EmitStructure(kStructDfnDiamond);
      return Ends(Place::StatementStart);
    }
    Emit({Low(statementStart_), High(statementStart_), kTokDiamond});
    statementStart_ = used_ - 1;
    Ends(Place::StatementStart);
  }

  void Dot() {
    if (IsDigit(Peek(1)) || (Peek(1) == U'.' && IsDigit(Peek(2)))) return Number();
    ++pos_;
    if (referenceStart_ < 0) {
      EmitByte(kPrimDot);
      return Ends();
    }
    int left = referenceStart_;
    if (lastCode_ == kTokSegmentStart) Unemit();
    Emit({High(left), Low(left), kTokNamespaceDot});
    Ends();
    dotLeft_ = left;
  }

  void Namespace() {
    bool parent = Peek(1) == U'#';
    pos_ += parent ? 2 : 1;
    uint32_t tokenStart = used_;
    EmitByte(parent ? kPrimParent : kPrimRoot);
    EndsReference(tokenStart);
  }

  void Assign() {
    ++pos_;
    bool afterAlpha = lastCode_ == kTokSpecialName && used_ - lastStart_ == 2 && *At(lastStart_) == kSpecialAlpha;
    if (afterAlpha) {
      Unemit();
      EmitStructure(kStructDefaultAlpha);
      flags_[depth_] |= kDfnDefaultAlpha;
    } else {
      EmitByte(kPrimAssign);
    }
    Ends();
  }

  void OpenBrace() {
    ++pos_;
    EmitStructure(kStructDfnOpen);
    depth_ = (depth_ + 1) & 0xFF;
    flags_[depth_] = 0;
    Ends(Place::StatementStart);
  }

  void CloseBrace() {
    ++pos_;
    uint32_t use = flags_[depth_];
    EmitStructure(use & kDfnUsesOmegaOmega   ? kStructDyadicDopEnd
                  : use & kDfnUsesAlphaAlpha ? kStructMonadicDopEnd
                                             : kStructDfnEnd);
    if (depth_ > 0) --depth_;
    Ends();
  }

  void OpenParenthesis() {
    int referenceStart = dotLeft_ >= 0 ? dotLeft_ : static_cast<int>(used_);
    parens_.push_back({used_, pos_, referenceStart});
    ++pos_;
    EmitByte(kPrimLeftParen);
    Ends();
  }

  void CloseParenthesis() {
    ++pos_;
    if (parens_.empty()) {
      EmitByte(kPrimRightParen);
      return Ends();
    }
    OpenParen open = parens_.back();
    parens_.pop_back();
    if (lastCode_ == kPrimLeftParen && lastStart_ == open.offset) {  // () is not an expression
      Unemit();
      return EmitUnknown(text_.substr(open.source, pos_ - open.source));
    }
    EmitByte(kPrimRightParen);
    Emit({High(open.offset), Low(open.offset), kTokSegmentStart});
    Ends();
    referenceStart_ = open.referenceStart;
  }

  void OpenBracket() {
    ++pos_;
    brackets_.push_back(referenceStart_);
    EmitByte(kPrimLeftBracket);
    Ends();
  }

  void CloseBracket() {
    ++pos_;
    EmitByte(kPrimRightBracket);
    int referenceStart = brackets_.empty() ? -1 : brackets_.back();
    if (!brackets_.empty()) brackets_.pop_back();
    Ends();
    referenceStart_ = referenceStart;
  }

  // -- End of line -----------------------------------------------------------------------------------
  static constexpr uint32_t kMaxLeadingBlanks = 1024;

  void Finish(uint32_t leading) {
    if (depth_ > 0) {
      Emit({0, 0});
      EmitStructure(kStructDfnContinues);
    } else if ((state_.lineFlags & 0xFF) == kLineFlagEndToken) {
      EmitStructure(kStructEndOfLine);
    }
    Ref stream = WorkingSlot(kSlotTokens);
    uint8_t* header = TokenHeader(stream);
    uint16_t chain = static_cast<uint16_t>(structureChain_);
    uint32_t blanks = leading < kMaxLeadingBlanks ? leading : 0;
    std::memcpy(header + kHeaderLabel, &label_, 2);
    std::memcpy(header + kHeaderStructureChain, &chain, 2);
    std::memcpy(header + kHeaderLeadingBlanks, &blanks, 4);
    std::memcpy(header + kHeaderDfnDepth, &depth_, 4);
    std::memcpy(header + kHeaderLineFlags, &state_.lineFlags, 4);
    uint32_t total = kTokenHeaderBytes + used_;
    ShapeOf(stream)[0] = total;
    ShrinkInPlace(stream, ArrayWords(kChar8, 1, total));
    state_.dfnDepth = depth_;
  }

  std::u32string_view text_;
  size_t pos_ = 0;
  ScanState& state_;
  DfnFlagTable& flags_;
  uint32_t depth_;
  int result_ = kScanOk;

  uint32_t used_ = 0;       // token bytes written
  uint32_t capacity_ = 0;   // token bytes the buffer holds
  uint32_t lastStart_ = 0;  // first byte of the last token
  uint8_t lastCode_ = 0;    // last byte of the last token

  uint32_t statementStart_ = 0;  // offset of the last 103 or 102
  uint32_t structureChain_ = 0;  // offset of the last structure token
  uint16_t label_ = kNoLabel;
  uint32_t lastNameIndex_ = 0;
  uint32_t blanks_ = 0;          // blanks skipped after the last token
  Place place_ = Place::LineStart;
  bool forStatement_ = false;    // the statement began with :For
  bool blankAfterName_ = false;  // an unknown ⎕-name: its name is followed by a blank item
  int referenceStart_ = -1;      // start of a namespace reference's left side ending at the last token
  int dotLeft_ = -1;             // left side of the namespace dot just written
  std::vector<OpenParen> parens_;
  std::vector<int> brackets_;    // referenceStart_ before each open [
};

// Frees the partly built token stream unless the scan completes.
struct TokenSlotGuard {
  bool done = false;
  ~TokenSlotGuard() {
    if (!done) Release(WorkingSlot(kSlotTokens));
  }
};

}  // namespace

// Puts the symbol list for this line into kRootSymbolList: a fresh one, or the one there when the
// caller extends it (then the index records are pointed at that list if another was scanned since).
static void PrepareSymbolList(bool extend) {
  if (extend && IsRef(RootWordAt(kRootSymbolList))) {
    if (ListSerial(RootWordAt(kRootSymbolList)) != g_claimedSerial) ClaimListPositions();
    return;
  }
  Ref list = NewSymbolList();
  Release(RootWordAt(kRootSymbolList));
  RootWordAt(kRootSymbolList) = list;
  g_claimedSerial = ListSerial(list);
}

int Scan(std::u32string_view line, ScanState* state) {
  ScanState local;
  ScanState& s = state ? *state : local;
  DfnFlagTable ownFlags{};
  DfnFlagTable& flags = s.dfnFlags ? *s.dfnFlags : ownFlags;
  s.unbalancedQuote = false;
  TokenSlotGuard guard;
  PrepareSymbolList(s.extendSymbolList);
  int result = Scanner(line, s, flags).Run();
  if (!s.extendSymbolList) {
    Ref list = RootWordAt(kRootSymbolList);
    ShrinkInPlace(list, kSymbolListFirstEntry + SymbolCount(list));
  }
  guard.done = result == kScanOk;
  return result;
}

int ScanPocket(Ref line, ScanState* state) {
  if (!IsSimpleCharacterArray(line)) SIGNAL(kDomainError);
  return Scan(CharacterText(line), state);
}

}  // namespace vantor
