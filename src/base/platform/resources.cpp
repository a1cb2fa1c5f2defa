// Resources bound into an executable file, kept in a trailer at the end of the file:
//   data     the resources' bytes, one after another in index order
//   index    per resource: id (4 bytes), offset from the first data byte (8), length (8)
//   footer   resource count (4 bytes), then the 8-byte magic "VNTRRSRC" at the very end
// All numbers are little-endian. A file that does not end with the magic has no resources.
#include "base/platform/resources.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/platform/regularfile.h"
#include "base/utf8.h"

namespace vantor {
namespace {

constexpr char kMagic[8] = {'V', 'N', 'T', 'R', 'R', 'S', 'R', 'C'};
constexpr uint64_t kFooterBytes = 4 + sizeof kMagic;
constexpr uint64_t kIndexEntryBytes = 4 + 8 + 8;
// More resources than this means the count itself is damaged.
constexpr uint32_t kMaxResources = 1024;

uint64_t LoadLittleEndian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

void StoreLittleEndian(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct IndexEntry {
  uint32_t id;
  uint64_t offset;
  uint64_t length;
};

// Reads and checks the trailer; on a fault fills `set.problem` and leaves no resources.
void ReadTrailer(const FileDescriptor& file, uint64_t fileBytes, ResourceSet& set) {
  uint8_t footer[kFooterBytes];
  if (fileBytes < kFooterBytes || !ReadFileAt(file, fileBytes - kFooterBytes, footer, kFooterBytes) ||
      std::memcmp(footer + 4, kMagic, sizeof kMagic) != 0) {
    return;  // no trailer
  }
  const uint32_t count = static_cast<uint32_t>(LoadLittleEndian(footer, 4));
  if (count > kMaxResources) {
    set.problem = "the resource trailer claims " + std::to_string(count) + " resources";
    return;
  }
  const uint64_t indexBytes = count * kIndexEntryBytes;
  if (indexBytes > fileBytes - kFooterBytes) {
    set.problem = "the resource index is truncated";
    return;
  }
  const uint64_t indexStart = fileBytes - kFooterBytes - indexBytes;
  std::vector<uint8_t> raw(indexBytes);
  if (!ReadFileAt(file, indexStart, raw.data(), indexBytes)) {
    set.problem = "the resource index cannot be read";
    return;
  }
  std::vector<IndexEntry> index;
  uint64_t dataBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = raw.data() + i * kIndexEntryBytes;
    IndexEntry e{static_cast<uint32_t>(LoadLittleEndian(entry, 4)), LoadLittleEndian(entry + 4, 8),
                 LoadLittleEndian(entry + 12, 8)};
    if (e.offset != dataBytes || e.length > indexStart - dataBytes) {
      set.problem = "resource " + std::to_string(e.id) + " has a bad offset or length";
      return;
    }
    dataBytes += e.length;
    index.push_back(e);
  }
  const uint64_t dataStart = indexStart - dataBytes;
  std::vector<Resource> resources;
  for (const IndexEntry& e : index) {
    Resource r{e.id, std::vector<uint8_t>(e.length)};
    if (!ReadFileAt(file, dataStart + e.offset, r.data.data(), e.length)) {
      set.problem = "resource " + std::to_string(e.id) + " cannot be read";
      return;
    }
    resources.push_back(std::move(r));
  }
  set.resources = std::move(resources);
  set.bodyBytes = dataStart;
}

// Copies the first `count` bytes of `in` to `out` a block at a time, so that a large program is
// never held in memory whole.
bool CopyBytes(const FileDescriptor& in, uint64_t count, std::ofstream& out) {
  constexpr uint64_t kBlockBytes = 1 << 20;
  std::vector<uint8_t> block(std::min(count, kBlockBytes));
  for (uint64_t done = 0; done < count;) {
    const uint64_t n = std::min(count - done, kBlockBytes);
    if (!ReadFileAt(in, done, block.data(), n)) return false;
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
  return true;
}

std::vector<uint8_t> BuildTrailer(const std::vector<Resource>& resources) {
  std::vector<uint8_t> trailer;
  for (const Resource& r : resources) trailer.insert(trailer.end(), r.data.begin(), r.data.end());
  uint64_t offset = 0;
  for (const Resource& r : resources) {
    StoreLittleEndian(trailer, r.id, 4);
    StoreLittleEndian(trailer, offset, 8);
    StoreLittleEndian(trailer, r.data.size(), 8);
    offset += r.data.size();
  }
  StoreLittleEndian(trailer, resources.size(), 4);
  trailer.insert(trailer.end(), kMagic, kMagic + sizeof kMagic);
  return trailer;
}

}  // namespace

const Resource* ResourceSet::Find(uint32_t id) const {
  for (const Resource& r : resources) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

ResourceSet ReadResources(const std::string& path) {
  ResourceSet set;
  OpenedFile file = OpenRegularFile(path);
  if (!file.problem.empty()) {
    set.problem = std::move(file.problem);
    return set;
  }
  set.bodyBytes = file.bytes;
  ReadTrailer(file.fd, file.bytes, set);
  return set;
}

std::string WriteResources(const std::string& inPath, const std::string& outPath,
                           const std::vector<Resource>& resources) {
  std::error_code error;
  const std::filesystem::file_status target = std::filesystem::status(outPath, error);
  if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
    return outPath + " is not a regular file";  // renaming over it would replace a directory or a device
  }
  const OpenedFile in = OpenRegularFile(inPath);
  if (!in.problem.empty()) return in.problem;
  ResourceSet old;
  old.bodyBytes = in.bytes;
  ReadTrailer(in.fd, in.bytes, old);

  // Written beside the target and renamed over it, so that binding a file onto itself works and a
  // failure never leaves a half-written executable under the target's name.
  const std::string temporary = outPath + ".bind-tmp";
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) return "cannot create " + temporary;
  const bool copied = CopyBytes(in.fd, old.bodyBytes, out);
  const std::vector<uint8_t> trailer = BuildTrailer(resources);
  out.write(reinterpret_cast<const char*>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
  out.close();
  if (!copied || !out) {
    std::filesystem::remove(temporary, error);
    return copied ? "cannot write " + temporary : "cannot read " + inPath;
  }
  using std::filesystem::perms;
  std::filesystem::permissions(temporary, perms::owner_all | perms::group_read | perms::group_exec |
                                              perms::others_read | perms::others_exec, error);
  if (!error) std::filesystem::rename(temporary, outPath, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return "cannot create " + outPath;
  }
  return "";
}

std::vector<uint8_t> EncodeResourceText(std::string_view utf8) {
  std::vector<uint8_t> out;
  auto put = [&out](char32_t unit) { StoreLittleEndian(out, unit, 2); };
  for (char32_t c : FromUtf8(utf8)) {
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 | c >> 10);
      put(0xDC00 | (c & 0x3FF));
    } else {
      put(c);
    }
  }
  put(0);
  return out;
}

std::string DecodeResourceText(const std::vector<uint8_t>& data) {
  std::string out;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char32_t unit = static_cast<char32_t>(LoadLittleEndian(&data[i], 2));
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < data.size()) {
      const auto low = static_cast<char32_t>(LoadLittleEndian(&data[i + 2], 2));
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

}  // namespace vantor
