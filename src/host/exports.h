/* The entry points that libvantor exports: the process entry that build/vantor calls, and the calls
   through which a host process starts the interpreter, hands it a workspace image, runs it and
   receives its status output. Usable from C and C++. */
#pragma once

#ifdef __cplusplus
#include <cstdint>
extern "C" {
#else
#include <stdint.h>
#include <uchar.h>
#endif

#define VANTOR_EXPORT __attribute__((visibility("default")))

/* Called with the executable's path, a status message and its flags. */
typedef int (*Vantor_OutputTextFn)(const char16_t* context, const char16_t* text, int flags);
/* Called with the exit code just before the process ends. */
typedef void (*Vantor_ExitFn)(int code);

/* The whole life of an interpreter process started with argc and argv; never returns. */
VANTOR_EXPORT int Vantor_Main(int argc, char** argv);

/* Runs the start-up sequence with the given UTF-8 command line (the text after the program name)
   and start-up flag word. Returns 1 when the interpreter is ready, 0 when start-up failed (the
   failure has been shown). A second call returns 1 at once. */
VANTOR_EXPORT int Vantor_Initialize(void* instance, const char* commandLine, uint32_t startupFlags,
                                    Vantor_ExitFn exitCallback);

/* Loads a workspace image from memory (a workspace file's bytes) as the active workspace: 1 when it
   was loaded, 0 when it was refused (the workspace is then unchanged). A null pointer returns 1. */
VANTOR_EXPORT int Vantor_LoadWorkspace(const void* image);

/* Marks the workspace as bound and enters the evaluator's outer loop; never returns. */
VANTOR_EXPORT void Vantor_RunLX(void);

/* Installs the host's output-text hook for status messages and returns it. */
VANTOR_EXPORT Vantor_OutputTextFn Vantor_InstallOutputTextFn(Vantor_OutputTextFn outputText);

#ifdef __cplusplus
}
#endif
