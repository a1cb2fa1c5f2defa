// Names and namespaces: one NameEntry per (namespace, name) in the namespace's NameTree (a
// right-threaded binary search tree rebalanced on demand), NamespaceObjects and their handles, the
// namespace in which code executes, dotted-name resolution, the ⎕PATH search for undefined names,
// and the collector that frees namespaces kept alive only by references from their own names.
// Localisation (shadowing names in a function's frame) is the shadow unit; the system functions
// over names are qsym.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "primitives/dispatch.h"
#include "language/shadow.h"
#include "memory/memory1.h"

namespace vantor {

// ---- Name entries ------------------------------------------------------------------------------

// NameEntry: a kind-1 pocket. Word 2 (the type word) holds the entry's flags.
enum NameEntryWord : uint32_t {
  kEntryFlags = 2,
  kEntryLeft = 3,
  kEntryRight = 4,  // right child, or the in-order successor when kEntryThreadFlag is set
  kEntryValue = 5,
  kEntryOwner = 6,  // the NamespaceHandle of the namespace whose tree holds the entry
  kEntryName = 7,   // the name as zero-terminated UTF-16, to the end of the pocket
};

inline constexpr uint32_t kEntrySysVarShift = 4;  // class 15: the system variable's number (6 bits)
inline constexpr uint32_t kEntrySysVarMask = 0x3Fu << kEntrySysVarShift;
inline constexpr uint32_t kEntryThreadFlag = 1u << 11;
inline constexpr uint32_t kEntryClassShift = 12;
inline constexpr uint32_t kEntryClassMask = 0xFu << kEntryClassShift;
inline constexpr uint32_t kEntryPublicFlag = 1u << 28;
inline constexpr uint32_t kEntryLocalisedFlag = 1u << 29;
inline constexpr uint32_t kEntryExposedFlag = 1u << 30;

enum NameClass : uint32_t {
  kNameUndefined = 0,
  kNameLabel = 1,
  kNameVariable = 2,
  kNameFunction = 3,
  kNameOperator = 4,
  kNameMethod = 7,
  kNameProperty = 8,
  kNameNamespace = 9,
  kNameLink = 13,
  kNameSystemVariable = 15,
};

// Object classes (low 16 bits of the type word of a kind-5 pocket).
inline constexpr uint32_t kNamespaceObjectClass = 22741;
inline constexpr uint32_t kNamespaceHandleClass = 20725;
inline constexpr uint32_t kDfnObjectClass = 20805;

inline uint32_t EntryClass(Ref entry) { return (Words(entry)[kEntryFlags] & kEntryClassMask) >> kEntryClassShift; }
inline Ref EntryValue(Ref entry) { return Words(entry)[kEntryValue]; }
inline uint32_t EntrySystemVariable(Ref entry) {
  return (Words(entry)[kEntryFlags] & kEntrySysVarMask) >> kEntrySysVarShift;
}
std::u32string EntryName(Ref entry);
// Text as UTF-16 code units (the form names are stored and compared in).
std::u16string ToUtf16(std::u32string_view text);
// The namespace whose tree holds the entry (0 once that namespace is gone).
Ref EntryNamespace(Ref entry);

// The value slot holds a counted reference (or a primitive's code below 512, or 0) for every class
// but 15, whose value lives in the system-variable table. A label's value is an integer scalar
// holding its line number, so the slot never holds a plain number that could pass for a reference.
inline bool EntryValueCounted(Ref entry) { return EntryClass(entry) != kNameSystemVariable; }

// A name: a name-start character followed by name characters (the scanner's classes).
bool IsValidName(std::u32string_view name);

enum class LookupMode { Find, Create };

// Searches CurrentSpace for a name. Create makes an undefined entry when the name is absent; Find
// returns 0 then. Links (class 13) are followed. The result is not counted: the tree holds it. An
// entry that is undefined, has no value and is counted by nothing but the tree may be removed by the
// next lookup (rebalancing collects such entries), so code that keeps one across another lookup
// retains it.
Ref LookupName(std::u32string_view name, LookupMode mode);

// Looks a name up in another namespace; unless acceptHidden, only exposed entries (flag bit 30) are
// returned. For member access on GUI and other exposed objects.
Ref FindIn(Ref ns, std::u32string_view name, bool acceptHidden);

// Gives an entry a class and a value. The entry retains the value (the caller keeps its own
// reference) and releases the one it held.
void SetEntry(Ref entry, uint32_t nameClass, Ref value);

// The entry that stands for system variable k in CurrentSpace ("⎕IO" and so on), created when
// needed, with the variable's number in flag bits 4-9. Localising it as class 15 shadows the
// variable itself.
Ref SystemVariableEntry(uint32_t k);

// ---- Name trees --------------------------------------------------------------------------------

// A lookup that visits this many entries without a decision rebalances before it searches again.
inline constexpr uint32_t kLookupStepLimit = 32;

// Rebuilds the whole tree of a namespace as a balanced tree, deleting the entries that are
// undefined, have no value and are counted by nothing but the tree. (A lookup that passes the step
// limit rebuilds only the smallest badly balanced subtree on its path.)
void RebalanceNameTree(Ref ns);

// Calls visit(entry) for every entry of a namespace's tree in ascending name order. The visitor
// must not create or remove names in that namespace.
template <typename Visit>
void ForEachEntry(Ref ns, Visit visit);

// ---- Namespaces --------------------------------------------------------------------------------

// NamespaceObject: a 14-word kind-5 pocket of class 22,741.
enum NamespaceWord : uint32_t {
  kNsParent = 3,       // NamespaceHandle of the parent; 0 for a root
  kNsEight = 4,        // 8 at creation
  kNsTree = 5,         // the NameTree's header entry
  kNsSystemVars = 6,   // the namespace-level system-variable block
  kNsName = 7,         // the NameEntry that named it at creation, or 0
  kNsSelf = 8,         // its own NamespaceHandle
  kNsScript = 9,       // set for scripted namespaces and namespaces behind GUI objects
  kNsClassInfo = 10,   // class data; 0 for a plain namespace
  kNsFlags = 13,
  kNamespaceWords = 14,
};
// NamespaceHandle: a 5-word kind-5 pocket of class 20,725. Word 3 points to the namespace without
// counting it (the namespace holds the handle in its self field and clears this word when it
// dies), so entries, trees and child namespaces, which refer through the handle, never keep their
// namespace alive.
enum NamespaceHandleWord : uint32_t {
  kHandleNamespace = 3,
  kNamespaceHandleWords = 5,
};

inline constexpr uint32_t kNsShowAsRootChild = 1u << 0;  // displayed as a direct child of #
inline constexpr uint32_t kNsNotCopyable1 = 1u << 1;
inline constexpr uint32_t kNsBoundary = 1u << 2;         // ## and the ↑ of ⎕PATH stop here
inline constexpr uint32_t kNsClass = 1u << 3;
inline constexpr uint32_t kNsJsonObject = 1u << 4;     // made by JSON import: displayed as [JSON object]
inline constexpr uint32_t kNsReplaceMatch = 1u << 5;   // a ⎕R match for a transformation function
inline constexpr uint32_t kNsSearchMatch = 1u << 6;    // a ⎕S match for a transformation function
inline constexpr uint32_t kNsNotCopyable8 = 1u << 8;
inline constexpr uint32_t kNsNotCopyable = kNsNotCopyable1 | kNsBoundary | kNsNotCopyable8;
inline constexpr uint32_t kNsInterface = 1u << 16;
inline constexpr uint32_t kNsInstance = 1u << 17;

// Deepest nesting: a namespace whose parent has more ancestors than this cannot be created.
inline constexpr uint32_t kMaxNamespaceAncestors = 255;

inline bool IsObjectOfClass(Ref r, uint32_t objectClass) {
  return IsRef(r) && (TypeWord(r) & 0xFFFF) == objectClass;
}
inline bool IsNamespaceObject(Ref r) { return IsObjectOfClass(r, kNamespaceObjectClass); }
// The NamespaceObject a class-9 value stands for (stepping through a handle), or 0.
Ref NamespaceOf(Ref value);
inline uint32_t NamespaceFlags(Ref ns) { return Words(ns)[kNsFlags]; }
inline Ref NamespaceTree(Ref ns) { return Words(ns)[kNsTree]; }
// The parent namespace, or 0 for a root (or when the parent is gone).
Ref ParentNamespace(Ref ns);

// Root words of this unit.
enum NameRootWord : uint32_t {
  kRootRootNamespace = kRootNameWords,  // #
  kRootSessionNamespace,                // ⎕SE
  kRootCurrentSpace,                    // the namespace whose tree is CurrentSpace
  kRootNameWordsEnd,
};
static_assert(static_cast<uint32_t>(kRootNameWordsEnd) <= kRootSysVarWords);

inline Ref RootNamespace() { return RootWordAt(kRootRootNamespace); }        // #
inline Ref SessionNamespace() { return RootWordAt(kRootSessionNamespace); }  // ⎕SE
// The NamespaceObject of the running code (the stack saves and restores it per frame).
inline Ref ExecutingNamespace() { return RootWordAt(kRootCurrentNamespace); }
// The namespace whose tree is CurrentSpace.
inline Ref CurrentSpaceNamespace() { return RootWordAt(kRootCurrentSpace); }
// Makes `ns` the executing namespace, its tree CurrentSpace and its system-variable block current.
void SetExecutingNamespace(Ref ns);

// A new namespace (counted) whose parent is the namespace holding `nameEntry` or, without one, the
// executing namespace. It starts with the system-variable block in force. A given entry (undefined or
// of class 9, else DOMAIN ERROR) names it and gets it as its class-9 value. LIMIT ERROR when the
// parent has more than kMaxNamespaceAncestors ancestors.
Ref CreateNamespace(Ref nameEntry);

// The text by which a reference to the namespace is displayed: #.A.B, ⎕SE.X, #.[Namespace], and
// [JSON object] for a namespace that JSON import made.
std::u32string DisplayName(Ref ns);

// Brackets work inside another namespace: CurrentSpace is that namespace's tree until destruction,
// also when an error unwinds through the scope.
class SpaceScope {
 public:
  explicit SpaceScope(Ref ns);
  ~SpaceScope();
  SpaceScope(const SpaceScope&) = delete;
  SpaceScope& operator=(const SpaceScope&) = delete;

 private:
  Temporaries saved_;  // [0]: the namespace that was current, counted
};

// ---- Paths -------------------------------------------------------------------------------------

// The namespace a special segment names: # the root, ## the parent of `from` (itself at a root or a
// boundary), ⎕SE the session root. 0 when the segment is not special.
Ref SpecialNamespace(std::u32string_view segment, Ref from);

// Resolves a dotted name (a.b.c, with #, ## and ⎕SE segments) from the executing namespace: every
// segment but the last must name a namespace. Returns the last segment's entry, or 0.
Ref ResolvePath(std::u32string_view text);

// The namespace a dotted name denotes, from the executing namespace. With `create`, undefined
// segments become new namespaces; a segment of another class than 0 and 9, or one that is not a
// name, is DOMAIN ERROR. Without `create`, 0 when the path does not lead to a namespace.
Ref ResolveNamespacePath(std::u32string_view text, bool create);

// What the evaluator calls for a name whose entry is undefined: an entry that is defined or
// localised is returned as it is; otherwise, where a function may stand, ⎕PATH is searched for a
// traditional function or operator, dfn or dop. Returns the entry to use, or 0 (VALUE ERROR).
Ref ResolveUndefinedName(Ref entry, bool functionPosition);

// ---- Values ------------------------------------------------------------------------------------

std::u32string_view TrimBlanks(std::u32string_view text);
// The words of a text, split at runs of blanks.
std::vector<std::u32string_view> BlankSeparated(std::u32string_view text);
// True for a simple array of characters.
bool IsSimpleCharacterArray(Ref array);
// True for a simple character vector or scalar: text, as file names, options and patterns are given.
bool IsText(Ref array);
// The characters of a character array (or of `count` of them from `first`, in ravel order) as code
// points; ⎕AV characters are translated through the executing namespace's ⎕AVU.
std::u32string CharacterText(Ref array);
std::u32string CharacterText(Ref array, uint64_t first, uint64_t count);

// Gives a name a value read from a transfer stream or copied from another workspace: the entry
// takes class `cls` and the value (retained); a namespace that was named by its parent's entry
// where it was written is named by this entry when the entry is in its parent.
void BindTransferredValue(Ref entry, uint32_t cls, Ref value);

// Whether namespace `ns` is `ancestor` or lies inside it.
bool WithinNamespace(Ref ns, Ref ancestor);
// Whether a value refers, through anything it holds, to namespace `target` or to something inside
// it (a namespace, or a name of one that a function's names are bound to). The walk goes into the
// namespaces inside `home` and stops at any other.
bool ReachesNamespace(Ref value, Ref home, Ref target);

// The bytes a value occupies: its pockets and everything they reach, counting each pocket once. A
// namespace counts with its names, their values and its child namespaces, not with namespaces that
// its names merely refer to.
uint64_t OccupiedBytes(Ref value);

// ---- Life and death ----------------------------------------------------------------------------

// While one exists, a namespace released with references left is not noted for the cycle collector.
// For code that builds trees of new namespaces and runs no APL code meanwhile (JSON import): a tree
// holds no cycles, and a cycle made later is noted when it is made.
class CycleNotesPaused {
 public:
  CycleNotesPaused();
  ~CycleNotesPaused();
  CycleNotesPaused(const CycleNotesPaused&) = delete;
  CycleNotesPaused& operator=(const CycleNotesPaused&) = delete;
};

// Frees the namespaces that are referenced only from inside themselves (a name holding its own
// namespace, children pointing back, ...): the namespaces released since the last collection are
// examined together with everything reachable from them. Runs when the heap runs short; the
// evaluator may call it at quiet points. Returns the words freed.
uint32_t CollectNamespaceCycles();

// Registers the layouts of entries, namespaces and handles, and creates # (made executing) and ⎕SE.
// The system variables must be initialised first.
void InitialiseNames();

// ---- Template definitions ----------------------------------------------------------------------

inline Ref LeftmostEntry(Ref entry) {
  while (IsRef(Words(entry)[kEntryLeft])) entry = Words(entry)[kEntryLeft];
  return entry;
}
// The in-order successor; the tree's header after the last entry.
inline Ref NextEntry(Ref entry) {
  Ref right = Words(entry)[kEntryRight];
  return (Words(entry)[kEntryFlags] & kEntryThreadFlag) ? right : LeftmostEntry(right);
}

template <typename Visit>
void ForEachEntry(Ref ns, Visit visit) {
  Ref header = NamespaceTree(ns);
  Ref root = Words(header)[kEntryLeft];
  if (!IsRef(root)) return;
  for (Ref e = LeftmostEntry(root); e != header; e = NextEntry(e)) visit(e);
}

}  // namespace vantor
