// Operators seen from C++: an endless power loop stops at an interrupt, and operator calls leave
// nothing behind in the workspace, also when an operand fails part way through the items.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "heap_fixture.h"
#include "base/startup.h"
#include "language/session.h"
#include "language/space.h"
#include "language/stack.h"
#include "memory/memory1.h"

namespace vantor::test {
namespace {

class OperatorTest : public InterpreterTest {
};

TEST_F(OperatorTest, EndlessPowerLoopStopsWithInterrupt) {
  std::atomic<bool> stopped{false};
  std::thread breaker([&] {
    // Two requests make a strong interrupt; repeat until the loop has ended.
    for (int i = 0; i < 100 && !stopped; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      RequestInterrupt();
      RequestInterrupt();
    }
  });
  ExecuteLine(U"{⍵+1}⍣{0}1");
  stopped = true;
  breaker.join();
  g_interruptPending = false;  // a request that came after the loop ended
  ExecuteLine(U"e←⎕EN");
  Ref e = ValueOf(U"e");
  ASSERT_NE(e, 0u);
  EXPECT_EQ(StoredNumber(e, 0), 1003);
}

TEST_F(OperatorTest, RepeatedCallsLeaveNoGarbage) {
  const char32_t* lines[] = {
      U"x←+/(1 2)(3 4)(5 6)",  U"x←{⍺,⍵}\\⍳20",      U"x←3{⍺+⍵}/⍳10",       U"x←{⍵÷0}¨1 2 3",
      U"x←{⍵⍴⍵}¨⍳10",         U"x←(⍳5)∘.{⍺ ⍵}⍳4",   U"x←(3 4⍴⍳12){⍺+⍵}.×4 3⍴⍳12",
      U"x←(⊂⍤1)3 4⍴⍳12",      U"x←{⍵,1}⍣5⊢⍬",       U"x←{⍵÷⍵-3}⍣5⊢0",     U"x←+/2147483647 1 1",
      U"x←⍴¨⍬",               U"x←,/0⍴⊂'abc'",     U"x←1 2 3{⍺+⍵}¨1 2",   U"x←(⍳3)∘.≡(1 2)(3 4)",
  };
  for (const char32_t* line : lines) {
    ExecuteLine(line);  // the first run may intern constants and create names
    uint64_t before = SpaceUsage().bytesInUse;
    for (int i = 0; i < 10; ++i) ExecuteLine(line);
    EXPECT_EQ(SpaceUsage().bytesInUse, before) << "line " << (&line - lines);
  }
  CheckHeapConsistency();
}

}  // namespace
}  // namespace vantor::test
