// Fuzz target: any bytes, read as a transfer-form stream or given to the decompressor (framed, or
// as a bare stream of each library). Every input must give a value or an APL error, never a crash,
// a hang or a heap that fails its check. The first byte chooses the reader (its value modulo 5):
// 0 the transfer-form reader, 1 0(2194⌶), 2 to 4 ¯1, ¯2 and ¯3(219⌶).
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fresh.h"
#include "base/startup.h"
#include "language/session.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/partner.h"

using namespace vantor;


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::StartFresh({.bytes = 16u << 20});
  const uint8_t* bytes = data + 1;
  const size_t length = size - 1;
  const int mode = data[0] % 5;
  if (mode == 0) {
    try {
      Temporaries hold;
      hold[0] = ValueFromTransferBytes(bytes, length);
    } catch (const AplError&) {
    }
  } else {
    {
      Temporaries hold;
      hold[0] = AllocVector(kInt8, static_cast<uint32_t>(length));
      std::memcpy(DataOf<uint8_t>(hold[0]), bytes, length);
      SetEntry(LookupName(U"B", LookupMode::Create), kNameVariable, hold[0]);
    }
    static const char32_t* const kLines[] = {U"R←0(2194⌶)B", U"R←¯1(219⌶)B", U"R←¯2(219⌶)B", U"R←¯3(219⌶)B"};
    ExecuteLine(kLines[mode - 1]);
  }
  if (FindHeapFault(true) != 0) abort();
  return 0;
}
