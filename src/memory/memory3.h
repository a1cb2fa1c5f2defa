// System errors: the last line of defence against an internal inconsistency. Writes the aplcore
// file (the workspace container with kind byte 0 and a text trailer) and ends the process with exit
// code 3.
#pragma once
#include <cstdint>
#include <string>

namespace vantor {

// Ends the process after writing an aplcore. Never returns.
[[noreturn]] void SystemError(int code);

// A hook called first with the code (for example by a host that wants to know).
using SystemErrorHookFn = void (*)(int code);
void SetSystemErrorHook(SystemErrorHookFn hook);

// The file name the next aplcore gets: APLCORENAME (default "aplcore"); a '*' in it is replaced by
// one more than the highest number among matching files, deleting the oldest first when
// MAXAPLCORES of them exist.
std::string NextAplcoreName();

// Writes the aplcore to `path`; false when the file cannot be created or written.
bool WriteAplcore(const std::string& path, int code);

}  // namespace vantor
