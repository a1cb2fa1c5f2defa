// Fuzz target: ⎕R and ⎕S with fuzzed patterns, transformations and text. The first byte chooses the
// operator and the options (Mode, IC, DotAll, Greedy, OM, ⎕S codes or strings, nested or simple
// input); the rest is split at NUL bytes into patterns, transformations and text, and each of those
// at byte 1 into several items (several patterns, one transformation per pattern, lines of input).
// Every input must give a result or a displayed error, never a crash, a hang or a heap that fails
// its check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fresh.h"
#include "base/utf8.h"
#include "language/session.h"
#include "language/dmx.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "memory/memory2.h"

using namespace vantor;

namespace {

std::vector<std::string_view> Split(std::string_view bytes, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= bytes.size(); ++i)
    if (i == bytes.size() || bytes[i] == separator) {
      parts.push_back(bytes.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

// A vector of texts, one per item; a single item stays a simple text.
Ref Texts(std::string_view field) {
  const std::vector<std::string_view> items = Split(field, '\x01');
  if (items.size() == 1) return MakeText(FromUtf8(std::string(items[0])));
  return MakeNested({static_cast<uint32_t>(items.size())},
                    [&](uint64_t i) { return MakeText(FromUtf8(std::string(items[i]))); });
}

void SetName(std::u32string_view name, Ref value) {
  Temporaries hold;
  hold[0] = value;
  SetEntry(LookupName(name, LookupMode::Create), kNameVariable, hold[0]);
  Release(hold[0]);
}

// The ⍠ operand for the option bits of the first byte.
std::u32string Options(uint8_t bits) {
  static const char32_t* const kModes[] = {U"L", U"D", U"M", U"L"};
  std::u32string options = U"('Mode' '";
  options += kModes[bits & 3];
  options += U"')('IC' ";
  options += bits & 4 ? U"1" : U"0";
  options += U")('DotAll' ";
  options += bits & 8 ? U"1" : U"0";
  options += U")('Greedy' ";
  options += bits & 16 ? U"0" : U"1";
  options += U")";
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t bits = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string_view> fields = Split(rest, '\0');
  fields.resize(3);
  fuzz::StartFresh({.bytes = 16u << 20, .displayResults = true});
  SetName(U"P", Texts(fields[0]));
  SetName(U"T", Texts(fields[1]));
  // Bit 6 makes the input a vector of lines even when it has only one.
  SetName(U"X", bits & 64 ? MakeNested({1}, [&](uint64_t) { return MakeText(FromUtf8(std::string(fields[2]))); })
                          : Texts(fields[2]));
  const std::u32string options = Options(bits);
  if (bits & 32) {
    ExecuteLine(U"R←P ⎕R T⍠" + options + U"⊢X");
    ExecuteLine(U"R←P ⎕R T⍠" + options + U"('ResultText' 'Nested')⊢X");
  } else {
    ExecuteLine(U"R←P ⎕S T⍠" + options + U"('OM' " + (bits & 128 ? U"1" : U"0") + U")⊢X");
    ExecuteLine(U"R←P ⎕S 0 1 2 3⍠" + options + U"('OM' " + (bits & 128 ? U"1" : U"0") + U")⊢X");
    ExecuteLine(U"R←P ⎕S {⍵.Match,⍕⍵.Offsets}⍠" + options + U"⊢X");
  }
  if (FindHeapFault(true) != 0) abort();
  return 0;
}
