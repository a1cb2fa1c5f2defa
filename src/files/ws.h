// The workspace container seen from the reading side: where its bytes come from (an open file, an
// image in memory such as the workspace bound into the executable), its 40-byte header, and the
// checks that decide whether a header describes a workspace this interpreter can load. The writing
// side, shared with the aplcore, is in memory3.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantor {

// A source of bytes read front to back.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads exactly `bytes` bytes; false at a shortfall or a read error.
  virtual bool Read(void* into, size_t bytes) = 0;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  bool Read(void* into, size_t bytes) override;

 private:
  int fd_;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Read(void* into, size_t bytes) override;

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

struct ContainerHeader {
  uint8_t magic = 0;
  uint8_t kind = 0;
  uint8_t major = 0;
  uint8_t minor = 0;
  uint8_t architecture = 0;
  uint64_t mainAddress = 0;     // the main space's first block when saved
  uint64_t mainImageBytes = 0;
  uint64_t rootBlockBytes = 0;
  uint32_t regions = 0;         // heap regions in the file, the main one included
  uint32_t segments = 0;        // further diagnostic segments
  uint32_t Version() const { return major * 256u + minor; }
};

// The header at the start of a source; nothing when fewer than 40 bytes can be read.
std::optional<ContainerHeader> ReadContainerHeader(ByteSource& source);

// The messages of the load-and-save group that loading and saving report, by their number in the
// group; functions return 0 for success or the negated number.
enum LoadSaveMessage : int {
  kMessageFileExists = 14,
  kMessageFileExistsNotWorkspace = 15,
  kMessageFileNotCreated = 16,
  kMessageOpenFileLimit = 17,
  kMessageWriteFailed = 18,
  kMessageWorkspaceNotFound = 19,
  kMessageNotAWorkspace = 20,
  kMessageWorkspaceTooLarge = 21,
  kMessageLaterVersion = 24,
  kMessageConfluEdition = 25,
  kMessageLoadFailed = 38,
  kMessageNameNotFound = 39,
  kMessageNameNotCopied = 40,
  kMessagePredatesVersion11 = 41,
};

// Whether a header describes a file of kind `kind` that this interpreter loads into a workspace of
// `workspaceBytes`: 0, or the negated message. Files from other architectures and layouts (other
// flags, several regions, another root block size or first-block address) are "Not a workspace".
int CheckContainerHeader(const ContainerHeader& header, uint8_t kind, uint64_t workspaceBytes);

}  // namespace vantor
