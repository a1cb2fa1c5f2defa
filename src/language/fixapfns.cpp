// Traditional defined functions: ⎕FX splits its argument into lines, every line is tokenised into
// one name list that all the lines share, the header is parsed from its text into the descriptor
// and the symbol indexes of its names, and the object is bound to the function's name. ⎕NR ⎕CR ⎕VR
// give the lines back as regenerated from the tokens.
#include "language/fixapfns.h"

#include <algorithm>

#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/tokenise.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/partner.h"
#include "sysfns/qsys.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "fixapfns";

// A number no function fixed or read in this process has had before.
static uint32_t NextFunctionSerial() {
  static uint32_t serial = 0;
  return ++serial;
}

bool IsTradfn(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindDefinedFunction; }

std::u32string TradfnName(Ref fn) {
  uint32_t index = TradfnHeaderValue(fn, kHeaderFunctionName);
  Ref names = Words(fn)[kTradfnNames];
  return index < SymbolCount(names) ? EntryName(SymbolAt(names, index)) : U"";
}

// ---- The header --------------------------------------------------------------------------------

namespace {

// The header's text as items: names (⎕names included) and the characters ← { } ( ) ;.
struct HeaderItem {
  std::u32string text;
  bool name;
};

bool HeaderItems(std::u32string_view line, std::vector<HeaderItem>& items) {
  for (size_t i = 0; i < line.size();) {
    char32_t c = line[i];
    if (c == U' ' || c == U'\t') {
      ++i;
    } else if (c == U'⍝') {
      break;
    } else if (IsNameStart(c) || c == U'⎕') {
      size_t j = i + 1;
      while (j < line.size() && IsNameCharacter(line[j])) ++j;
      items.push_back({std::u32string(line.substr(i, j - i)), true});
      i = j;
    } else if (std::u32string_view(U"←{}();").find(c) != std::u32string_view::npos) {
      items.push_back({std::u32string(1, c), false});
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// The header's names, before they are turned into symbol indexes.
struct ParsedHeader {
  uint32_t descriptor = kHeaderValid | kHeaderAlwaysSet;
  std::u32string function, result, left, right, leftOperand, rightOperand;
  std::vector<std::u32string> locals;
  std::vector<std::u32string> results, rights;  // every name of (R1 R2)← and of F (A B C)
};

class HeaderParser {
 public:
  explicit HeaderParser(const std::vector<HeaderItem>& items) : items_(items) {}

  bool Parse(ParsedHeader& h) {
    size_t semicolon = 0;
    while (semicolon < items_.size() && !Is(semicolon, U";")) ++semicolon;
    if (!Locals(semicolon, h)) return false;
    end_ = semicolon;
    size_t arrow = 0;
    while (arrow < end_ && !Is(arrow, U"←")) ++arrow;
    if (arrow < end_) {
      if (!Result(arrow, h)) return false;
      pos_ = arrow + 1;
    }
    return Signature(h);
  }

 private:
  bool Is(size_t i, std::u32string_view text) const { return i < items_.size() && !items_[i].name && items_[i].text == text; }
  bool IsName(size_t i) const { return i < end_ && items_[i].name && items_[i].text[0] != U'⎕'; }

  bool Locals(size_t semicolon, ParsedHeader& h) {
    for (size_t i = semicolon; i < items_.size(); i += 2) {
      if (!Is(i, U";") || i + 1 >= items_.size() || !items_[i + 1].name) return false;
      h.locals.push_back(items_[i + 1].text);
    }
    return true;
  }

  // R←  {R}←  (R1 R2)←  {(R1 R2)}←
  bool Result(size_t arrow, ParsedHeader& h) {
    size_t i = 0, last = arrow;
    if (Is(0, U"{") && Is(arrow - 1, U"}")) {
      h.descriptor |= kHeaderShyResult;
      i = 1;
      last = arrow - 1;
    }
    if (last - i == 1 && IsName(i)) h.result = items_[i].text;
    else if (Is(i, U"(") && Is(last - 1, U")") && last - i >= 3) {
      for (size_t k = i + 1; k + 1 < last; ++k) {
        if (!IsName(k)) return false;
        h.results.push_back(items_[k].text);
      }
      h.result = h.results[0];
      h.descriptor |= kHeaderResultList;
    } else {
      return false;
    }
    h.descriptor |= kHeaderResult;
    return true;
  }

  // [left] function [right], the function possibly an operator group (LO OP RO).
  bool Signature(ParsedHeader& h) {
    std::vector<std::vector<std::u32string>> parts;  // each a name, a braced name or a group
    std::vector<bool> braced, grouped;
    while (pos_ < end_) {
      if (IsName(pos_)) {
        parts.push_back({items_[pos_].text});
        braced.push_back(false);
        grouped.push_back(false);
        ++pos_;
      } else if (Is(pos_, U"{") && IsName(pos_ + 1) && Is(pos_ + 2, U"}")) {
        parts.push_back({items_[pos_ + 1].text});
        braced.push_back(true);
        grouped.push_back(false);
        pos_ += 3;
      } else if (Is(pos_, U"(")) {
        std::vector<std::u32string> names;
        size_t i = pos_ + 1;
        while (IsName(i)) names.push_back(items_[i++].text);
        if (!Is(i, U")") || names.empty()) return false;
        parts.push_back(names);
        braced.push_back(false);
        grouped.push_back(true);
        pos_ = i + 1;
      } else {
        return false;
      }
    }
    if (parts.empty() || parts.size() > 3) return false;
    // F, F X, (LO OP RO) X or A F X: the function part is first unless there are three parts.
    size_t fn = parts.size() == 3 ? 1 : 0;
    if (parts.size() == 3) {
      if (grouped[0] || parts[0].size() != 1) return false;
      h.left = parts[0][0];
      h.descriptor |= kHeaderLeft;
      if (braced[0]) h.descriptor |= kHeaderLeftOptional;
    }
    if (braced[fn]) return false;
    if (!FunctionPart(parts[fn], grouped[fn], h)) return false;
    if (fn + 1 < parts.size()) {
      const std::vector<std::u32string>& right = parts[fn + 1];
      if (braced[fn + 1]) return false;
      h.right = right[0];
      h.descriptor |= kHeaderRight;
      if (grouped[fn + 1]) {
        h.rights = right;
        h.descriptor |= kHeaderRightList;
      }
    }
    if ((h.descriptor & kHeaderLeftOptional) && h.right.empty()) return false;
    return true;
  }

  static bool FunctionPart(const std::vector<std::u32string>& names, bool grouped, ParsedHeader& h) {
    if (!grouped) {
      h.function = names[0];
      return true;
    }
    if (names.size() < 2 || names.size() > 3) return false;
    h.leftOperand = names[0];
    h.function = names[1];
    h.descriptor |= kHeaderLeftOperand;
    if (names.size() == 3) {
      h.rightOperand = names[2];
      h.descriptor |= kHeaderRightOperand;
    }
    return true;
  }

  const std::vector<HeaderItem>& items_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

bool ParseHeader(std::u32string_view line, ParsedHeader& h) {
  std::vector<HeaderItem> items;
  if (!HeaderItems(line, items)) return false;
  if (!HeaderParser(items).Parse(h)) return false;
  std::vector<std::u32string> names = {h.function, h.left, h.leftOperand, h.rightOperand};
  names.insert(names.end(), h.results.begin(), h.results.end());
  names.insert(names.end(), h.rights.begin(), h.rights.end());
  if (h.results.empty()) names.push_back(h.result);
  if (h.rights.empty()) names.push_back(h.right);
  std::sort(names.begin(), names.end());
  for (size_t i = 1; i < names.size(); ++i)
    if (!names[i].empty() && names[i] == names[i - 1]) return false;  // a name used twice
  for (const std::u32string& local : h.locals)
    if (std::find(names.begin(), names.end(), local) != names.end()) h.descriptor |= kHeaderClash;
  return true;
}

// The index of a name in the function's name list.
uint32_t SymbolIndexOf(Ref symbols, const std::u32string& name) {
  if (name.empty()) return kNoHeaderName;
  for (uint32_t i = 0; i < SymbolCount(symbols); ++i) {
    Ref item = SymbolAt(symbols, i);
    if (IsRef(item) && KindOf(TypeWord(item)) == kKindName && EntryName(item) == name) return i;
  }
  return kNoHeaderName;
}

uint32_t LocalCode(Ref symbols, const std::u32string& local) {
  if (local[0] != U'⎕') return SymbolIndexOf(symbols, local);
  std::u32string upper;
  for (char32_t c : local.substr(1)) upper.push_back(c >= U'a' && c <= U'z' ? c - 32 : c);
  const SystemNameEntry* entry = FindSystemName(upper);
  if (!entry || entry->cls != kSystemVariable) return kNoHeaderName;
  return kSystemLocal + (entry->code & 0xFF);
}

Ref HeaderVector(Ref symbols, const ParsedHeader& h) {
  const size_t lists = h.results.size() + h.rights.size();
  Ref header = AllocRecordVector(kHeaderFirstLocal + static_cast<uint32_t>(h.locals.size() + lists));
  uint32_t* v = DataOf<uint32_t>(header);
  v[kHeaderDescriptor] = h.descriptor;
  v[kHeaderFunctionName] = SymbolIndexOf(symbols, h.function);
  v[kHeaderResultName] = SymbolIndexOf(symbols, h.result);
  v[kHeaderLeftName] = SymbolIndexOf(symbols, h.left);
  v[kHeaderRightName] = SymbolIndexOf(symbols, h.right);
  v[kHeaderLeftOperandName] = SymbolIndexOf(symbols, h.leftOperand);
  v[kHeaderRightOperandName] = SymbolIndexOf(symbols, h.rightOperand);
  v[kHeaderResultCount] = static_cast<uint32_t>(h.results.size());
  v[kHeaderRightCount] = static_cast<uint32_t>(h.rights.size());
  uint32_t* next = v + kHeaderFirstLocal;
  for (const std::u32string& local : h.locals) *next++ = LocalCode(symbols, local);
  for (const std::u32string& name : h.results) *next++ = SymbolIndexOf(symbols, name);
  for (const std::u32string& name : h.rights) *next++ = SymbolIndexOf(symbols, name);
  return header;
}

// Keeps the running code's token stream (with its cursor) and symbol list while the function's
// lines are tokenised through the same root words.
class ScannerWordsSaved {
 public:
  ScannerWordsSaved() {
    cursor_ = WorkingCursor(kSlotTokens) - WorkingSlot(kSlotTokens);
    saved_[0] = WorkingSlot(kSlotTokens);
    WorkingSlot(kSlotTokens) = 0;
    WorkingCursor(kSlotTokens) = 0;
    saved_[1] = RootWordAt(kRootSymbolList);
    RootWordAt(kRootSymbolList) = 0;
  }
  ~ScannerWordsSaved() {
    Release(WorkingSlot(kSlotTokens));
    Release(RootWordAt(kRootSymbolList));
    WorkingSlot(kSlotTokens) = saved_.Take(0);
    WorkingCursor(kSlotTokens) = WorkingSlot(kSlotTokens) ? WorkingSlot(kSlotTokens) + cursor_ : 0;
    RootWordAt(kRootSymbolList) = saved_.Take(1);
  }
  ScannerWordsSaved(const ScannerWordsSaved&) = delete;
  ScannerWordsSaved& operator=(const ScannerWordsSaved&) = delete;

 private:
  Temporaries saved_;
  uint32_t cursor_;
};

inline constexpr uint32_t kMaxFunctionLines = 4095;

}  // namespace

FixOutcome FixFunction(const std::vector<std::u32string>& lines) {
  FixOutcome outcome;
  if (lines.empty() || lines.size() > kMaxFunctionLines + 1) return outcome;
  ParsedHeader header;
  if (!ParseHeader(lines[0], header)) return outcome;
  ScannerWordsSaved saved;
  Temporaries hold;
  hold[0] = AllocVector(kRefElement, static_cast<uint32_t>(lines.size()));
  ScanState state;
  state.extendSymbolList = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    // A dfn left open at the end of a line goes on in the next ones: they are scanned together as
    // one line, and the lines taken in keep an empty line each, so that line numbers stay.
    const ScanState start = state;
    std::u32string text = lines[i];
    size_t last = i;
    for (;;) {
      state = start;
      if (Scan(text, &state) != kScanOk || state.unbalancedQuote) {
        outcome.failedLine = static_cast<uint32_t>(last);
        return outcome;
      }
      if (state.dfnDepth == 0) break;
      if (last + 1 == lines.size()) {  // a dfn that never closes
        outcome.failedLine = static_cast<uint32_t>(i);
        return outcome;
      }
      text += U'\n';
      text += lines[++last];
    }
    DataOf<Ref>(hold[0])[i] = WorkingSlot(kSlotTokens);
    WorkingSlot(kSlotTokens) = 0;
    WorkingCursor(kSlotTokens) = 0;
    for (size_t taken = i + 1; taken <= last; ++taken) {
      if (Scan(U"", &state) != kScanOk) {
        outcome.failedLine = static_cast<uint32_t>(taken);
        return outcome;
      }
      DataOf<Ref>(hold[0])[taken] = WorkingSlot(kSlotTokens);
      WorkingSlot(kSlotTokens) = 0;
      WorkingCursor(kSlotTokens) = 0;
    }
    i = last;
  }
  Ref symbols = RootWordAt(kRootSymbolList);
  hold[1] = HeaderVector(symbols, header);
  Ref entry = LookupName(header.function, LookupMode::Create);
  uint32_t current = EntryClass(entry);
  if (current != kNameUndefined && current != kNameFunction && current != kNameOperator) return outcome;
  Ref fn = GetSpace(kTradfnWords);
  uint32_t* w = Words(fn);
  w[1] = 1;
  w[2] = kKindDefinedFunction | ((header.descriptor & 0xFFF) << 4) | kTradfnFixedFlag;
  w[kTradfnNames] = RootWordAt(kRootSymbolList);
  RootWordAt(kRootSymbolList) = 0;
  w[kTradfnLines] = hold.Take(0);
  w[kTradfnHeader] = hold.Take(1);
  w[kTradfnSerial] = NextFunctionSerial();
  for (uint32_t k = kTradfnSerial + 1; k < kTradfnWords; ++k) w[k] = 0;
  hold[0] = fn;
  entry = LookupName(header.function, LookupMode::Create);
  SetEntry(entry, header.descriptor & kHeaderLeftOperand ? kNameOperator : kNameFunction, hold[0]);
  outcome.fixed = true;
  outcome.name = header.function;
  return outcome;
}

// ---- ⎕FX ---------------------------------------------------------------------------------------

namespace {

// The lines of ⎕FX's argument: a character matrix, a vector of character vectors (or scalars), or
// one character vector whose lines end at carriage return or next line.
std::vector<std::u32string> ArgumentLines(Ref argument) {
  std::vector<std::u32string> lines;
  uint32_t type = TypeWord(argument);
  uint32_t rank = RankOf(type);
  if (IsSimpleCharacterArray(argument) || (IsArrayKind(KindOf(type)) && ElementCount(argument) == 0 && rank <= 2 &&
                                           KindOf(type) == kKindSimple)) {
    if (rank > 2) SIGNAL(kRankError);
    if (rank == 2) {
      uint32_t rows = ShapeOf(argument)[0], columns = ShapeOf(argument)[1];
      for (uint32_t r = 0; r < rows; ++r) lines.push_back(CharacterText(argument, uint64_t{r} * columns, columns));
      return lines;
    }
    std::u32string text = ElementCount(argument) ? CharacterText(argument) : std::u32string();
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
      if (i == text.size() || text[i] == U'\r' || text[i] == U'\x85') {
        lines.push_back(text.substr(start, i - start));
        start = i + 1;
      }
    if (!text.empty() && (text.back() == U'\r' || text.back() == U'\x85')) lines.pop_back();
    return lines;
  }
  if (KindOf(type) != kKindNested) SIGNAL(kDomainError);
  if (rank > 1) SIGNAL(kRankError);
  for (uint64_t i = 0; i < ElementCount(argument); ++i) {
    Ref item = DataOf<Ref>(argument)[i];
    if (!IsRef(item) || !IsArrayKind(KindOf(TypeWord(item)))) SIGNAL(kDomainError);
    if (RankOf(TypeWord(item)) > 1) SIGNAL(kRankError);
    if (ElementCount(item) == 0) {
      lines.emplace_back();
      continue;
    }
    if (!IsSimpleCharacterArray(item)) SIGNAL(kDomainError);
    lines.push_back(CharacterText(item));
  }
  return lines;
}

}  // namespace

CallResult QuadFX(const Ref&, const Ref& right) {
  if (!IsRef(right) || !IsArrayKind(KindOf(TypeWord(right)))) SIGNAL(kNonceError);  // a function
  FixOutcome outcome = FixFunction(ArgumentLines(right));
  if (outcome.fixed) return {MakeText(outcome.name), false};
  return {MakeIntScalar(static_cast<int32_t>(outcome.failedLine + IndexOrigin())), false};
}

// ---- Representations -----------------------------------------------------------------------

std::vector<std::u32string> FunctionLines(Ref fn) {
  std::vector<std::u32string> lines;
  Ref symbols = Words(fn)[kTradfnNames];
  for (uint32_t n = 0; n <= TradfnLineCount(fn); ++n) {
    // A dfn written over several lines stands whole in its first line; the lines it took in are
    // empty and give way to its own lines.
    std::u32string text = LineText(TradfnLine(fn, n), symbols);
    size_t start = 0;
    for (size_t brk; (brk = text.find(U'\n', start)) != std::u32string::npos; start = brk + 1, ++n)
      lines.push_back(text.substr(start, brk - start));
    lines.push_back(text.substr(start));
  }
  return lines;
}

namespace {

// The function named by a character argument, or 0 when the name is not a defined function or
// dfn.
Ref NamedFunction(Ref argument) {
  if (!IsSimpleCharacterArray(argument) || RankOf(TypeWord(argument)) > 1) SIGNAL(kDomainError);
  std::u32string name = CharacterText(argument);
  while (!name.empty() && name.back() == U' ') name.pop_back();
  Ref entry = LookupName(name, LookupMode::Find);
  if (!entry) return 0;
  uint32_t cls = EntryClass(entry);
  Ref value = EntryValue(entry);
  if ((cls != kNameFunction && cls != kNameOperator) || !(IsTradfn(value) || IsObjectOfClass(value, kDfnObjectClass)))
    return 0;
  return value;
}

// The lines of a defined function, or the one line of a dfn's text.
std::vector<std::u32string> NamedFunctionLines(Ref fn) {
  if (IsTradfn(fn)) return FunctionLines(fn);
  return {FunctionValueText(fn)};
}

}  // namespace

CallResult QuadNR(const Ref&, const Ref& right) {
  Ref fn = NamedFunction(right);
  if (!fn) return {MakeNested({0}, [](uint64_t) { return Ref{0}; }), false};
  std::vector<std::u32string> lines = NamedFunctionLines(fn);
  return {MakeNested({static_cast<uint32_t>(lines.size())}, [&](uint64_t i) { return MakeText(lines[i]); }), false};
}

CallResult QuadCR(const Ref&, const Ref& right) {
  Ref fn = NamedFunction(right);
  std::vector<std::u32string> lines;
  if (fn) lines = NamedFunctionLines(fn);
  size_t width = 0;
  for (const std::u32string& line : lines) width = std::max(width, line.size());
  Ref matrix = AllocMatrix(kChar32, static_cast<uint32_t>(lines.size()), static_cast<uint32_t>(width));
  char32_t* data = DataOf<char32_t>(matrix);
  for (size_t r = 0; r < lines.size(); ++r)
    for (size_t c = 0; c < width; ++c) data[r * width + c] = c < lines[r].size() ? lines[r][c] : U' ';
  Narrow(matrix);
  return {matrix, false};
}

CallResult QuadVR(const Ref&, const Ref& right) {
  Ref fn = NamedFunction(right);
  if (!fn || !IsTradfn(fn)) return {MakeText(U""), false};
  std::vector<std::u32string> lines = FunctionLines(fn);
  char32_t lineEnd = AvCharacter(3);
  std::u32string text = U"     ∇" + lines[0] + lineEnd;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::string digits = std::to_string(n);
    std::u32string number = U"[" + std::u32string(digits.begin(), digits.end()) + U"]";
    number.resize(std::max<size_t>(number.size(), 6), U' ');
    text += number + lines[n] + lineEnd;
  }
  text += U"     ∇";
  text += lineEnd;
  return {MakeText(text), false};
}

// ---- Start-up ---------------------------------------------------------------------------------

static void FunctionFields(Ref, FieldRuns& out) { out.Add(kTradfnNames, kTradfnHeader - kTradfnNames + 1); }

// A function read from a transfer stream gets a serial of its own (caches of derived data are
// keyed by it) and clear statistics; its lines and header must be arrays of the kinds it uses.
static void FinishTransferredFunction(const Ref& fn, const Ref&, bool completed) {
  if (!completed) return;
  uint32_t* w = Words(fn);
  Ref lines = w[kTradfnLines], header = w[kTradfnHeader];
  if (PocketWords(fn) != kTradfnWords || !IsRef(lines) || KindOf(TypeWord(lines)) != kKindNested ||
      RankOf(TypeWord(lines)) != 1 || ElementCount(lines) == 0 || !IsRef(header) ||
      KindOf(TypeWord(header)) != kKindSimple || ElementOf(TypeWord(header)) != kInt32 ||
      RankOf(TypeWord(header)) != 1 || ElementCount(header) < kHeaderFirstLocal ||
      !IsRef(w[kTradfnNames]) || KindOf(TypeWord(w[kTradfnNames])) != kKindRefList)
    TransferReader::Invalid();
  for (uint64_t i = 0; i < ElementCount(lines); ++i)
    if (!IsRef(DataOf<Ref>(lines)[i]) || KindOf(TypeWord(DataOf<Ref>(lines)[i])) != kKindSimple) TransferReader::Invalid();
  w[kTradfnSerial] = NextFunctionSerial();
  for (uint32_t k = kTradfnSerial + 1; k < kTradfnWords; ++k) w[k] = 0;
}

void InitialiseFunctions() {
  RegisterKind(kKindDefinedFunction, FunctionFields, nullptr);
  TransferRule rule = PlainTransferRule();
  rule.leave = FinishTransferredFunction;
  RegisterTransferKind(kKindDefinedFunction, rule);
}

}  // namespace vantor
