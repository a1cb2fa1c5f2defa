// Control structures: the 64-entry keyword table (control keywords, class-script keywords and the
// dfn punctuation), sorted by lookup name at compile time and searched by binary search on UTF-16
// code units, plus the index from structure code to entry used to write keywords back as text.
#include "language/ctrl.h"

#include <algorithm>
#include <array>
#include <string>

#include "language/scan.h"
#include "language/space.h"

namespace vantor {

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

}  // namespace vantor
