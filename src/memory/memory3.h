// System errors: the last line of defence against an internal inconsistency. Writes the aplcore
// file (the workspace container with kind byte 0 and a text trailer) and ends the process with exit
// code 3.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory/memory1.h"

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

// The workspace container shared by workspace, session and aplcore files: a 40-byte header, the
// root block of the main space (576 bytes), the image of the main space, a zero word, then further
// segments each behind a 32-byte segment header. Multi-byte fields are little-endian.
inline constexpr uint8_t kFileMagic = 0xAA;  // written last, so that a torn file is never taken for one
inline constexpr uint8_t kFileKindAplcore = 0;
inline constexpr uint8_t kFileKindWorkspace = 3;
inline constexpr uint8_t kFileKindSession = 7;
inline constexpr uint8_t kFormatMajor = 15;
inline constexpr uint8_t kFormatMinor = 2;
inline constexpr uint8_t kArchitectureFlags = 0x94;  // little-endian words, Unicode edition, 32-bit
inline constexpr size_t kContainerHeaderBytes = 40;

// Writes to a file descriptor; the first failure makes every later write a no-op and ok() false.
class ContainerWriter {
 public:
  explicit ContainerWriter(int fd) : fd_(fd) {}
  bool ok() const { return ok_; }
  void Bytes(const void* data, size_t length);
  template <typename T>
  void Value(T value) {
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    Bytes(bytes, sizeof(T));
  }
  void Text(const std::string& text) { Bytes(text.data(), text.size()); }
  void Rewind();

 private:
  int fd_;
  bool ok_ = true;
};

void WriteContainerHeader(ContainerWriter& out, uint8_t magic, uint8_t kind, uint64_t mainImageBytes,
                          uint32_t regions, uint32_t segments);
// The root block as files carry it: its 512 bytes, then the space's allocation state (16 words).
void WriteContainerRootBlock(ContainerWriter& out, const SpaceDescriptor& s);
// The bytes of a space's image: from its first block to its end sentinel.
inline uint64_t ImageBytes(const SpaceDescriptor& s) { return s.end - s.begin; }

// Writes the aplcore to `path`; false when the file cannot be created or written.
bool WriteAplcore(const std::string& path, int code);

}  // namespace vantor
