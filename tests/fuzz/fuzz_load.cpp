// Fuzz target: any bytes, read as a workspace file. Loading must either refuse the file with its
// message, leaving the workspace as it was, or give a workspace whose heap is consistent and whose
// counts match its references; never a crash or a system error.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "files/load.h"
#include "fresh.h"
#include "base/startup.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/memory3.h"

using namespace vantor;


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFresh();
  MemorySource source(std::span<const uint8_t>(data, size));
  int result = LoadWorkspace(source, kFileKindWorkspace);
  // Loaded or refused, the workspace in place must be sound.
  if (FindHeapFault(true) != 0) abort();
  (void)result;
  return 0;
}
