// Control structures: the 64-entry keyword table (control keywords, class-script keywords and the
// dfn punctuation), sorted by lookup name at compile time and searched by binary search on UTF-16
// code units, plus the index from structure code to entry used to write keywords back as text.
#include "language/ctrl.h"
#include "language/evaluator.h"

#include <algorithm>
#include <array>
#include <string>

#include "language/scan.h"
#include "language/space.h"

namespace vantor {

static constexpr char kUnit[] = "ctrl";

namespace {

constexpr std::u16string_view kInternal = u"dodgy";

// In the order of the keyword list; sorted below, and only the sorted copy is used.
constexpr std::array<KeywordEntry, kKeywordCount> kKeywords = {{
    {u"IF", U":If", kKeyIf, false, true},
    {u"ANDIF", U":AndIf", kKeyAndIf, false, false},
    {u"ORIF", U":OrIf", kKeyOrIf, false, false},
    {u"ELSEIF", U":ElseIf", kKeyElseIf, false, false},
    {u"ELSE", U":Else", kKeyElse, false, false},
    {u"ENDIF", U":EndIf", kKeyEndIf, true, false},
    {u"WHILE", U":While", kKeyWhile, false, true},
    {u"ENDWHILE", U":EndWhile", kKeyEndWhile, true, false},
    {u"REPEAT", U":Repeat", kKeyRepeat, false, true},
    {u"UNTIL", U":Until", kKeyUntil, true, false},
    {u"ENDREPEAT", U":EndRepeat", kKeyEndRepeat, true, false},
    {u"FOR", U":For", kKeyFor, false, true},
    {u"IN", U":In", kKeyIn, false, false},
    {u"INEACH", U":InEach", kKeyInEach, false, false},
    {u"ENDFOR", U":EndFor", kKeyEndFor, true, false},
    {u"SELECT", U":Select", kKeySelect, false, true},
    {u"CASE", U":Case", kKeyCase, false, false},
    {u"CASELIST", U":CaseList", kKeyCaseList, false, false},
    {u"ENDSELECT", U":EndSelect", kKeyEndSelect, true, false},
    {u"HOLD", U":Hold", kKeyHold, false, true},
    {u"ENDHOLD", U":EndHold", kKeyEndHold, true, false},
    {u"WITH", U":With", kKeyWith, false, true},
    {u"ENDWITH", U":EndWith", kKeyEndWith, true, false},
    {u"DISPOSABLE", U":Disposable", kKeyDisposable, false, true},
    {u"ENDDISPOSABLE", U":EndDisposable", kKeyEndDisposable, true, false},
    {u"END", U":End", kKeyEnd, true, false},
    {u"GOTO", U":GoTo", kKeyGoTo, false, false},
    {u"RETURN", U":Return", kKeyReturn, false, false},
    {u"CONTINUE", U":Continue", kKeyContinue, false, false},
    {u"LEAVE", U":Leave", kKeyLeave, false, false},
    {u"TRAP", U":Trap", kKeyTrap, false, true},
    {u"ENDTRAP", U":EndTrap", kKeyEndTrap, true, false},
    {u"ACCESS", U":Access", kKeyAccess, false, false},
    {u"IMPLEMENTS", U":Implements", kKeyImplements, false, false},
    {u"REQUIRE", U":Require", kKeyRequire, false, false},
    {u"SIGNATURE", U":Signature", kKeySignature, false, false},
    {u"ATTRIBUTE", U":Attribute", kKeyAttribute, false, false},
    {u"FIELD", U":Field", kKeyField, false, false},
    {u"CLASS", U":Class", kKeyClass, false, true},
    {u"ENDCLASS", U":EndClass", kKeyEndClass, true, false},
    {u"SECTION", U":Section", kKeySection, false, true},
    {u"ENDSECTION", U":EndSection", kKeyEndSection, true, false},
    {u"INTERFACE", U":Interface", kKeyInterface, false, true},
    {u"ENDINTERFACE", U":EndInterface", kKeyEndInterface, true, false},
    {u"NAMESPACE", U":Namespace", kKeyNamespace, false, true},
    {u"ENDNAMESPACE", U":EndNamespace", kKeyEndNamespace, true, false},
    {u"PROPERTY", U":Property", kKeyProperty, false, true},
    {u"ENDPROPERTY", U":EndProperty", kKeyEndProperty, true, false},
    {u"INCLUDE", U":Include", kKeyInclude, false, false},
    {u"USING", U":Using", kKeyUsing, false, false},
    {kInternal, U"", kKeyPragma, false, false},
    {kInternal, U"∇", kKeyFunctionDelimiter, false, false},
    {kInternal, U"{", kStructDfnOpen, false, true},
    {kInternal, U"}", kStructDfnEnd, true, false},
    {kInternal, U"}", kStructMonadicDopEnd, true, false},
    {kInternal, U"}", kStructDyadicDopEnd, true, false},
    {kInternal, U":", kStructGuard, false, false},
    {kInternal, U"::", kStructErrorGuard, false, false},
    {kInternal, U"⋄", kStructDfnDiamond, false, false},
    {kInternal, U"⍺←", kStructDefaultAlpha, false, false},
    {kInternal, U"", kStructEndOfLine, false, false},
    {kInternal, U":AndIf", kKeyWhileAndIf, false, false},
    {kInternal, U":OrIf", kKeyWhileOrIf, false, false},
    {kInternal, U"", kStructDfnContinues, false, false},
}};

constexpr std::array<KeywordEntry, kKeywordCount> SortedByKey(std::array<KeywordEntry, kKeywordCount> table) {
  std::sort(table.begin(), table.end(), [](const KeywordEntry& a, const KeywordEntry& b) { return a.key < b.key; });
  return table;
}
constexpr std::array<KeywordEntry, kKeywordCount> kSortedKeywords = SortedByKey(kKeywords);

// Position of each code's entry in kSortedKeywords; kKeywordCount for codes without one.
constexpr std::array<uint8_t, kKeywordCodeLimit> IndexByCode() {
  std::array<uint8_t, kKeywordCodeLimit> index{};
  index.fill(kKeywordCount);
  for (uint32_t i = 0; i < kKeywordCount; ++i) index[kSortedKeywords[i].code] = static_cast<uint8_t>(i);
  return index;
}
constexpr std::array<uint8_t, kKeywordCodeLimit> kIndexByCode = IndexByCode();

const KeywordEntry* SearchSorted(const std::u16string& key) {
  auto it = std::lower_bound(kSortedKeywords.begin(), kSortedKeywords.end(), key,
                             [](const KeywordEntry& e, const std::u16string& k) { return e.key < k; });
  if (it == kSortedKeywords.end() || it->key != key || it->key == kInternal) return nullptr;
  return &*it;
}

}  // namespace

const KeywordEntry* FindKeyword(std::u32string_view word) {
  std::u16string key = ToUtf16(word);  // compared as UTF-16 code units, exactly
  if (const KeywordEntry* e = SearchSorted(key)) return e;
  for (char16_t& c : key)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return SearchSorted(key);
}

const KeywordEntry* KeywordByCode(uint32_t code) {
  if (code >= kKeywordCodeLimit || kIndexByCode[code] == kKeywordCount) return nullptr;
  return &kSortedKeywords[kIndexByCode[code]];
}

// ---- Control structures ----------------------------------------------------------------------------------
// A keyword statement of a running defined function is executed when its structure token, at the
// statement's left end, is read: the expression to its right is its value (a condition, the array of
// a :For, the value of a :Select or :Case). The keywords of the function are listed in order and
// matched by nesting depth to find where execution goes next. Active :For and :Select records live
// in the frame's control-state word as a stack.

static bool IsBlockKeyword(uint8_t c) {
  return c <= kKeyEndRepeat || (c >= kKeyFor && c <= kKeyEnd && c != kKeyIn && c != kKeyClauseVariant) ||
         (c >= kKeyGoTo && c <= kKeyLeave) || (c >= kKeyTrap && c <= kKeyEndWith) || c == kKeyDisposable ||
         c == kKeyEndDisposable;
}
bool Opens(uint8_t c) {
  return c == kKeyIf || c == kKeyWhile || c == kKeyRepeat || c == kKeyFor || c == kKeySelect || c == kKeyTrap ||
         c == kKeyHold || c == kKeyWith || c == kKeyDisposable;
}
bool Closes(uint8_t c) {
  return c == kKeyEndIf || c == kKeyEndWhile || c == kKeyUntil || c == kKeyEndRepeat || c == kKeyEndFor ||
         c == kKeyEndSelect || c == kKeyEndTrap || c == kKeyEndHold || c == kKeyEndWith || c == kKeyEndDisposable ||
         c == kKeyEnd;
}

// Keywords that stand alone: an expression after one is a SYNTAX ERROR.
static bool TakesNoValue(uint8_t c) {
  return (Closes(c) && c != kKeyUntil) || c == kKeyElse || c == kKeyRepeat || c == kKeyReturn || c == kKeyContinue ||
         c == kKeyLeave;
}

// Every keyword of the function's lines, in order (dfn punctuation and :In are not listed). The list
// of the function used last is kept, keyed by the function's serial number.
const std::vector<KeywordAt>& FunctionKeywords(Ref fn) {
  static uint32_t cachedSerial = 0;
  static std::vector<KeywordAt> all;
  if (Words(fn)[kTradfnSerial] == cachedSerial) return all;
  all.clear();
  for (uint32_t n = 1; n <= TradfnLineCount(fn); ++n) {
    Ref line = TradfnLine(fn, n);
    const uint8_t* bytes = TokenBytes(line);
    size_t first = all.size();
    for (uint32_t r = HeaderField16(line, kHeaderStructureChain); r != 0; r = bytes[r - 3] * 256u + bytes[r - 2])
      if (IsBlockKeyword(bytes[r - 1])) all.push_back({n, r, bytes[r - 1]});
    std::reverse(all.begin() + static_cast<ptrdiff_t>(first), all.end());
  }
  cachedSerial = Words(fn)[kTradfnSerial];
  return all;
}

// The opener of the structure that keyword k belongs to (for a closer or clause), or of the
// innermost enclosing structure that satisfies `wanted`.
template <typename Wanted>
static size_t BackwardKeyword(const std::vector<KeywordAt>& all, size_t k, Wanted wanted) {
  int depth = 0;
  for (size_t i = k; i-- > 0;) {
    uint8_t c = all[i].code;
    if (Closes(c)) ++depth;
    else if (Opens(c) && depth-- == 0 && wanted(c)) return i;
    if (depth < 0) depth = 0;
  }
  SIGNAL(kSyntaxError);  // a clause or closer without its structure
}
static size_t OpenerOf(const std::vector<KeywordAt>& all, size_t k) {
  return BackwardKeyword(all, k, [](uint8_t) { return true; });
}
static size_t CloserOf(const std::vector<KeywordAt>& all, size_t opener) {
  size_t i = ForwardKeyword(all, opener, [](uint8_t c) { return Closes(c); });
  if (i == all.size()) SIGNAL(kSyntaxError);  // a structure without its end
  return i;
}

// Puts the running function at line `line`, reading from the end of the statement that holds the
// token whose last byte is at `r` (0: the first statement).
static void GoToStatement(uint32_t line, uint32_t r) {
  StartTradfnLine(line);
  if (r == 0 || !IsRunningTradfn(CurrentFrame()) || Words(CurrentFrame())[kExecLineNumber] != line) return;
  uint32_t end = StatementEndFrom(StreamFirstToken() + r);
  g_evaluator.level.statementEnd = end - Tokens();
  Cursor() = end;
}
// Runs keyword k's statement (a clause whose expression must be evaluated).
static void EnterKeyword(const KeywordAt& k) {
  Words(CurrentFrame())[kExecClauseEntry] = (k.line << 16) | k.r;
  GoToStatement(k.line, k.r);
}
// Continues after keyword k's statement.
static void ContinueAfter(const KeywordAt& k) {
  GoToStatement(k.line, k.r);
  if (!IsRunningTradfn(CurrentFrame())) return;
  if (!NextStatement()) StartTradfnLine(k.line + 1);
}

// ---- The control-state stack: records of the active :For and :Select structures.
// A record is a nested pair: the values (the :For array, or the :Select value) and an int32 vector
// [line, r, next index, name indexes...].

static Ref& ControlStack() { return Words(CurrentFrame())[kExecControlState]; }

uint32_t RecordLine(Ref record) { return DataOf<uint32_t>(DataOf<Ref>(record)[1])[0]; }
uint32_t RecordR(Ref record) { return DataOf<uint32_t>(DataOf<Ref>(record)[1])[1]; }

// Drops the records of structures at or inside the keyword (line, r), then pushes `record`
// (counted, taken over; 0 pushes nothing).
void ReplaceControlRecords(const KeywordAt& k, Ref record) {
  Temporaries hold;
  hold[0] = record;
  Ref stack = ControlStack();
  uint32_t keep = IsRef(stack) ? static_cast<uint32_t>(ElementCount(stack)) : 0;
  for (uint32_t i = 0; i < keep; ++i) {
    Ref r = DataOf<Ref>(stack)[i];
    if (RecordLine(r) == k.line && RecordR(r) == k.r) {
      keep = i;
      break;
    }
  }
  uint32_t total = keep + (record ? 1 : 0);
  hold[1] = AllocVector(kRefElement, total);
  stack = ControlStack();
  for (uint32_t i = 0; i < keep; ++i) {
    DataOf<Ref>(hold[1])[i] = DataOf<Ref>(stack)[i];
    Retain(DataOf<Ref>(stack)[i]);
  }
  if (record) DataOf<Ref>(hold[1])[keep] = hold.Take(0);
  if (total == 0) Release(hold[1]);
  Put(ControlStack(), hold.Take(1));
}

static Ref FindControlRecord(const KeywordAt& k) {
  Ref stack = ControlStack();
  if (!IsRef(stack)) return 0;
  for (uint64_t i = ElementCount(stack); i-- > 0;) {
    Ref r = DataOf<Ref>(stack)[i];
    if (RecordLine(r) == k.line && RecordR(r) == k.r) return r;
  }
  return 0;
}

// A control record's numbers: line and position of its keyword, the next :For index, the first value
// of a :For over ⍳n (whose values item is then the count n, the vector never being made), and the
// :For names.
inline constexpr uint32_t kRecordProgression = 3;
inline constexpr uint32_t kRecordFirstName = 4;
inline constexpr uint32_t kNoProgression = 0xFFFFFFFF;

Ref MakeControlRecord(const KeywordAt& k, const Ref& values, const std::vector<uint32_t>& names) {
  Temporaries hold;
  hold[0] = AllocRecordVector(kRecordFirstName + static_cast<uint32_t>(names.size()));
  uint32_t* v = DataOf<uint32_t>(hold[0]);
  v[0] = k.line;
  v[1] = k.r;
  v[2] = 0;
  v[kRecordProgression] = kNoProgression;
  for (size_t i = 0; i < names.size(); ++i) v[kRecordFirstName + i] = names[i];
  hold[1] = AllocVector(kRefElement, 2);
  DataOf<Ref>(hold[1])[0] = values;
  Retain(values);
  DataOf<Ref>(hold[1])[1] = hold.Take(0);
  return hold.Take(1);
}

// The names between :For and :In on the current line.
static std::vector<uint32_t> ForNames(uint32_t forR, uint32_t inR) {
  std::vector<uint32_t> names;
  uint32_t base = StreamFirstToken();
  for (uint32_t p = base + inR - 4; p > base + forR + 1;) {
    uint32_t start = TokenStartBefore(p);
    uint8_t code = ByteAt(p - 1);
    if (code >= 112) names.push_back(code - 112);
    else if (code == kTokExtension && ByteAt(start) == 112) names.push_back(ByteAt(start + 1) * 256u + ByteAt(start + 2));
    else if (code != kPrimLeftParen && code != kPrimRightParen && code != kTokSegmentStart)
      SIGNAL(kSyntaxError);  // (a b) is a b
    p = start;
  }
  std::reverse(names.begin(), names.end());
  if (names.empty()) SIGNAL(kSyntaxError);
  return names;
}

// Gives the :For names item i of the values: one name takes the item, several names its items.
static void AssignForItem(Ref record, uint64_t i) {
  Temporaries hold;
  hold[0] = record;
  Retain(record);
  Ref values = DataOf<Ref>(record)[0];
  uint32_t first = DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression];
  hold[1] = first == kNoProgression ? ElementAsScalar(values, i) : MakeIntScalar(static_cast<int32_t>(first + i));
  uint32_t* v = DataOf<uint32_t>(DataOf<Ref>(hold[0])[1]);
  uint32_t names = static_cast<uint32_t>(ElementCount(DataOf<Ref>(hold[0])[1])) - kRecordFirstName;
  for (uint32_t k = 0; k < names; ++k) {
    v = DataOf<uint32_t>(DataOf<Ref>(hold[0])[1]);
    Ref entry = BoundEntry(v[kRecordFirstName + k]);
    if (EntryClass(entry) != kNameUndefined && EntryClass(entry) != kNameVariable) SIGNAL(kSyntaxError);
    if (names == 1) {
      SetEntry(entry, kNameVariable, hold[1]);
      continue;
    }
    Ref item = hold[1];
    bool whole = !IsArrayKind(KindOf(TypeWord(item))) || ElementCount(item) == 1;
    if (!whole && ElementCount(item) != names) SIGNAL(kLengthError);
    hold[2] = ElementAsScalar(item, whole ? 0 : k);
    SetEntry(entry, kNameVariable, hold[2]);
    Release(hold[2]);
  }
}

// :For a b :InEach x y takes element i of each of x y in turn: the same as :For a b :In over the
// vector whose item i holds those elements. A scalar is taken as a one-item vector.
static Ref InEachValues(const Ref& values, size_t names) {
  uint32_t type = TypeWord(values);
  if (!IsArrayKind(KindOf(type))) SIGNAL(kDomainError);
  if (RankOf(type) > 1) SIGNAL(kRankError);
  if (ElementCount(values) == 0) SIGNAL(kLengthError);
  Temporaries hold;
  hold[0] = ElementCount(values) == 1 && RankOf(type) == 0 ? CallPrimitive(50, 0, values).value : values;
  if (hold[0] == values) Retain(values);
  uint64_t items = ElementCount(hold[0]);
  if (items != names) SIGNAL(kLengthError);
  std::vector<Ref> arrays;
  for (uint64_t i = 0; i < items; ++i) {
    Ref item = KindOf(TypeWord(hold[0])) == kKindNested ? DataOf<Ref>(hold[0])[i] : 0;
    if (!IsRef(item) || !IsArrayKind(KindOf(TypeWord(item)))) SIGNAL(kDomainError);
    Ref first = DataOf<Ref>(hold[0])[0];
    if (RankOf(TypeWord(item)) != RankOf(TypeWord(first))) SIGNAL(kRankError);
    for (uint32_t a = 0; a < RankOf(TypeWord(item)); ++a)
      if (ShapeOf(item)[a] != ShapeOf(first)[a]) SIGNAL(kLengthError);
  }
  if (items == 1) {
    Ref only = DataOf<Ref>(hold[0])[0];
    Retain(only);
    return only;
  }
  uint64_t count = ElementCount(DataOf<Ref>(hold[0])[0]);
  return MakeNested({static_cast<uint32_t>(count)}, [&](uint64_t i) {
    return MakeNested({static_cast<uint32_t>(items)}, [&](uint64_t k) { return ElementAsScalar(DataOf<Ref>(hold[0])[k], i); });
  });
}

// :For names :In values — the first pass.
// Starts a :For over `given`, or over ⍳`progression` when that is not negative.
static void StartFor(const std::vector<KeywordAt>& all, size_t k, uint32_t inR, const Ref& given, int64_t progression) {
  std::vector<uint32_t> names = ForNames(all[k].r, inR);
  Temporaries hold;
  hold[0] = given;
  Retain(given);
  if (progression >= 0) Put(hold[0], MakeIntScalar(static_cast<int32_t>(progression)));
  if (StructureCodeAt(inR) == kKeyInEach) Put(hold[0], InEachValues(given, names.size()));
  const Ref& values = hold[0];
  if (!IsArrayKind(KindOf(TypeWord(values)))) SIGNAL(kDomainError);
  if (progression == 0 || (progression < 0 && ElementCount(values) == 0)) {
    ReplaceControlRecords(all[k], 0);
    return ContinueAfter(all[CloserOf(all, k)]);
  }
  ReplaceControlRecords(all[k], MakeControlRecord(all[k], values, names));
  Ref record = FindControlRecord(all[k]);
  if (progression >= 0) DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression] = IndexOrigin();
  DataOf<uint32_t>(DataOf<Ref>(record)[1])[2] = 1;
  AssignForItem(record, 0);
  ContinueAfter(all[k]);
}

// How many values a :For record goes through.
static uint64_t ForCount(Ref record) {
  Ref values = DataOf<Ref>(record)[0];
  if (DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression] == kNoProgression) return ElementCount(values);
  return static_cast<uint64_t>(IntegersOf(values)[0]);
}

// :For i :In ⍳n with n a single whole number below 2*31 − 1: the ⍳ still waiting at the :In is
// taken back and n returned, so that the loop counts without making the vector; −1 otherwise.
static int64_t TakePendingIota() {
  if (PendingFunction() != kPrimIota || Left() || PendingItem() || WorkingSlot(kSlotAxis)) return -1;
  Ref n = Right();
  if (!IsRef(n) || KindOf(TypeWord(n)) != kKindSimple || ElementCount(n) != 1 || RankOf(TypeWord(n)) > 1) return -1;
  ElementType type = ElementOf(TypeWord(n));
  if (type != kBool && type != kInt8 && type != kInt16 && type != kInt32) return -1;
  int64_t count = IntegersOf(n)[0];
  if (count < 0 || count >= INT32_MAX - 1) return -1;
  Release(Right());
  Release(PendingFunction());
  return count;
}

// :EndFor (opener k): the next item, or the loop is done.
static void NextFor(const std::vector<KeywordAt>& all, size_t opener, size_t closer) {
  Ref record = FindControlRecord(all[opener]);
  if (!record) SIGNAL(kSyntaxError);
  uint32_t next = DataOf<uint32_t>(DataOf<Ref>(record)[1])[2];
  if (next >= ForCount(record)) {
    ReplaceControlRecords(all[opener], 0);
    return ContinueAfter(all[closer]);
  }
  DataOf<uint32_t>(DataOf<Ref>(record)[1])[2] = next + 1;
  AssignForItem(record, next);
  ContinueAfter(all[opener]);
}

// After a false condition at keyword k: the next :OrIf, :ElseIf or :Else of the structure, or its
// end. :AndIf clauses of the failed branch are passed over.
static void SkipFalseBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = ForwardKeyword(all, k, [](uint8_t c) {
    return c == kKeyOrIf || c == kKeyElseIf || c == kKeyElse || Closes(c);
  });
  if (i == all.size()) SIGNAL(kSyntaxError);
  uint8_t c = all[i].code;
  if (c == kKeyOrIf || c == kKeyElseIf) return EnterKeyword(all[i]);
  ContinueAfter(all[i]);
}

// A condition and the :AndIf and :OrIf clauses that follow it form one chain, headed by :If, :ElseIf,
// :While or :Until.
static bool IsChainClause(uint8_t c) { return c == kKeyAndIf || c == kKeyOrIf; }
static size_t ChainHead(const std::vector<KeywordAt>& all, size_t k) {
  while (k > 0 && IsChainClause(all[k].code)) --k;
  return k;
}
static size_t ChainEnd(const std::vector<KeywordAt>& all, size_t k) {
  while (k + 1 < all.size() && IsChainClause(all[k + 1].code)) ++k;
  return k;
}

// The whole chain of keyword k has been decided: an :If or :ElseIf runs its block or goes on to the
// next clause, a :While enters its body or leaves, an :Until leaves the loop or repeats it.
static void ChainDecided(const std::vector<KeywordAt>& all, size_t k, bool holds) {
  const size_t head = ChainHead(all, k), end = ChainEnd(all, k);
  switch (all[head].code) {
    case kKeyWhile: return ContinueAfter(holds ? all[end] : all[CloserOf(all, head)]);
    case kKeyUntil: return ContinueAfter(holds ? all[end] : all[OpenerOf(all, head)]);
    default: return holds ? ContinueAfter(all[end]) : SkipFalseBranch(all, end);
  }
}

// After a true condition at keyword k: :OrIf clauses that follow are passed over, :AndIf ones run.
static void TakeTrueBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = k;
  while (i + 1 < all.size() && all[i + 1].code == kKeyOrIf) ++i;
  if (i + 1 < all.size() && all[i + 1].code == kKeyAndIf) return EnterKeyword(all[i + 1]);
  ChainDecided(all, k, true);
}

// After a false condition at keyword k: :AndIf clauses that follow are passed over, an :OrIf runs.
static void TakeFalseBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = k;
  while (i + 1 < all.size() && all[i + 1].code == kKeyAndIf) ++i;
  if (i + 1 < all.size() && all[i + 1].code == kKeyOrIf) return EnterKeyword(all[i + 1]);
  ChainDecided(all, k, false);
}

static size_t InnermostLoop(const std::vector<KeywordAt>& all, size_t k) {
  return BackwardKeyword(all, k, [](uint8_t c) { return c == kKeyFor || c == kKeyWhile || c == kKeyRepeat; });
}

// :Case / :CaseList entered with its value: a match runs the case.
static bool CaseMatches(uint8_t code, const Ref& selected, const Ref& value) {
  if (code == kKeyCase) return CallPrimitive(30, selected, value).value == RootWordAt(kRootScalarOne);
  if (!IsArrayKind(KindOf(TypeWord(value)))) return false;
  for (uint64_t i = 0; i < ElementCount(value); ++i) {
    Temporaries hold;
    hold[0] = ElementAsScalar(value, i);
    hold[1] = CallPrimitive(30, selected, hold[0]).value;
    if (hold[1] == RootWordAt(kRootScalarOne)) return true;
  }
  return false;
}

void NextCase(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = ForwardKeyword(all, k, [](uint8_t c) {
    return c == kKeyCase || c == kKeyCaseList || c == kKeyElse || Closes(c);
  });
  if (i == all.size()) SIGNAL(kSyntaxError);
  if (all[i].code == kKeyCase || all[i].code == kKeyCaseList) return EnterKeyword(all[i]);
  ContinueAfter(all[i]);
}

// :Hold's tokens: a scalar or vector of numbers or character vectors.
static void CheckHoldTokens(Ref tokens) {
  uint32_t type = TypeWord(tokens);
  if (!IsArrayKind(KindOf(type))) SIGNAL(kDomainError);
  if (RankOf(type) > 1) SIGNAL(kRankError);
  if (KindOf(type) == kKindSimple) return;
  for (uint64_t i = 0; i < ElementCount(tokens); ++i) {
    Ref item = DataOf<Ref>(tokens)[i];
    bool text = IsRef(item) && IsSimpleCharacterArray(item) && RankOf(TypeWord(item)) <= 1;
    bool number = IsRef(item) && KindOf(TypeWord(item)) == kKindSimple && RankOf(TypeWord(item)) == 0;
    if (!text && !number) SIGNAL(kDomainError);
  }
}

// A keyword statement: `tokenEnd` ends the structure token that closes its expression (the
// keyword's own, or the :In of a :For), `r` locates the keyword's token.
void ControlStep(uint8_t code, uint32_t tokenEnd, uint32_t r) {
  if (!IsRunningTradfn(CurrentFrameBelowNesting()) || FrameClassOf(CurrentFrame()) == kFrameNesting)
    SIGNAL(kSyntaxError);  // control structures belong to defined functions
  uint32_t boundaryR = tokenEnd - 1 - StreamFirstToken();  // relative: the expression may move the stream
  const int64_t progression = code == kKeyFor && StructureCodeAt(boundaryR) == kKeyIn ? TakePendingIota() : -1;
  if (!CompleteAtBoundary(tokenEnd)) return;
  Ref frame = CurrentFrame();
  Ref fn = Words(frame)[kExecFunction];
  uint32_t line = Words(frame)[kExecLineNumber];
  bool entered = Words(frame)[kExecClauseEntry] == ((line << 16) | r);
  Words(frame)[kExecClauseEntry] = 0;
  Temporaries hold;
  hold[0] = TakePlainArray(Take(Left()));
  ClearRegisters();
  const std::vector<KeywordAt>& all = FunctionKeywords(fn);
  size_t k = 0;
  while (k < all.size() && !(all[k].line == line && all[k].r == r)) ++k;
  if (k == all.size()) SIGNAL(kSyntaxError);
  if (hold[0] && TakesNoValue(code)) SIGNAL(kSyntaxError);
  switch (code) {
    case kKeyIf:
    case kKeyWhile:
      return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyElseIf:
    case kKeyOrIf:
    case kKeyAndIf:
      if (!entered) {
        if (code == kKeyElseIf) return ContinueAfter(all[CloserOf(all, OpenerOf(all, k))]);
        SIGNAL(kSyntaxError);
      }
      return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyElse: {
      // Reached from a branch or case that ran (or the end of a :Trap body): the structure is done.
      size_t opener = OpenerOf(all, k);
      if (all[opener].code != kKeyIf) ReplaceControlRecords(all[opener], 0);
      return ContinueAfter(all[CloserOf(all, opener)]);
    }
    case kKeyRepeat: return ContinueAfter(all[k]);
    case kKeyUntil: return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyFor: return StartFor(all, k, boundaryR, hold[0], progression);
    case kKeySelect:
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], hold[0], {}));
      return NextCase(all, k);
    case kKeyCase:
    case kKeyCaseList: {
      size_t opener = OpenerOf(all, k);
      if (!entered) {
        ReplaceControlRecords(all[opener], 0);
        return ContinueAfter(all[CloserOf(all, opener)]);
      }
      Ref record = FindControlRecord(all[opener]);
      if (!record) SIGNAL(kSyntaxError);
      hold[1] = DataOf<Ref>(record)[0];
      Retain(hold[1]);
      if (CaseMatches(code, hold[1], hold[0])) return ContinueAfter(all[k]);
      return NextCase(all, k);
    }
    case kKeyTrap: {
      Ref numbers = hold[0];
      if (!numbers) SIGNAL(kSyntaxError);
      if (!IsArrayKind(KindOf(TypeWord(numbers))) || KindOf(TypeWord(numbers)) != kKindSimple) SIGNAL(kDomainError);
      if (RankOf(TypeWord(numbers)) > 1) SIGNAL(kRankError);
      std::vector<int64_t> list;
      if (!ReadIntegers(numbers, list)) SIGNAL(kDomainError);
      LocaliseDmx();
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], numbers, {}));
      return ContinueAfter(all[k]);
    }
    case kKeyWith: {
      // The namespace given becomes the executing one until :EndWith; the record keeps the previous.
      if (!hold[0]) SIGNAL(kSyntaxError);
      Ref ns = IsNamespaceObject(hold[0]) ? hold[0] : 0;
      if (!ns && IsSimpleCharacterArray(hold[0])) ns = ResolveNamespacePath(CharacterText(hold[0]), false);
      if (!ns) SIGNAL(kDomainError);
      hold[1] = ns;
      Retain(ns);
      hold[2] = ExecutingNamespace();
      Retain(hold[2]);
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], hold[2], {}));
      SetExecutingNamespace(hold[1]);
      return ContinueAfter(all[k]);
    }
    case kKeyHold:
      // With one APL thread every token is free at once: the tokens are checked and the body runs.
      if (!hold[0]) SIGNAL(kSyntaxError);
      CheckHoldTokens(hold[0]);
      return ContinueAfter(all[k]);
    case kKeyGoTo:
      Branch(hold[0]);
      g_evaluator.branchPending = false;
      return StartTradfnLine(g_evaluator.branchLine);
    case kKeyReturn: return LeaveTradfn();
    case kKeyLeave: {
      size_t loop = InnermostLoop(all, k);
      ReplaceControlRecords(all[loop], 0);
      return ContinueAfter(all[CloserOf(all, loop)]);
    }
    case kKeyContinue: {
      size_t closer = CloserOf(all, InnermostLoop(all, k));
      return GoToStatement(all[closer].line, all[closer].r);
    }
    default:
      if (!Closes(code)) SIGNAL(kNonceError);  // :Disposable: no disposable objects exist here
      size_t opener = OpenerOf(all, k);
      switch (all[opener].code) {
        case kKeyWhile: return EnterKeyword(all[opener]);
        case kKeyRepeat: return ContinueAfter(all[opener]);
        case kKeyFor: return NextFor(all, opener, k);
        case kKeySelect:
        case kKeyTrap: ReplaceControlRecords(all[opener], 0); return ContinueAfter(all[k]);
        case kKeyWith: {
          Ref record = FindControlRecord(all[opener]);
          if (record) {
            hold[1] = DataOf<Ref>(record)[0];
            Retain(hold[1]);
            ReplaceControlRecords(all[opener], 0);
            SetExecutingNamespace(hold[1]);
          }
          return ContinueAfter(all[k]);
        }
        default: return ContinueAfter(all[k]);
      }
  }
}

// ⎕ read as a value: a line of input evaluated in a new level.
void EvaluatedInputStep() {
  if (!(Startup().startupFlags & kFlagConsole)) SIGNAL(kDomainError);
  std::u32string line;
  if (!ReadInputLine(line, InputKind::Evaluated)) ExitApl(0);
  SetResume(kResumeValueStep);
  EnterExecutionLevel(kExecutionEvaluatedInput, line);
}

// ⍞ read as a value: a line of input as a character vector.
void QuoteInputStep() {
  if (!(Startup().startupFlags & kFlagConsole)) SIGNAL(kDomainError);
  std::u32string line;
  if (!ReadInputLine(line, InputKind::QuoteQuad)) ExitApl(0);
  ValueStep(MakeText(line), true);
}

}  // namespace vantor
