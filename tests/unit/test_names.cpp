// Names and namespaces: the threaded name trees (order, threads, counts, rebalancing), namespaces
// (creation, display names, nesting limit, lifetime and cycles), paths and the ⎕PATH search,
// localisation, and the system functions ⎕NC ⎕NL ⎕EX ⎕NS ⎕CS ⎕SIZE ⎕SHADOW ⎕THIS.
#include <functional>
#include <map>
#include <unordered_map>

#include "format/disp.h"
#include "heap_fixture.h"
#include "language/dmx.h"
#include "language/qsym.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

class NameTest : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    InitialiseSystemVariables();
    InitialiseStack();
    InitialiseNames();
  }

  // Gives a name in CurrentSpace a class and value; the value's creation count goes to the entry.
  static Ref Define(std::u32string_view name, uint32_t cls, Ref value) {
    Ref e = LookupName(name, LookupMode::Create);
    SetEntry(e, cls, value);
    ReleaseRef(value);
    return e;
  }
  static Ref Chars(std::u32string_view text) { return MakeText(text); }
  static Ref Reals(const std::vector<double>& values) {
    Ref r = AllocVector(kFloat64, static_cast<uint32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) DataOf<double>(r)[i] = values[i];
    return r;
  }
  static Ref CharRows(const std::vector<std::u32string>& rows) {
    size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.size());
    Ref m = AllocMatrix(kChar32, static_cast<uint32_t>(rows.size()), static_cast<uint32_t>(width));
    for (size_t i = 0; i < rows.size(); ++i)
      for (size_t j = 0; j < width; ++j) DataOf<uint32_t>(m)[i * width + j] = j < rows[i].size() ? rows[i][j] : U' ';
    return m;
  }
  static Ref Strings(const std::vector<std::u32string>& items) {
    std::vector<Ref> refs;
    for (const auto& s : items) refs.push_back(Chars(s));
    return NestedOf(refs);
  }
  // Calls a system function with counted arguments held in the evaluator's argument slots.
  static CallResult Call(FunctionHandler f, Ref left, Ref right) {
    WorkingSlot(kSlotLeft) = left;
    WorkingSlot(kSlotRight) = right;
    CallResult r = f(WorkingSlot(kSlotLeft), WorkingSlot(kSlotRight));
    Release(WorkingSlot(kSlotLeft));
    Release(WorkingSlot(kSlotRight));
    return r;
  }
  static uint32_t ErrorOf(const std::function<void()>& run) {
    try {
      run();
    } catch (const AplError& e) {
      return e.errorNumber;
    }
    return 0;
  }
  static std::vector<double> Numbers(Ref r) {
    std::vector<double> out;
    for (uint64_t i = 0, n = ElementCount(r); i < n; ++i) {
      switch (ElementOf(TypeWord(r))) {
        case kBool: out.push_back(GetBit(DataOf<uint8_t>(r), i)); break;
        case kInt8: out.push_back(DataOf<int8_t>(r)[i]); break;
        case kInt16: out.push_back(DataOf<int16_t>(r)[i]); break;
        case kInt32: out.push_back(DataOf<int32_t>(r)[i]); break;
        case kFloat64: out.push_back(DataOf<double>(r)[i]); break;
        default: ADD_FAILURE() << "not a number";
      }
    }
    return out;
  }
  static std::vector<std::u32string> Rows(Ref matrix) {
    std::vector<std::u32string> rows;
    uint32_t n = ShapeOf(matrix)[0], width = ShapeOf(matrix)[1];
    for (uint32_t i = 0; i < n; ++i) rows.push_back(CharacterText(matrix, uint64_t{i} * width, width));
    return rows;
  }
  static std::vector<std::u32string> Items(Ref nested) {
    std::vector<std::u32string> items;
    for (uint64_t i = 0, n = ElementCount(nested); i < n; ++i) items.push_back(CharacterText(DataOf<Ref>(nested)[i]));
    return items;
  }
  static std::vector<std::u32string> NamesIn(Ref ns) {
    std::vector<std::u32string> names;
    ForEachEntry(ns, [&](Ref e) { names.push_back(EntryName(e)); });
    return names;
  }
  // A named child of the executing namespace.
  static Ref NamedNamespace(std::u32string_view name) {
    Ref ns = CreateNamespace(LookupName(name, LookupMode::Create));
    ReleaseRef(ns);
    return ns;
  }
  static Ref Handle(Ref ns) {
    Ref h = Words(ns)[kNsSelf];
    Retain(h);
    return h;
  }

  // Checks the tree of a namespace against its invariants: children in name order, a thread on
  // every entry without a right child leading to its in-order successor (the header after the
  // last), the threaded walk equal to the child walk, and every count equal to the tree's links plus
  // `extra` references. Returns the depth.
  static uint32_t CheckTree(Ref ns, const std::map<Ref, uint32_t>& extra = {}) {
    Ref header = NamespaceTree(ns);
    std::unordered_map<Ref, uint32_t> links;
    std::vector<Ref> order;
    uint32_t depth = 0;
    std::vector<std::pair<Ref, uint32_t>> stack;
    Ref node = Words(header)[kEntryLeft];
    uint32_t level = 1;
    if (IsRef(node)) ++links[node];
    while (IsRef(node) || !stack.empty()) {
      while (IsRef(node)) {
        depth = std::max(depth, level);
        stack.push_back({node, level});
        Ref left = Words(node)[kEntryLeft];
        if (IsRef(left)) ++links[left];
        node = left;
        ++level;
      }
      auto [top, topLevel] = stack.back();
      stack.pop_back();
      order.push_back(top);
      Ref right = Words(top)[kEntryRight];
      ++links[right];
      bool threaded = Words(top)[kEntryFlags] & kEntryThreadFlag;
      node = threaded ? 0 : right;
      level = topLevel + 1;
    }
    std::vector<Ref> walked;
    ForEachEntry(ns, [&](Ref e) { walked.push_back(e); });
    EXPECT_EQ(walked, order);
    for (size_t i = 0; i < order.size(); ++i) {
      Ref e = order[i];
      if (i > 0) {
        EXPECT_LT(EntryName(order[i - 1]), EntryName(e));
      }
      if (Words(e)[kEntryFlags] & kEntryThreadFlag) {
        EXPECT_EQ(Words(e)[kEntryRight], i + 1 < order.size() ? order[i + 1] : header);
      }
      uint32_t more = extra.count(e) ? extra.at(e) : 0;
      EXPECT_EQ(RefCount(e), links[e] + more) << "count of " << std::string(EntryName(e).begin(), EntryName(e).end());
      EXPECT_EQ(EntryNamespace(e), ns);
    }
    EXPECT_EQ(RefCount(header), 1 + links[header]);
    return depth;
  }
};

using NameTreeTest = NameTest;
using NamespaceTest = NameTest;
using NamePathTest = NameTest;
using NameLocalisationTest = NameTest;
using NameFunctionsTest = NameTest;

// ---- Name trees ----------------------------------------------------------------------------------

TEST_F(NameTreeTest, NamesAreOrderedByCodeUnitsAndFoundAgain) {
  const std::vector<std::u32string> created = {U"a", U"AB", U"_x", U"B", U"A", U"Ab", U"∆d", U"z9", U"ABC", U"é"};
  std::map<std::u32string, Ref> entries;
  for (const auto& name : created) entries[name] = LookupName(name, LookupMode::Create);
  EXPECT_EQ(NamesIn(RootNamespace()),
            (std::vector<std::u32string>{U"A", U"AB", U"ABC", U"Ab", U"B", U"_x", U"a", U"z9", U"é", U"∆d"}));
  for (const auto& [name, e] : entries) {
    EXPECT_EQ(LookupName(name, LookupMode::Find), e);
    EXPECT_EQ(LookupName(name, LookupMode::Create), e);
    EXPECT_EQ(EntryClass(e), kNameUndefined);
    EXPECT_EQ(EntryValue(e), 0u);
  }
  EXPECT_EQ(LookupName(U"AA", LookupMode::Find), 0u);
  EXPECT_EQ(LookupName(U"ab", LookupMode::Find), 0u);
  CheckTree(RootNamespace());
}

TEST_F(NameTreeTest, ThreadsAndCountsHoldAfterInsertsInAnyOrder) {
  const std::vector<std::vector<std::u32string>> orders = {
      {U"m", U"f", U"t", U"c", U"h", U"p", U"w", U"a", U"d"},  // balanced
      {U"a", U"b", U"c", U"d", U"e", U"f"},                     // ascending: right spine
      {U"f", U"e", U"d", U"c", U"b", U"a"},                     // descending: left spine
      {U"a", U"f", U"b", U"e", U"c", U"d"},                     // zig-zag
  };
  for (const auto& order : orders) {
    Ref ns = NamedNamespace(U"T");
    SpaceScope scope(ns);
    for (const auto& name : order) LookupName(name, LookupMode::Create);
    CheckTree(ns);
    EXPECT_EQ(NamesIn(ns).size(), order.size());
    Define(U"T", kNameUndefined, 0);  // drops the namespace
  }
}

TEST_F(NameTreeTest, HundredThousandAscendingNamesStayShallowAndFindable) {
  constexpr int kNames = 100000;
  auto nameOf = [](int i) {
    std::u32string digits = U"000000";
    for (int k = 5, v = i; k >= 0; --k, v /= 10) digits[k] = U'0' + v % 10;
    return U"N" + digits;
  };
  Ref one = RootWordAt(kRootScalarOne);
  for (int i = 0; i < kNames; ++i) SetEntry(LookupName(nameOf(i), LookupMode::Create), kNameVariable, one);
  for (int i = 0; i < kNames; ++i) ASSERT_EQ(EntryName(LookupName(nameOf(i), LookupMode::Find)), nameOf(i));
  EXPECT_LE(CheckTree(RootNamespace()), kLookupStepLimit);
  ForEachEntry(RootNamespace(), [](Ref e) { SetEntry(e, kNameUndefined, 0); });
  RebalanceNameTree(RootNamespace());  // now every one of them is undefined and unused
  EXPECT_TRUE(NamesIn(RootNamespace()).empty());
}

TEST_F(NameTreeTest, RebalancingDeletesOnlyUnusedUndefinedEntries) {
  for (char32_t c = U'a'; c <= U'p'; ++c) LookupName(std::u32string(1, c), LookupMode::Create);
  Define(U"b", kNameVariable, IntVector({1}));
  Define(U"k", kNameFunction, 2);
  Ref held = LookupName(U"f", LookupMode::Find);
  Retain(held);
  Ref localised = LookupName(U"h", LookupMode::Find);
  Words(localised)[kEntryFlags] |= kEntryLocalisedFlag;  // localised once, now undefined and unused
  RebalanceNameTree(RootNamespace());
  EXPECT_EQ(NamesIn(RootNamespace()), (std::vector<std::u32string>{U"b", U"f", U"k"}));
  EXPECT_LE(CheckTree(RootNamespace(), {{held, 1}}), 2u);
  ReleaseRef(held);
}

TEST_F(NameTreeTest, SurvivesCompaction) {
  Ref a = NamedNamespace(U"A");
  {
    SpaceScope scope(a);
    for (int i = 0; i < 200; ++i) Define(U"v" + std::u32string(1, U'A' + i % 26) + std::u32string(1, U'a' + i / 26), kNameVariable, IntVector({i}));
  }
  Compact(0);
  CheckHeapConsistency();
  Ref moved = NamespaceOf(EntryValue(LookupName(U"A", LookupMode::Find)));
  EXPECT_EQ(DisplayName(moved), U"#.A");
  SpaceScope scope(moved);
  EXPECT_EQ(IntValues(EntryValue(LookupName(U"vBb", LookupMode::Find))), std::vector<int32_t>{27});
  CheckTree(moved);
}

// ---- Namespaces ----------------------------------------------------------------------------------

TEST_F(NamespaceTest, DisplayNamesFollowTheParents) {
  Ref a = NamedNamespace(U"A");
  Ref b;
  {
    SpaceScope scope(a);
    b = NamedNamespace(U"B");
  }
  Ref unnamed = CreateNamespace(0);
  SetExecutingNamespace(a);
  Ref unnamedInA = CreateNamespace(0);
  SetExecutingNamespace(SessionNamespace());
  Ref x = NamedNamespace(U"X");
  SetExecutingNamespace(RootNamespace());
  EXPECT_EQ(DisplayName(RootNamespace()), U"#");
  EXPECT_EQ(DisplayName(SessionNamespace()), U"⎕SE");
  EXPECT_EQ(DisplayName(a), U"#.A");
  EXPECT_EQ(DisplayName(b), U"#.A.B");
  EXPECT_EQ(DisplayName(Words(b)[kNsSelf]), U"#.A.B");  // through the handle
  EXPECT_EQ(DisplayName(unnamed), U"#.[Namespace]");
  EXPECT_EQ(DisplayName(unnamedInA), U"#.A.[Namespace]");
  EXPECT_EQ(DisplayName(x), U"⎕SE.X");
  EXPECT_EQ(ParentNamespace(b), a);
  EXPECT_EQ(ParentNamespace(RootNamespace()), 0u);
  Ref entryA = LookupName(U"A", LookupMode::Find);
  EXPECT_EQ(EntryClass(entryA), kNameNamespace);
  EXPECT_EQ(EntryValue(entryA), a);
  ReleaseRef(unnamed);
  ReleaseRef(unnamedInA);
}

TEST_F(NamespaceTest, ReferencesInDisplayedArraysShowTheirDisplayNames) {
  Ref a = NamedNamespace(U"A");
  Retain(a);
  Ref array = NestedOf({a, CreateNamespace(0), IntVector({1, 2})});
  std::vector<std::u32string> lines = DisplayLines(array, DisplaySettings{});
  ReleaseRef(array);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(U"#.A "), std::u32string::npos);
  EXPECT_NE(lines[0].find(U"#.[Namespace]"), std::u32string::npos);
}

TEST_F(NamespaceTest, NamingNeedsAnUndefinedOrNamespaceEntry) {
  Ref v = Define(U"v", kNameVariable, IntVector({1}));
  EXPECT_EQ(ErrorOf([&] { CreateNamespace(v); }), kDomainError);
  Ref n = NamedNamespace(U"N");
  Ref again = CreateNamespace(LookupName(U"N", LookupMode::Find));  // a class-9 name is rebound
  EXPECT_NE(again, n);
  EXPECT_EQ(EntryValue(LookupName(U"N", LookupMode::Find)), again);
  ReleaseRef(again);
}

TEST_F(NamespaceTest, NestingStopsAfter256Levels) {
  for (int depth = 1; depth <= 256; ++depth) SetExecutingNamespace(NamedNamespace(U"N"));
  std::u32string deepest = DisplayName(ExecutingNamespace());
  EXPECT_EQ(deepest.size(), 1 + 2 * 256u);
  EXPECT_EQ(ErrorOf([] { NamedNamespace(U"N"); }), kLimitError);
  EXPECT_EQ(ErrorOf([] { ReleaseRef(CreateNamespace(0)); }), kLimitError);
  SetExecutingNamespace(ParentNamespace(ExecutingNamespace()));
  EXPECT_EQ(ErrorOf([] { ReleaseRef(CreateNamespace(0)); }), 0u);
  SetExecutingNamespace(RootNamespace());
}

TEST_F(NamespaceTest, StartsWithTheCreatorsSystemVariables) {
  Ref a = NamedNamespace(U"A");
  SetExecutingNamespace(a);
  Ref zero = MakeIntScalar(0);
  AssignSystemVariable(kQuadIO, zero);
  ReleaseRef(zero);
  Ref inner = NamedNamespace(U"I");
  SetExecutingNamespace(inner);
  EXPECT_EQ(IndexOrigin(), 0u);
  SetExecutingNamespace(RootNamespace());
  EXPECT_EQ(IndexOrigin(), 1u);
}

TEST_F(NamespaceTest, DiesWithItsLastReferenceAndLeavesNothingBehind) {
  uint64_t before = SpaceUsage().bytesInUse;
  Ref ns = CreateNamespace(0);
  Ref handle = Handle(ns);
  Ref x;
  {
    SpaceScope scope(ns);
    for (char32_t c = U'a'; c <= U'k'; ++c) Define(std::u32string(1, c), kNameVariable, IntVector({1, 2}));
    Ref child = NamedNamespace(U"child");
    SpaceScope inner(child);
    Define(U"deep", kNameVariable, IntVector({3}));
    x = LookupName(U"deep", LookupMode::Find);
    Retain(x);  // an entry that outlives its namespace
  }
  ReleaseRef(ns);
  EXPECT_EQ(NamespaceOf(handle), 0u);
  EXPECT_EQ(EntryNamespace(x), 0u);
  EXPECT_EQ(EntryValue(x), 0u);  // a detached entry keeps no meaning
  ReleaseRef(x);
  ReleaseRef(handle);
  CheckHeapConsistency();
  EXPECT_EQ(SpaceUsage().bytesInUse, before);
}

TEST_F(NamespaceTest, CollectorFreesCyclesButNotWhatOthersHold) {
  uint64_t before = SpaceUsage().bytesInUse;
  // A holds itself; B and C hold each other, C also through a nested array; D holds itself and
  // the variable keep holds D.
  Ref a = CreateNamespace(0), b = CreateNamespace(0), c = CreateNamespace(0), d = CreateNamespace(0);
  Ref ha = Handle(a), hb = Handle(b), hc = Handle(c), hd = Handle(d);
  auto set = [](Ref ns, std::u32string_view name, uint32_t cls, Ref value) {
    SpaceScope scope(ns);
    SetEntry(LookupName(name, LookupMode::Create), cls, value);
  };
  set(a, U"me", kNameNamespace, a);
  set(b, U"c", kNameNamespace, c);
  set(c, U"b", kNameNamespace, b);
  Retain(b);
  Retain(c);
  Ref list = NestedOf({b, c});
  set(c, U"list", kNameVariable, list);
  ReleaseRef(list);
  set(d, U"me", kNameNamespace, d);
  Retain(d);
  Define(U"keep", kNameNamespace, d);
  for (Ref ns : {a, b, c, d}) ReleaseRef(ns);
  EXPECT_NE(NamespaceOf(ha), 0u);  // counting alone keeps cycles
  EXPECT_GT(CollectNamespaceCycles(), 0u);
  EXPECT_EQ(NamespaceOf(ha), 0u);
  EXPECT_EQ(NamespaceOf(hb), 0u);
  EXPECT_EQ(NamespaceOf(hc), 0u);
  EXPECT_EQ(NamespaceOf(hd), d);
  EXPECT_EQ(CollectNamespaceCycles(), 0u);
  Define(U"keep", kNameUndefined, 0);
  CollectNamespaceCycles();
  EXPECT_EQ(NamespaceOf(hd), 0u);
  for (Ref h : {ha, hb, hc, hd}) ReleaseRef(h);
  RebalanceNameTree(RootNamespace());
  CheckHeapConsistency();
  EXPECT_EQ(SpaceUsage().bytesInUse, before);
}

// ---- Paths ---------------------------------------------------------------------------------------

TEST_F(NamePathTest, ResolvesDottedNames) {
  Ref a = NamedNamespace(U"A");
  Ref topX = Define(U"x", kNameVariable, IntVector({0}));
  Define(U"v", kNameVariable, IntVector({0}));
  Ref ax, bY, seS;
  {
    SpaceScope scope(a);
    ax = Define(U"x", kNameVariable, IntVector({1}));
    Ref b = NamedNamespace(U"B");
    SpaceScope inner(b);
    bY = Define(U"y", kNameVariable, IntVector({2}));
  }
  {
    SpaceScope scope(SessionNamespace());
    seS = Define(U"s", kNameVariable, IntVector({3}));
  }
  const std::vector<std::pair<std::u32string, Ref>> cases = {
      {U"A.x", ax},     {U"  A.x ", ax},  {U"#.A.x", ax},   {U"A.B.y", bY}, {U"#.A.B.y", bY},
      {U"x", topX},     {U"⎕SE.s", seS},  {U"A.B.##.x", ax}, {U"A.##.x", topX},
      {U"nope.x", 0},   {U"A.nope", 0},   {U"v.x", 0},      {U"A..x", 0},   {U"A.x.", 0}, {U"", 0},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(ResolvePath(text), expected) << std::string(text.begin(), text.end());
  SetExecutingNamespace(a);
  EXPECT_EQ(ResolvePath(U"##.x"), topX);
  EXPECT_EQ(ResolvePath(U"x"), ax);
  Words(a)[kNsFlags] |= kNsBoundary;
  EXPECT_EQ(ResolvePath(U"##.x"), ax);  // ## does not pass a boundary
  SetExecutingNamespace(RootNamespace());
  Ref b = NamespaceOf(EntryValue(ResolvePath(U"A.B")));
  EXPECT_NE(b, 0u);
  EXPECT_EQ(ResolveNamespacePath(U"A.B", false), b);
  EXPECT_EQ(ResolveNamespacePath(U"A.nope", false), 0u);
  EXPECT_EQ(DisplayName(ResolveNamespacePath(U"A.new.newer", true)), U"#.A.new.newer");
  EXPECT_EQ(ErrorOf([] { ResolveNamespacePath(U"v.sub", true); }), kDomainError);
  EXPECT_EQ(ErrorOf([] { ResolveNamespacePath(U"A.1x", true); }), kDomainError);
}

TEST_F(NamePathTest, PathFindsFunctionsForUndefinedNames) {
  Ref fn = GetSpace(4);  // a traditional function as far as the search is concerned
  RefCount(fn) = 1;
  TypeWord(fn) = kKindDefinedFunction;
  Define(U"f", kNameFunction, fn);
  Define(U"v", kNameVariable, IntVector({1}));
  Ref util = NamedNamespace(U"Util");
  {
    SpaceScope scope(util);
    Retain(fn);
    Define(U"g", kNameFunction, fn);
  }
  Ref a = NamedNamespace(U"A");
  SetExecutingNamespace(a);
  Ref b = NamedNamespace(U"B");
  SetExecutingNamespace(b);
  Ref f = LookupName(U"f", LookupMode::Create);
  Ref g = LookupName(U"g", LookupMode::Create);
  Ref v = LookupName(U"v", LookupMode::Create);
  auto setPath = [](std::u32string_view path) {
    Ref text = MakeText(path);
    AssignSystemVariable(kQuadPATH, text);
    ReleaseRef(text);
  };
  SetExecutingNamespace(RootNamespace());
  Ref rootF = LookupName(U"f", LookupMode::Find);
  SetExecutingNamespace(b);
  EXPECT_EQ(ResolveUndefinedName(f, true), 0u);  // ⎕PATH empty
  setPath(U"↑");
  EXPECT_EQ(ResolveUndefinedName(f, true), rootF);
  EXPECT_EQ(ResolveUndefinedName(f, false), 0u);  // not where a function may stand
  EXPECT_EQ(ResolveUndefinedName(v, true), 0u);   // variables are passed over
  EXPECT_EQ(ResolveUndefinedName(g, true), 0u);
  Words(a)[kNsFlags] |= kNsBoundary;
  EXPECT_EQ(ResolveUndefinedName(f, true), 0u);  // the search stops at A
  setPath(U" ↑  #.Util ");
  EXPECT_EQ(ResolveUndefinedName(g, true), ResolvePath(U"#.Util.g"));
  Define(U"g", kNameVariable, IntVector({1}));
  Ref defined = LookupName(U"g", LookupMode::Find);
  EXPECT_EQ(ResolveUndefinedName(defined, true), defined);
  SetExecutingNamespace(RootNamespace());
}

// ---- Localisation --------------------------------------------------------------------------------

TEST_F(NameLocalisationTest, LocalMeaningsAreUndoneSymmetrically) {
  Ref x = Define(U"x", kNameVariable, IntVector({7}));
  Words(x)[kEntryFlags] |= kEntryExposedFlag;
  Ref original = EntryValue(x);
  PushFrame(NewFrame(kFrameExecution, kExecutionRunning));
  Ref local = MakeIntScalar(5);
  LocaliseName(x, kNameLabel, local);
  ReleaseRef(local);
  EXPECT_EQ(EntryClass(x), kNameLabel);
  EXPECT_EQ(EntryValue(x), local);
  EXPECT_TRUE(Words(x)[kEntryFlags] & kEntryLocalisedFlag);
  Ref localisation = FrameBelow(CurrentFrame());
  ASSERT_EQ(FrameClassOf(localisation), kFrameLocalisation);
  uint32_t* record = Words(localisation) + kLocalFirstWord;
  EXPECT_EQ(record[kLocalSavedState], kNameVariable | kLocalSavedExposed);
  {
    Temporaries frame;
    frame[0] = Retained(localisation);
    UndoLocalRecord(frame[0], 0);
    EXPECT_EQ(EntryValue(x), original);
    EXPECT_FALSE(Words(x)[kEntryFlags] & kEntryLocalisedFlag);
    UndoLocalRecord(frame[0], 0);  // and back to the local meaning
    EXPECT_EQ(EntryClass(x), kNameLabel);
    EXPECT_EQ(EntryValue(x), local);
  }
  CutBackTo(0);
  EXPECT_EQ(EntryClass(x), kNameVariable);
  EXPECT_EQ(EntryValue(x), original);
  EXPECT_EQ(Words(x)[kEntryFlags] & (kEntryLocalisedFlag | kEntryExposedFlag), kEntryExposedFlag);
  CheckTree(RootNamespace());
}

TEST_F(NameLocalisationTest, ShadowLocalisesNamesAndSystemVariables) {
  Define(U"x", kNameVariable, IntVector({7}));
  Ref a = NamedNamespace(U"A");
  PushFrame(NewFrame(kFrameExecution, kExecutionRunning));
  SetExecutingNamespace(a);
  Call(QuadSHADOW, 0, Strings({U"x", U"⎕io", U"y"}));
  Ref localX = LookupName(U"x", LookupMode::Find);  // the shadow lives in A, the executing namespace
  EXPECT_EQ(EntryNamespace(localX), a);
  EXPECT_EQ(EntryClass(localX), kNameUndefined);
  EXPECT_TRUE(Words(localX)[kEntryFlags] & kEntryLocalisedFlag);
  Ref zero = MakeIntScalar(0);
  AssignSystemVariable(kQuadIO, zero);
  ReleaseRef(zero);
  EXPECT_EQ(IndexOrigin(), 0u);
  Define(U"y", kNameVariable, IntVector({1}));
  EXPECT_EQ(ErrorOf([] { Call(QuadSHADOW, 0, Chars(U"1x")); }), kDomainError);
  CutBackTo(0);
  EXPECT_EQ(IndexOrigin(), 1u);
  EXPECT_EQ(EntryClass(LookupName(U"y", LookupMode::Find)), kNameUndefined);
  SetExecutingNamespace(RootNamespace());
  EXPECT_EQ(IntValues(EntryValue(LookupName(U"x", LookupMode::Find))), std::vector<int32_t>{7});
}

// ---- System functions ----------------------------------------------------------------------------

TEST_F(NameFunctionsTest, NcGivesClassesOfNames) {
  Define(U"var", kNameVariable, IntVector({1}));
  Define(U"prim", kNameFunction, 2);
  Ref derived = GetSpace(6);
  RefCount(derived) = 1;
  TypeWord(derived) = kKindDerived;
  Words(derived)[3] = 2;
  Words(derived)[4] = 64;
  Words(derived)[5] = 0;
  Define(U"der", kNameFunction, derived);
  Define(U"lab", kNameLabel, MakeIntScalar(3));
  Ref ns = NamedNamespace(U"ns");
  {
    SpaceScope scope(ns);
    Define(U"inner", kNameVariable, IntVector({1}));
  }
  LookupName(U"undefined", LookupMode::Create);
  const std::vector<std::tuple<std::u32string, int, double>> cases = {
      // name, integer form, decimal form
      {U"var", 2, 2.1},  {U"prim", 3, 3.3},   {U"der", 3, 3.3},   {U"lab", 1, 1.0},     {U"ns", 9, 9.1},
      {U"ns.inner", 2, 2.1}, {U"ns.none", 0, 0}, {U"undefined", 0, 0}, {U"absent", 0, 0}, {U"1x", -1, -1},
      {U"a b", -1, -1},  {U"⎕IO", 2, -1},      {U"⎕io", 2, -1},      {U"⎕NC", 3, 3.3},    {U"⎕XYZ", -1, -1},
      {U"#", 9, 9.1},    {U"##", 9, 9.1},      {U"⎕SE", 9, 9.1},    {U" var ", 2, 2.1},
  };
  for (const auto& [name, integer, decimal] : cases) {
    std::string label(name.begin(), name.end());
    CallResult simple = Call(QuadNC, 0, Chars(name));
    EXPECT_EQ(Numbers(simple.value), std::vector<double>{static_cast<double>(integer)}) << label;
    CallResult nested = Call(QuadNC, 0, Strings({name}));
    EXPECT_EQ(Numbers(nested.value), std::vector<double>{decimal}) << label;
    ReleaseRef(simple.value);
    ReleaseRef(nested.value);
  }
  CallResult rows = Call(QuadNC, 0, CharRows({U"var", U"ns", U"zz"}));
  EXPECT_EQ(Numbers(rows.value), (std::vector<double>{2, 9, 0}));
  ReleaseRef(rows.value);
}

TEST_F(NameFunctionsTest, NameArgumentsAreCheckedForTypeAndRank) {
  Ref cube = AllocArray(kChar8, 3, 1);
  for (int i = 0; i < 3; ++i) ShapeOf(cube)[i] = 1;
  Ref item = CharRows({U"ab"});
  const std::vector<std::pair<std::function<Ref()>, uint32_t>> cases = {
      {[] { return IntVector({1}); }, kDomainError},
      {[&] { Retain(cube); return cube; }, kRankError},
      {[&] { Retain(item); return NestedOf({item}); }, kRankError},
      {[] { return NestedOf({IntVector({1})}); }, kDomainError},
  };
  for (FunctionHandler f : {QuadNC, QuadEX, QuadSIZE, QuadSHADOW})
    for (const auto& [make, error] : cases) EXPECT_EQ(ErrorOf([&, &make = make] { Call(f, 0, make()); }), error);
  EXPECT_EQ(ErrorOf([] { Call(QuadNL, 0, Chars(U"2")); }), kDomainError);
  EXPECT_EQ(ErrorOf([] { Call(QuadNL, IntVector({1}), IntVector({2})); }), kDomainError);
  ReleaseRef(cube);
  ReleaseRef(item);
}

TEST_F(NameFunctionsTest, NlListsNamesOfMarkedClassesInTreeOrder) {
  for (const char32_t* name : {U"B", U"a", U"AB", U"A"}) Define(name, kNameVariable, IntVector({1}));
  Define(U"f", kNameFunction, 2);
  Define(U"lab", kNameLabel, MakeIntScalar(2));
  NamedNamespace(U"N");
  LookupName(U"undefined", LookupMode::Create);
  auto matrix = [](Ref left, std::vector<int32_t> classes) {
    CallResult r = Call(QuadNL, left, IntVector(classes));
    std::vector<std::u32string> rows = Rows(r.value);
    ReleaseRef(r.value);
    return rows;
  };
  using Names = std::vector<std::u32string>;
  EXPECT_EQ(matrix(0, {2}), (Names{U"A ", U"AB", U"B ", U"a "}));
  EXPECT_EQ(matrix(0, {3, 2}), (Names{U"A ", U"AB", U"B ", U"a ", U"f "}));
  EXPECT_EQ(matrix(0, {9}), (Names{U"N"}));
  EXPECT_EQ(matrix(0, {1}), (Names{U"lab"}));
  EXPECT_EQ(matrix(0, {5}), Names{});
  EXPECT_EQ(matrix(Chars(U"aA"), {2}), (Names{U"A ", U"AB", U"a "}));
  EXPECT_EQ(matrix(Chars(U"x"), {2}), Names{});
  CallResult decimal = Call(QuadNL, 0, Reals({2.1, 3.3}));
  EXPECT_EQ(Rows(decimal.value), (Names{U"A ", U"AB", U"B ", U"a ", U"f "}));
  ReleaseRef(decimal.value);
  CallResult nested = Call(QuadNL, 0, IntVector({-2}));
  ASSERT_EQ(KindOf(TypeWord(nested.value)), kKindNested);
  EXPECT_EQ(Items(nested.value), (Names{U"A", U"AB", U"B", U"a"}));
  ReleaseRef(nested.value);
  CallResult none = Call(QuadNL, 0, IntVector({-5}));
  EXPECT_EQ(ElementCount(none.value), 0u);
  ReleaseRef(none.value);
}

TEST_F(NameFunctionsTest, ExExpungesWhatItMay) {
  Define(U"var", kNameVariable, IntVector({1}));
  Define(U"lab", kNameLabel, MakeIntScalar(3));
  Ref ns = NamedNamespace(U"ns");
  Ref handle = Handle(ns);
  {
    SpaceScope scope(ns);
    Define(U"inner", kNameVariable, IntVector({1}));
  }
  CallResult r = Call(QuadEX, 0, Strings({U"var", U"lab", U"never", U"1x", U"⎕IO", U"#", U"ns.inner", U"ns"}));
  EXPECT_TRUE(r.shy);
  EXPECT_EQ(Numbers(r.value), (std::vector<double>{1, 0, 1, 0, 0, 0, 1, 1}));
  ReleaseRef(r.value);
  EXPECT_EQ(EntryClass(LookupName(U"var", LookupMode::Find)), kNameUndefined);
  EXPECT_EQ(EntryClass(LookupName(U"lab", LookupMode::Find)), kNameLabel);
  EXPECT_EQ(NamespaceOf(handle), 0u);
  ReleaseRef(handle);
}

TEST_F(NameFunctionsTest, NsCreatesFillsAndClonesNamespaces) {
  Ref value = IntVector({4, 5});
  Retain(value);
  Define(U"a", kNameVariable, value);
  Define(U"f", kNameFunction, 2);
  CallResult fresh = Call(QuadNS, 0, Chars(U""));
  EXPECT_FALSE(fresh.shy);
  EXPECT_EQ(DisplayName(fresh.value), U"#.[Namespace]");
  ReleaseRef(fresh.value);

  CallResult named = Call(QuadNS, Chars(U"T.U"), Strings({U"a", U"f"}));
  EXPECT_TRUE(named.shy);
  EXPECT_EQ(CharacterText(named.value), U"#.T.U");
  ReleaseRef(named.value);
  Ref u = ResolveNamespacePath(U"T.U", false);
  ASSERT_NE(u, 0u);
  EXPECT_EQ(EntryValue(FindIn(u, U"a", true)), value);
  EXPECT_EQ(EntryClass(FindIn(u, U"f", true)), kNameFunction);

  Retain(u);
  CallResult clone = Call(QuadNS, Chars(U"V"), u);
  ReleaseRef(clone.value);
  Ref v = ResolveNamespacePath(U"V", false);
  EXPECT_EQ(NamesIn(v), (std::vector<std::u32string>{U"a", U"f"}));
  EXPECT_EQ(EntryValue(FindIn(v, U"a", true)), value);
  ReleaseRef(value);

  std::vector<std::u32string> many(4096, U"a");
  const std::vector<std::tuple<std::function<Ref()>, std::function<Ref()>, uint32_t>> errors = {
      {[] { return Chars(U"a"); }, [] { return Chars(U""); }, kDomainError},   // a variable
      {[] { return Chars(U"1x"); }, [] { return Chars(U""); }, kDomainError},
      {[] { return Chars(U"W"); }, [] { return Chars(U"nope"); }, kValueError},
      {[] { return Chars(U"W"); }, [] { return Chars(U"#"); }, kDomainError},
      {[] { return Chars(U"W"); }, [&] { return CharRows(many); }, kLimitError},
  };
  for (const auto& [left, right, error] : errors)
    EXPECT_EQ(ErrorOf([&left = left, &right = right] { Call(QuadNS, left(), right()); }), error);
  EXPECT_EQ(LookupName(U"W", LookupMode::Find), 0u);  // nothing was created for the failures
  Words(v)[kNsFlags] |= kNsBoundary;
  Retain(v);
  EXPECT_EQ(ErrorOf([&] { Call(QuadNS, Chars(U"X"), v); }), kDomainError);
}

TEST_F(NameFunctionsTest, CsChangesTheExecutingNamespace) {
  Define(U"a", kNameVariable, IntVector({1}));
  CallResult into = Call(QuadCS, Chars(U"a"), Chars(U"X.Y"));
  EXPECT_TRUE(into.shy);
  EXPECT_EQ(CharacterText(into.value), U"#");
  ReleaseRef(into.value);
  EXPECT_EQ(DisplayName(ExecutingNamespace()), U"#.X.Y");
  EXPECT_EQ(CurrentSpaceNamespace(), ExecutingNamespace());
  EXPECT_EQ(EntryClass(LookupName(U"a", LookupMode::Find)), kNameVariable);  // exported
  Ref here = QuadTHIS();
  EXPECT_EQ(here, ExecutingNamespace());
  ReleaseRef(here);
  CallResult back = Call(QuadCS, 0, Chars(U""));
  EXPECT_EQ(CharacterText(back.value), U"#.X.Y");
  ReleaseRef(back.value);
  EXPECT_EQ(ExecutingNamespace(), RootNamespace());
  EXPECT_EQ(ErrorOf([] { Call(QuadCS, 0, Chars(U"a")); }), kDomainError);
}

TEST_F(NameFunctionsTest, SizeMeasuresValues) {
  Ref vector = IntVector({1, 2, 3});
  uint64_t vectorBytes = 4ull * PocketWords(vector);
  Define(U"v", kNameVariable, vector);
  Ref ns = NamedNamespace(U"N");
  {
    SpaceScope scope(ns);
    Define(U"w", kNameVariable, IntVector({1, 2, 3}));
  }
  CallResult r = Call(QuadSIZE, 0, Strings({U"v", U"none", U"N", U"N.w"}));
  std::vector<double> sizes = Numbers(r.value);
  ReleaseRef(r.value);
  ASSERT_EQ(sizes.size(), 4u);
  EXPECT_EQ(sizes[0], static_cast<double>(vectorBytes));
  EXPECT_EQ(sizes[1], 0);
  EXPECT_GT(sizes[2], static_cast<double>(vectorBytes + 4 * kNamespaceWords));
  EXPECT_LT(sizes[2], 2000);  // the namespace, not the whole workspace
  EXPECT_EQ(sizes[3], static_cast<double>(vectorBytes));
}

}  // namespace
}  // namespace vantor::test
