// Names and namespaces: one NameEntry per (namespace, name) in the namespace's NameTree (a
// right-threaded binary search tree rebalanced on demand), NamespaceObjects and their handles, the
// namespace in which code executes, dotted-name resolution, localisation of names by shallow binding,
// and the system functions that inspect and change names.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "language/parse.h"
#include "memory/pockutil.h"

namespace vantor {

// NameEntry: a kind-1 pocket. Word 2 (the type word) holds the entry's flags.
enum NameEntryWord : uint32_t {
  kEntryFlags = 2,
  kEntryLeft = 3,
  kEntryRight = 4,  // right child, or the in-order successor when kEntryThreadFlag is set
  kEntryValue = 5,
  kEntryOwner = 6,  // the NamespaceHandle of the namespace whose tree holds the entry
  kEntryName = 7,   // the name as zero-terminated UTF-16, to the end of the pocket
};

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

inline uint32_t EntryClass(Ref entry) { return (Words(entry)[kEntryFlags] & kEntryClassMask) >> kEntryClassShift; }
inline Ref EntryValue(Ref entry) { return Words(entry)[kEntryValue]; }
std::u32string EntryName(Ref entry);

enum class LookupMode { Find, Create };

// Searches CurrentSpace for a name. Create makes an undefined entry when the name is absent; Find
// returns 0 then. Links (class 13) are followed. The result is not counted: the tree holds it.
Ref LookupName(std::u32string_view name, LookupMode mode);

// Gives an entry a class and a value (counted; the old value is released).
void SetEntry(Ref entry, uint32_t nameClass, Ref value);

// The namespace machinery.
Ref RootNamespace();              // #
Ref SessionNamespace();           // ⎕SE
Ref ExecutingNamespace();         // the NamespaceObject of the running code
void SetExecutingNamespace(Ref ns);  // also makes its tree CurrentSpace and its system-variable block current
Ref CreateNamespace(Ref nameEntry);  // counted; nameEntry may be 0
std::u32string DisplayName(Ref ns);

// Brackets work inside another namespace: CurrentSpace is that namespace's tree until destruction.
class SpaceScope {
 public:
  explicit SpaceScope(Ref ns);
  ~SpaceScope();
  SpaceScope(const SpaceScope&) = delete;
  SpaceScope& operator=(const SpaceScope&) = delete;

 private:
  Ref saved_;
};

// Resolves a dotted name (a.b.c, #, ##, ⎕SE segments). Returns the entry or 0.
Ref ResolvePath(std::u32string_view text);

// Localises an entry in the topmost localisation frame: records its state and gives it the new
// class and value. UndoLocalRecord restores one record (the exchange is symmetric).
void LocaliseName(Ref entry, uint32_t newClass, Ref newValue);
void UndoLocalRecord(uint32_t* record);

// Creates the root namespace and ⎕SE at start-up and registers the object classes.
void InitialiseNames();

}  // namespace vantor
