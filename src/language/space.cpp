// Names and namespaces: name entries and the threaded trees that hold them, lookup with on-demand
// rebalancing, namespace objects and their handles, the executing namespace and CurrentSpace,
// dotted paths, the ⎕PATH search, display names, and the collector for namespaces that only their
// own names keep alive.
#include "language/space.h"

#include <bit>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "format/disp2.h"
#include "language/scan.h"
#include "base/errors.h"
#include "memory/memory2.h"
#include "memory/partner.h"
#include "sysfns/qsys.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "space";

namespace {

// Namespace flags of this unit's own: released while still counted (the collector looks at it),
// and being emptied by the collector.
constexpr uint32_t kNsCycleCandidate = 1u << 30;
constexpr uint32_t kNsBeingCleared = 1u << 31;

constexpr char16_t kHeaderName = 0xFFFF;
constexpr int kMaxLinkHops = 64;

uint32_t g_candidateCount = 0;  // namespaces flagged since the last collection
uint32_t g_notesPaused = 0;     // CycleNotesPaused objects alive

// ---- Names as UTF-16 ---------------------------------------------------------------------------

const char16_t* NameUnits(Ref entry) { return reinterpret_cast<const char16_t*>(Words(entry) + kEntryName); }

// Code-unit order; a name that is a prefix of the other sorts first.
int CompareName(std::u16string_view want, Ref entry) {
  const char16_t* have = NameUnits(entry);
  for (size_t i = 0; i < want.size(); ++i) {
    if (have[i] == 0) return 1;
    if (want[i] != have[i]) return want[i] < have[i] ? -1 : 1;
  }
  return have[want.size()] == 0 ? 0 : -1;
}

// ---- Entry fields ------------------------------------------------------------------------------

uint32_t& Left(Ref e) { return Words(e)[kEntryLeft]; }
uint32_t& Right(Ref e) { return Words(e)[kEntryRight]; }
uint32_t& Flags(Ref e) { return Words(e)[kEntryFlags]; }
bool Threaded(Ref e) { return Flags(e) & kEntryThreadFlag; }
bool IsTreeHeader(Ref e) { return NameUnits(e)[0] == kHeaderName; }

// Makes an entry undefined, releasing its value (a class-15 entry's value is not its own).
void ClearMeaning(Ref e) {
  if (!EntryValueCounted(e)) return;
  Release(Words(e)[kEntryValue]);
  Flags(e) &= ~kEntryClassMask;
}

Ref NewEntry(std::u16string_view name) {
  uint32_t nameWords = static_cast<uint32_t>((name.size() + 2) / 2);
  Ref e = GetSpace(kEntryName + nameWords);
  uint32_t* w = Words(e);
  w[1] = 1;
  w[kEntryFlags] = kKindName | kEntryThreadFlag;
  w[kEntryLeft] = w[kEntryRight] = w[kEntryValue] = w[kEntryOwner] = 0;
  std::memset(w + kEntryName, 0, 4ull * nameWords);
  std::memcpy(w + kEntryName, name.data(), 2 * name.size());
  return e;
}

// The header: an 8-word entry named U+FFFF, after every name, whose left subtree is the tree.
Ref NewTreeHeader() {
  Ref header = NewEntry(std::u16string_view(&kHeaderName, 1));
  Flags(header) = kKindName;  // no thread: nothing follows the header
  return header;
}

Ref RightmostEntry(Ref e) {
  while (!Threaded(e)) e = Right(e);
  return e;
}

// Entries of a subtree in ascending order.
std::vector<Ref> SubtreeEntries(Ref top) {
  std::vector<Ref> entries;
  Ref last = RightmostEntry(top);
  for (Ref e = LeftmostEntry(top);; e = NextEntry(e)) {
    entries.push_back(e);
    if (e == last) break;
  }
  return entries;
}

uint64_t SubtreeSize(Ref top) {
  if (!IsRef(top)) return 0;
  uint64_t size = 1;
  Ref last = RightmostEntry(top);
  for (Ref e = LeftmostEntry(top); e != last; e = NextEntry(e)) ++size;
  return size;
}

// ---- Searching ---------------------------------------------------------------------------------

enum class Outcome { Found, Absent, TooDeep };

struct Search {
  Outcome outcome = Outcome::Absent;
  Ref entry = 0;          // Found: the entry; Absent: the entry the name would hang below
  bool asLeft = false;    // Absent: as that entry's left child
  uint32_t depth = 0;     // entries on the path (recorded up to the step limit)
  Ref path[kLookupStepLimit];
  bool wentLeft[kLookupStepLimit];
};

Search SearchTree(Ref header, std::u16string_view want, bool limited) {
  Search s;
  Ref node = Left(header);
  if (!IsRef(node)) {
    s.entry = header;
    s.asLeft = true;
    return s;
  }
  for (;;) {
    if (s.depth == kLookupStepLimit && limited) {
      s.outcome = Outcome::TooDeep;
      return s;
    }
    int order = CompareName(want, node);
    if (order == 0) {
      s.outcome = Outcome::Found;
      s.entry = node;
      return s;
    }
    if (s.depth < kLookupStepLimit) {
      s.path[s.depth] = node;
      s.wentLeft[s.depth] = order < 0;
    }
    ++s.depth;
    if (order < 0) {
      if (!IsRef(Left(node))) {
        s.entry = node;
        s.asLeft = true;
        return s;
      }
      node = Left(node);
    } else {
      if (Threaded(node)) {
        s.entry = node;
        return s;
      }
      node = Right(node);
    }
  }
}

// ---- Rebuilding --------------------------------------------------------------------------------

// Rotations along the right spine that hangs from *spine (Day–Stout–Warren compression).
void CompressSpine(uint32_t* spine, uint64_t rotations) {
  uint32_t* link = spine;
  for (uint64_t i = 0; i < rotations; ++i) {
    Ref child = *link;
    Ref next = Right(child);
    *link = next;
    Right(child) = Left(next);
    Left(next) = child;
    link = &Right(next);
  }
}

// Links the entries (ascending) as a right-leaning list and folds it into a balanced tree.
Ref BuildBalanced(const std::vector<Ref>& entries) {
  if (entries.empty()) return 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    Left(entries[i]) = 0;
    Right(entries[i]) = i + 1 < entries.size() ? entries[i + 1] : 0;
  }
  uint32_t spine = entries[0];
  for (uint64_t n = entries.size(); n > 1;) {
    uint64_t half = n / 2;
    CompressSpine(&spine, half);
    n -= half + 1;
  }
  return spine;
}

// Removes an entry that only the tree counted. Its owner handle stays alive (the namespace holds it).
void DeleteEntry(Ref e) {
  Release(Words(e)[kEntryOwner]);
  FreeBlock(e);
}

bool IsUnusedEntry(Ref e) {
  return RefCount(e) == 0 && EntryClass(e) == kNameUndefined && !IsRef(EntryValue(e));
}

// Takes the tree's own links (children, threads and the link from above) off the counts.
void DropTreeLinks(Ref top, const std::vector<Ref>& entries) {
  --RefCount(top);
  for (Ref e : entries) {
    if (IsRef(Left(e))) --RefCount(Left(e));
    --RefCount(Right(e));
    Left(e) = Right(e) = 0;
    Flags(e) &= ~kEntryThreadFlag;
  }
}

// Rebuilds the subtree that hangs from word `link` of `holder` (an entry or the tree header) as a
// balanced tree, deleting the entries nothing but the tree counts. No allocation happens here.
void RebuildSubtree(Ref holder, uint32_t link) {
  Ref top = Words(holder)[link];
  if (!IsRef(top)) return;
  Ref after = Right(RightmostEntry(top));  // where the subtree's last thread leads
  std::vector<Ref> entries = SubtreeEntries(top);
  DropTreeLinks(top, entries);
  std::vector<Ref> kept;
  kept.reserve(entries.size());
  for (Ref e : entries) {
    if (IsUnusedEntry(e)) DeleteEntry(e);
    else kept.push_back(e);
  }
  Ref root = BuildBalanced(kept);
  for (size_t i = 0; i < kept.size(); ++i) {
    Ref e = kept[i];
    if (!IsRef(Right(e))) {
      Flags(e) |= kEntryThreadFlag;
      Right(e) = i + 1 < kept.size() ? kept[i + 1] : after;
    }
    if (IsRef(Left(e))) ++RefCount(Left(e));
    ++RefCount(Right(e));
  }
  if (IsRef(root)) {
    Words(holder)[link] = root;
    ++RefCount(root);
  } else if (link == kEntryRight) {
    Flags(holder) |= kEntryThreadFlag;
    Right(holder) = after;
    ++RefCount(after);
  } else {
    Words(holder)[link] = 0;
  }
}

// The height of a balanced tree of `size` entries.
uint32_t BalancedHeight(uint64_t size) { return static_cast<uint32_t>(std::bit_width(size)); }

// A search passed the step limit: rebuild the lowest subtree on its path that is out of weight
// balance (one child holding more than 3/5 of it, which takes a number of changes proportional to
// its size since it was last built) and whose rebuilding shortens the path by at least a quarter of
// the limit. Names created in ascending order then cost logarithmic amortised time, where rebuilding
// the whole tree would cost time proportional to the tree every few names. The whole tree is rebuilt
// when no subtree on the path qualifies.
void RebuildAlongPath(Ref header, const Search& s) {
  constexpr uint32_t kMinimumGain = kLookupStepLimit / 4;
  uint32_t last = kLookupStepLimit - 1;
  uint64_t size = SubtreeSize(s.path[last]);
  for (uint32_t i = last; i-- > 0;) {
    Ref node = s.path[i];
    Ref sibling = s.wentLeft[i] ? (Threaded(node) ? 0 : Right(node)) : Left(node);
    uint64_t total = 1 + size + SubtreeSize(sibling);
    uint32_t pathBelow = kLookupStepLimit - i;
    if (size * 5 > total * 3 && pathBelow >= BalancedHeight(total) + kMinimumGain) {
      if (i == 0) RebuildSubtree(header, kEntryLeft);
      else RebuildSubtree(s.path[i - 1], s.wentLeft[i - 1] ? kEntryLeft : kEntryRight);
      return;
    }
    size = total;
  }
  RebuildSubtree(header, kEntryLeft);
}

// A search bounded by the step limit: a partial rebuild first, the whole tree if that is not enough.
Search SearchNamespace(Ref ns, std::u16string_view want) {
  Ref header = NamespaceTree(ns);
  Search s = SearchTree(header, want, true);
  if (s.outcome != Outcome::TooDeep) return s;
  RebuildAlongPath(header, s);
  s = SearchTree(header, want, true);
  if (s.outcome != Outcome::TooDeep) return s;
  RebuildSubtree(header, kEntryLeft);
  return SearchTree(header, want, false);
}

Ref FollowLinks(Ref e) {
  for (int hops = 0; hops < kMaxLinkHops && EntryClass(e) == kNameLink; ++hops) {
    Ref target = EntryValue(e);
    if (!IsRef(target) || KindOf(TypeWord(target)) != kKindName) break;
    e = target;
  }
  return e;
}

Ref FindEntry(Ref ns, std::u16string_view want) {
  Search s = SearchNamespace(ns, want);
  return s.outcome == Outcome::Found ? FollowLinks(s.entry) : 0;
}

void Insert(const Search& at, Ref e) {
  Ref parent = at.entry;
  if (at.asLeft) {
    Right(e) = parent;  // thread to the in-order successor, the parent
    ++RefCount(parent);
    Left(parent) = e;
  } else {
    Right(e) = Right(parent);  // takes over the parent's thread
    Right(parent) = e;
    Flags(parent) &= ~kEntryThreadFlag;
  }
}

// Lookup in CurrentSpace. Creating allocates, which may move every pocket but changes no link, so
// the place found for the new entry is held as a temporary across the allocation.
Ref LookupCurrent(std::u16string_view want, LookupMode mode) {
  Ref ns = CurrentSpaceNamespace();
  if (!IsRef(ns)) return 0;
  Search s = SearchNamespace(ns, want);
  if (s.outcome == Outcome::Found) return FollowLinks(s.entry);
  if (mode == LookupMode::Find) return 0;
  Temporaries place;
  place[0] = s.entry;
  Retain(s.entry);
  Ref e = NewEntry(want);
  s.entry = place.Take(0);
  ReleaseRef(s.entry);
  Insert(s, e);
  Ref owner = Words(NamespaceTree(CurrentSpaceNamespace()))[kEntryOwner];
  Words(e)[kEntryOwner] = owner;
  Retain(owner);
  return e;
}

// ---- Namespace objects -------------------------------------------------------------------------

Ref& NsWord(Ref ns, uint32_t word) { return Words(ns)[word]; }

bool HeldByNameRoots(Ref ns) {
  return ns == RootNamespace() || ns == SessionNamespace() || ns == ExecutingNamespace() ||
         ns == CurrentSpaceNamespace();
}

// A namespace released while still counted may be one that only its own names hold; the collector
// looks at it later. The ones the name roots hold are released again when the roots let go.
void NoteCandidate(Ref ns) {
  if (g_notesPaused) return;
  uint32_t& flags = NsWord(ns, kNsFlags);
  if (flags & (kNsCycleCandidate | kNsBeingCleared) || HeldByNameRoots(ns)) return;
  flags |= kNsCycleCandidate;
  ++g_candidateCount;
}

// The namespace dies when its count reaches 0: its handle stops pointing at it, so that entries that
// outlive it (counted elsewhere) see an owner that is gone.
int NamespaceHook(Ref ns) {
  if (RefCount(ns) != 0) {
    NoteCandidate(ns);
    return 1;
  }
  Ref handle = NsWord(ns, kNsSelf);
  if (IsRef(handle)) Words(handle)[kHandleNamespace] = 0;
  return 0;
}

void NamespaceFields(Ref, FieldRuns& out) { out.Add(kNsParent, kNsClassInfo - kNsParent + 1); }

int HandleHook(Ref handle) { return RefCount(handle) != 0; }
void HandleFields(Ref, FieldRuns& out) { out.Add(kHandleNamespace, 1); }

// The tree of a namespace that died: its names lose their values (nothing can reach them through
// the namespace any more, and a namespace named by one of them would otherwise keep its name entry
// and be kept by it), every link between the entries goes, and the entries that nothing else counts
// are destroyed. The others live on detached until their last reference goes.
void DismantleTree(Ref header) {
  Ref root = Left(header);
  if (!IsRef(root)) return;
  std::vector<Ref> entries = SubtreeEntries(root);
  DropTreeLinks(root, entries);
  Left(header) = 0;
  for (Ref e : entries) ClearMeaning(e);
  for (Ref e : entries) {
    if (RefCount(e) != 0) continue;
    RefCount(e) = 1;
    ReleaseRef(e);
  }
}

// Entries of a living namespace stay until rebalancing removes them; entries whose namespace is
// gone die with their last reference; a dead namespace's tree header takes its tree with it.
int EntryHook(Ref e) {
  if (IsRef(EntryNamespace(e))) return 1;
  if (IsTreeHeader(e)) {
    DismantleTree(e);
    return 0;
  }
  return RefCount(e) != 0;
}

void EntryFields(Ref, FieldRuns& out) { out.Add(kEntryLeft, 4); }  // left, right, value, owner

Ref NewObject(uint32_t objectClass, uint32_t words) {
  Ref r = GetSpace(words);
  uint32_t* w = Words(r);
  w[1] = 1;
  w[2] = objectClass;
  std::memset(w + kHeaderWords, 0, 4ull * (words - kHeaderWords));
  return r;
}

uint32_t AncestorCount(Ref ns) {
  uint32_t n = 0;
  for (Ref p = ParentNamespace(ns); IsRef(p); p = ParentNamespace(p)) ++n;
  return n;
}

// A namespace (counted) under `parent` (0 for a root), named by `nameEntry` when that is not 0.
Ref NewNamespace(Ref parent, Ref nameEntry) {
  if (IsRef(nameEntry)) {
    uint32_t cls = EntryClass(nameEntry);
    if (cls != kNameUndefined && cls != kNameNamespace) SIGNAL(kDomainError);
  }
  if (IsRef(parent) && AncestorCount(parent) > kMaxNamespaceAncestors) SIGNAL(kLimitError);
  Temporaries given;
  given[0] = parent;
  given[1] = nameEntry;
  Retain(parent);
  Retain(nameEntry);
  given[2] = CurrentNamespaceBlock();
  Temporaries made;
  made[0] = NewTreeHeader();
  made[1] = NewObject(kNamespaceHandleClass, kNamespaceHandleWords);
  made[2] = NewObject(kNamespaceObjectClass, kNamespaceWords);
  Ref ns = made[2], handle = made[1], header = made[0];
  parent = given[0];
  nameEntry = given[1];
  if (IsRef(parent)) {
    NsWord(ns, kNsParent) = NsWord(parent, kNsSelf);
    Retain(NsWord(ns, kNsParent));
  }
  NsWord(ns, kNsEight) = 8;
  NsWord(ns, kNsTree) = made.Take(0);
  NsWord(ns, kNsSystemVars) = given.Take(2);
  NsWord(ns, kNsName) = nameEntry;
  Retain(nameEntry);
  NsWord(ns, kNsSelf) = made.Take(1);
  Words(handle)[kHandleNamespace] = ns;
  Words(header)[kEntryOwner] = handle;
  Retain(handle);
  if (IsRef(nameEntry)) SetEntry(nameEntry, kNameNamespace, ns);
  return made.Take(2);
}

// The writer that quadvar calls when the executing namespace's system-variable block becomes
// private: the namespace holds the new block.
void StoreNamespaceBlock(Ref block) {
  Ref ns = ExecutingNamespace();
  uint32_t& field = IsRef(ns) ? NsWord(ns, kNsSystemVars) : RootWordAt(kRootDefaultNamespaceBlock);
  Ref old = field;
  Retain(block);
  field = block;
  ReleaseRef(old);
}

// ---- The collector -----------------------------------------------------------------------------

// The counted references a pocket holds: every reference field except the handle's pointer to
// its namespace, which is not counted.
template <typename Visit>
void ForEachCountedChild(Ref p, Visit visit) {
  uint32_t type = TypeWord(p);
  if (KindOf(type) == kKindSimple || (type & 0xFFFF) == kNamespaceHandleClass) return;
  FieldRuns runs;
  ChildFields(p, runs);
  ForEachChildField(Words(p), runs, [&](uint32_t* field) {
    if (IsRef(*field)) visit(*field);
  });
}

std::vector<Ref> TakeCandidates() {
  std::vector<Ref> found;
  for (uint32_t p = g_space->begin; SizeWord(p) != 0;) {
    int32_t size = SizeWord(p);
    if (size < 0 && (TypeWord(p) & 0xFFFF) == kNamespaceObjectClass && (NsWord(p, kNsFlags) & kNsCycleCandidate)) {
      NsWord(p, kNsFlags) &= ~kNsCycleCandidate;
      if (RefCount(p) != 0) found.push_back(p);
    }
    p += 4 * static_cast<uint32_t>(size < 0 ? -size : size);
  }
  return found;
}

// Trial deletion over everything reachable from the candidates: a pocket whose count exceeds the
// references found inside that graph is held from outside, and so is everything it reaches. The
// namespaces left over are held only by each other. The namespaces of the name roots are held from
// outside whatever they hold, so the walk stops at them: a candidate whose parent is # does not
// take the whole workspace into the graph (what # reaches keeps the count # gives it, so stays live).
bool IsRootHeld(Ref r) { return IsNamespaceObject(r) && HeldByNameRoots(r); }

std::vector<Ref> UnreachableNamespaces(const std::vector<Ref>& candidates) {
  std::unordered_map<Ref, int64_t> outside;
  std::vector<Ref> stack;
  auto reach = [&](Ref r) {
    auto [it, fresh] = outside.try_emplace(r, static_cast<int64_t>(RefCount(r)));
    if (fresh && !IsRootHeld(r)) stack.push_back(r);
    return it;
  };
  for (Ref c : candidates) reach(c);
  while (!stack.empty()) {
    Ref p = stack.back();
    stack.pop_back();
    // Simple arrays hold no references, so they can neither be garbage nor keep anything live.
    ForEachCountedChild(p, [&](Ref child) {
      if (KindOf(TypeWord(child)) != kKindSimple) --reach(child)->second;
    });
  }
  std::unordered_set<Ref> live;
  for (const auto& [r, count] : outside)
    if ((count > 0 || IsRootHeld(r)) && live.insert(r).second) stack.push_back(r);
  while (!stack.empty()) {
    Ref p = stack.back();
    stack.pop_back();
    if (IsRootHeld(p)) continue;
    ForEachCountedChild(p, [&](Ref child) {
      if (KindOf(TypeWord(child)) != kKindSimple && live.insert(child).second) stack.push_back(child);
    });
  }
  std::vector<Ref> garbage;
  for (const auto& [r, count] : outside)
    if (!live.count(r) && IsNamespaceObject(r)) garbage.push_back(r);
  return garbage;
}

// Releases every value a namespace's names hold, which undoes the references that keep a cycle up.
void ClearNames(Ref ns) {
  std::vector<Ref> entries;
  ForEachEntry(ns, [&](Ref e) { entries.push_back(e); });
  for (Ref e : entries) ClearMeaning(e);
}

void FreeNamespaces(const std::vector<Ref>& garbage) {
  for (Ref ns : garbage) {
    Retain(ns);
    NsWord(ns, kNsFlags) |= kNsBeingCleared;
  }
  for (Ref ns : garbage) ClearNames(ns);
  for (Ref ns : garbage) {
    NsWord(ns, kNsFlags) &= ~kNsBeingCleared;
    ReleaseRef(ns);
  }
}

// ---- Paths -------------------------------------------------------------------------------------

std::vector<std::u32string_view> Segments(std::u32string_view text) {
  std::vector<std::u32string_view> segments;
  for (size_t start = 0;;) {
    size_t dot = text.find(U'.', start);
    segments.push_back(text.substr(start, dot == std::u32string_view::npos ? dot : dot - start));
    if (dot == std::u32string_view::npos) return segments;
    start = dot + 1;
  }
}

// The namespace a class-9 entry refers to, or 0.
Ref EntryNamespaceValue(Ref e) {
  return IsRef(e) && EntryClass(e) == kNameNamespace ? NamespaceOf(EntryValue(e)) : 0;
}

// The namespace one segment leads to from `from`: a special name or a name of class 9.
Ref StepInto(Ref from, std::u32string_view segment) {
  Ref special = SpecialNamespace(segment, from);
  if (IsRef(special)) return special;
  if (!IsValidName(segment)) return 0;
  return EntryNamespaceValue(FindEntry(from, ToUtf16(segment)));
}

// In a namespace: the entry of a segment, created when absent; the namespace it names, created when
// the entry is undefined.
Ref StepIntoCreating(Ref from, std::u32string_view segment) {
  Ref special = SpecialNamespace(segment, from);
  if (IsRef(special)) return special;
  if (!IsValidName(segment)) SIGNAL(kDomainError);
  Ref e;
  {
    SpaceScope scope(from);
    e = LookupName(segment, LookupMode::Create);
  }
  if (EntryClass(e) == kNameUndefined) {
    Ref ns = CreateNamespace(e);
    ReleaseRef(ns);  // the entry holds it
    return ns;
  }
  Ref ns = EntryNamespaceValue(e);
  if (!IsRef(ns)) SIGNAL(kDomainError);
  return ns;
}

bool IsPathFunction(Ref e) {
  if (!IsRef(e)) return false;
  uint32_t cls = EntryClass(e);
  if (cls != kNameFunction && cls != kNameOperator) return false;
  Ref value = EntryValue(e);
  return IsRef(value) && (KindOf(TypeWord(value)) == kKindDefinedFunction || IsObjectOfClass(value, kDfnObjectClass));
}

// The "↑" item of ⎕PATH: the parents of the executing namespace, innermost first, not passing a
// boundary.
Ref SearchParents(std::u16string_view want) {
  for (Ref ns = ExecutingNamespace(); !(NamespaceFlags(ns) & kNsBoundary);) {
    ns = ParentNamespace(ns);
    if (!IsRef(ns)) break;
    Ref hit = FindEntry(ns, want);
    if (IsPathFunction(hit)) return hit;
  }
  return 0;
}

Ref SearchPath(std::u32string_view path, std::u32string_view name) {
  std::u16string want = ToUtf16(name);
  for (size_t start = 0; start < path.size();) {
    size_t end = path.find(U' ', start);
    if (end == std::u32string_view::npos) end = path.size();
    std::u32string_view item = path.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    Ref hit = item == U"↑" ? SearchParents(want) : ResolvePath(std::u32string(item) + U"." + std::u32string(name));
    if (IsPathFunction(hit)) return hit;
  }
  return 0;
}

std::u32string OwnSegment(Ref ns) {
  Ref nameEntry = NsWord(ns, kNsName);
  if (IsRef(nameEntry)) return EntryName(nameEntry);
  uint32_t flags = NamespaceFlags(ns);
  std::u32string description = (flags & kNsInstance) ? U"Instance" : (flags & kNsClass) ? U"Class" : U"Namespace";
  return U"[" + description.substr(0, 79) + U"]";
}

// How a display shows an item that is not an array: a namespace reference by its display name.
std::u32string ObjectText(Ref pocket) {
  return IsRef(NamespaceOf(pocket)) ? DisplayName(pocket) : std::u32string(kDefaultObjectText);
}

}  // namespace

// ---- Entries -----------------------------------------------------------------------------------

std::u16string ToUtf16(std::u32string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
  }
  return out;
}

std::u32string EntryName(Ref entry) {
  std::u32string name;
  for (const char16_t* u = NameUnits(entry); *u; ++u) {
    char32_t c = *u;
    if (c >= 0xD800 && c < 0xDC00 && u[1] >= 0xDC00 && u[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[1] - 0xDC00);
      ++u;
    }
    name.push_back(c);
  }
  return name;
}

Ref EntryNamespace(Ref entry) {
  Ref owner = Words(entry)[kEntryOwner];
  return IsRef(owner) ? Words(owner)[kHandleNamespace] : 0;
}

bool IsValidName(std::u32string_view name) {
  if (name.empty() || !IsNameStart(name[0])) return false;
  for (char32_t c : name.substr(1))
    if (!IsNameCharacter(c)) return false;
  return true;
}

Ref LookupName(std::u32string_view name, LookupMode mode) { return LookupCurrent(ToUtf16(name), mode); }

Ref FindIn(Ref ns, std::u32string_view name, bool acceptHidden) {
  Ref e = FindEntry(ns, ToUtf16(name));
  if (IsRef(e) && !acceptHidden && !(Flags(e) & kEntryExposedFlag)) return 0;
  return e;
}

void SetEntry(Ref entry, uint32_t nameClass, Ref value) {
  uint32_t* w = Words(entry);
  Ref old = w[kEntryValue];
  if (nameClass == kNameSystemVariable) value = 0;
  Retain(value);
  w[kEntryValue] = value;
  w[kEntryFlags] = (w[kEntryFlags] & ~kEntryClassMask) | (nameClass << kEntryClassShift);
  ReleaseRef(old);
}

Ref SystemVariableEntry(uint32_t k) {
  Ref e = LookupName(SystemVariableText(k), LookupMode::Create);
  Flags(e) = (Flags(e) & ~kEntrySysVarMask) | ((k << kEntrySysVarShift) & kEntrySysVarMask);
  return e;
}

// ---- Trees -------------------------------------------------------------------------------------

void RebalanceNameTree(Ref ns) { RebuildSubtree(NamespaceTree(ns), kEntryLeft); }

// ---- Namespaces --------------------------------------------------------------------------------

Ref NamespaceOf(Ref value) {
  if (IsNamespaceObject(value)) return value;
  if (IsObjectOfClass(value, kNamespaceHandleClass)) return Words(value)[kHandleNamespace];
  return 0;
}

Ref ParentNamespace(Ref ns) {
  Ref handle = NsWord(ns, kNsParent);
  return IsRef(handle) ? Words(handle)[kHandleNamespace] : 0;
}

void SetExecutingNamespace(Ref ns) {
  Retain(ns);
  Retain(ns);
  Ref oldExecuting = RootWordAt(kRootCurrentNamespace);
  Ref oldSpace = RootWordAt(kRootCurrentSpace);
  RootWordAt(kRootCurrentNamespace) = ns;
  RootWordAt(kRootCurrentSpace) = ns;
  InstallNamespaceBlock(NsWord(ns, kNsSystemVars));
  ReleaseRef(oldExecuting);
  ReleaseRef(oldSpace);
}

Ref CreateNamespace(Ref nameEntry) {
  Ref parent = IsRef(nameEntry) ? EntryNamespace(nameEntry) : 0;
  return NewNamespace(IsRef(parent) ? parent : ExecutingNamespace(), nameEntry);
}

std::u32string DisplayName(Ref value) {
  if (IsRef(NamespaceOf(value))) {
    const uint32_t flags = NamespaceFlags(NamespaceOf(value));
    if (flags & kNsJsonObject) return U"[JSON object]";
    if (flags & kNsReplaceMatch) return U"[⎕R match info]";
    if (flags & kNsSearchMatch) return U"[⎕S match info]";
  }
  std::vector<std::u32string> segments;
  for (Ref ns = NamespaceOf(value); IsRef(ns); ns = ParentNamespace(ns)) {
    if (ns == RootNamespace() || ns == SessionNamespace()) {
      segments.push_back(ns == RootNamespace() ? U"#" : U"⎕SE");
      break;
    }
    segments.push_back(OwnSegment(ns));
    if (NamespaceFlags(ns) & kNsShowAsRootChild) {
      segments.push_back(U"#");
      break;
    }
  }
  std::u32string text;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    if (!text.empty()) text += U'.';
    text += *it;
  }
  return text;
}

SpaceScope::SpaceScope(Ref ns) {
  saved_[0] = RootWordAt(kRootCurrentSpace);  // the scope takes over the root word's count
  Retain(ns);
  RootWordAt(kRootCurrentSpace) = ns;
}

SpaceScope::~SpaceScope() {
  Ref scoped = RootWordAt(kRootCurrentSpace);
  RootWordAt(kRootCurrentSpace) = saved_.Take(0);
  ReleaseRef(scoped);
}

// ---- Paths -------------------------------------------------------------------------------------

Ref SpecialNamespace(std::u32string_view segment, Ref from) {
  if (segment == U"#") return RootNamespace();
  if (segment == U"⎕SE") return SessionNamespace();
  if (segment != U"##") return 0;
  Ref parent = (NamespaceFlags(from) & kNsBoundary) ? 0 : ParentNamespace(from);
  return IsRef(parent) ? parent : from;
}

Ref ResolvePath(std::u32string_view text) {
  std::vector<std::u32string_view> segments = Segments(TrimBlanks(text));
  Ref ns = ExecutingNamespace();
  for (size_t i = 0; i + 1 < segments.size() && IsRef(ns); ++i) ns = StepInto(ns, segments[i]);
  std::u32string_view last = segments.back();
  if (!IsRef(ns) || !IsValidName(last)) return 0;
  return FindEntry(ns, ToUtf16(last));
}

Ref ResolveNamespacePath(std::u32string_view text, bool create) {
  Ref ns = ExecutingNamespace();
  for (std::u32string_view segment : Segments(TrimBlanks(text))) {
    ns = create ? StepIntoCreating(ns, segment) : StepInto(ns, segment);
    if (!IsRef(ns)) return 0;
  }
  return ns;
}

Ref ResolveUndefinedName(Ref entry, bool functionPosition) {
  if (EntryClass(entry) != kNameUndefined || (Flags(entry) & kEntryLocalisedFlag)) return entry;
  if (!functionPosition) return 0;
  Ref pathValue = ReadSystemVariable(kQuadPATH);
  std::u32string path = IsRef(pathValue) ? CharacterText(pathValue) : std::u32string();
  ReleaseRef(pathValue);
  if (path.empty()) return 0;
  return SearchPath(path, EntryName(entry));
}

// ---- Text of character arrays ------------------------------------------------------------------

std::u32string_view TrimBlanks(std::u32string_view text) {
  while (!text.empty() && text.front() == U' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == U' ') text.remove_suffix(1);
  return text;
}

std::vector<std::u32string_view> BlankSeparated(std::u32string_view text) {
  std::vector<std::u32string_view> words;
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.find(U' ', start), text.size());
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

namespace {
template <typename T>
void AppendCodePoints(const T* data, uint64_t first, uint64_t count, std::u32string& out) {
  for (uint64_t i = first; i < first + count; ++i) out.push_back(static_cast<char32_t>(data[i]));
}
}  // namespace

bool IsSimpleCharacterArray(Ref array) {
  return IsRef(array) && KindOf(TypeWord(array)) == kKindSimple &&
         (kElementInfo[ElementOf(TypeWord(array))].classes & kClassCharacter);
}

bool IsText(Ref array) { return IsSimpleCharacterArray(array) && RankOf(TypeWord(array)) <= 1; }

std::u32string CharacterText(Ref array, uint64_t first, uint64_t count) {
  std::u32string text;
  text.reserve(count);
  switch (ElementOf(TypeWord(array))) {
    case kCharAv:
      for (uint64_t i = first; i < first + count; ++i) text.push_back(AvCharacter(DataOf<uint8_t>(array)[i]));
      break;
    case kChar8: AppendCodePoints(DataOf<uint8_t>(array), first, count, text); break;
    case kChar16: AppendCodePoints(DataOf<uint16_t>(array), first, count, text); break;
    case kChar32: AppendCodePoints(DataOf<uint32_t>(array), first, count, text); break;
    default: SIGNAL(kDomainError);
  }
  return text;
}

std::u32string CharacterText(Ref array) { return CharacterText(array, 0, ElementCount(array)); }

// ---- Sizes -------------------------------------------------------------------------------------

uint64_t OccupiedBytes(Ref value) {
  Ref self = NamespaceOf(value);
  auto inside = [self](Ref ns) {
    for (Ref p = ns; IsRef(p); p = ParentNamespace(p))
      if (p == self) return true;
    return false;
  };
  std::unordered_set<Ref> seen{value};
  std::vector<Ref> stack{value};
  uint64_t bytes = 0;
  while (!stack.empty()) {
    Ref p = stack.back();
    stack.pop_back();
    bytes += 4ull * PocketWords(p);
    ForEachCountedChild(p, [&](Ref child) {
      if (IsNamespaceObject(child) && !inside(child)) return;
      if (seen.insert(child).second) stack.push_back(child);
    });
  }
  return bytes;
}

bool WithinNamespace(Ref ns, Ref ancestor) {
  for (Ref p = ns; IsRef(p); p = ParentNamespace(p))
    if (p == ancestor) return true;
  return false;
}

bool ReachesNamespace(Ref value, Ref home, Ref target) {
  std::unordered_set<Ref> seen{value};
  std::vector<Ref> stack{value};
  while (!stack.empty()) {
    Ref p = stack.back();
    stack.pop_back();
    if (Ref ns = NamespaceOf(p); IsRef(ns)) {
      if (WithinNamespace(ns, target)) return true;
      if (!WithinNamespace(ns, home)) continue;
    }
    ForEachCountedChild(p, [&](Ref child) {
      if (seen.insert(child).second) stack.push_back(child);
    });
  }
  return false;
}

// ---- Life and death ----------------------------------------------------------------------------

CycleNotesPaused::CycleNotesPaused() { ++g_notesPaused; }
CycleNotesPaused::~CycleNotesPaused() { --g_notesPaused; }

uint32_t CollectNamespaceCycles() {
  if (g_candidateCount == 0) return 0;
  g_candidateCount = 0;
  std::vector<Ref> candidates = TakeCandidates();
  if (candidates.empty()) return 0;
  uint64_t before = SpaceUsage().bytesInUse;
  FreeNamespaces(UnreachableNamespaces(candidates));
  uint64_t after = SpaceUsage().bytesInUse;
  return static_cast<uint32_t>((before - after) / 4);
}

static void ForgetCandidates() { g_candidateCount = 0; }

// ---- The transfer form of names and namespaces ------------------------------------------------
// A name in a symbol list is written as its text and read back as the entry of that name in the
// namespace being read into, so a function's names bind where the function arrives. A namespace is
// written as a share word (non-zero: the namespace appeared before in the stream), its flags,
// whether a name of its parent names it, its system variables and its names with their values; it
// is read back as a new namespace whose parent is the namespace being read into.

namespace {

// Set on a namespace read from a stream that its parent's entry should name, until that entry
// takes it.
constexpr uint32_t kNsAwaitingName = 1u << 28;
constexpr uint32_t kMaxTransferNameLength = 1024;
constexpr uint32_t kNsFlagsTransferred = kNsShowAsRootChild;
// Share words that stand for the reader's # and ⎕SE.
constexpr int32_t kShareRoot = INT32_MIN;
constexpr int32_t kShareSession = INT32_MIN + 1;

void WriteNameText(const std::u32string& name, TransferWriter& out) {
  out.Word(static_cast<uint32_t>(name.size()));
  out.Bytes(name.data(), 4 * name.size());
}

std::u32string ReadNameText(TransferReader& in) {
  uint32_t length = in.Word();
  if (length == 0 || length > kMaxTransferNameLength) TransferReader::Invalid();
  std::u32string name(length, U'\0');
  in.Bytes(name.data(), 4ull * length);
  if (!IsValidName(name)) TransferReader::Invalid();
  return name;
}

void WriteNameEntry(Ref entry, TransferWriter& out) {
  std::u32string name = EntryName(entry);
  out.Word(kHeaderWords + 1 + static_cast<uint32_t>(name.size()));
  out.Word(kKindName);
  WriteNameText(name, out);
}

Ref ReadNameEntry(TransferReader& in, uint32_t size, uint32_t type) {
  if (type != kKindName) TransferReader::Invalid();
  std::u32string name = ReadNameText(in);
  if (size != kHeaderWords + 1 + name.size()) TransferReader::Invalid();
  return Retained(LookupName(name, LookupMode::Create));
}

bool IsTransferredClass(uint32_t cls) {
  return cls == kNameVariable || cls == kNameFunction || cls == kNameOperator || cls == kNameNamespace;
}

void WriteNamespace(Ref value, TransferWriter& out) {
  Ref ns = NamespaceOf(value);
  if (NamespaceFlags(ns) & (kNsClass | kNsInstance | kNsInterface))
    out.Fail(kDomainError, MessageRow(U"Object oriented namespace cannot be serialised"));
  bool root = ns == RootNamespace() || ns == SessionNamespace();
  if ((root && !out.RootsAsReferences()) || (!root && !IsRef(NsWord(ns, kNsParent))))
    out.Fail(kDomainError, MessageRow(U"Namespace is not self contained"));
  out.Word(kNamespaceWords);
  out.Word(TypeWord(value) & 0xFFFF);
  int32_t share = !root ? out.ShareWord(ns) : ns == RootNamespace() ? kShareRoot : kShareSession;
  out.Word(static_cast<uint32_t>(share));
  if (share != 0) return;
  out.Word(NamespaceFlags(ns) & kNsFlagsTransferred);
  out.Word(IsRef(NsWord(ns, kNsName)) && EntryNamespace(NsWord(ns, kNsName)) == ParentNamespace(ns));
  Ref block = NsWord(ns, kNsSystemVars);
  std::vector<uint32_t> variables;
  for (uint32_t k = 0; k < kSystemVariableLimit; ++k)
    if (IsNamespaceVariable(k) && IsRef(NamespaceBlockValue(block, k))) variables.push_back(k);
  out.Word(static_cast<uint32_t>(variables.size()));
  for (uint32_t k : variables) {
    out.Word(k);
    out.Child(NamespaceBlockValue(block, k));
  }
  std::vector<Ref> entries;
  ForEachEntry(ns, [&](Ref e) {
    if (IsTransferredClass(EntryClass(e)) && IsRef(EntryValue(e))) entries.push_back(e);
  });
  out.Word(static_cast<uint32_t>(entries.size()));
  for (Ref e : entries) {
    out.Word(EntryClass(e));
    WriteNameText(EntryName(e), out);
    out.Child(EntryValue(e));
  }
}

// The record data of a namespace: the number of system variables, their numbers, then for each
// name its class, its length and its characters.
Ref ReadNamespace(TransferReader& in, uint32_t size, uint32_t type) {
  if (size != kNamespaceWords) TransferReader::Invalid();
  int32_t share = static_cast<int32_t>(in.Word());
  if (share != 0) {
    Ref ns = share == kShareRoot ? RootNamespace() : share == kShareSession ? SessionNamespace() : in.SharedObject(share);
    return Retained(type == kNamespaceHandleClass ? NsWord(ns, kNsSelf) : ns);
  }
  uint32_t flags = in.Word() & kNsFlagsTransferred;
  bool named = in.Word() != 0;
  std::vector<uint32_t>& data = in.RecordData();
  uint32_t variables = in.Word();
  if (variables > kSystemVariableLimit) TransferReader::Invalid();
  data.push_back(variables);
  for (uint32_t i = 0; i < variables; ++i) {
    uint32_t k = in.Word();
    if (!IsNamespaceVariable(k)) TransferReader::Invalid();
    data.push_back(k);
  }
  uint32_t names = in.Word();
  for (uint32_t i = 0; i < names; ++i) {
    uint32_t cls = in.Word();
    if (!IsTransferredClass(cls)) TransferReader::Invalid();
    std::u32string name = ReadNameText(in);
    data.push_back(cls);
    data.push_back(static_cast<uint32_t>(name.size()));
    data.insert(data.end(), name.begin(), name.end());
  }
  Temporaries hold;
  hold[0] = CreateNamespace(0);
  NsWord(hold[0], kNsFlags) |= flags | (named ? kNsAwaitingName : 0);
  in.EnterShared(hold[0]);
  in.ChildrenToRule(variables + names);
  in.KeepWithRecord(Retained(ExecutingNamespace()));
  if (type == kNamespaceHandleClass) {
    hold[1] = Retained(NsWord(hold[0], kNsSelf));
    Release(hold[0]);
    hold[0] = hold.Take(1);
  }
  SetExecutingNamespace(NamespaceOf(hold[0]));
  return hold.Take(0);
}

bool IsFunctionValue(Ref value) {
  uint32_t kind = KindOf(TypeWord(value));
  return kind == kKindDefinedFunction || kind == kKindDerived || IsObjectOfClass(value, kDfnObjectClass);
}

// Whether a value read from a stream may be the value of a name of class `cls`.
bool FitsClass(Ref value, uint32_t cls) {
  if (!IsRef(value)) return false;
  if (cls == kNameVariable) return IsArrayKind(KindOf(TypeWord(value))) || IsRef(NamespaceOf(value));
  if (cls == kNameNamespace) return IsRef(NamespaceOf(value));
  return IsFunctionValue(value);
}

// The children of a namespace arrive in the namespace they belong to (it is the executing one
// while they are read): first the system variables, then the values of the names.
void DeliverToNamespace(const Ref&, const std::vector<uint32_t>& data, uint32_t index, Ref child) {
  Temporaries hold;
  hold[0] = child;
  uint32_t variables = data[0];
  if (index < variables) return AssignSystemVariable(data[1 + index], hold[0]);
  size_t at = 1 + variables;
  for (uint32_t i = variables; i < index; ++i) at += 2 + data[at + 1];
  uint32_t cls = data[at];
  std::u32string name(data.begin() + static_cast<ptrdiff_t>(at + 2), data.begin() + static_cast<ptrdiff_t>(at + 2 + data[at + 1]));
  if (!FitsClass(hold[0], cls)) TransferReader::Invalid();
  BindTransferredValue(LookupName(name, LookupMode::Create), cls, hold[0]);
}

// A namespace that was read (not one met again) made itself executing and kept the one before.
void LeaveNamespace(const Ref&, const Ref& previous, bool) {
  if (IsRef(previous)) SetExecutingNamespace(previous);
}

}  // namespace

void BindTransferredValue(Ref entry, uint32_t cls, Ref value) {
  Temporaries hold;
  hold[0] = Retained(entry);
  SetEntry(hold[0], cls, value);
  Ref ns = NamespaceOf(value);
  if (cls != kNameNamespace || !IsRef(ns) || !(NamespaceFlags(ns) & kNsAwaitingName)) return;
  NsWord(ns, kNsFlags) &= ~kNsAwaitingName;
  if (ParentNamespace(ns) != EntryNamespace(hold[0]) || IsRef(NsWord(ns, kNsName))) return;
  NsWord(ns, kNsName) = Retained(hold[0]);
}

static void RegisterTransferRules() {
  RegisterTransferKind(kKindName, {WriteNameEntry, ReadNameEntry, nullptr, nullptr});
  TransferRule ns{WriteNamespace, ReadNamespace, DeliverToNamespace, LeaveNamespace};
  RegisterTransferObjectClass(kNamespaceObjectClass, ns);
  RegisterTransferObjectClass(kNamespaceHandleClass, ns);
}

void InitialiseNames() {
  RegisterWorkspaceForgetter(ForgetCandidates);
  RegisterKind(kKindName, EntryFields, EntryHook);
  RegisterObjectClass(kNamespaceObjectClass, NamespaceFields, NamespaceHook);
  RegisterObjectClass(kNamespaceHandleClass, HandleFields, HandleHook);
  RegisterUncountedObjectClass(kNamespaceHandleClass);
  SetNamespaceBlockWriter(StoreNamespaceBlock);
  SetObjectTextHook(ObjectText);
  RegisterTransferRules();
  static bool trimmerRegistered = false;  // the trimmer list only grows
  if (!trimmerRegistered) RegisterSpaceTrimmer(CollectNamespaceCycles);
  trimmerRegistered = true;
  g_candidateCount = 0;
  RootWordAt(kRootRootNamespace) = NewNamespace(0, 0);
  Ref session = NewNamespace(0, 0);
  RootWordAt(kRootSessionNamespace) = session;
  Retain(session);
  InstallSessionNamespace(session);
  SetExecutingNamespace(RootNamespace());
}

}  // namespace vantor
