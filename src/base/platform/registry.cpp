// The registry stand-in: an INI-style file parsed into a table of "section\name" → value. Lines are
// `[section]`, `name=value`, blank, or comments starting with ';' or '#'. Blanks around names and
// values are dropped; a value in double quotes keeps the text between them as written.
#include "base/platform/registry.h"

#include "base/platform/regularfile.h"

namespace vantor {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

RegistryKey RegistryKey::Open(const std::string& path, std::string& problem) {
  const FileContents file = ReadRegularFile(path, kMaxFileBytes);
  if (!file.missing) problem = file.problem;
  if (!file.problem.empty()) return {};
  return Parse(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
}

RegistryKey RegistryKey::Parse(std::string_view text) {
  RegistryKey key;
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // written by some Windows editors
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::string section;  // "" before the first header
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = FoldCase(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string name = FoldCase(Trim(line.substr(0, equals)));
    key.values_[section + '\\' + name] = std::string(Unquote(Trim(line.substr(equals + 1))));
  }
  return key;
}

std::optional<std::string> RegistryKey::Value(std::string_view name) const {
  const size_t split = name.rfind('\\');
  const std::string wanted = split == std::string_view::npos ? '\\' + FoldCase(name) : FoldCase(name);
  const auto found = values_.find(wanted);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

}  // namespace vantor
