// Workspace files seen from C++: a saved workspace loads back to the same values with a heap whose
// every count matches its references, and damaged or foreign files leave the workspace untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "files/load.h"
#include "heap_fixture.h"
#include "language/session.h"
#include "memory/memory2.h"
#include "memory/memory3.h"
#include "sysfns/quadvar.h"

namespace vantor::test {
namespace {

class LoadTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    SetWorkspaceInitialiser(InitialiseModules);
    char pattern[] = "/tmp/vantor-load-XXXXXX";
    directory_ = mkdtemp(pattern);
  }
  void TearDown() override {
    std::string command = "rm -rf " + directory_;
    EXPECT_EQ(system(command.c_str()), 0);
    InterpreterTest::TearDown();
  }
  std::string Path(const char* name) const { return directory_ + "/" + name; }
  std::string directory_;
};

TEST_F(LoadTest, CountsMatchReferencesInALiveWorkspace) {
  ExecuteLine(U"a←1 2 3 ⋄ b←'text' (⍳5) (2 2⍴1.5) ⋄ n←⎕NS '' ⋄ n.x←a ⋄ m←n ⋄ f←{⍺+⍵} ⋄ g←+/");
  ExecuteLine(U"⎕FX 'r←h x' ':For i :In x' 'r←i' ':EndFor'");
  Compact(0, true);
  EXPECT_EQ(FindHeapFault(true), 0);
}

// Whether an APL expression is true (1) in the current workspace.
bool Holds(const char32_t* expression) {
  ExecuteLine(std::u32string(U"check←") + expression);
  Ref value = EntryValue(LookupName(U"check", LookupMode::Find));
  return IsRef(value) && ElementCount(value) == 1 && StoredNumber(value, 0) == 1;
}

TEST_F(LoadTest, ASavedWorkspaceLoadsBackWithTheSameValues) {
  ExecuteLine(U"a←1 2 3 ⋄ b←'text' (⍳5) (2 2⍴1.5) (0J1 2) ⋄ n←⎕NS '' ⋄ n.x←a ⋄ m←n ⋄ f←{⍺+⍵} ⋄ g←+/");
  ExecuteLine(U"⎕FX 'r←h x' 'r←0' ':For i :In x' 'r←r+i' ':EndFor'");
  ExecuteLine(U"⎕LX←'a←a+1' ⋄ ⎕IO←0 ⋄ big←⍳100000");
  ASSERT_EQ(SaveWorkspace(Path("ws.vws"), kFileKindWorkspace), 0);
  ExecuteLine(U"a←'changed' ⋄ ⎕EX 'n'");
  ClearWorkspace();
  EXPECT_EQ(EntryValue(LookupName(U"a", LookupMode::Find)), 0u);
  ASSERT_EQ(LoadWorkspaceFile(Path("ws.vws")), 0);
  EXPECT_EQ(FindHeapFault(true), 0);
  EXPECT_TRUE(Holds(U"a≡1 2 3"));
  EXPECT_TRUE(Holds(U"b≡'text' (1+⍳5) (2 2⍴1.5) (0J1 2)"));  // ⎕IO is 0 now
  EXPECT_TRUE(Holds(U"(n.x≡a)∧m≡n"));
  EXPECT_TRUE(Holds(U"(3=1 f 2)∧6=g 1 2 3"));
  EXPECT_TRUE(Holds(U"6=h 1 2 3"));
  EXPECT_TRUE(Holds(U"⎕IO=0"));
  EXPECT_TRUE(Holds(U"big≡⍳100000"));
  EXPECT_EQ(CharacterVariableText(kQuadLX), U"a←a+1");
  ExecuteLine(U"n.y←⍳3 ⋄ z←⍳1000000");  // the loaded heap goes on working
  EXPECT_TRUE(Holds(U"m.y≡⍳3"));
  CheckHeapConsistency();
}

TEST_F(LoadTest, AnImageInMemoryLoadsByTheLengthItsHeaderGives) {
  ExecuteLine(U"v←'from memory'");
  ASSERT_EQ(SaveWorkspace(Path("ws.vws"), kFileKindWorkspace), 0);
  ClearWorkspace();
  std::ifstream in(Path("ws.vws"), std::ios::binary);
  std::vector<uint8_t> image(std::istreambuf_iterator<char>(in), {});
  image.resize(image.size() + 100, 0xEE);  // whatever follows the image is not read
  ASSERT_EQ(LoadWorkspaceImage(image.data()), 0);
  EXPECT_TRUE(Holds(U"v≡'from memory'"));
}

TEST_F(LoadTest, OnlyWorkspaceFilesAreReplaced) {
  auto write = [&](const char* name, std::string bytes) { std::ofstream(Path(name), std::ios::binary) << bytes; };
  write("text.vws", "hello\n");
  write("other.vws", std::string("\xAA\x05\x0F\x02", 4));
  EXPECT_EQ(SaveWorkspace(Path("text.vws"), kFileKindWorkspace), -kMessageFileExists);
  EXPECT_EQ(SaveWorkspace(Path("other.vws"), kFileKindWorkspace), -kMessageFileExistsNotWorkspace);
  std::ifstream text(Path("text.vws"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(text), {}), "hello\n");
  EXPECT_EQ(SaveWorkspace(Path("missing/dir/ws.vws"), kFileKindWorkspace), -kMessageFileNotCreated);
}

// Damaged files are refused with their message, and the workspace is the one there was.
TEST_F(LoadTest, DamagedOrForeignFilesLeaveTheWorkspaceAsItWas) {
  ExecuteLine(U"keep←'mine' ⋄ n←⎕NS '' ⋄ n.v←⍳10");
  ASSERT_EQ(SaveWorkspace(Path("ws.vws"), kFileKindWorkspace), 0);
  std::ifstream in(Path("ws.vws"), std::ios::binary);
  const std::string good(std::istreambuf_iterator<char>(in), {});
  auto patched = [&](size_t at, char byte) {
    std::string bytes = good;
    bytes[at] = byte;
    return bytes;
  };
  const std::vector<std::pair<std::string, int>> cases = {
      {"", -kMessageNotAWorkspace},
      {good.substr(0, 39), -kMessageNotAWorkspace},
      {good.substr(0, good.size() / 2), -kMessageNotAWorkspace},
      {good.substr(0, good.size() - 4) + std::string("\1\0\0\0", 4), -kMessageNotAWorkspace},
      {patched(0, 0), -kMessageNotAWorkspace},
      {patched(1, 0), -kMessageNotAWorkspace},
      {patched(3, 3), -kMessageLaterVersion},
      {patched(2, 10), -kMessagePredatesVersion11},
      {patched(2, 99), -kMessageConfluEdition},
      {patched(7, 0x14), -kMessageNotAWorkspace},
      {patched(40 + 576 + 4, 0x7F), -kMessageNotAWorkspace},  // a count in the first pocket
      {patched(40 + 576 + 0, 0x11), -kMessageNotAWorkspace},  // the first block's size
  };
  ExecuteLine(U"keep←'after save'");
  for (size_t i = 0; i < cases.size(); ++i) {
    std::ofstream(Path("bad.vws"), std::ios::binary | std::ios::trunc) << cases[i].first;
    EXPECT_EQ(LoadWorkspaceFile(Path("bad.vws")), cases[i].second) << "case " << i;
  }
  EXPECT_EQ(LoadWorkspaceFile(Path("absent.vws")), -kMessageWorkspaceNotFound);
  EXPECT_TRUE(Holds(U"(keep≡'after save')∧n.v≡⍳10"));
  CheckHeapConsistency();
}

TEST_F(LoadTest, NamesAreSearchedAlongThePath) {
  ASSERT_EQ(mkdir(Path("one").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(Path("two").c_str(), 0777), 0);
  ASSERT_EQ(SaveWorkspace(Path("two/app.vws"), kFileKindWorkspace), 0);
  ASSERT_EQ(setenv("WSPATH", (Path("one") + ";" + Path("two")).c_str(), 1), 0);
  EXPECT_EQ(SearchWorkspace(U"app"), Path("two/app.vws"));
  ASSERT_EQ(SaveWorkspace(Path("one/app.vws"), kFileKindWorkspace), 0);
  EXPECT_EQ(FindWorkspaces(U"app"), (std::vector<std::string>{Path("one/app.vws"), Path("two/app.vws")}));
  EXPECT_EQ(SearchWorkspace(U"nothing"), std::nullopt);
  EXPECT_EQ(SearchWorkspace(U"two/app"), std::nullopt);  // a name with a directory is not searched
  unsetenv("WSPATH");
}

}  // namespace
}  // namespace vantor::test
