// Fuzz target: any bytes as XML text for ⎕XML import, with the options chosen by the first byte;
// what it imports is exported, imported and exported again, and the two texts compared. Every input
// must give rows or a displayed error (with its location), never a crash, a stack overflow or a heap
// that fails its check. The first byte also chooses how the rest becomes characters: as UTF-8
// (ill-formed sequences become U+FFFD) or byte by byte, so that any code point below 256 can appear.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fresh.h"
#include "base/startup.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "language/session.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "memory/memory2.h"

using namespace vantor;

// The left argument for the option bits of the first byte.
static std::u32string Options(uint8_t bits) {
  static const char32_t* const kWhitespace[] = {U"strip", U"trim", U"preserve", U"strip"};
  std::u32string left = U"('whitespace' '";
  left += kWhitespace[bits & 3];
  left += U"')('markup' '";
  left += bits & 8 ? U"preserve" : U"strip";
  left += U"')('unknown-entity' '";
  left += bits & 16 ? U"preserve" : U"replace";
  return left + U"')";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::u32string text;
  if (data[0] & 4) {
    for (unsigned char b : bytes) text += static_cast<char32_t>(b);
  } else {
    text = FromUtf8(bytes);
  }
  fuzz::StartFresh({.bytes = 16u << 20, .displayResults = true});
  {
    Temporaries hold;
    hold[0] = MakeText(text);
    SetEntry(LookupName(U"X", LookupMode::Create), kNameVariable, hold[0]);
  }
  const std::u32string options = Options(data[0]);
  ExecuteLine(U"O←" + options);
  ExecuteLine(U"R←O ⎕XML X");
  ExecuteLine(U"T←O ⎕XML R");
  ExecuteLine(U"R2←O ⎕XML T");
  ExecuteLine(U"T≡O ⎕XML R2");
  if (FindHeapFault(true) != 0) abort();
  return 0;
}
