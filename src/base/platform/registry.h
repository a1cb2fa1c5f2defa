// The registry stand-in. Where the configuration lookup would read a registry key, this platform
// reads an INI-style text file named by INIFILE: `[section]` headers play the part of sub-keys and
// `name=value` lines the part of values. Names compare without regard to case.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantor {

class RegistryKey {
 public:
  // A key with no values (no INIFILE, or INIFILE naming no file).
  RegistryKey() = default;
  // Reads the whole file once; later changes to the file are not seen. A path that names nothing
  // gives a key with no values. A file that cannot serve (not a regular file, larger than
  // kMaxFileBytes, unreadable) gives no values and `problem` says why.
  static RegistryKey Open(const std::string& path, std::string& problem);
  // Parses INI text (what Open does with the file's contents). A UTF-8 byte order mark at the start
  // is skipped.
  static RegistryKey Parse(std::string_view text);

  // An INI file holds a few settings; anything larger is not one.
  static constexpr uint64_t kMaxFileBytes = 4 << 20;

  // The value of `name`. A name containing '\' is split at its last '\': the part before it is the
  // section, so "Threads\Flags" reads `Flags` in section `[Threads]`. A name without '\' is read
  // from the lines before the first section header.
  std::optional<std::string> Value(std::string_view name) const;

 private:
  std::unordered_map<std::string, std::string> values_;  // "section\name" folded to lower case
};

}  // namespace vantor
