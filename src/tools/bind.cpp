// vantor-bind: makes an application executable from the interpreter by binding resources into a
// copy of it: a workspace image (resource 2), the start-up flag word (resource 3) and a command line
// (resource 4). Binding an already bound executable replaces all of its resources.
#include <elf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform/regularfile.h"
#include "base/platform/resources.h"

namespace {

constexpr char kUsage[] =
    "usage: vantor-bind [--ws FILE] [--flags N] [--cmdline TEXT] -o OUT IN\n"
    "  --ws FILE       bind the workspace image FILE\n"
    "  --flags N       bind the start-up flag word N (decimal, or hexadecimal after 0x)\n"
    "  --cmdline TEXT  bind TEXT as the command line (an empty TEXT is bound too)\n"
    "  -o OUT          the executable to write (mode 0755)\n"
    "  IN              the interpreter executable to copy\n";

struct Arguments {
  std::optional<std::string> workspace;
  std::optional<uint32_t> flags;
  std::optional<std::string> commandLine;
  std::string output;
  std::string input;
};

// A workspace image is at most as large as the largest workspace, MAXWS's 4 GB.
constexpr uint64_t kMaxWorkspaceBytes = uint64_t{1} << 32;

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantor-bind: %s\n", message.c_str());
  return 1;
}

std::optional<uint32_t> ParseFlags(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) text.remove_prefix(2);
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Checks that `path` is an ELF executable (a program or a position-independent one); returns an
// error text, empty when it is. Binding anything else would make a file that cannot run.
std::string CheckExecutable(const std::string& path) {
  const vantor::OpenedFile file = vantor::OpenRegularFile(path);
  if (!file.problem.empty()) return file.problem;
  // e_ident and e_type are laid out alike in 32- and 64-bit files.
  uint8_t header[EI_NIDENT + 2];
  if (file.bytes < sizeof header || !vantor::ReadFileAt(file.fd, 0, header, sizeof header) ||
      std::memcmp(header, ELFMAG, SELFMAG) != 0) {
    return path + " is not an ELF executable";
  }
  const uint8_t* type = header + EI_NIDENT;
  const int fileType = header[EI_DATA] == ELFDATA2LSB ? type[0] | type[1] << 8 : type[0] << 8 | type[1];
  if (fileType != ET_EXEC && fileType != ET_DYN) return path + " is not an ELF executable";
  return "";
}

// Parses the command line; returns an error text, empty on success.
std::string ParseArguments(int argc, char** argv, Arguments& args) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const bool takesValue = option == "--ws" || option == "--flags" || option == "--cmdline" || option == "-o";
    if (!takesValue) {
      if (option.starts_with('-') && option.size() > 1) return "unknown option " + std::string(option);
      positional.emplace_back(option);
      continue;
    }
    if (i + 1 >= argc) return std::string(option) + " needs a value";
    const std::string value = argv[++i];
    if (option == "--ws") {
      args.workspace = value;
    } else if (option == "--cmdline") {
      args.commandLine = value;
    } else if (option == "-o") {
      args.output = value;
    } else if (!(args.flags = ParseFlags(value))) {
      return "--flags needs a 32-bit number, not \"" + value + "\"";
    }
  }
  if (args.output.empty()) return "no output file (-o OUT)";
  if (positional.size() != 1) return "exactly one input executable is needed";
  args.input = positional.front();
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (const std::string error = ParseArguments(argc, argv, args); !error.empty()) {
    std::fprintf(stderr, "vantor-bind: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (const std::string error = CheckExecutable(args.input); !error.empty()) return Fail(error);
  std::vector<vantor::Resource> resources;
  if (args.workspace) {
    vantor::FileContents image = vantor::ReadRegularFile(*args.workspace, kMaxWorkspaceBytes);
    if (!image.problem.empty()) return Fail(image.problem);
    resources.push_back({vantor::kResourceWorkspace, std::move(image.bytes)});
  }
  if (args.flags) {
    std::vector<uint8_t> word;
    for (int shift = 0; shift < 32; shift += 8) word.push_back(static_cast<uint8_t>(*args.flags >> shift));
    resources.push_back({vantor::kResourceStartupFlags, std::move(word)});
  }
  if (args.commandLine) {
    resources.push_back({vantor::kResourceCommandLine, vantor::EncodeResourceText(*args.commandLine)});
  }
  const vantor::ResourceSet old = vantor::ReadResources(args.input);
  if (const std::string error = vantor::WriteResources(args.input, args.output, resources); !error.empty()) {
    return Fail(error);
  }
  if (!old.problem.empty()) {
    std::fprintf(stderr, "vantor-bind: warning: %s has a damaged resource trailer (%s), copied as part of the program\n",
                 args.input.c_str(), old.problem.c_str());
  }
  return 0;
}
