// Configuration lookup: a parameter's value comes from a name=value word of the command-line copy,
// else from the environment, else from the registry stand-in (the INI file named by INIFILE), else
// from the built-in defaults. The numeric readers built on it serve limits, start-up-validated
// values and sizes.
#include "base/config.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>

#include "base/startup.h"
#include "base/platform/registry.h"

namespace vantor {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

namespace {

struct DefaultParameter {
  const char* name;
  const char* value;
};

constexpr DefaultParameter kDefaults[] = {
    {"MAXWS", "16Mb"},
    {"LOG_SIZE", "800"},
    {"TMP", ""},
    {"MAPCHARS", "db0deba7eec00be0"},
    {"APLNID", "0"},
    {"CONFIRM_SESSION_DELETE", "1"},
    {"LOG_FILE", "nul"},
    {"TERM", "WIN"},
    {"WSPATH", "."},
    {"AUTOFORMAT", "1"},
};

// INIFILE names the registry stand-in by a path of at most this many characters.
constexpr size_t kMaxIniFileChars = 254;
// The size reader looks at no more than this many significant characters.
constexpr size_t kMaxSizeChars = 20;

std::string g_commandLine;
bool g_keyFixed = false;
RegistryKey g_configurationKey;
char g_valueBuffer[kConfigBufferChars];


// Finds `name=value` in the command-line copy. The word holding each '=' starts after the blank
// before it and may begin with '-' or '/'; a value in double quotes runs to the next double quote.
std::optional<std::string_view> FromCommandLine(std::string_view text, std::string_view name) {
  for (size_t equals = text.find('='); equals != std::string_view::npos;
       equals = text.find('=', equals + 1)) {
    size_t start = equals;
    while (start > 0 && !IsBlank(text[start - 1])) --start;
    if (start < equals && (text[start] == '-' || text[start] == '/')) ++start;
    if (!EqualsIgnoringCase(text.substr(start, equals - start), name)) continue;
    const std::string_view rest = text.substr(equals + 1);
    if (!rest.empty() && rest.front() == '"') return rest.substr(1, rest.find('"', 1) - 1);
    size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end])) ++end;
    return rest.substr(0, end);
  }
  return std::nullopt;
}

std::optional<std::string_view> FromEnvironment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr || *value == '\0') return std::nullopt;
  return value;
}

// The configuration key is fixed at the first lookup that needs it after the command-line copy is
// set: the file INIFILE names on the command line or in the environment. Without INIFILE, or when
// it names no file, there is no key, so the registry stand-in yields nothing; a file that cannot
// serve as one (a directory, a device, a huge file) ends start-up.
const RegistryKey& ConfigurationKey() {
  if (g_keyFixed) return g_configurationKey;
  g_keyFixed = true;
  g_configurationKey = RegistryKey();
  std::optional<std::string_view> path = FromCommandLine(g_commandLine, "INIFILE");
  if (!path) path = FromEnvironment("INIFILE");
  if (!path) return g_configurationKey;
  std::string problem;
  g_configurationKey = RegistryKey::Open(std::string(path->substr(0, kMaxIniFileChars)), problem);
  if (!problem.empty()) {
    FailStartup(1, CouldNotInitialiseMessage("INIFILE names a file that cannot be used: " + problem));
  }
  return g_configurationKey;
}

std::string ExecutableDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

std::optional<std::string> FromRegistry(std::string_view name) {
  if (EqualsIgnoringCase(name, "INIFILE")) return std::nullopt;  // named only by the two sources above
  std::optional<std::string> value;
  if (!(Startup().startupFlags & kFlagNoRegistry)) value = ConfigurationKey().Value(name);
  if (EqualsIgnoringCase(name, "VANTOR") && (!value || value->empty())) {
    std::string directory = ExecutableDirectory();
    if (!directory.empty()) value = std::move(directory);
  }
  return value;
}

const char* FromDefaults(std::string_view name) {
  for (const DefaultParameter& entry : kDefaults) {
    if (name == entry.name) return entry.value;
  }
  return nullptr;
}

// Copies a value into the shared buffer, cut to its size without splitting a UTF-8 character.
const char* Deliver(std::string_view value) {
  size_t length = std::min(value.size(), kConfigBufferChars - 1);
  if (length < value.size()) {
    while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(g_valueBuffer, value.data(), length);
  g_valueBuffer[length] = '\0';
  return g_valueBuffer;
}

struct ParsedInteger {
  int64_t value = 0;
  size_t digits = 0;
  size_t end = 0;  // index after the last character used
};

// The decimal integer at the start of `text` (an optional '-' then digits), saturating at the
// limits of int64_t.
ParsedInteger LeadingInteger(std::string_view text) {
  ParsedInteger parsed;
  const bool negative = !text.empty() && text.front() == '-';
  size_t i = negative ? 1 : 0;
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++parsed.digits) {
    const int digit = text[i] - '0';
    parsed.value = parsed.value > (kLimit - digit) / 10 ? kLimit : parsed.value * 10 + digit;
  }
  if (negative) parsed.value = -parsed.value;
  parsed.end = parsed.digits ? i : 0;
  return parsed;
}

[[noreturn]] void BadStartupValue(std::string_view name) {
  FailStartup(1, CouldNotInitialiseMessage("of a bad startup value for " + std::string(name)));
}

}  // namespace

void SetConfigCommandLine(std::string_view commandLine) {
  g_commandLine = std::string(commandLine);
  g_keyFixed = false;
}

const char* ConfigLookup(std::string_view name) {
  if (std::optional<std::string_view> value = FromCommandLine(g_commandLine, name)) return Deliver(*value);
  if (std::optional<std::string_view> value = FromEnvironment(name)) return Deliver(*value);
  if (std::optional<std::string> value = FromRegistry(name)) return Deliver(*value);
  if (const char* value = FromDefaults(name)) return Deliver(value);
  return nullptr;
}

int64_t ReadLenient(std::string_view name, int64_t fallback, int64_t maximum) {
  const char* value = ConfigLookup(name);
  if (value == nullptr || *value == '\0') return fallback;
  std::string_view text = value;
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  const int64_t number = LeadingInteger(text).value;
  return number <= 0 ? 1 : std::min(number, maximum);
}

bool ReadStrict(std::string_view name, int64_t& destination, int64_t maximum) {
  const char* value = ConfigLookup(name);
  if (value == nullptr) return true;
  const std::string_view text = value;
  const ParsedInteger parsed = LeadingInteger(text);
  destination = parsed.value;
  return parsed.digits > 0 && parsed.end == text.size() && parsed.value >= 0 && parsed.value <= maximum;
}

uint32_t ReadSize(std::string_view name, uint32_t minimum) {
  const char* value = ConfigLookup(name);
  std::string text;
  for (const char* p = value ? value : ""; *p != '\0' && *p != '#' && text.size() < kMaxSizeChars; ++p) {
    if (!IsBlank(*p)) text += *p;
  }
  constexpr uint64_t kMaxSize = std::numeric_limits<uint32_t>::max();
  uint64_t number = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    if (number > kMaxSize) BadStartupValue(name);
  }
  uint64_t unit = 1024;  // no unit letter: kilobytes
  if (i < text.size()) {
    switch (text[i++]) {
      case 'K': case 'k': unit = uint64_t{1} << 10; break;
      case 'M': case 'm': unit = uint64_t{1} << 20; break;
      case 'G': case 'g': unit = uint64_t{1} << 30; break;
      case 'T': case 't': unit = uint64_t{1} << 40; break;
      default: BadStartupValue(name);
    }
    if (i < text.size() && (text[i] == 'B' || text[i] == 'b')) ++i;
  }
  if (i != text.size() || number > kMaxSize / unit) BadStartupValue(name);
  return std::max(static_cast<uint32_t>(number * unit), minimum);
}

}  // namespace vantor
