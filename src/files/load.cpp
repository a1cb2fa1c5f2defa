// Saving and loading workspaces. A save compacts the heap and writes the container (header, root
// block, the used part of the heap, a zero word) to a temporary file beside the target, flushes it
// and renames it over the target; a load reads an image into a spare space, checks it, and only then
// lets it replace the main space.
#include "files/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <array>

#include "files/qnfiles.h"
#include "format/disp2.h"
#include "base/config.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "language/session.h"
#include "base/messages.h"
#include "language/space.h"
#include "language/stack.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/memory3.h"
#include "memory/partner.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "load";

namespace {

// The spare space a workspace is read into before it replaces the main one, and the one a
// workspace that objects are copied from is read into.
constexpr uint32_t kLoadSpace = kMainSpace + 1;
constexpr uint32_t kCopySpace = kMainSpace + 2;
constexpr size_t kMaxWorkspaceIdLength = 255;
constexpr size_t kMaxCandidateLength = 518;

std::string g_workspaceFile;
void (*g_workspaceInitialiser)() = nullptr;

// ---- Saving --------------------------------------------------------------------------------------

// Whether an existing file may be replaced by a workspace: 0, or the negated message.
int CheckReplaceable(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint8_t first[4] = {};
  ssize_t got = read(fd, first, sizeof first);
  close(fd);
  if (got < 2 || first[0] != kFileMagic) return -kMessageFileExists;
  if (first[1] != kFileKindWorkspace && first[1] != 4 && first[1] != kFileKindSession)
    return -kMessageFileExistsNotWorkspace;
  return 0;
}

// The temporary file only takes the target's name once it is complete and on disk, so the header
// can carry its magic from the start.
bool WriteImage(int fd, uint8_t kind) {
  ContainerWriter out(fd);
  const SpaceDescriptor& main = Space(kMainSpace);
  // After compaction every pocket lies below the rover; the free block above it is not saved.
  uint64_t imageBytes = main.rover - main.begin;
  WriteContainerHeader(out, kFileMagic, kind, imageBytes, 1, 0);
  WriteContainerRootBlock(out, main);
  out.Bytes(main.base + main.begin, imageBytes);
  out.Value<uint32_t>(0);
  return out.ok() && fsync(fd) == 0;
}

// ---- Loading -------------------------------------------------------------------------------------

// The root block read with the image, made the current space's own: its header words mark it as
// the in-use block it is.
void InstallRootBlock(const uint8_t* rootBlock) {
  std::memcpy(g_heapBase, rootBlock, kRootBlockWords * 4);
  RootWordAt(0) = static_cast<uint32_t>(-static_cast<int32_t>(kRootBlockWords));
  RootWordAt(1) = 1;
  RootWordAt(2) = kKindRoot;
}

// Reads the root block and the image into a spare space; the main space is untouched.
int ReadImage(ByteSource& source, const ContainerHeader& header, uint32_t space) {
  uint8_t rootBlock[kRootBlockFileBytes];
  if (!source.Read(rootBlock, sizeof rootBlock)) return -kMessageNotAWorkspace;
  if (!ObtainSpace(space, Space(kMainSpace).limitBytes, 0)) return -kMessageWorkspaceTooLarge;
  uint32_t previous = SwitchSpace(space);
  InstallRootBlock(rootBlock);
  int result = 0;
  uint32_t endWord = 1;
  if (!CommitImage(header.mainImageBytes)) result = -kMessageWorkspaceTooLarge;
  else if (!source.Read(g_heapBase + g_space->begin, header.mainImageBytes) ||
           !source.Read(&endWord, sizeof endWord) || endWord != 0)
    result = -kMessageNotAWorkspace;
  SwitchSpace(previous);
  return result;
}

bool ImageIsSound(const ContainerHeader& header, uint32_t space) {
  uint32_t previous = SwitchSpace(space);
  FinishImage(header.mainImageBytes);
  bool sound = FindHeapFault(true) == 0;
  SwitchSpace(previous);
  return sound;
}

// A workspace saved by running code (⎕SAVE in a function) holds frames of code that was running:
// nothing can resume them in this process, so such a state indicator is cleared. Suspended
// functions stay, to be resumed as in the session that saved them.
bool StateIndicatorIsResumable() {
  for (Ref frame = CurrentFrame(); IsRef(frame) && FrameClassOf(frame) != kFrameImmediate; frame = FrameBelow(frame)) {
    uint32_t frameClass = FrameClassOf(frame);
    if (frameClass == kFrameNesting || frameClass == kFrameService || frameClass == kFrameTemporary) return false;
    if (frameClass == kFrameExecution && FrameSubTypeOf(frame) == kExecutionRunning) return false;
  }
  return true;
}

void ReleaseWorkingSlots() {
  for (uint32_t slot = 0; slot < kWorkingSlotCount; ++slot) {
    Ref held = WorkingSlot(slot);
    WorkingSlot(slot) = 0;
    WorkingCursor(slot) = 0;
    Release(held);
  }
}

constexpr size_t kMaxFunctionNameLength = 250;

// The file name a system function was given: a simple character vector (or scalar) shorter than 250
// characters, with the default extension added.
std::string FileNameArgument(const Ref& name) {
  uint32_t type = IsRef(name) ? TypeWord(name) : 0;
  if (!IsRef(name) || KindOf(type) != kKindSimple || !IsCharacterType(ElementOf(type)) || RankOf(type) > 1)
    SIGNAL(kDomainError);
  std::u32string text = CharacterText(name);
  if (text.empty() || text.size() >= kMaxFunctionNameLength) SIGNAL(kDomainError);
  return ToUtf8(WithWorkspaceExtension(text));
}

// A refusal as DOMAIN ERROR whose ⎕DMX message is the load-and-save message.
[[noreturn]] void SignalRefusal(int result) {
  SignalError(kDomainError, kMessageCategories[kCategoryLoadSave].firstRow + static_cast<uint32_t>(-result) - 1, 0, 0,
              kUnit, __LINE__);
}

// ⎕SAVE 'name': saves the workspace (⎕WSID becomes the name); the result is 1.
CallResult QuadSAVE(const Ref&, const Ref& right) {
  if (int refusal = SaveWorkspaceAs(FileNameArgument(right))) SignalRefusal(refusal);
  Ref one = RootWordAt(kRootScalarOne);
  Retain(one);
  return {one};
}

}  // namespace

// ---- Interface -----------------------------------------------------------------------------------

int SaveWorkspace(const std::string& path, uint8_t kind) {
  if (int refusal = CheckReplaceable(path)) return refusal;
  Compact(0, true);
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return errno == EMFILE || errno == ENFILE ? -kMessageOpenFileLimit : -kMessageFileNotCreated;
  bool written = fchmod(fd, NewFileMode(path)) == 0 && WriteImage(fd, kind);
  if (close(fd) != 0) written = false;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return -kMessageWriteFailed;
  }
  SyncDirectory(DirectoryOf(path));
  g_workspaceFile = path;
  return 0;
}

int SaveWorkspaceAs(const std::string& path) {
  std::u32string oldId = CharacterVariableText(kQuadWSID);
  SetWorkspaceId(FromUtf8(path));
  int result = SaveWorkspace(path, kFileKindWorkspace);
  if (result != 0) SetWorkspaceId(oldId);
  return result;
}

// Reads and checks a workspace into a spare space, leaving the main space as it is: 0, or the
// negated message (the spare space is then released).
static int PrepareWorkspace(ByteSource& source, uint8_t kind, uint32_t space = kLoadSpace) {
  std::optional<ContainerHeader> header = ReadContainerHeader(source);
  if (!header) return -kMessageNotAWorkspace;
  if (int refusal = CheckContainerHeader(*header, kind, Space(kMainSpace).limitBytes)) return refusal;
  int result = ReadImage(source, *header, space);
  if (result == 0 && !ImageIsSound(*header, space)) result = -kMessageNotAWorkspace;
  if (result != 0) ReleaseSpace(space);
  return result;
}

// The prepared workspace replaces the main one.
static void InstallPreparedWorkspace() {
  ForgetWorkspaceState();
  AdoptSpace(kLoadSpace, kMainSpace);
  SwitchSpace(kMainSpace);
  ReleaseWorkingSlots();
  RefreshSmallIntCacheRange();
  if (!StateIndicatorIsResumable()) ClearStateIndicator();
}

int LoadWorkspace(ByteSource& source, uint8_t kind) {
  int result = PrepareWorkspace(source, kind);
  if (result == 0) InstallPreparedWorkspace();
  return result;
}

int LoadWorkspaceImage(const uint8_t* image) {
  MemorySource headerOnly(std::span<const uint8_t>(image, kContainerHeaderBytes));
  std::optional<ContainerHeader> header = ReadContainerHeader(headerOnly);
  if (int refusal = CheckContainerHeader(*header, kFileKindWorkspace, Space(kMainSpace).limitBytes)) return refusal;
  uint64_t length = kContainerHeaderBytes + kRootBlockFileBytes + header->mainImageBytes + 4;
  MemorySource source(std::span<const uint8_t>(image, length));
  return LoadWorkspace(source, kFileKindWorkspace);
}

static int PrepareWorkspaceFile(const std::string& path, uint32_t space = kLoadSpace) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -kMessageWorkspaceNotFound;
  FileSource source(fd);
  int result = PrepareWorkspace(source, kFileKindWorkspace, space);
  close(fd);
  return result;
}

// The prepared workspace from `path` replaces the main one, and is known by that name.
static void InstallWorkspaceFile(const std::string& path) {
  InstallPreparedWorkspace();
  g_workspaceFile = path;
  SetWorkspaceId(FromUtf8(path));
}

int LoadWorkspaceFile(const std::string& path) {
  int result = PrepareWorkspaceFile(path);
  if (result == 0) InstallWorkspaceFile(path);
  return result;
}

// ---- Copying ------------------------------------------------------------------------------------
// The workspace copied from is read into a spare space and checked as a load is. Its objects are
// written in the transfer form while that space is current, then read into the executing namespace
// of the main space. Nothing may be signalled while the spare space is current (an error's record
// and the trap search belong to the main workspace), so the writer's failures are thrown as a
// CopyFailure and signalled once the main space is current again.

namespace {

struct CopyFailure {
  uint32_t errorNumber;
  uint32_t messageRow;
};

[[noreturn]] void ThrowCopyFailure(uint32_t errorNumber, uint32_t messageRow) {
  throw CopyFailure{errorNumber, messageRow};
}

// Makes a space current for the visit's lifetime.
class SpaceVisit {
 public:
  explicit SpaceVisit(uint32_t index) : previous_(SwitchSpace(index)) {}
  ~SpaceVisit() { SwitchSpace(previous_); }
  SpaceVisit(const SpaceVisit&) = delete;
  SpaceVisit& operator=(const SpaceVisit&) = delete;

 private:
  uint32_t previous_;
};

// Releases the copy space however the copy ends.
struct CopySpaceRelease {
  ~CopySpaceRelease() { ReleaseSpace(kCopySpace); }
};

bool IsCopiedClass(uint32_t cls) {
  return cls == kNameVariable || cls == kNameFunction || cls == kNameOperator || cls == kNameNamespace;
}

struct CopiedObject {
  std::u32string name;
  uint32_t nameClass;
};

// The entry of a name in a namespace's tree, found without a lookup (which could rebalance the
// tree, and so write to the space being copied from).
Ref EntryNamed(Ref ns, std::u32string_view name) {
  Ref found = 0;
  ForEachEntry(ns, [&](Ref e) {
    if (!found && EntryName(e) == name) found = e;
  });
  return found;
}

// In the copy space: writes the values of the names asked for (all the names of # when none are)
// to `stream`, in the order of `objects`.
void WriteCopiedObjects(const std::vector<std::u32string>& names, std::vector<CopiedObject>& objects,
                        CopyOutcome& outcome, std::vector<uint8_t>& stream) {
  SpaceVisit visit(kCopySpace);
  TransferWriter writer(AppendTransferBytes, &stream, ThrowCopyFailure);
  writer.WriteRootsAsReferences();
  auto copy = [&](Ref e) {
    objects.push_back({EntryName(e), EntryClass(e)});
    writer.Write(EntryValue(e));
  };
  auto copyable = [](Ref e) { return IsRef(e) && IsCopiedClass(EntryClass(e)) && IsRef(EntryValue(e)); };
  Ref root = RootNamespace();
  if (names.empty()) {
    std::vector<Ref> entries;
    ForEachEntry(root, [&](Ref e) {
      if (copyable(e)) entries.push_back(e);
    });
    for (Ref e : entries) copy(e);
  }
  for (const std::u32string& name : names) {
    Ref e = EntryNamed(root, name);
    if (copyable(e)) copy(e);
    else outcome.notFound.push_back(name);
  }
  writer.Flush();
}

}  // namespace

CopyOutcome CopyWorkspace(const std::string& path, const std::vector<std::u32string>& names, bool protect) {
  CopyOutcome outcome;
  if ((outcome.result = PrepareWorkspaceFile(path, kCopySpace)) != 0) return outcome;
  std::vector<CopiedObject> objects;
  std::vector<uint8_t> stream;
  std::optional<CopyFailure> failure;
  {
    CopySpaceRelease release;
    try {
      WriteCopiedObjects(names, objects, outcome, stream);
    } catch (const CopyFailure& thrown) {
      failure = thrown;
    }
  }
  if (failure) SignalError(failure->errorNumber, failure->messageRow, 0, 0, kUnit, __LINE__);
  TransferCursor cursor{stream.data(), stream.size()};
  TransferReader reader(ReadTransferCursor, &cursor);
  for (const CopiedObject& object : objects) {
    Temporaries hold;
    hold[0] = reader.Read();
    Ref entry = LookupName(object.name, LookupMode::Create);
    if (protect && EntryClass(entry) != kNameUndefined) outcome.notCopied.push_back(object.name);
    else BindTransferredValue(entry, object.nameClass, hold[0]);
  }
  return outcome;
}

static bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> WorkspaceDirectories() {
  std::string list;
  if (const char* configured = ConfigLookup("WSPATH")) {
    list = configured;
  } else {
    const char* install = ConfigLookup("VANTOR");
    std::string directory = install ? install : "/usr/vantor";
    list = ".;" + directory + "/WS;" + directory + "/xflib";
  }
  std::vector<std::string> directories;
  for (size_t start = 0; start <= list.size();) {
    size_t end = std::min(list.find(';', start), list.size());
    std::string directory = list.substr(start, end - start);
    start = end + 1;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    if (!directory.empty()) directories.push_back(directory);
  }
  return directories;
}

std::vector<std::string> FindWorkspaces(std::u32string_view name) {
  std::string file = ToUtf8(WithWorkspaceExtension(std::u32string(name)));
  std::vector<std::string> found;
  if (file.find('/') != std::string::npos) {
    if (IsRegularFile(file)) found.push_back(file);
    return found;
  }
  for (const std::string& directory : WorkspaceDirectories()) {
    std::string candidate = directory + "/" + file;
    if (candidate.size() <= kMaxCandidateLength && IsRegularFile(candidate)) found.push_back(candidate);
  }
  return found;
}

std::optional<std::string> SearchWorkspace(std::u32string_view name) {
  std::vector<std::string> found = FindWorkspaces(name);
  if (found.empty()) return std::nullopt;
  return found.front();
}

void SetWorkspaceInitialiser(void (*initialise)()) { g_workspaceInitialiser = initialise; }

void ClearWorkspace() {
  ForgetWorkspaceState();
  SpaceDescriptor& main = Space(kMainSpace);
  uint32_t limit = main.limitBytes;
  if (!ObtainSpace(kLoadSpace, limit, 0)) SIGNAL(kWsFull);
  AdoptSpace(kLoadSpace, kMainSpace);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  if (g_workspaceInitialiser) g_workspaceInitialiser();
  g_workspaceFile.clear();
}

const std::string& WorkspaceFile() { return g_workspaceFile; }

// The path of a workspace that ⎕LOAD has read and checked into the spare space, waiting for the
// running code to be unwound; empty when none waits. ⎕CLEAR waits in the same way.
static std::string g_pendingLoad;
static bool g_pendingClear = false;

// ⎕LOAD 'name': the workspace is found and read as )LOAD does, and checked; then the running code is
// abandoned (the whole state indicator), and between lines the workspace replaces this one and its
// ⎕LX runs. A workspace that cannot be loaded is DOMAIN ERROR, with this workspace untouched.
static CallResult QuadLOAD(const Ref&, const Ref& right) {
  std::string name = FileNameArgument(right);
  std::optional<std::string> path = SearchWorkspace(FromUtf8(name));
  if (!path) SignalRefusal(-kMessageWorkspaceNotFound);
  if (int refusal = PrepareWorkspaceFile(*path)) SignalRefusal(refusal);
  g_pendingLoad = *path;
  SignalError(kClearStateIndicator, 0, 0, 0, kUnit, __LINE__);
}

// The names a left argument of ⎕CY lists: a character vector of blank-separated names, or a matrix
// with a name in each row.
std::vector<std::u32string> CopyNameList(const Ref& left) {
  if (!IsRef(left) || !IsSimpleCharacterArray(left) || RankOf(TypeWord(left)) > 2) SIGNAL(kDomainError);
  const std::u32string text = CharacterText(left);
  const uint64_t width = RankOf(TypeWord(left)) == 2 ? ShapeOf(left)[1] : text.size();
  std::vector<std::u32string> names;
  for (uint64_t row = 0; row < text.size(); row += std::max<uint64_t>(width, 1)) {
    for (std::u32string_view name : BlankSeparated(std::u32string_view(text).substr(row, width)))
      names.emplace_back(name);
  }
  if (names.empty()) SIGNAL(kDomainError);
  return names;
}

// [names] ⎕CY 'ws': copies objects as )COPY does, without a result. A workspace that cannot be read
// is DOMAIN ERROR with the load-and-save message; so is a name that it does not define, once the
// others have been copied.
static CallResult QuadCY(const Ref& left, const Ref& right) {
  std::vector<std::u32string> names = IsRef(left) ? CopyNameList(left) : std::vector<std::u32string>{};
  std::string name = FileNameArgument(right);
  std::optional<std::string> path = SearchWorkspace(FromUtf8(name));
  if (!path) SignalRefusal(-kMessageWorkspaceNotFound);
  CopyOutcome outcome = CopyWorkspace(*path, names, false);
  if (outcome.result) SignalRefusal(outcome.result);
  if (!outcome.notFound.empty()) SignalRefusal(-kMessageNameNotFound);
  return {0, true};
}

// ---- State checks ----------------------------------------------------------------------------------

namespace {

std::array<StateTestFn, kStateCheckCount> g_stateTests{};

bool ExecutingInSession() { return WithinNamespace(ExecutingNamespace(), SessionNamespace()); }

// A function that was called from code running in ⎕SE is on the stack.
bool SessionInStateIndicator() {
  for (Ref frame = CurrentFrame(); IsRef(frame); frame = FrameBelow(frame)) {
    if (KeepsCaller(frame) && WithinNamespace(NamespaceOf(Words(frame)[kExecCallerNamespace]), SessionNamespace())) return true;
  }
  return false;
}

bool RootReferencedBySession() { return ReachesNamespace(SessionNamespace(), SessionNamespace(), RootNamespace()); }
bool SessionReferencedByRoot() { return ReachesNamespace(RootNamespace(), RootNamespace(), SessionNamespace()); }

}  // namespace

void RegisterStateTest(StateCheck check, StateTestFn holds) { g_stateTests[check] = holds; }

std::optional<StateCheck> FailingStateCheck(uint32_t skipped) {
  for (uint32_t check = 0; check < kStateCheckCount; ++check)
    if (!(skipped >> check & 1) && g_stateTests[check] && g_stateTests[check]()) return static_cast<StateCheck>(check);
  return std::nullopt;
}

std::vector<std::u32string> StateCheckObjects(StateCheck check) {
  std::vector<std::u32string> names;
  if (check != kCheckRootReferencedBySession) return names;
  Ref session = SessionNamespace();
  ForEachEntry(session, [&](Ref e) {
    if (IsRef(EntryValue(e)) && EntryValueCounted(e) && ReachesNamespace(EntryValue(e), session, RootNamespace()))
      names.push_back(U"⎕SE." + EntryName(e));
  });
  return names;
}

// The load-and-save message that gives the reason of each state check.
constexpr int kStateCheckReasons[kStateCheckCount] = {1, 13, 2, 3, 4, 5, 6, 7, 8, 9, 10, 30, 11, 12, 42};

// ⎕CLEAR: the workspace is cleared as )CLEAR clears it once the running code has been abandoned.
// A condition that forbids it is DOMAIN ERROR with its reason.
static Ref QuadCLEAR() {
  constexpr uint32_t kChecked = 1u << kCheckSessionConnection | 1u << kCheckRootReferencedBySession |
                                1u << kCheckExternalCalls | 1u << kCheckExternalisedData;
  if (std::optional<StateCheck> failing = FailingStateCheck(((1u << kStateCheckCount) - 1) & ~kChecked))
    SignalRefusal(-kStateCheckReasons[*failing]);
  g_pendingClear = true;
  SignalError(kClearStateIndicator, 0, 0, 0, kUnit, __LINE__);
}

bool InstallPendingLoad() {
  if (g_pendingClear) {
    g_pendingClear = false;
    ClearWorkspace();
    return false;
  }
  if (g_pendingLoad.empty()) return false;
  std::string path = std::move(g_pendingLoad);
  g_pendingLoad.clear();
  if (!Space(kLoadSpace).inUse) return false;
  InstallWorkspaceFile(path);
  return true;
}

void InitialiseWorkspaceFiles() {
  InstallSystemFunction(U"SAVE", QuadSAVE, nullptr);
  InstallSystemFunction(U"LOAD", QuadLOAD, nullptr);
  InstallSystemFunction(U"CY", QuadCY, QuadCY);
  InstallNiladicFunction(U"CLEAR", QuadCLEAR);
  RegisterStateTest(kCheckInSessionNamespace, ExecutingInSession);
  RegisterStateTest(kCheckSessionInStateIndicator, SessionInStateIndicator);
  RegisterStateTest(kCheckRootReferencedBySession, RootReferencedBySession);
  RegisterStateTest(kCheckSessionReferencedByRoot, SessionReferencedByRoot);
}

std::u32string LoadSaveMessageText(int result) {
  const MessageCategoryInfo& group = kMessageCategories[kCategoryLoadSave];
  uint32_t number = static_cast<uint32_t>(-result);
  if (number == 0 || number > group.count) return U"";
  return std::u32string(kExtendedMessages[group.firstRow + number - 1]);
}

std::u32string TimeText(std::time_t when) {
  char text[64];
  struct tm local;
  localtime_r(&when, &local);
  std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &local);
  return FromUtf8(text);
}

std::u32string SavedLine(const std::string& path) {
  struct stat info;
  std::u32string when = stat(path.c_str(), &info) == 0 ? TimeText(info.st_mtime) : U"";
  return FromUtf8(path) + U" saved " + when;
}

void SetWorkspaceId(std::u32string_view id) {
  std::u32string text(id.substr(0, std::min(id.size(), kMaxWorkspaceIdLength)));
  Temporaries hold;
  hold[0] = MakeText(text);
  AssignSystemVariable(kQuadWSID, hold[0]);
}

}  // namespace vantor
