// Structural functions seen from C++: values nested 100,000 deep go through depth, match and the
// prototype without native recursion, and catenation grows an unshared vector where it lies.
#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "base/startup.h"
#include "primitives/cat.h"
#include "primitives/same.h"

namespace vantor::test {
namespace {

class StructureTest : public InterpreterTest {
 protected:

  // A one-item nested vector around another, `levels` times, around the vector `innermost`.
  static Ref DeepChain(uint32_t levels, int32_t innermost) {
    Temporaries hold;
    hold[0] = IntVector({innermost, innermost});
    for (uint32_t i = 0; i < levels; ++i) {
      Ref outer = AllocVector(kRefElement, 1);
      DataOf<Ref>(outer)[0] = hold.Take(0);
      hold[0] = outer;
    }
    return hold.Take(0);
  }
};

TEST_F(StructureTest, DeepNestingNeedsNoNativeRecursion) {
  constexpr uint32_t kLevels = 100'000;
  Temporaries hold;
  hold[0] = DeepChain(kLevels, 7);
  hold[1] = DeepChain(kLevels, 7);
  EXPECT_EQ(Depth(hold[0]), static_cast<int32_t>(kLevels + 1));
  EXPECT_TRUE(Match(hold[0], hold[1]));
  hold[2] = DeepChain(kLevels, 8);
  EXPECT_FALSE(Match(hold[0], hold[2]));

  // The prototype keeps the structure with every number 0: it is the chain one level shorter.
  Ref prototype = Prototype(hold[0]);
  Release(hold[2]);
  hold[2] = prototype;
  EXPECT_EQ(Depth(hold[2]), static_cast<int32_t>(kLevels));
  Ref zeros = DeepChain(kLevels - 1, 0);
  Release(hold[1]);
  hold[1] = zeros;
  EXPECT_TRUE(Match(hold[1], hold[2]));
}

TEST_F(StructureTest, CatenationGrowsAnUnsharedVectorInPlace) {
  Temporaries hold;
  hold[1] = AllocScalar(kInt32);
  *DataOf<int32_t>(hold[1]) = 1000;
  hold[0] = AllocVector(kInt32, 1000);
  for (int32_t i = 0; i < 1000; ++i) DataOf<int32_t>(hold[0])[i] = i;
  Ref before = hold[0];
  Ref result = Catenated(hold[0], hold[1]);
  EXPECT_EQ(result, before);  // the heap's free space lies right behind a fresh vector
  EXPECT_EQ(ElementCount(result), 1001u);
  EXPECT_EQ(DataOf<int32_t>(result)[1000], 1000);
  ReleaseRef(result);

  // A shared left argument is left alone.
  Retain(hold[0]);
  Ref copy = Catenated(hold[0], hold[1]);
  EXPECT_NE(copy, hold[0]);
  EXPECT_EQ(ElementCount(hold[0]), 1001u);
  EXPECT_EQ(ElementCount(copy), 1002u);
  ReleaseRef(copy);
  ReleaseRef(hold[0]);
}

}  // namespace
}  // namespace vantor::test
