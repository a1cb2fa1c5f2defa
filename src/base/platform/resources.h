// Resources bound into an executable file. On this platform they live in a trailer appended to the
// file: the bound workspace, the start-up flag word and the bound command line, each a numbered
// block of bytes. This unit depends on nothing else in the tree, so the binding tool can use it too.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

enum ResourceId : uint32_t {
  kResourceWorkspace = 2,     // a complete workspace image
  kResourceStartupFlags = 3,  // one 32-bit little-endian word
  kResourceCommandLine = 4,   // zero-terminated UTF-16LE text that replaces the command line
};

struct Resource {
  uint32_t id = 0;
  std::vector<uint8_t> data;
};

// The resources of one file. `problem` is empty when the file has a sound trailer or none at all;
// otherwise it says what is wrong with the trailer and the file counts as having no resources.
struct ResourceSet {
  std::vector<Resource> resources;
  uint64_t bodyBytes = 0;  // size of the file without its trailer
  std::string problem;

  // The resource with that id, or nullptr.
  const Resource* Find(uint32_t id) const;
};

// Reads the trailer of the file at `path`. A file that cannot be opened has no resources and its
// problem says why.
ResourceSet ReadResources(const std::string& path);

// Writes `outPath` (mode 0755) as the body of `inPath` (the file without any trailer it has)
// followed by a trailer holding `resources`. `inPath` and `outPath` may name the same file.
// Returns an empty text on success, otherwise what failed.
std::string WriteResources(const std::string& inPath, const std::string& outPath,
                           const std::vector<Resource>& resources);

// The bound command line's form: UTF-8 text to zero-terminated UTF-16LE and back. Decoding stops
// at the first zero character or at the end of the data.
std::vector<uint8_t> EncodeResourceText(std::string_view utf8);
std::string DecodeResourceText(const std::vector<uint8_t>& data);

}  // namespace vantor
