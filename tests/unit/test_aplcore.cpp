// System errors: the aplcore file's name pattern and contents, and the exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "heap_fixture.h"
#include "memory/memory3.h"

namespace vantor::test {
namespace {

namespace fs = std::filesystem;

class Aplcore : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    char pattern[] = "/tmp/vantor-core-XXXXXX";
    directory_ = mkdtemp(pattern);
  }
  void TearDown() override {
    unsetenv("APLCORENAME");
    unsetenv("MAXAPLCORES");
    fs::remove_all(directory_);
    HeapTest::TearDown();
  }
  void Touch(const std::string& name) { std::ofstream(directory_ + "/" + name) << "x"; }
  std::string directory_;
};

TEST_F(Aplcore, PatternTakesTheNextNumber) {
  Touch("core1");
  Touch("core7");
  Touch("coreX");
  setenv("APLCORENAME", (directory_ + "/core*").c_str(), 1);
  EXPECT_EQ(NextAplcoreName(), directory_ + "/core8");
  EXPECT_TRUE(fs::exists(directory_ + "/core1"));
}

TEST_F(Aplcore, PatternDeletesTheOldestAtTheLimit) {
  Touch("core7");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Touch("core1");
  setenv("APLCORENAME", (directory_ + "/core*.dmp").c_str(), 1);
  Touch("core3.dmp");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Touch("core9.dmp");
  setenv("MAXAPLCORES", "2", 1);
  EXPECT_EQ(NextAplcoreName(), directory_ + "/core10.dmp");
  EXPECT_FALSE(fs::exists(directory_ + "/core3.dmp")) << "the older file goes";
  EXPECT_TRUE(fs::exists(directory_ + "/core9.dmp"));
  EXPECT_TRUE(fs::exists(directory_ + "/core7")) << "other names are not touched";
}

TEST_F(Aplcore, SystemErrorWritesTheCoreAndExitsWithThree) {
  std::string path = directory_ + "/aplcore";
  setenv("APLCORENAME", path.c_str(), 1);
  Ref marker = AllocVector(kInt32, 1);
  DataOf<int32_t>(marker)[0] = 0x5EED;
  EXPECT_EXIT(SystemError(42), ::testing::ExitedWithCode(3), "has been created");
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 40u + 576u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xAA);
  EXPECT_EQ(bytes[1], 0) << "kind: aplcore";
  EXPECT_EQ(static_cast<uint8_t>(bytes[7]), 0x94);
  uint64_t imageBytes;
  std::memcpy(&imageBytes, bytes.data() + 16, 8);
  EXPECT_EQ(imageBytes, g_space->end - g_space->begin);
  // The image starts after the header and root block; the marker array is in it at its offset.
  int32_t value;
  std::memcpy(&value, bytes.data() + 40 + 576 + (marker - g_space->begin) + 16, 4);
  EXPECT_EQ(value, 0x5EED);
  EXPECT_NE(bytes.find("!\n========================== Interesting Information\n"), std::string::npos);
  EXPECT_NE(bytes.find("syserror:                        0x000000000000002a"), std::string::npos);
  EXPECT_NE(bytes.find("APLStack: END.\n"), std::string::npos);
}

TEST_F(Aplcore, UnwritableCoreIsReportedAndStillExitsWithThree) {
  setenv("APLCORENAME", (directory_ + "/missing/dir/core").c_str(), 1);
  EXPECT_EXIT(SystemError(5), ::testing::ExitedWithCode(3), "Core file is NOT saved");
}

}  // namespace
}  // namespace vantor::test
