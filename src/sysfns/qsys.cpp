// The system-name registry: the fixed table of 170 ⎕-names and the two sorted index arrays (by name,
// and by number within class) that the lookups search. The order of the table itself carries no
// meaning; each index is built and sorted once, at first use.
#include "sysfns/qsys.h"

#include <algorithm>
#include <array>

namespace vantor {

namespace {

// Flag bytes: listed and completed (plus a bit that ordinary entries carry), listed only, neither.
constexpr uint16_t kOrdinary = 7;
constexpr uint16_t kListedOnly = 1;
constexpr uint16_t kHidden = 0;

constexpr uint16_t Code(uint32_t k, uint16_t flags) { return static_cast<uint16_t>(flags << 8 | k); }

// System functions are numbered 17..126 (dispatch codes 222..113); ⎕XML (213) and ⎕NA (180) have
// codes that other units rely on.
constexpr SystemNameEntry kRegistry[] = {
    // System functions.
    {u"ARBIN", Code(17, kOrdinary), kSystemFunction},
    {u"ARBOUT", Code(18, kOrdinary), kSystemFunction},
    {u"AT", Code(19, kOrdinary), kSystemFunction},
    {u"CATCH", Code(20, kHidden), kSystemFunction},
    {u"CLASS", Code(21, kOrdinary), kSystemFunction},
    {u"CMD", Code(22, kOrdinary), kSystemFunction},
    {u"CR", Code(23, kOrdinary), kSystemFunction},
    {u"CS", Code(24, kOrdinary), kSystemFunction},
    {u"CY", Code(25, kOrdinary), kSystemFunction},
    {u"XML", Code(26, kOrdinary), kSystemFunction},
    {u"DF", Code(27, kOrdinary), kSystemFunction},
    {u"DL", Code(28, kOrdinary), kSystemFunction},
    {u"DQ", Code(29, kOrdinary), kSystemFunction},
    {u"DR", Code(30, kOrdinary), kSystemFunction},
    {u"ED", Code(31, kOrdinary), kSystemFunction},
    {u"EM", Code(32, kOrdinary), kSystemFunction},
    {u"EX", Code(33, kOrdinary), kSystemFunction},
    {u"EXPORT", Code(34, kOrdinary), kSystemFunction},
    {u"FAPPEND", Code(35, kOrdinary), kSystemFunction},
    {u"FCHK", Code(36, kOrdinary), kSystemFunction},
    {u"FCOPY", Code(37, kOrdinary), kSystemFunction},
    {u"FCREATE", Code(38, kOrdinary), kSystemFunction},
    {u"FDROP", Code(39, kOrdinary), kSystemFunction},
    {u"FERASE", Code(40, kOrdinary), kSystemFunction},
    {u"FHIST", Code(41, kOrdinary), kSystemFunction},
    {u"FHOLD", Code(42, kOrdinary), kSystemFunction},
    {u"FIX", Code(43, kOrdinary), kSystemFunction},
    {u"FLIB", Code(44, kOrdinary), kSystemFunction},
    {u"FMT", Code(45, kOrdinary), kSystemFunction},
    {u"FPROPS", Code(46, kOrdinary), kSystemFunction},
    {u"FRDAC", Code(47, kOrdinary), kSystemFunction},
    {u"FRDCI", Code(48, kOrdinary), kSystemFunction},
    {u"FREAD", Code(49, kOrdinary), kSystemFunction},
    {u"FRENAME", Code(50, kOrdinary), kSystemFunction},
    {u"FREPLACE", Code(51, kOrdinary), kSystemFunction},
    {u"FRESIZE", Code(52, kOrdinary), kSystemFunction},
    {u"FSIZE", Code(53, kOrdinary), kSystemFunction},
    {u"FSTAC", Code(54, kOrdinary), kSystemFunction},
    {u"FSTIE", Code(55, kOrdinary), kSystemFunction},
    {u"FTIE", Code(56, kOrdinary), kSystemFunction},
    {u"FUNTIE", Code(57, kOrdinary), kSystemFunction},
    {u"FX", Code(58, kOrdinary), kSystemFunction},
    {u"NA", Code(59, kOrdinary), kSystemFunction},
    {u"HOLD", Code(60, kHidden), kSystemFunction},
    {u"INSTANCES", Code(61, kOrdinary), kSystemFunction},
    {u"KL", Code(62, kOrdinary), kSystemFunction},
    {u"LOAD", Code(63, kOrdinary), kSystemFunction},
    {u"LOCK", Code(64, kOrdinary), kSystemFunction},
    {u"MAP", Code(65, kOrdinary), kSystemFunction},
    {u"MKDIR", Code(66, kOrdinary), kSystemFunction},
    {u"MM", Code(67, kHidden), kSystemFunction},
    {u"MONITOR", Code(68, kOrdinary), kSystemFunction},
    {u"NAPPEND", Code(69, kOrdinary), kSystemFunction},
    {u"NC", Code(70, kOrdinary), kSystemFunction},
    {u"NCREATE", Code(71, kOrdinary), kSystemFunction},
    {u"NDELETE", Code(72, kOrdinary), kSystemFunction},
    {u"NERASE", Code(73, kOrdinary), kSystemFunction},
    {u"NEW", Code(74, kOrdinary), kSystemFunction},
    {u"NEXISTS", Code(75, kOrdinary), kSystemFunction},
    {u"NGET", Code(76, kOrdinary), kSystemFunction},
    {u"NINFO", Code(77, kOrdinary), kSystemFunction},
    {u"NL", Code(78, kOrdinary), kSystemFunction},
    {u"NLOCK", Code(79, kOrdinary), kSystemFunction},
    {u"NPARTS", Code(80, kOrdinary), kSystemFunction},
    {u"NPUT", Code(81, kOrdinary), kSystemFunction},
    {u"NQ", Code(82, kOrdinary), kSystemFunction},
    {u"NR", Code(83, kOrdinary), kSystemFunction},
    {u"NREAD", Code(84, kOrdinary), kSystemFunction},
    {u"NRENAME", Code(85, kOrdinary), kSystemFunction},
    {u"NREPLACE", Code(86, kOrdinary), kSystemFunction},
    {u"NRESIZE", Code(87, kOrdinary), kSystemFunction},
    {u"NS", Code(88, kOrdinary), kSystemFunction},
    {u"NSIZE", Code(89, kOrdinary), kSystemFunction},
    {u"NTIE", Code(90, kOrdinary), kSystemFunction},
    {u"NUNTIE", Code(91, kOrdinary), kSystemFunction},
    {u"NXLATE", Code(92, kOrdinary), kSystemFunction},
    {u"OR", Code(93, kOrdinary), kSystemFunction},
    {u"PFKEY", Code(94, kOrdinary), kSystemFunction},
    {u"PROFILE", Code(95, kOrdinary), kSystemFunction},
    {u"REFS", Code(96, kOrdinary), kSystemFunction},
    {u"SAVE", Code(97, kOrdinary), kSystemFunction},
    {u"SH", Code(98, kOrdinary), kSystemFunction},
    {u"SHADOW", Code(99, kOrdinary), kSystemFunction},
    {u"SIGNAL", Code(100, kOrdinary), kSystemFunction},
    {u"SIZE", Code(101, kOrdinary), kSystemFunction},
    {u"SR", Code(102, kOrdinary), kSystemFunction},
    {u"SRC", Code(103, kOrdinary), kSystemFunction},
    {u"STATE", Code(104, kOrdinary), kSystemFunction},
    {u"STOP", Code(105, kOrdinary), kSystemFunction},
    {u"SVC", Code(106, kOrdinary), kSystemFunction},
    {u"SVO", Code(107, kOrdinary), kSystemFunction},
    {u"SVQ", Code(108, kOrdinary), kSystemFunction},
    {u"SVR", Code(109, kOrdinary), kSystemFunction},
    {u"SVS", Code(110, kOrdinary), kSystemFunction},
    {u"TCNUMS", Code(111, kOrdinary), kSystemFunction},
    {u"TGET", Code(112, kOrdinary), kSystemFunction},
    {u"TKILL", Code(113, kOrdinary), kSystemFunction},
    {u"TPUT", Code(114, kOrdinary), kSystemFunction},
    {u"TRACE", Code(115, kOrdinary), kSystemFunction},
    {u"TREQ", Code(116, kOrdinary), kSystemFunction},
    {u"TSYNC", Code(117, kOrdinary), kSystemFunction},
    {u"UCS", Code(118, kOrdinary), kSystemFunction},
    {u"VFI", Code(119, kOrdinary), kSystemFunction},
    {u"VR", Code(120, kOrdinary), kSystemFunction},
    {u"WC", Code(121, kOrdinary), kSystemFunction},
    {u"WD", Code(122, kListedOnly), kSystemFunction},
    {u"WG", Code(123, kOrdinary), kSystemFunction},
    {u"WN", Code(124, kOrdinary), kSystemFunction},
    {u"WS", Code(125, kOrdinary), kSystemFunction},
    {u"XT", Code(126, kOrdinary), kSystemFunction},
    // System variables (11 and 12 stand for ⎕ and ⍞; 14 is unused).
    {u"CT", Code(0, kOrdinary), kSystemVariable},
    {u"DIV", Code(1, kOrdinary), kSystemVariable},
    {u"IO", Code(2, kOrdinary), kSystemVariable},
    {u"LX", Code(3, kOrdinary), kSystemVariable},
    {u"PP", Code(4, kOrdinary), kSystemVariable},
    {u"PW", Code(5, kOrdinary), kSystemVariable},
    {u"RL", Code(6, kOrdinary), kSystemVariable},
    {u"RTL", Code(7, kOrdinary), kSystemVariable},
    {u"TRAP", Code(8, kOrdinary), kSystemVariable},
    {u"SM", Code(9, kOrdinary), kSystemVariable},
    {u"WSID", Code(10, kOrdinary), kSystemVariable},
    {u"QNULL", Code(11, kHidden), kSystemVariable},
    {u"QQUOTE", Code(12, kHidden), kSystemVariable},
    {u"SE", Code(13, kOrdinary), kSystemVariable},
    {u"ML", Code(15, kOrdinary), kSystemVariable},
    {u"PATH", Code(16, kOrdinary), kSystemVariable},
    {u"WX", Code(17, kOrdinary), kSystemVariable},
    {u"USING", Code(18, kOrdinary), kSystemVariable},
    {u"AVU", Code(19, kOrdinary), kSystemVariable},
    {u"TNAME", Code(20, kOrdinary), kSystemVariable},
    {u"FR", Code(21, kOrdinary), kSystemVariable},
    {u"DCT", Code(22, kOrdinary), kSystemVariable},
    {u"DMX", Code(23, kOrdinary), kSystemVariable},
    // Niladic functions: number k runs niladic handler k − 16.
    {u"A", Code(16, kOrdinary), kSystemNiladic},
    {u"AI", Code(17, kOrdinary), kSystemNiladic},
    {u"AV", Code(18, kOrdinary), kSystemNiladic},
    {u"CLEAR", Code(19, kOrdinary), kSystemNiladic},
    {u"D", Code(20, kOrdinary), kSystemNiladic},
    {u"EN", Code(21, kOrdinary), kSystemNiladic},
    {u"LC", Code(22, kOrdinary), kSystemNiladic},
    {u"OFF", Code(23, kOrdinary), kSystemNiladic},
    {u"TC", Code(25, kOrdinary), kSystemNiladic},
    {u"TS", Code(26, kOrdinary), kSystemNiladic},
    {u"WA", Code(27, kOrdinary), kSystemNiladic},
    {u"Á", Code(29, kListedOnly), kSystemNiladic},
    {u"AN", Code(30, kOrdinary), kSystemNiladic},
    {u"FAVAIL", Code(31, kOrdinary), kSystemNiladic},
    {u"FNAMES", Code(32, kOrdinary), kSystemNiladic},
    {u"FNUMS", Code(33, kOrdinary), kSystemNiladic},
    {u"DM", Code(35, kOrdinary), kSystemNiladic},
    {u"SI", Code(36, kOrdinary), kSystemNiladic},
    {u"STACK", Code(37, kOrdinary), kSystemNiladic},
    {u"SD", Code(38, kOrdinary), kSystemNiladic},
    {u"NSI", Code(40, kOrdinary), kSystemNiladic},
    {u"NNAMES", Code(41, kOrdinary), kSystemNiladic},
    {u"NNUMS", Code(42, kOrdinary), kSystemNiladic},
    {u"XSI", Code(43, kOrdinary), kSystemNiladic},
    {u"TID", Code(44, kOrdinary), kSystemNiladic},
    {u"TNUMS", Code(45, kOrdinary), kSystemNiladic},
    {u"EXCEPTION", Code(46, kOrdinary), kSystemNiladic},
    {u"NULL", Code(47, kOrdinary), kSystemNiladic},
    {u"TPOOL", Code(48, kOrdinary), kSystemNiladic},
    {u"THIS", Code(49, kOrdinary), kSystemNiladic},
    {u"BASE", Code(50, kOrdinary), kSystemNiladic},
    {u"RSI", Code(52, kOrdinary), kSystemNiladic},
    {u"OLDDMX", Code(53, kHidden), kSystemNiladic},
    // Operators: ⎕R 249, ⎕S 250, ⎕OPT 251, and the hidden VARIANT 252 that displays as ⍠.
    {u"R", Code(9, kOrdinary), kSystemOperator},
    {u"S", Code(10, kOrdinary), kSystemOperator},
    {u"OPT", Code(11, kOrdinary), kSystemOperator},
    {u"VARIANT", Code(12, kHidden), kSystemOperator},
};
static_assert(std::size(kRegistry) == kSystemNameCount);

using Index = std::array<uint8_t, kSystemNameCount>;

// Exact comparison of a registry name with a text, code unit by code unit; a shorter prefix sorts
// first. Every registry name lies in the Basic Multilingual Plane, so comparing code points orders a
// text the same way as comparing its UTF-16 code units.
int CompareName(const char16_t* name, std::u32string_view text) {
  size_t i = 0;
  for (; name[i] != 0 && i < text.size(); ++i) {
    char32_t a = name[i];
    if (a != text[i]) return a < text[i] ? -1 : 1;
  }
  if (name[i] == 0) return i == text.size() ? 0 : -1;
  return 1;
}

int CompareNames(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *a == *b; ++a, ++b) {
  }
  return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

uint32_t SortKey(const SystemNameEntry& e) { return SystemNameNumber(e) << 2 | e.cls; }

Index IdentityIndex() {
  Index index;
  for (uint32_t i = 0; i < kSystemNameCount; ++i) index[i] = static_cast<uint8_t>(i);
  return index;
}

const Index& ByName() {
  static const Index index = [] {
    Index result = IdentityIndex();
    std::sort(result.begin(), result.end(),
              [](uint8_t a, uint8_t b) { return CompareNames(kRegistry[a].name, kRegistry[b].name) < 0; });
    return result;
  }();
  return index;
}

const Index& ByNumber() {
  static const Index index = [] {
    Index result = IdentityIndex();
    std::sort(result.begin(), result.end(),
              [](uint8_t a, uint8_t b) { return SortKey(kRegistry[a]) < SortKey(kRegistry[b]); });
    return result;
  }();
  return index;
}

bool IsInternalName(const SystemNameEntry& e) {
  uint32_t k = SystemNameNumber(e);
  return e.cls == kSystemVariable && (k == kQuadVariable || k == kQuoteQuadVariable);
}

}  // namespace

const SystemNameEntry* FindSystemName(std::u32string_view upperCaseName) {
  if (upperCaseName.empty() || upperCaseName.size() > kSystemNameMaxLength) return nullptr;
  const Index& index = ByName();
  auto before = [](uint8_t i, std::u32string_view text) { return CompareName(kRegistry[i].name, text) < 0; };
  auto it = std::lower_bound(index.begin(), index.end(), upperCaseName, before);
  if (it == index.end() || CompareName(kRegistry[*it].name, upperCaseName) != 0) return nullptr;
  const SystemNameEntry& entry = kRegistry[*it];
  return IsInternalName(entry) ? nullptr : &entry;
}

const SystemNameEntry* FindSystemNameByNumber(uint32_t k, uint32_t cls) {
  if (k > 0xFF || cls > kSystemOperator) return nullptr;
  uint32_t key = k << 2 | cls;
  const Index& index = ByNumber();
  auto it = std::lower_bound(index.begin(), index.end(), key,
                             [](uint8_t i, uint32_t wanted) { return SortKey(kRegistry[i]) < wanted; });
  if (it == index.end() || SortKey(kRegistry[*it]) != key) return nullptr;
  return &kRegistry[*it];
}

std::u32string SystemNameText(uint32_t k, uint32_t cls) {
  const SystemNameEntry* entry = FindSystemNameByNumber(k, cls);
  std::u32string text = U"⎕";
  if (entry)
    for (const char16_t* p = entry->name; *p != 0; ++p) text += static_cast<char32_t>(*p);
  return text;
}

std::u32string SystemVariableText(uint32_t k) {
  if (k == kQuoteQuadVariable) return U"⍞";
  if (!FindSystemNameByNumber(k, kSystemVariable)) return U"⎕UNUSED";
  return SystemNameText(k, kSystemVariable);
}

const SystemNameEntry& SystemNameInNameOrder(uint32_t i) { return kRegistry[ByName()[i]]; }

}  // namespace vantor
