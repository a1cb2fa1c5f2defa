// A fresh main workspace for each heap test, and small helpers to build and inspect pockets.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/aplmain.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/pockutil.h"

namespace vantor::test {

inline constexpr uint32_t kTestWorkspaceBytes = 16u * 1024 * 1024;

// Element i of a simple array as a double, in storage order: a complex array's real and imaginary
// parts are elements 2k and 2k+1; characters give their code points.
inline double StoredNumber(Ref r, uint64_t i) {
  switch (ElementOf(TypeWord(r))) {
    case kBool: return GetBit(DataOf<uint8_t>(r), i);
    case kInt8: return DataOf<int8_t>(r)[i];
    case kInt16: return DataOf<int16_t>(r)[i];
    case kInt32: return DataOf<int32_t>(r)[i];
    case kFloat64: case kComplex: return DataOf<double>(r)[i];
    case kChar8: return DataOf<uint8_t>(r)[i];
    case kChar16: return DataOf<uint16_t>(r)[i];
    case kChar32: return DataOf<uint32_t>(r)[i];
    default: return NAN;
  }
}

class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(kTestWorkspaceBytes); }
  void TearDown() override { ReleaseSpace(kMainSpace); }

  static void Reset(uint32_t bytes) {
    SwitchSpace(kMainSpace);
    ASSERT_TRUE(ObtainSpace(kMainSpace, bytes, 0));
    InitialiseHeap();
  }

  // A simple int32 vector holding `values`.
  static Ref IntVector(const std::vector<int32_t>& values) {
    Ref r = AllocVector(kInt32, static_cast<uint32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) DataOf<int32_t>(r)[i] = values[i];
    TypeWord(r) |= kNoNarrowFlag;  // keep the test's element type through compactions
    return r;
  }
  static std::vector<int32_t> IntValues(Ref r) {
    const int32_t* d = DataOf<int32_t>(r);
    return std::vector<int32_t>(d, d + ElementCount(r));
  }
  static Ref NestedOf(std::vector<Ref> items) {
    Ref r = AllocVector(kRefElement, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) DataOf<Ref>(r)[i] = items[i];
    return r;
  }
  // A live block of plain data (no references), as any unit's private record would be.
  static Ref PlainBlock(uint32_t words) {
    Ref r = GetSpace(words);
    RefCount(r) = 1;
    TypeWord(r) = kKindPlain14;
    return r;
  }
  static bool IsFreeBlock(uint32_t offset, uint32_t words) { return SizeWord(offset) == static_cast<int32_t>(words); }
};

// A fresh workspace with every unit started, for tests that run APL lines: values are not displayed
// and error displays go nowhere.
class InterpreterTest : public HeapTest {
 protected:
  void SetUp() override {
    HeapTest::SetUp();
    Startup().startupFlags = 0;
    Startup().sessionOutputFd = -1;
    InitialiseModules();
  }
  void TearDown() override {
    Startup().sessionOutputFd = 1;
    HeapTest::TearDown();
  }
  static Ref ValueOf(const char32_t* name) { return EntryValue(LookupName(name, LookupMode::Find)); }
};

}  // namespace vantor::test
