// Reading the workspace container: byte sources and the header checks.
#include "files/ws.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "memory/memory1.h"
#include "memory/memory3.h"

namespace vantor {

bool FileSource::Read(void* into, size_t bytes) {
  uint8_t* p = static_cast<uint8_t*>(into);
  while (bytes > 0) {
    ssize_t got = read(fd_, p, bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    bytes -= static_cast<size_t>(got);
  }
  return true;
}

bool MemorySource::Read(void* into, size_t bytes) {
  if (bytes > bytes_.size() - at_) return false;
  std::memcpy(into, bytes_.data() + at_, bytes);
  at_ += bytes;
  return true;
}

namespace {

template <typename T>
T LittleEndian(const uint8_t* bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return static_cast<T>(value);
}

// A workspace must leave this much of the workspace free after its image.
constexpr uint64_t kLoadReserveBytes = 22528;
constexpr uint32_t kOldestVersion = 11 * 256;
constexpr uint8_t kConfluMajor = 99;
constexpr uint64_t kFirstBlockAddress = kRootBlockWords * 4;

}  // namespace

std::optional<ContainerHeader> ReadContainerHeader(ByteSource& source) {
  uint8_t bytes[kContainerHeaderBytes];
  if (!source.Read(bytes, sizeof bytes)) return std::nullopt;
  ContainerHeader h;
  h.magic = bytes[0];
  h.kind = bytes[1];
  h.major = bytes[2];
  h.minor = bytes[3];
  h.architecture = bytes[7];
  h.mainAddress = LittleEndian<uint64_t>(bytes + 8);
  h.mainImageBytes = LittleEndian<uint64_t>(bytes + 16);
  h.rootBlockBytes = LittleEndian<uint64_t>(bytes + 24);
  h.regions = LittleEndian<uint32_t>(bytes + 32);
  h.segments = LittleEndian<uint32_t>(bytes + 36);
  return h;
}

int CheckContainerHeader(const ContainerHeader& h, uint8_t kind, uint64_t workspaceBytes) {
  if (h.magic != kFileMagic || h.kind != kind) return -kMessageNotAWorkspace;
  if (h.Version() < kOldestVersion) return -kMessagePredatesVersion11;
  if (h.Version() > kFormatMajor * 256u + kFormatMinor)
    return h.major == kConfluMajor ? -kMessageConfluEdition : -kMessageLaterVersion;
  if (h.Version() != kFormatMajor * 256u + kFormatMinor || h.architecture != kArchitectureFlags || h.regions != 1 || h.segments != 0 ||
      h.rootBlockBytes != kRootBlockFileBytes || h.mainAddress != kFirstBlockAddress || h.mainImageBytes % 4 != 0)
    return -kMessageNotAWorkspace;
  if (h.mainImageBytes + kLoadReserveBytes > workspaceBytes) return -kMessageWorkspaceTooLarge;
  return 0;
}

}  // namespace vantor
