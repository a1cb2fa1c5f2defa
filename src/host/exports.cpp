// The exported entry points of libvantor: thin C-linkage doors into the start-up unit. The library
// is built with hidden visibility, so these are the only symbols a host sees.
#include "host/exports.h"

#include "files/load.h"
#include "host/aplmain.h"

using namespace vantor;

int Vantor_Main(int argc, char** argv) { RunProcess(argc, argv); }

// The instance names the module whose resources a Windows host would use; here the resources are
// always those of the running executable, so it is not needed.
int Vantor_Initialize(void* /*instance*/, const char* commandLine, uint32_t startupFlags,
                      Vantor_ExitFn exitCallback) {
  return InitialiseForHost(commandLine ? commandLine : "", startupFlags, exitCallback) ? 1 : 0;
}

int Vantor_LoadWorkspace(const void* image) {
  if (image == nullptr) return 1;
  return LoadWorkspaceImage(static_cast<const uint8_t*>(image)) == 0 ? 1 : 0;
}

void Vantor_RunLX(void) {
  Startup().workspaceBound = true;
  EnterOuterLoop();
}

Vantor_OutputTextFn Vantor_InstallOutputTextFn(Vantor_OutputTextFn outputText) {
  Startup().outputTextFn = outputText;
  return outputText;
}
