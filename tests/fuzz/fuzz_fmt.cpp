// Fuzz target for ⎕FMT format text: any bytes, read as UTF-8, are ⎕FMT format text applied
// to arguments of every kind (numbers of each type, characters, a mixed matrix, a vector of arrays,
// empty arrays); the first bytes are also the left argument of dyadic ⍕ on the numbers. Each line
// must give a result or a displayed APL error: never a crash, a sanitizer report, a system error or
// a damaged heap (the heap is checked after every compaction).
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fresh.h"
#include "base/startup.h"
#include "base/utf8.h"
#include "language/session.h"
#include "memory/memory1.h"

using namespace vantor;

namespace {

// The arguments, assigned in every fresh workspace.
constexpr char32_t kArguments[] =
    U"i←¯12 0 345 2147483647 ¯2147483648 ⋄ b←1 0 1 ⋄ f←1.5 ¯0.001 2.675 1E20 ¯1E¯20 0 ⋄ c←'ab⍺'"
    U" ⋄ m←2 3⍴1 'a' 2.5 ¯4 'b' 1E6 ⋄ n←(1 2 3)'xy'(2 2⍴0.5) ⋄ e←0 3⍴0 ⋄ z←1J2 3J0";
constexpr const char32_t* kArgumentNames[] = {U"i", U"b", U"f", U"c", U"m", U"n", U"e", U"z", U"(⍳0)", U"7"};

void StartFresh() {
  fuzz::StartFresh({.displayResults = true, .checkAfterCompaction = true});
  ExecuteLine(kArguments);
}

// The text as an APL expression that makes it: ⎕UCS of its code points.
std::u32string CodePoints(const std::u32string& text) {
  std::u32string expression = U"(⎕UCS ⍬";
  for (char32_t c : text) expression += U"," + FromUtf8(std::to_string(static_cast<uint32_t>(c)));
  return expression + U")";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u32string format = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  StartFresh();
  ExecuteLine(U"s←" + CodePoints(format));
  for (const char32_t* argument : kArgumentNames) ExecuteLine(std::u32string(U"r←s ⎕FMT ") + argument);
  std::u32string left = U"(⍬";
  for (size_t i = 0; i < size && i < 4; ++i)
    left += U"," + FromUtf8(std::to_string(static_cast<int>(data[i] % 41) - 20));
  for (const char32_t* argument : kArgumentNames) ExecuteLine(left + U")⍕" + argument);
  return 0;
}
