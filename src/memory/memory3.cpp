// System errors: the aplcore file and the end of the process. The aplcore is the workspace container
// with kind byte 0: header, root block, the used part of every space, three diagnostic segments, and
// a text trailer of "!"-marked items that a person can read with a pager.
#include "memory/memory3.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/startup.h"
#include "base/config.h"
#include "base/platform/msgbox.h"
#include "base/errors.h"
#include "memory/memory1.h"

namespace vantor {

static constexpr char kUnit[] = "memory3";
// How many numbered aplcores to keep; 0 means that none is written.
static constexpr char kMaxAplcores[] = "MAXAPLCORES";

static SystemErrorHookFn g_systemErrorHook = nullptr;
static int g_systemErrorDepth = 0;

void SetSystemErrorHook(SystemErrorHookFn hook) { g_systemErrorHook = hook; }

// ---- Aplcore names -------------------------------------------------------------------------------

namespace {

struct NumberedFile {
  std::string path;
  long number;
  timespec modified;
};

// Files in `directory` named prefix, digits, suffix.
std::vector<NumberedFile> MatchingFiles(const std::string& directory, const std::string& prefix,
                                        const std::string& suffix) {
  std::vector<NumberedFile> found;
  DIR* dir = opendir(directory.c_str());
  if (!dir) return found;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::string path = directory + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) continue;
    found.push_back({path, std::stol(digits), info.st_mtim});
  }
  closedir(dir);
  return found;
}

bool OlderThan(const NumberedFile& a, const NumberedFile& b) {
  if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
  if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec < b.modified.tv_nsec;
  return a.number < b.number;
}

// MAXAPLCORES set to 0 turns aplcores off: none is written, and none is deleted to make room.
// (The lenient reader would raise the 0 to 1.)
bool AplcoresTurnedOff() {
  int64_t limit = 1;
  return ReadStrict(kMaxAplcores, limit, INT32_MAX) && limit == 0;
}

}  // namespace

std::string NextAplcoreName() {
  const char* configured = ConfigLookup("APLCORENAME");
  std::string name = configured ? configured : "aplcore";
  if (name.size() > 259) name.resize(259);
  size_t star = name.find('*');
  if (star == std::string::npos) return name;
  size_t slash = name.rfind('/', star);
  std::string directory = slash == std::string::npos ? "." : name.substr(0, slash == 0 ? 1 : slash);
  std::string prefix = name.substr(slash == std::string::npos ? 0 : slash + 1,
                                   star - (slash == std::string::npos ? 0 : slash + 1));
  std::string suffix = name.substr(star + 1);
  std::vector<NumberedFile> files = MatchingFiles(directory, prefix, suffix);
  long highest = 0;
  for (const NumberedFile& f : files) highest = std::max(highest, f.number);
  const int64_t limit = ReadLenient(kMaxAplcores, 0, INT32_MAX);
  if (ConfigLookup(kMaxAplcores) && !AplcoresTurnedOff() && static_cast<int64_t>(files.size()) >= limit &&
      !files.empty()) {
    auto oldest = std::min_element(files.begin(), files.end(), OlderThan);
    unlink(oldest->path.c_str());
  }
  return name.substr(0, star) + std::to_string(highest + 1) + suffix;
}

// ---- The container ------------------------------------------------------------------------------

void ContainerWriter::Bytes(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (ok_ && length > 0) {
    ssize_t written = write(fd_, p, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok_ = false;
      return;
    }
    p += written;
    length -= static_cast<size_t>(written);
  }
}

void ContainerWriter::Rewind() {
  if (lseek(fd_, 0, SEEK_SET) != 0) ok_ = false;
}

void WriteContainerHeader(ContainerWriter& out, uint8_t magic, uint8_t kind, uint64_t mainImageBytes,
                          uint32_t regions, uint32_t segments) {
  out.Value<uint8_t>(magic);
  out.Value<uint8_t>(kind);
  out.Value<uint8_t>(kFormatMajor);
  out.Value<uint8_t>(kFormatMinor);
  out.Value<uint8_t>(15);
  out.Value<uint8_t>(0);
  out.Value<uint8_t>(236);
  out.Value<uint8_t>(kArchitectureFlags);
  // Addresses in a space are offsets from its base, so the region's address is its first block.
  out.Value<uint64_t>(Space(kMainSpace).begin);
  out.Value<uint64_t>(mainImageBytes);
  out.Value<uint64_t>(kRootBlockFileBytes);
  out.Value<uint32_t>(regions);
  out.Value<uint32_t>(segments);
}

void WriteContainerRootBlock(ContainerWriter& out, const SpaceDescriptor& s) {
  out.Bytes(s.base, kRootBlockWords * 4);
  uint32_t state[16] = {s.begin, s.end, s.rover, s.lowWater, s.committed, s.limitBytes};
  out.Bytes(state, sizeof state);
}

// ---- Writing the aplcore -------------------------------------------------------------------------

namespace {

constexpr uint16_t kSegmentStack = 49;
constexpr uint16_t kSegmentSpaces = 50;
constexpr uint16_t kSegmentKinds = 51;

void WriteSegmentHeader(ContainerWriter& out, uint16_t kind, uint64_t rootBytes, uint64_t imageBytes, uint64_t address) {
  out.Value<uint8_t>(2);
  out.Value<uint8_t>(1);
  out.Value<uint8_t>(8);
  out.Value<uint8_t>(1);
  out.Value<uint16_t>(kind);
  out.Value<uint8_t>(0);
  out.Value<uint8_t>(0);
  out.Value<uint64_t>(rootBytes);
  out.Value<uint64_t>(imageBytes);
  out.Value<uint64_t>(address);
}

void WriteWords(ContainerWriter& out, uint16_t kind, const std::vector<uint32_t>& words) {
  WriteSegmentHeader(out, kind, 0, 4ull * words.size(), 0);
  out.Bytes(words.data(), 4 * words.size());
}

// Segment 49: the references that running C++ frames hold (the temporaries of every space).
std::vector<uint32_t> TemporariesList() {
  std::vector<uint32_t> words;
  for (uint32_t index = 0; index < kSpaceCount; ++index) {
    for (const TempRecord* t = Space(index).temporaries; t; t = t->next) {
      words.push_back(index);
      words.insert(words.end(), std::begin(t->refs), std::end(t->refs));
    }
  }
  return words;
}

// Segment 50: every space's descriptor.
std::vector<uint32_t> SpaceList() {
  std::vector<uint32_t> words;
  for (uint32_t index = 0; index < kSpaceCount; ++index) {
    const SpaceDescriptor& s = Space(index);
    words.insert(words.end(), {index, s.inUse, s.begin, s.end, s.rover, s.lowWater, s.committed, s.limitBytes});
  }
  return words;
}

// Segment 51: the kind table (threshold, whether a layout is registered, whether a hook is).
std::vector<uint32_t> KindList() {
  std::vector<uint32_t> words;
  for (uint32_t kind = 0; kind < 16; ++kind) {
    const KindTraits& t = TraitsOf(kind);
    words.insert(words.end(), {kind, t.threshold, t.children != nullptr, t.hook != nullptr});
  }
  return words;
}

std::string Formatted(const char* format, const char* label, uint64_t value) {
  char line[128];
  std::snprintf(line, sizeof line, format, label, value);
  return line;
}

void WriteTrailer(ContainerWriter& out, int code, int savedErrno) {
  const StartupState& st = Startup();
  const char* hex = "%-32s 0x%016" PRIx64 "\n";
  const char* dec = "%-32s %10" PRIu64 "\n";
  auto item = [&](const std::string& text) {
    out.Text("!");
    out.Text(text);
  };
  item("\n========================== Interesting Information\n");
  item(Formatted(hex, "BuildID:", 0));
  item(Formatted(hex, "syserror:", static_cast<uint64_t>(code)));
  item(Formatted(hex, "errno:", static_cast<uint64_t>(savedErrno)));
  item(Formatted(hex, "DFLAGS:", st.diagnosticBits));
  item(Formatted(hex, "MAXWS:", Space(kMainSpace).limitBytes));
  item(Formatted(hex, "MAXWP:", 0));
  item(Formatted(hex, "FXQLX:", st.runLatentExpression));
  item(Formatted(hex, "SESSION:", st.sessionFlag));
  item(Formatted(hex, "INASCII:", 0));
  item(Formatted(hex, "QUIT:", 0));
  item(Formatted(hex, "PBANNER:", 0));
  item(Formatted(hex, "EXITCODE:", 3));
  item(Formatted(hex, "LOAD_EVENT:", 0));
  item(Formatted(hex, "DEFAULT_QFILE:", 0));
  item(Formatted(hex, "FAST_FCHK:", 0));
  item(Formatted(dec, "MAJOR_VERSION:", 15));
  item(Formatted(dec, "MINOR_VERSION:", 0));
  item(Formatted(dec, "SVN_REVISION:", 0));
  item(Formatted(dec, "BITS:", 32));
  item("EDITION:                            Unicode\n");
  item(Formatted(dec, "DEBUG:", 0));
  item(std::string("Built ") + __DATE__ + " " + __TIME__ + "\n");
  item(Formatted(hex, "sediment:", Space(kMainSpace).end));
  item(Formatted(hex, "wsptr:", reinterpret_cast<uintptr_t>(Space(kMainSpace).base)));
  int local = 0;
  item(Formatted(hex, "top_of_Cstack:", reinterpret_cast<uintptr_t>(&local)));
  item("APLStack: END.\n");
}

}  // namespace

bool WriteAplcore(const std::string& path, int code) {
  int savedErrno = errno;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ContainerWriter out(fd);
  const SpaceDescriptor& main = Space(kMainSpace);
  uint32_t regions = 1;
  for (uint32_t index = 0; index < kSpaceCount; ++index)
    if (index != kMainSpace && Space(index).inUse) ++regions;
  // The magic byte stays 0 until everything else is written, so a torn file is not an aplcore.
  WriteContainerHeader(out, 0, kFileKindAplcore, ImageBytes(main), regions, 3);
  if (main.inUse) {
    WriteContainerRootBlock(out, main);
    out.Bytes(main.base + main.begin, ImageBytes(main));
  } else {
    std::vector<uint8_t> emptyRoot(kRootBlockFileBytes);
    out.Bytes(emptyRoot.data(), emptyRoot.size());
  }
  out.Value<uint32_t>(0);
  for (uint32_t index = 0; index < kSpaceCount; ++index) {
    const SpaceDescriptor& s = Space(index);
    if (index == kMainSpace || !s.inUse) continue;
    WriteSegmentHeader(out, static_cast<uint16_t>(index), kRootBlockFileBytes, ImageBytes(s), s.begin);
    WriteContainerRootBlock(out, s);
    out.Bytes(s.base + s.begin, ImageBytes(s));
  }
  WriteWords(out, kSegmentStack, TemporariesList());
  WriteWords(out, kSegmentSpaces, SpaceList());
  WriteWords(out, kSegmentKinds, KindList());
  WriteTrailer(out, code, savedErrno);
  out.Rewind();
  WriteContainerHeader(out, kFileMagic, kFileKindAplcore, ImageBytes(main), regions, 3);
  bool ok = out.ok();
  if (close(fd) != 0) ok = false;
  return ok;
}

// ---- The system error ----------------------------------------------------------------------------

static bool ShouldWriteAplcore(const std::string& text) {
  if (AplcoresTurnedOff()) return false;
  if (!IsInteractive()) return true;
  bool createByDefault = ReadLenient("CreateAplcoreOnSyserror", 1, 1) != 0;
  return ShowMessageBox(text + "\r\n\r\nCreate an aplcore file?", "Vantor APL/W Error", BoxKind::YesNo,
                        createByDefault);
}

void SystemError(int code) {
  int savedErrno = errno;
  if (g_systemErrorHook) g_systemErrorHook(code);
  if (code == 995) {
    const char* value = ConfigLookup("ErrorOnExternalException");
    if (value && std::atoi(value) != 0) SignalError(91, 0, 0, 0, kUnit, __LINE__);
  }
  if (g_systemErrorDepth++ > 0) _exit(3);
  char heading[64];
  std::snprintf(heading, sizeof heading, "Syserror: %i code: %i", code, savedErrno);
  std::string name = NextAplcoreName();
  std::string text = std::string(heading) + "\r\n" +
                     (code == 900 ? "A paging error has occurred, probably because of a temporary network "
                                    "fault. Vantor APL cannot continue."
                      : code == 995 ? "An exception has occurred in an external DLL."
                                    : "A fatal error has occurred. Vantor APL cannot continue.") +
                     "\r\n\r\nIn workspace " + Startup().workspaceName + " (process ID:" +
                     std::to_string(getpid()) + ")\r\nIf you choose to generate an aplcore, it will be saved as: \"" +
                     name + "\".\r\n";
  if (!ShouldWriteAplcore(text)) {
    ShowMessageBox(std::string(heading) + "\n  Aplcore was not created.", "Vantor APL/W Error", BoxKind::Error);
    ExitApl(3);
  }
  if (!WriteAplcore(name, code)) {
    ShowMessageBox("Could not write file " + name + ". Core file is NOT saved.", "Vantor APL/W Error",
                   BoxKind::Error);
    ExitApl(3);
  }
  ShowMessageBox("An aplcore file \"" + name + "\" has been created.", "Vantor APL/W Error", BoxKind::Information);
  ExitApl(3);
}

}  // namespace vantor
