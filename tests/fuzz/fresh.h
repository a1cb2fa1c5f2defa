// What the fuzz targets do before each input: a fresh main workspace with every unit started, as
// the interpreter starts, so that a failing input fails on its own and can be kept as a regression
// test. The process is configured on the first call: session output goes to /dev/null.
#pragma once
#include <fcntl.h>

#include <cstdint>

#include "files/load.h"
#include "host/aplmain.h"
#include "memory/memory1.h"

namespace vantor::fuzz {

struct FreshWorkspace {
  uint32_t bytes = 4u << 20;
  bool displayResults = false;        // values are formatted (and written to /dev/null)
  bool checkAfterCompaction = false;  // the whole heap is checked after every compaction
};

inline void StartFresh(const FreshWorkspace& settings = {}) {
  static bool configured = false;
  if (!configured) {
    configured = true;
    Startup().sessionOutputFd = open("/dev/null", O_WRONLY);
    if (settings.displayResults) Startup().startupFlags = kFlagDisplayResults;
    if (settings.checkAfterCompaction) Startup().diagnosticBits = kDiagCheckAfterCompaction;
    SetWorkspaceInitialiser(InitialiseModules);
  }
  ObtainSpace(kMainSpace, settings.bytes, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

}  // namespace vantor::fuzz
