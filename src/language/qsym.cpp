// The system functions over names. ⎕NC and ⎕NL classify entries by class and value, ⎕EX drops
// meanings, ⎕NS and ⎕CS create, fill and enter namespaces, ⎕SIZE measures values, ⎕THIS gives the
// executing namespace. Arguments that list names are read by NameListArgument.
#include "language/qsym.h"

#include <algorithm>
#include <bitset>
#include <cmath>

#include "language/dmx.h"
#include "language/space.h"
#include "base/errors.h"
#include "primitives/key.h"

namespace vantor {

static constexpr char kUnit[] = "qsym";

namespace {

MemberCodeFn g_memberCode = nullptr;

constexpr uint32_t kMaxCopiedNames = 4095;
constexpr uint32_t kInvalidNameCode = static_cast<uint32_t>(-10);

// ---- Class codes -------------------------------------------------------------------------------

// Traditional 1, dfn 2, primitive or derived 3, anything else (external) 6, added to the class's
// own code.
uint32_t FunctionCode(Ref value, uint32_t classCode) {
  if (!IsRef(value)) return classCode + 3;  // a primitive's code
  uint32_t kind = KindOf(TypeWord(value));
  if (kind == kKindDefinedFunction) return classCode + 1;
  if (IsObjectOfClass(value, kDfnObjectClass)) return classCode + 2;
  if (kind == kKindDerived) return classCode + 3;
  return classCode + 6;
}

uint32_t NamespaceCode(Ref value) {
  Ref ns = NamespaceOf(value);
  if (!IsRef(ns)) return 96;  // a class or interface from outside the workspace
  uint32_t flags = NamespaceFlags(ns);
  if (flags & kNsInterface) return 95;
  if (flags & kNsClass) return 94;
  if (flags & kNsInstance) return 92;
  return 91;
}

// A member of a class that is neither public nor localised is hidden from code outside the class.
bool HiddenPrivateMember(Ref entry) {
  Ref ns = EntryNamespace(entry);
  if (!IsRef(ns) || !(NamespaceFlags(ns) & kNsClass) || ns == ExecutingNamespace()) return false;
  return !(Words(entry)[kEntryFlags] & (kEntryPublicFlag | kEntryLocalisedFlag));
}

// ---- Names in arguments ------------------------------------------------------------------------

bool IsQuadName(std::u32string_view name) { return !name.empty() && name[0] == U'⎕'; }

bool IsValidPath(std::u32string_view text) {
  size_t start = 0;
  for (bool first = true;; first = false) {
    size_t dot = text.find(U'.', start);
    std::u32string_view segment = text.substr(start, dot == std::u32string_view::npos ? dot : dot - start);
    bool special = segment == U"#" || segment == U"##" || (first && segment == U"⎕SE");
    if (!special && !IsValidName(segment)) return false;
    if (dot == std::u32string_view::npos) return true;
    start = dot + 1;
  }
}

// The entry a (possibly dotted) name denotes, or 0.
Ref EntryOfName(std::u32string_view name) {
  if (name.find(U'.') != std::u32string_view::npos) return ResolvePath(name);
  return IsValidName(name) ? LookupName(name, LookupMode::Find) : 0;
}

bool IsSpecialNamespaceName(std::u32string_view name) {
  return IsRef(SpecialNamespace(name, ExecutingNamespace()));
}

// ⎕NC's code for a name: the entry's code, a system name's class, or kInvalidNameCode.
uint32_t CodeOfName(std::u32string_view name, bool decimalForm) {
  if (IsSpecialNamespaceName(name)) return 91;
  if (IsQuadName(name) && name.substr(0, 4) != U"⎕SE.") {
    const SystemNameEntry* system = FindQuadName(name);
    if (!system) return kInvalidNameCode;
    switch (system->cls) {
      case kSystemFunction: return 33;
      case kSystemOperator: return 43;
      default: return decimalForm ? kInvalidNameCode : 20;
    }
  }
  Ref entry = EntryOfName(name);
  if (IsRef(entry)) return NameClassCode(entry, decimalForm);
  return IsValidPath(name) ? 0 : kInvalidNameCode;
}

// ---- Building results --------------------------------------------------------------------------

ElementType CharacterTypeFor(std::u32string_view text) {
  char32_t widest = 0;
  for (char32_t c : text) widest = std::max(widest, c);
  return widest < 0x100 ? kChar8 : widest < 0x10000 ? kChar16 : kChar32;
}

template <typename T>
void StoreText(Ref array, uint64_t at, std::u32string_view text) {
  T* data = DataOf<T>(array) + at;
  for (size_t i = 0; i < text.size(); ++i) data[i] = static_cast<T>(text[i]);
}

void StoreCharacters(Ref array, uint64_t at, std::u32string_view text) {
  switch (ElementOf(TypeWord(array))) {
    case kChar8: StoreText<uint8_t>(array, at, text); break;
    case kChar16: StoreText<uint16_t>(array, at, text); break;
    default: StoreText<uint32_t>(array, at, text); break;
  }
}

// A matrix with one name per row, padded with blanks.
Ref MakeNameMatrix(const std::vector<std::u32string>& names) {
  size_t width = 0;
  std::u32string all;
  for (const std::u32string& name : names) {
    width = std::max(width, name.size());
    all += name;
  }
  Ref matrix = AllocMatrix(CharacterTypeFor(all), static_cast<uint32_t>(names.size()), static_cast<uint32_t>(width));
  for (size_t row = 0; row < names.size(); ++row) {
    std::u32string padded = names[row];
    padded.resize(width, U' ');
    StoreCharacters(matrix, row * width, padded);
  }
  return matrix;
}

// Integers narrowed to their smallest type, or binary64 when some value has a fraction.
Ref MakeNumbers(const std::vector<double>& values, uint32_t rank) {
  bool integral = true;
  for (double v : values) integral = integral && v == std::trunc(v) && std::fabs(v) < 2147483648.0;
  Ref r = AllocArray(integral ? kInt32 : kFloat64, rank, values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if (integral) DataOf<int32_t>(r)[i] = static_cast<int32_t>(values[i]);
    else DataOf<double>(r)[i] = values[i];
  }
  if (integral) Narrow(r);
  return r;
}

template <typename T>
void AppendNumbers(Ref array, std::vector<double>& out) {
  const T* data = DataOf<T>(array);
  for (uint64_t i = 0, n = ElementCount(array); i < n; ++i) out.push_back(static_cast<double>(data[i]));
}

// The numbers of a simple real array, in ravel order.
std::vector<double> NumbersOf(Ref array) {
  if (!IsRef(array) || KindOf(TypeWord(array)) != kKindSimple) SIGNAL(kDomainError);
  if (RankOf(TypeWord(array)) > 2) SIGNAL(kRankError);
  std::vector<double> out;
  switch (ElementOf(TypeWord(array))) {
    case kBool:
      for (uint64_t i = 0, n = ElementCount(array); i < n; ++i) out.push_back(GetBit(DataOf<uint8_t>(array), i));
      break;
    case kInt8: AppendNumbers<int8_t>(array, out); break;
    case kInt16: AppendNumbers<int16_t>(array, out); break;
    case kInt32: AppendNumbers<int32_t>(array, out); break;
    case kInt64: AppendNumbers<int64_t>(array, out); break;
    case kFloat64: AppendNumbers<double>(array, out); break;
    default: SIGNAL(kDomainError);
  }
  return out;
}

// ---- ⎕NL ---------------------------------------------------------------------------------------

using CodeSet = std::bitset<256>;

// A whole class marks its ten codes; 0 and 140 mark nothing; any other code marks itself.
void MarkCode(CodeSet& marks, uint32_t code) {
  constexpr uint32_t kWholeClasses[] = {1, 2, 3, 4, 8, 9};
  if (code % 10 == 0 && std::find(std::begin(kWholeClasses), std::end(kWholeClasses), code / 10) != std::end(kWholeClasses)) {
    for (uint32_t k = code; k < code + 10; ++k) marks.set(k);
  } else if (code != 0 && code != 140 && code < 256) {
    marks.set(code);
  }
}

std::vector<std::u32string> ListNames(const CodeSet& marks, const std::u32string* initials) {
  std::vector<std::u32string> names;
  ForEachEntry(CurrentSpaceNamespace(), [&](Ref e) {
    uint32_t code = NameClassCode(e, false);
    if (code >= 256 || !marks.test(code)) return;
    std::u32string name = EntryName(e);
    if (!initials || initials->find(name[0]) != std::u32string::npos) names.push_back(std::move(name));
  });
  return names;
}

// ---- ⎕NS and ⎕CS -------------------------------------------------------------------------------

// A namespace given as a reference: the object itself, or a scalar that encloses it.
Ref ReferencedNamespace(Ref arg) {
  if (!IsRef(arg)) return 0;
  if (KindOf(TypeWord(arg)) == kKindNested && RankOf(TypeWord(arg)) == 0) return NamespaceOf(DataOf<Ref>(arg)[0]);
  return NamespaceOf(arg);
}

// The namespace a ⎕NS or ⎕CS target names, created as needed; not counted.
Ref TargetNamespace(Ref arg) {
  if (Ref ns = ReferencedNamespace(arg)) return ns;
  if (!IsSimpleCharacterArray(arg)) SIGNAL(kDomainError);
  if (RankOf(TypeWord(arg)) > 1) SIGNAL(kRankError);
  std::u32string name = CharacterText(arg);
  return ResolveNamespacePath(name, true);
}

// Copies entries (counted, registered as temporaries) into `target` under their own names.
void CopyEntries(Ref& target, std::vector<Ref>& sources) {
  for (Ref& source : sources) {
    std::u32string name = EntryName(source);
    SpaceScope scope(target);
    Ref copy = LookupName(name, LookupMode::Create);
    SetEntry(copy, EntryClass(source), EntryValue(source));
  }
}

// The entries a list of names denotes, each checked as a source for ⎕NS.
std::vector<Ref> SourceEntries(const std::vector<std::u32string>& names) {
  if (names.size() > kMaxCopiedNames) SIGNAL(kLimitError);
  std::vector<Ref> entries;
  for (const std::u32string& name : names) {
    if (IsSpecialNamespaceName(name)) SIGNAL(kDomainError);
    Ref e = EntryOfName(name);
    if (!IsRef(e) || EntryClass(e) == kNameUndefined) SIGNAL(kValueError);
    Ref ns = EntryClass(e) == kNameNamespace ? NamespaceOf(EntryValue(e)) : 0;
    if (IsRef(ns) && (NamespaceFlags(ns) & kNsClass) && IsRef(Words(ns)[kNsScript])) SIGNAL(kNonceError);
    entries.push_back(e);
  }
  return entries;
}

// Every defined name of a namespace, for cloning it.
std::vector<Ref> DefinedEntries(Ref ns) {
  if (NamespaceFlags(ns) & kNsNotCopyable) SIGNAL(kDomainError);
  std::vector<Ref> entries;
  ForEachEntry(ns, [&](Ref e) {
    if (EntryClass(e) != kNameUndefined && EntryClass(e) != kNameSystemVariable) entries.push_back(e);
  });
  return entries;
}

// What ⎕NS and ⎕CS copy: the names a list argument denotes, or all of a referenced namespace;
// retained, so that the caller can register them as temporaries.
std::vector<Ref> EntriesToCopy(Ref arg) {
  Ref source = ReferencedNamespace(arg);
  std::vector<Ref> entries = IsRef(source) ? DefinedEntries(source) : SourceEntries(NameListArgument(arg));
  for (Ref e : entries) Retain(e);
  return entries;
}

// ⎕EX of one name: whether it is now undefined (a label and a system name stay).
bool Expunge(std::u32string_view name) {
  if (IsSpecialNamespaceName(name) || (IsQuadName(name) && name.substr(0, 4) != U"⎕SE.")) return false;
  Ref e = EntryOfName(name);
  if (!IsRef(e)) return IsValidPath(name);
  uint32_t cls = EntryClass(e);
  if (cls == kNameLabel || cls == kNameSystemVariable) return false;
  if (cls != kNameUndefined) SetEntry(e, kNameUndefined, 0);
  return true;
}

}  // namespace

// ---- Class codes -------------------------------------------------------------------------------

uint32_t NameClassCode(Ref entry, bool decimalForm) {
  uint32_t cls = EntryClass(entry);
  if (cls == kNameUndefined || HiddenPrivateMember(entry)) return 0;
  Ref value = EntryValue(entry);
  switch (cls) {
    case kNameVariable: {
      uint32_t kind = IsRef(value) ? KindOf(TypeWord(PlainArray(value))) : kKindSimple;  // hashed: an array
      return kind == kKindSmallRecord || kind == kKindSystemObject ? 26 : 21;  // wrapped or shared: 26
    }
    case kNameFunction: return FunctionCode(value, 30);
    case kNameOperator: return FunctionCode(value, 40);
    case kNameMethod: return decimalForm ? 36 : 0;
    case kNameProperty: {
      uint32_t code = g_memberCode ? g_memberCode(entry) : 80;
      return code == 26 && !decimalForm ? 0 : code;
    }
    case kNameNamespace: return NamespaceCode(value);
    default: return 10 * cls;
  }
}

void SetMemberCodeFn(MemberCodeFn fn) { g_memberCode = fn; }

const SystemNameEntry* FindQuadName(std::u32string_view text) {
  if (!IsQuadName(text)) return nullptr;
  std::u32string name(text.substr(1));
  if (const SystemNameEntry* found = FindSystemName(name)) return found;
  for (char32_t& c : name)
    if (c >= U'a' && c <= U'z') c -= U'a' - U'A';
  return FindSystemName(name);
}

std::vector<std::u32string> NameListArgument(Ref names) {
  std::vector<std::u32string> list;
  std::u32string text;
  if (IsSimpleCharacterArray(names)) {
    uint32_t rank = RankOf(TypeWord(names));
    if (rank > 2) SIGNAL(kRankError);
    if (rank < 2) {
      std::u32string_view name = TrimBlanks(text = CharacterText(names));
      if (!name.empty()) list.emplace_back(name);
      return list;
    }
    uint64_t rows = ShapeOf(names)[0], columns = ShapeOf(names)[1];
    for (uint64_t r = 0; r < rows; ++r)
      list.emplace_back(TrimBlanks(CharacterText(names, r * columns, columns)));
    return list;
  }
  if (!IsRef(names) || KindOf(TypeWord(names)) != kKindNested) SIGNAL(kDomainError);
  if (RankOf(TypeWord(names)) > 1) SIGNAL(kRankError);
  for (uint64_t i = 0, n = ElementCount(names); i < n; ++i) {
    Ref item = DataOf<Ref>(names)[i];
    if (!IsSimpleCharacterArray(item)) SIGNAL(kDomainError);
    if (RankOf(TypeWord(item)) > 1) SIGNAL(kRankError);
    list.emplace_back(TrimBlanks(CharacterText(item)));
  }
  return list;
}

// ---- The system functions ----------------------------------------------------------------------

CallResult QuadNC(const Ref&, const Ref& right) {
  bool decimalForm = IsRef(right) && KindOf(TypeWord(right)) == kKindNested;
  std::vector<std::u32string> names = NameListArgument(right);
  std::vector<double> codes;
  for (const std::u32string& name : names) {
    int32_t code = static_cast<int32_t>(CodeOfName(name, decimalForm));
    codes.push_back(decimalForm ? code / 10.0 : static_cast<double>(code / 10));
  }
  uint32_t rank = decimalForm ? RankOf(TypeWord(right)) : 1;
  return {MakeNumbers(codes, rank)};
}

CallResult QuadNL(const Ref& left, const Ref& right) {
  CodeSet marks;
  bool nested = false;
  for (double x : NumbersOf(right)) {
    nested = nested || x < 0;
    const double code = std::fabs(x) * 10 * 1.00000000000001;
    if (code < 256) MarkCode(marks, static_cast<uint32_t>(code));  // larger codes mark nothing
  }
  std::u32string initials;
  if (IsRef(left)) {
    if (!IsSimpleCharacterArray(left)) SIGNAL(kDomainError);
    initials = CharacterText(left);
  }
  std::vector<std::u32string> names = ListNames(marks, IsRef(left) ? &initials : nullptr);
  if (!nested) return {MakeNameMatrix(names)};
  return {MakeNested({static_cast<uint32_t>(names.size())}, [&](uint64_t i) { return MakeText(names[i]); })};
}

CallResult QuadEX(const Ref&, const Ref& right) {
  std::vector<double> results;
  for (const std::u32string& name : NameListArgument(right)) results.push_back(Expunge(name));
  return {MakeNumbers(results, 1), true};
}

CallResult QuadNS(const Ref& left, const Ref& right) {
  std::vector<Ref> sources = EntriesToCopy(right);
  Temporaries held;
  held.SetBuffer(sources.data(), static_cast<uint32_t>(sources.size()));
  if (IsRef(left)) {
    held[0] = TargetNamespace(left);
    Retain(held[0]);
  } else {
    held[0] = CreateNamespace(0);
  }
  CopyEntries(held[0], sources);
  if (!IsRef(left)) return {held.Take(0)};
  return {MakeText(DisplayName(held[0])), true};
}

CallResult QuadCS(const Ref& left, const Ref& right) {
  std::vector<Ref> sources = IsRef(left) ? EntriesToCopy(left) : std::vector<Ref>();
  Temporaries held;
  held.SetBuffer(sources.data(), static_cast<uint32_t>(sources.size()));
  bool toRoot = IsSimpleCharacterArray(right) && TrimBlanks(CharacterText(right)).empty();
  held[0] = toRoot ? RootNamespace() : TargetNamespace(right);
  Retain(held[0]);
  CopyEntries(held[0], sources);
  held[1] = MakeText(DisplayName(ExecutingNamespace()));
  SetExecutingNamespace(held[0]);
  return {held.Take(1), true};
}

CallResult QuadSIZE(const Ref&, const Ref& right) {
  std::vector<double> sizes;
  for (const std::u32string& name : NameListArgument(right)) {
    Ref e = IsQuadName(name) && name.substr(0, 4) != U"⎕SE." ? 0 : EntryOfName(name);
    Ref value = IsRef(e) && EntryValueCounted(e) ? EntryValue(e) : 0;
    sizes.push_back(IsRef(value) ? static_cast<double>(OccupiedBytes(value)) : 0.0);
  }
  return {MakeNumbers(sizes, 1)};
}

Ref QuadTHIS() {
  Ref ns = ExecutingNamespace();
  Retain(ns);
  return ns;
}

}  // namespace vantor
