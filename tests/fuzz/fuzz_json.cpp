// Fuzz target: any bytes as JSON text for 7159⌶, in each of its three forms, and what it imports is
// exported again with 7160⌶ and the text imported once more. Every input must give a value or a
// displayed error (the syntax errors with their offsets), never a crash, a stack overflow or a heap
// that fails its check. The first byte chooses the form (its value modulo 3) and how the rest
// becomes characters: as UTF-8 (ill-formed sequences become U+FFFD) or byte by byte, so that any
// code point below 256 can appear.
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
    SetEntry(LookupName(U"J", LookupMode::Create), kNameVariable, hold[0]);
  }
  const std::u32string form(1, static_cast<char32_t>(U'0' + data[0] % 3));
  ExecuteLine(U"R←" + form + U"(7159⌶)J");
  ExecuteLine(U"T←7160⌶R");
  ExecuteLine(U"T≡7160⌶" + form + U"(7159⌶)T");
  if (FindHeapFault(true) != 0) abort();
  return 0;
}
