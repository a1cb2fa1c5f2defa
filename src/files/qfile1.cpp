// The ⎕F functions: argument forms, the tie table, the locks that share a file between processes,
// and the access check. Values go to and come from the file in the transfer form; the file's layout
// and its crash-safe updates are in qfile5.
#include "files/qfile1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "files/qfile5.h"
#include "files/qnfiles.h"
#include "files/zip.h"
#include "base/config.h"
#include "base/platform/regularfile.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/messages.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/partner.h"
#include "memory/pockutil.h"

namespace vantor {

static constexpr char kUnit[] = "qfile1";

#define CF_ERROR(en, text) SIGNAL_MESSAGE_IN(en, kCategoryComponentFiles, text)
#define CF_OS_ERROR(en, text, err) \
  SignalError((en), MessageRow(kCategoryComponentFiles, text), kOsErrorErrno, (err), kUnit, __LINE__)

namespace {

// ---- Permission bits -----------------------------------------------------------------------------

enum Permission : int64_t {
  kMayRead = 1,
  kMayTie = 2,
  kMayErase = 4,
  kMayAppend = 8,
  kMayReplace = 16,
  kMayDrop = 32,
  kMayRename = 128,
  kMayReadInformation = 512,
  kMayResize = 1024,
  kMayHold = 2048,
  kMayReadAccess = 4096,
  kMaySetAccess = 8192,
  kMayReadHistory = 16384,
  kMayCopy = kMayRead | kMayReadInformation | kMayReadAccess,
  kAnyPermission = -1,
};

// ---- Locks ---------------------------------------------------------------------------------------

// Byte ranges far beyond any data: one that a tie holds for its life, one that an operation holds
// for its duration, and one that ⎕FHOLD holds.
constexpr off_t kTieLock = off_t{1} << 62;
constexpr off_t kUpdateLock = kTieLock + 1;
constexpr off_t kHoldLock = kTieLock + 2;

// Takes (F_RDLCK, F_WRLCK) or releases (F_UNLCK) a lock; `wait` blocks until it is granted.
int SetLock(int fd, short type, off_t at, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = at;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// ---- The tie table -------------------------------------------------------------------------------

constexpr size_t kTieSlots = 512;

struct ComponentTie {
  int32_t tie = 0;  // 0 marks a free slot
  uint64_t order = 0;
  FileDescriptor fd;
  std::u32string name;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  bool shared = false;
  bool readOnly = false;
  bool held = false;
  int64_t passnumber = 0;
  bool maskKnown = false;
  uint32_t maskVersion = 0;
  int64_t mask = 0;
  ComponentStore store{-1};
};

std::array<ComponentTie, kTieSlots> g_ties;
uint64_t g_tieOrder = 0;

// What a tie holds back reaches the file when the tie ends, also where no error can be reported
// (⎕FUNTIE writes it first and reports a failure).
void Untie(ComponentTie& t) {
  if (t.tie != 0) t.store.TryFlush();
  t = ComponentTie();
}

void UntieEverything() {
  for (ComponentTie& t : g_ties) Untie(t);
}

// The end of the interpreter unties everything, so held appends are not lost to a normal exit.
struct UntieAtExit {
  ~UntieAtExit() { UntieEverything(); }
} g_untieAtExit;

// At journaling level 3 a new or renamed file's name reaches the disk before the function returns,
// as its updates do.
void SyncNameAtLevel3(const ComponentStore& store, const std::string& path) {
  if (store.kind().journal >= 3) SyncDirectory(DirectoryOf(path));
}

// Only an exclusive tie keeps the file to itself, so only it may hold appends back.
void StartStore(ComponentTie& t) { t.store.HoldAppends(!t.shared && !t.readOnly); }

ComponentTie* FindTie(int64_t tie) {
  for (ComponentTie& t : g_ties)
    if (t.tie != 0 && t.tie == tie) return &t;
  return nullptr;
}

void CheckTieNumber(int64_t tie) {
  if (tie <= 0 || tie > INT32_MAX) CF_ERROR(kDomainError, U"Invalid tie number");
}

ComponentTie& TieOf(int64_t tie) {
  CheckTieNumber(tie);
  ComponentTie* t = FindTie(tie);
  if (!t) CF_ERROR(kFileTieError, U"Tie number not in use");
  return *t;
}

int32_t FirstFreeTieNumber() {
  for (int32_t n = 1;; ++n)
    if (!FindTie(n)) return n;
}

uint32_t CurrentUser() {
  const char* text = ConfigLookup("APLNID");
  if (!text) return 0;
  char* end = nullptr;
  long long n = std::strtoll(text, &end, 10);
  return n > 0 && n <= INT32_MAX ? static_cast<uint32_t>(n) : 0;
}

// ---- Arguments -----------------------------------------------------------------------------------

bool IsSimpleVectorOrScalar(Ref r) {
  return IsArray(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) <= 1;
}

// The integers of a simple numeric scalar or vector of `least` to `most` elements, else the error
// with the message of the argument form.
std::vector<int64_t> IntegersOf(Ref r, size_t least, size_t most, uint32_t formRow) {
  std::vector<int64_t> v;
  if (!IsSimpleVectorOrScalar(r) || IsSimpleCharacterArray(r) || !ReadIntegers(r, v) || v.size() < least ||
      v.size() > most)
    SignalError(kDomainError, formRow, 0, 0, kUnit, __LINE__);
  return v;
}

constexpr uint32_t kTieForm = MessageRow(kCategoryComponentFiles, U"Tie number and optional passnumber expected in right argument");
constexpr uint32_t kComponentForm =
    MessageRow(kCategoryComponentFiles, U"Tie number, component number and optional passnumber expected in right argument");
constexpr uint32_t kCountForm =
    MessageRow(kCategoryComponentFiles, U"Tie number, component count and optional passnumber expected in right argument");
constexpr uint32_t kCreateForm =
    MessageRow(kCategoryComponentFiles, U"Tie number and optional address size expected in right argument");
constexpr uint32_t kNameForm =
    MessageRow(kCategoryComponentFiles, U"Filename and optional file size limit expected in left argument");

struct TieAndPass {
  int64_t tie;
  int64_t passnumber;
};

TieAndPass TieArgument(Ref right) {
  std::vector<int64_t> v = IntegersOf(right, 1, 2, kTieForm);
  return {v[0], v.size() > 1 ? v[1] : 0};
}

uint32_t ComponentNumber(int64_t n) {
  if (n < 0 || n > INT64_C(0xFFFFFFFF)) CF_ERROR(kDomainError, U"Invalid component number");
  return static_cast<uint32_t>(n);
}

std::u32string FileNameOf(Ref name) {
  if (!IsSimpleVectorOrScalar(name) || !IsSimpleCharacterArray(name)) CF_ERROR(kDomainError, U"Invalid filename");
  std::u32string text = CharacterText(name);
  if (text.empty() || text.find(U'\0') != std::u32string::npos) CF_ERROR(kDomainError, U"Invalid filename");
  return WithComponentFileExtension(text);
}

Ref NumberVector(const std::vector<double>& values) {
  Ref r = AllocVector(kFloat64, static_cast<uint32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) DataOf<double>(r)[i] = values[i];
  Narrow(r);
  return r;
}

Ref NumberScalar(double value) {
  Ref r = AllocScalar(kFloat64);
  DataOf<double>(r)[0] = value;
  Narrow(r);
  return r;
}

Ref IntegerMatrix(const std::vector<int64_t>& values, uint32_t columns) {
  uint32_t rows = static_cast<uint32_t>(values.size() / columns);
  Ref r = AllocMatrix(kFloat64, rows, columns);
  for (size_t i = 0; i < values.size(); ++i) DataOf<double>(r)[i] = static_cast<double>(values[i]);
  Narrow(r);
  return r;
}

CallResult Shy(Ref value) { return {value, true}; }

// The value whose transfer form a record holds; a record with no bytes is refused like any other
// stream that is not one value (the reader is not given a null pointer).
Ref ValueOfBytes(const std::vector<uint8_t>& bytes) {
  static const uint8_t kNothing = 0;
  return ValueFromTransferBytes(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
}

// ---- Access --------------------------------------------------------------------------------------

// For shared ties, an operation holds the update lock (shared to read, exclusive to update) and sees
// the header as it is on disk now.
class Operation {
 public:
  Operation(ComponentTie& t, bool update) : t_(t) {
    if (!t.shared) return;
    if (int err = SetLock(t.fd.get(), update ? F_WRLCK : F_RDLCK, kUpdateLock, true))
      CF_OS_ERROR(kFileSystemError, U"Unable to lock file", err);
    locked_ = true;
    t.store.ReadHeader();
  }
  ~Operation() {
    if (locked_) SetLock(t_.fd.get(), F_UNLCK, kUpdateLock, false);
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  ComponentTie& t_;
  bool locked_ = false;
};

// The rows of the access matrix (user, permissions, passnumber).
std::vector<int64_t> AccessRows(ComponentTie& t) {
  std::vector<uint8_t> bytes = t.store.ReadAccessMatrix();
  if (bytes.empty()) return {};
  Temporaries hold;
  hold[0] = ValueOfBytes(bytes);
  std::vector<int64_t> rows;
  Ref m = hold[0];
  if (!IsArray(m) || RankOf(TypeWord(m)) != 2 || ShapeOf(m)[1] != 3 || !ReadIntegers(m, rows))
    CF_ERROR(kFileAccessError, U"File error - invalid value in access matrix");
  return rows;
}

int64_t PermissionMask(ComponentTie& t, uint32_t user, bool owner) {
  if (t.maskKnown && t.maskVersion == t.store.header().accessVersion) return t.mask;
  std::vector<int64_t> rows = AccessRows(t);
  int64_t mask = 0;
  bool matched = false, ownRow = false;
  for (size_t i = 0; i + 2 < rows.size(); i += 3) {
    if (rows[i] == user) ownRow = true;
    if (!matched && rows[i + 2] == t.passnumber && (rows[i] == user || (rows[i] == 0 && !owner))) {
      mask = rows[i + 1];
      matched = true;
    }
  }
  if (!matched && owner && t.passnumber == 0 && !ownRow) mask = -1;
  t.maskKnown = true;
  t.maskVersion = t.store.header().accessVersion;
  t.mask = mask;
  return mask;
}

// Whether the operation that needs `bits` (all of them) may go ahead with `passnumber`.
void CheckAccess(ComponentTie& t, int64_t bits, int64_t passnumber) {
  uint32_t user = CurrentUser();
  if (user == 0) return;
  if (passnumber != t.passnumber) CF_ERROR(kFileAccessError, U"Incorrect passnumber");
  bool owner = OwnerOfWord(t.store.header().owner) == user;
  if (t.store.header().accessAddress == 0) {
    if (owner && passnumber == 0) return;
    CF_ERROR(kFileAccessError, U"Prohibited by access matrix");
  }
  int64_t mask = PermissionMask(t, user, owner);
  bool allowed = bits == kAnyPermission ? mask != 0 : (mask & bits) == bits;
  if (!allowed) CF_ERROR(kFileAccessError, U"Prohibited by access matrix");
}

void CheckWritable(const ComponentTie& t) {
  if (t.readOnly) CF_ERROR(kFileAccessError, U"File opened read-only");
}

void CheckExclusive(const ComponentTie& t) {
  if (t.shared) CF_ERROR(kFileAccessError, U"File must be exclusively tied");
}

// ---- Tying ---------------------------------------------------------------------------------------

ComponentTie& FreeSlot() {
  for (ComponentTie& t : g_ties)
    if (t.tie == 0) return t;
  CF_ERROR(kFileTieQuotaUsedUp, U"Too many tied files");
}

int32_t TieNumberToUse(int64_t tie) {
  if (tie == 0) return FirstFreeTieNumber();
  CheckTieNumber(tie);
  if (FindTie(tie)) CF_ERROR(kFileTieError, U"Tie number in use");
  return static_cast<int32_t>(tie);
}

void CheckNotTiedHere(const struct stat& info) {
  for (const ComponentTie& t : g_ties)
    if (t.tie != 0 && t.device == info.st_dev && t.inode == info.st_ino) CF_ERROR(kFileTied, U"File already tied");
}

// Takes the tie's lock: exclusive for ⎕FTIE, shared for ⎕FSTIE. Another process's tie that
// conflicts makes the file tied elsewhere.
void LockForTie(int fd, bool shared) {
  int err = SetLock(fd, shared ? F_RDLCK : F_WRLCK, kTieLock, false);
  if (err == EAGAIN || err == EACCES) CF_ERROR(kFileTiedRemotely, U"File already tied");
  if (err != 0) CF_OS_ERROR(kFileSystemError, U"Unable to lock file", err);
}

void FillSlot(ComponentTie& slot, int32_t tie, FileDescriptor fd, const std::u32string& name, bool shared,
              bool readOnly, int64_t passnumber) {
  struct stat info {};
  fstat(fd.get(), &info);
  slot.tie = tie;
  slot.order = ++g_tieOrder;
  slot.store = ComponentStore(fd.get());
  slot.fd = std::move(fd);
  slot.name = name;
  slot.path = ToUtf8(name);
  slot.device = info.st_dev;
  slot.inode = info.st_ino;
  slot.shared = shared;
  slot.readOnly = readOnly;
  slot.passnumber = passnumber;
}

struct OpenedFile {
  FileDescriptor fd;
  bool readOnly = false;  // opening for writing was refused
};

// Opens a file for reading and writing (for reading only where writing is refused) and takes the
// tie lock, shared when `sharedLock(readOnly)` says so (it may also refuse the file). A compaction
// elsewhere may put a new file in place between the open and the lock, so the lock is taken again
// until it is on the file that the name stands for.
template <class SharedLock>
OpenedFile OpenAndLock(const std::string& path, SharedLock sharedLock) {
  for (int attempt = 0;; ++attempt) {
    OpenedFile opened;
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
      opened.readOnly = true;
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) CF_OS_ERROR(kFileNameError, U"Unable to open file", errno);
    opened.fd = FileDescriptor(fd);
    struct stat info {}, named {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) CF_ERROR(kFileNameError, U"Not a component file (bad magic number)");
    LockForTie(fd, sharedLock(opened.readOnly));
    if (attempt == 10 || (stat(path.c_str(), &named) == 0 && named.st_dev == info.st_dev && named.st_ino == info.st_ino))
      return opened;
  }
}

int32_t TieFile(const std::u32string& name, const TieAndPass& request, bool shared) {
  ComponentTie& slot = FreeSlot();
  int32_t tie = TieNumberToUse(request.tie);
  std::string path = ToUtf8(name);
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) CheckNotTiedHere(info);
  OpenedFile opened = OpenAndLock(path, [&](bool readOnly) {
    if (!shared && readOnly) CF_ERROR(kFileAccessError, U"Write access required for exclusive tie");
    return shared;
  });
  FileDescriptor owned = std::move(opened.fd);
  const int fd = owned.get();
  const bool readOnly = opened.readOnly;
  // The header is read only once no other process can be part way through an update.
  ComponentStore probe(fd);
  if (shared) {
    if (int err = SetLock(fd, F_RDLCK, kUpdateLock, true)) CF_OS_ERROR(kFileSystemError, U"Unable to lock file", err);
    probe.ReadHeader();
    SetLock(fd, F_UNLCK, kUpdateLock, false);
  } else {
    probe.ReadHeader();
  }
  ComponentTie candidate;
  FillSlot(candidate, tie, std::move(owned), name, shared, readOnly, request.passnumber);
  candidate.store = probe;
  StartStore(candidate);
  CheckAccess(candidate, shared ? kAnyPermission : kMayTie, request.passnumber);
  slot = std::move(candidate);
  return tie;
}

// ---- Creation ------------------------------------------------------------------------------------

bool ConfiguredFlag(const char* name, int defaultValue, int& out) {
  const char* text = ConfigLookup(name);
  out = defaultValue;
  if (text && *text) out = std::atoi(text);
  return true;
}

ComponentFileKind NewFileKind(int span) {
  ComponentFileKind kind;
  kind.span = span;
  int checksum = 1, journal = 1;
  ConfiguredFlag("APL_FCREATE_PROPS_C", 1, checksum);
  ConfiguredFlag("APL_FCREATE_PROPS_J", 1, journal);
  kind.checksum = checksum != 0;
  kind.journal = journal < 0 ? 0 : journal > 3 ? 3 : journal;
  if (kind.journal >= 2 && !kind.checksum) kind.journal = 1;
  return kind;
}

struct CreateName {
  std::u32string name;
  uint64_t sizeLimit = 0;
};

CreateName CreateNameArgument(Ref left) {
  if (IsSimpleVectorOrScalar(left) && IsSimpleCharacterArray(left)) return {FileNameOf(left), 0};
  if (!IsArray(left) || KindOf(TypeWord(left)) != kKindNested || RankOf(TypeWord(left)) != 1 || ElementCount(left) != 2)
    SignalError(kDomainError, kNameForm, 0, 0, kUnit, __LINE__);
  Ref name = DataOf<Ref>(left)[0];
  Ref limit = DataOf<Ref>(left)[1];
  if (!IsRef(name) || !IsSimpleCharacterArray(name)) SignalError(kDomainError, kNameForm, 0, 0, kUnit, __LINE__);
  std::vector<int64_t> v = IntegersOf(limit, 1, 1, kNameForm);
  if (v[0] < 0 || (v[0] != 0 && static_cast<uint64_t>(v[0]) < kSmallestSizeLimit)) CF_ERROR(kFileFull, U"Invalid file size");
  return {FileNameOf(name), static_cast<uint64_t>(v[0])};
}

// Creates a new file (refusing an existing one) and gives its descriptor.
FileDescriptor CreateFileExclusively(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) CF_OS_ERROR(kFileNameError, U"File exists", errno);
  if (fd < 0) CF_OS_ERROR(kFileNameError, U"Unable to create file", errno);
  return FileDescriptor(fd);
}

// name ⎕FCREATE tie (or (name limit) ⎕FCREATE tie span)
CallResult QuadFCREATE(const Ref& left, const Ref& right) {
  std::vector<int64_t> v = IntegersOf(right, 1, 2, kCreateForm);
  int64_t span = v.size() > 1 ? v[1] : 64;
  if (span != 32 && span != 64) CF_ERROR(kDomainError, U"Invalid span size");
  CreateName request = CreateNameArgument(left);
  ComponentTie& slot = FreeSlot();
  int32_t tie = TieNumberToUse(v[0]);
  std::string path = ToUtf8(request.name);
  FileDescriptor fd = CreateFileExclusively(path);
  ComponentTie candidate;
  int raw = fd.get();
  LockForTie(raw, false);
  ComponentStore store(raw);
  try {
    store.CreateEmpty(NewFileKind(static_cast<int>(span)), request.sizeLimit, OwnerWord(CurrentUser()), CurrentUser());
  } catch (...) {
    unlink(path.c_str());
    throw;
  }
  SyncNameAtLevel3(store, path);
  FillSlot(candidate, tie, std::move(fd), request.name, false, false, 0);
  candidate.store = store;
  StartStore(candidate);
  slot = std::move(candidate);
  return Shy(MakeIntScalar(tie));
}

CallResult QuadFTIE(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  return {MakeIntScalar(TieFile(FileNameOf(left), request, false))};
}

CallResult QuadFSTIE(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  return {MakeIntScalar(TieFile(FileNameOf(left), request, true))};
}

// ⎕FUNTIE ties: unties them (non-positive and unused numbers are passed over); an empty argument
// flushes every tied file to disk.
CallResult QuadFUNTIE(const Ref&, const Ref& right) {
  std::vector<int64_t> ties;
  if (!IsSimpleVectorOrScalar(right) || !ReadIntegers(right, ties)) CF_ERROR(kDomainError, U"Invalid tie number");
  if (ties.empty())
    for (ComponentTie& t : g_ties)
      if (t.tie != 0) {
        t.store.Flush();
        fsync(t.fd.get());
      }
  std::vector<double> untied;
  for (int64_t n : ties) {
    if (n <= 0) continue;
    if (ComponentTie* t = FindTie(n)) {
      t->store.Flush();
      Untie(*t);
      untied.push_back(static_cast<double>(n));
    }
  }
  return Shy(NumberVector(untied));
}

// ---- Reading and updating ------------------------------------------------------------------------

Ref ReadValue(ComponentTie& t, uint32_t n) {
  ComponentInfo info;
  std::vector<uint8_t> bytes = t.store.ReadComponent(n, &info);
  if (!info.compressed) return ValueOfBytes(bytes);
  Temporaries hold;
  hold[0] = AllocVector(kInt8, static_cast<uint32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(DataOf<uint8_t>(hold[0]), bytes.data(), bytes.size());
  return Decompress(hold[0], 0, CompressedForm::kSingle);
}

// What a component holds for `value`: its transfer form, compressed (LZ4) in a file with property Z.
std::vector<uint8_t> ComponentBytes(const ComponentTie& t, const Ref& value, bool& compressed) {
  compressed = (t.store.header().propertyFlags & kCompressionProperty) != 0;
  if (!compressed) return TransferBytes(value);
  Temporaries hold;
  hold[0] = Compress(value, kLibraryLz4, CompressedForm::kSingle, -1);
  Ref packed = hold[0];
  if (ElementOf(TypeWord(packed)) == kInt8) {
    const uint8_t* data = DataOf<uint8_t>(packed);
    return std::vector<uint8_t>(data, data + ElementCount(packed));
  }
  std::vector<int64_t> numbers;
  ReadIntegers(packed, numbers);
  return std::vector<uint8_t>(numbers.begin(), numbers.end());
}

// ⎕FREAD tie n (pass), or tie (n1 n2 ...) (pass) for a vector of the components.
CallResult QuadFREAD(const Ref&, const Ref& right) {
  std::vector<int64_t> numbers;
  int64_t tie, passnumber = 0;
  bool several = false;
  if (IsArray(right) && KindOf(TypeWord(right)) == kKindNested && RankOf(TypeWord(right)) == 1 &&
      (ElementCount(right) == 2 || ElementCount(right) == 3)) {
    Ref* items = DataOf<Ref>(right);
    tie = IntegersOf(items[0], 1, 1, kComponentForm)[0];
    numbers = IntegersOf(items[1], 0, SIZE_MAX, kComponentForm);
    several = RankOf(TypeWord(items[1])) == 1;
    if (ElementCount(right) == 3) passnumber = IntegersOf(items[2], 1, 1, kComponentForm)[0];
  } else {
    std::vector<int64_t> v = IntegersOf(right, 2, 3, kComponentForm);
    tie = v[0];
    numbers = {v[1]};
    if (v.size() > 2) passnumber = v[2];
  }
  ComponentTie& t = TieOf(tie);
  Operation op(t, false);
  CheckAccess(t, kMayRead, passnumber);
  std::vector<uint32_t> components;
  for (int64_t n : numbers) components.push_back(ComponentNumber(n));
  if (!several) return {ReadValue(t, components[0])};
  for (uint32_t n : components) t.store.CheckComponentNumber(n);
  return {MakeNested({static_cast<uint32_t>(components.size())}, [&](uint64_t i) { return ReadValue(t, components[i]); })};
}

CallResult QuadFAPPEND(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  CheckWritable(t);
  Operation op(t, true);
  CheckAccess(t, kMayAppend, request.passnumber);
  bool compressed;
  std::vector<uint8_t> bytes = ComponentBytes(t, left, compressed);
  uint32_t n = t.store.Append(bytes, CurrentUser(), compressed);
  return Shy(NumberScalar(n));
}

CallResult QuadFREPLACE(const Ref& left, const Ref& right) {
  std::vector<int64_t> v = IntegersOf(right, 2, 3, kComponentForm);
  ComponentTie& t = TieOf(v[0]);
  CheckWritable(t);
  uint32_t n = ComponentNumber(v[1]);
  Operation op(t, true);
  CheckAccess(t, kMayReplace, v.size() > 2 ? v[2] : 0);
  bool compressed;
  std::vector<uint8_t> bytes = ComponentBytes(t, left, compressed);
  t.store.Replace(n, bytes, CurrentUser(), compressed);
  return Shy(NumberScalar(n));
}

CallResult QuadFDROP(const Ref&, const Ref& right) {
  std::vector<int64_t> v = IntegersOf(right, 2, 3, kCountForm);
  ComponentTie& t = TieOf(v[0]);
  CheckWritable(t);
  if (v[1] < -INT64_C(0xFFFFFFFF) || v[1] > INT64_C(0xFFFFFFFF)) CF_ERROR(kDomainError, U"Invalid component count");
  Operation op(t, true);
  CheckAccess(t, kMayDrop, v.size() > 2 ? v[2] : 0);
  const ComponentFileHeader& h = t.store.header();
  uint64_t first = h.first, next = h.next;
  t.store.Drop(v[1], CurrentUser());
  std::vector<double> dropped;
  uint64_t count = static_cast<uint64_t>(v[1] < 0 ? -v[1] : v[1]);
  uint64_t from = v[1] < 0 ? next - count : first;
  for (uint64_t i = 0; i < count; ++i) dropped.push_back(static_cast<double>(from + i));
  return Shy(NumberVector(dropped));
}

CallResult QuadFSIZE(const Ref&, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  Operation op(t, false);
  CheckAccess(t, kAnyPermission, request.passnumber);
  const ComponentFileHeader& h = t.store.header();
  return {NumberVector({static_cast<double>(h.first), static_cast<double>(h.next), static_cast<double>(h.allocation),
                        static_cast<double>(h.sizeLimit)})};
}

CallResult QuadFRDCI(const Ref&, const Ref& right) {
  std::vector<int64_t> v = IntegersOf(right, 2, 3, kComponentForm);
  ComponentTie& t = TieOf(v[0]);
  uint32_t n = ComponentNumber(v[1]);
  Operation op(t, false);
  CheckAccess(t, kMayReadInformation, v.size() > 2 ? v[2] : 0);
  ComponentInfo info = t.store.ComponentInformation(n);
  return {NumberVector({static_cast<double>(info.bytes), static_cast<double>(info.user), static_cast<double>(info.time)})};
}

// ---- The access matrix ---------------------------------------------------------------------------

CallResult QuadFRDAC(const Ref&, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  Operation op(t, false);
  CheckAccess(t, kMayReadAccess, request.passnumber);
  return {IntegerMatrix(AccessRows(t), 3)};
}

CallResult QuadFSTAC(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  CheckWritable(t);
  std::vector<int64_t> rows;
  uint32_t rank = IsArray(left) ? RankOf(TypeWord(left)) : 99;
  bool shaped = (rank == 2 && ShapeOf(left)[1] == 3) || (rank == 1 && ShapeOf(left)[0] == 3);
  if (!shaped || KindOf(TypeWord(left)) != kKindSimple || IsSimpleCharacterArray(left) || !ReadIntegers(left, rows))
    CF_ERROR(kDomainError, U"Invalid access matrix specification");
  for (int64_t x : rows)
    if (x < INT32_MIN || x > INT32_MAX) CF_ERROR(kDomainError, U"Invalid access matrix specification");
  Operation op(t, true);
  CheckAccess(t, kMaySetAccess, request.passnumber);
  Temporaries hold;
  hold[0] = IntegerMatrix(rows, 3);
  t.store.WriteAccessMatrix(TransferBytes(hold[0]), CurrentUser());
  return Shy(MakeIntScalar(t.tie));
}

// ---- Whole files ---------------------------------------------------------------------------------

CallResult QuadFERASE(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  std::u32string name = FileNameOf(left);
  ComponentTie& t = TieOf(request.tie);
  if (name != t.name) CF_ERROR(kFileNameError, U"File name mismatch");
  CheckExclusive(t);
  CheckWritable(t);
  CheckAccess(t, kMayErase, request.passnumber);
  if (unlink(t.path.c_str()) != 0) CF_OS_ERROR(kFileAccessError, U"Unable to delete file", errno);
  int32_t tie = t.tie;
  Untie(t);
  return Shy(MakeIntScalar(tie));
}

CallResult QuadFRENAME(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  std::u32string name = FileNameOf(left);
  ComponentTie& t = TieOf(request.tie);
  CheckExclusive(t);
  CheckWritable(t);
  CheckAccess(t, kMayRename, request.passnumber);
  std::string path = ToUtf8(name);
  if (path != t.path) {
    if (renameat2(AT_FDCWD, t.path.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno == EEXIST) CF_OS_ERROR(kFileNameError, U"File exists", errno);
      CF_OS_ERROR(kFileNameError, U"Unable to rename file", errno);
    }
    t.name = name;
    t.path = path;
  }
  t.store.RecordEvent(kHistoryRenamed, CurrentUser());
  SyncNameAtLevel3(t.store, path);
  return Shy(MakeIntScalar(t.tie));
}

// Replaces the file at `path` (open as `current`, read through `store`) by a compacted copy of
// it with `kind`: the copy is written beside the file and renamed over it once complete, so a
// failure at any point leaves one or the other. Gives the copy's descriptor, locked exclusively.
// A new file in the directory of `path` that has no name yet (so a kill leaves nothing behind), or
// where the file system cannot do that, one with a temporary name; `temporary` is then that name.
FileDescriptor UnnamedFileBeside(const std::string& path, std::string& temporary) {
  temporary.clear();
  int raw = open(DirectoryOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (raw >= 0) return FileDescriptor(raw);
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) CF_OS_ERROR(kFileSystemError, U"Unable to compact file", errno);
  temporary = path + ".XXXXXX";
  raw = mkstemp(temporary.data());
  if (raw < 0) CF_OS_ERROR(kFileSystemError, U"Unable to compact file", errno);
  return FileDescriptor(raw);
}

// Gives an unnamed file a temporary name beside `path`, for the rename that puts it in place.
std::string NameUnnamedFile(int fd, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (unsigned attempt = 0;; ++attempt) {
    std::string name = path + ".compact" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
    if (errno != EEXIST || attempt > 100) CF_OS_ERROR(kFileSystemError, U"Unable to compact file", errno);
  }
}

// Writes a compacted copy of the file beside it and renames it over the file: a kill before the
// rename leaves the file as it was and no copy (the copy has no name until just before the rename).
FileDescriptor CompactFile(const std::string& path, int current, ComponentStore& store, const ComponentFileKind& kind,
                           bool salvage = false) {
  std::string temporary;
  FileDescriptor fd = UnnamedFileBeside(path, temporary);
  const int raw = fd.get();
  struct stat info {};
  fstat(current, &info);
  fchmod(raw, info.st_mode & 07777);
  try {
    LockForTie(raw, false);
    store.CopyTo(raw, CurrentUser(), kind, salvage);
    if (fsync(raw) != 0) CF_OS_ERROR(kFileSystemError, U"Unable to compact file", errno);
    if (temporary.empty()) temporary = NameUnnamedFile(raw, path);
  } catch (...) {
    if (!temporary.empty()) unlink(temporary.c_str());
    throw;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(temporary.c_str());
    CF_OS_ERROR(kFileSystemError, U"Unable to compact file", err);
  }
  SyncDirectory(DirectoryOf(path));
  return fd;
}

void CompactTiedFile(ComponentTie& t, const ComponentFileKind& kind) {
  t.fd = CompactFile(t.path, t.fd.get(), t.store, kind);
  struct stat info {};
  fstat(t.fd.get(), &info);
  t.device = info.st_dev;
  t.inode = info.st_ino;
  t.store = ComponentStore(t.fd.get());
  t.store.ReadHeader();
  StartStore(t);
  t.maskKnown = false;
}

// (limit) ⎕FRESIZE tie: sets the size limit, or compacts the file when there is no left argument.
CallResult QuadFRESIZE(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  CheckWritable(t);
  std::optional<uint64_t> limit;
  if (left) {
    std::vector<int64_t> v = IntegersOf(left, 1, 1, MessageRow(kCategoryComponentFiles, U"Invalid left argument"));
    if (v[0] < 0 || (v[0] != 0 && static_cast<uint64_t>(v[0]) < kSmallestSizeLimit)) CF_ERROR(kFileFull, U"Invalid file size");
    limit = static_cast<uint64_t>(v[0]);
  }
  Operation op(t, true);
  CheckAccess(t, kMayResize, request.passnumber);
  if (limit) {
    t.store.SetSizeLimit(*limit, CurrentUser());
  } else {
    CheckExclusive(t);
    t.store.RecordEvent(kHistoryProperties, CurrentUser());
    CompactTiedFile(t, t.store.kind());
  }
  return Shy(MakeIntScalar(t.tie));
}

CallResult QuadFCOPY(const Ref& left, const Ref& right) {
  TieAndPass request = TieArgument(right);
  std::u32string name = FileNameOf(left);
  ComponentTie& t = TieOf(request.tie);
  ComponentTie& slot = FreeSlot();
  int32_t tie = FirstFreeTieNumber();
  Operation op(t, false);
  CheckAccess(t, kMayCopy, request.passnumber);
  std::string path = ToUtf8(name);
  FileDescriptor fd = CreateFileExclusively(path);
  ComponentTie candidate;
  try {
    LockForTie(fd.get(), false);
    t.store.CopyTo(fd.get(), CurrentUser(), t.store.kind());
  } catch (...) {
    unlink(path.c_str());
    throw;
  }
  FillSlot(candidate, tie, std::move(fd), name, false, false, 0);
  candidate.store.ReadHeader();
  StartStore(candidate);
  slot = std::move(candidate);
  return {MakeIntScalar(tie)};
}

// ---- Holds ---------------------------------------------------------------------------------------

void ReleaseHolds() {
  for (ComponentTie& t : g_ties)
    if (t.tie != 0 && t.held) {
      SetLock(t.fd.get(), F_UNLCK, kHoldLock, false);
      t.held = false;
    }
}

CallResult QuadFHOLD(const Ref&, const Ref& right) {
  constexpr uint32_t form = MessageRow(kCategoryComponentFiles,
                                       U"Tie numbers or two-row matrix of tie numbers and passnumbers expected in right argument");
  std::vector<int64_t> v;
  bool matrix = IsArray(right) && RankOf(TypeWord(right)) == 2;
  if (!IsArray(right) || KindOf(TypeWord(right)) != kKindSimple || RankOf(TypeWord(right)) > 2 ||
      (ElementCount(right) > 0 && IsSimpleCharacterArray(right)) || !ReadIntegers(right, v) ||
      (matrix && ShapeOf(right)[0] != 2))
    SignalError(kDomainError, form, 0, 0, kUnit, __LINE__);
  size_t count = matrix ? ShapeOf(right)[1] : v.size();
  std::vector<std::pair<ComponentTie*, int64_t>> wanted;
  for (size_t i = 0; i < count; ++i) {
    ComponentTie& t = TieOf(v[i]);
    wanted.push_back({&t, matrix ? v[count + i] : 0});
  }
  ReleaseHolds();
  for (auto& [t, passnumber] : wanted) CheckAccess(*t, kMayHold, passnumber);
  std::vector<double> held;
  for (auto& [t, passnumber] : wanted) {
    if (!t->held) {
      if (int err = SetLock(t->fd.get(), F_WRLCK, kHoldLock, true)) {
        ReleaseHolds();
        CF_OS_ERROR(kFileSystemError, U"Unable to lock file", err);
      }
      t->held = true;
    }
    held.push_back(static_cast<double>(t->tie));
  }
  return Shy(NumberVector(held));
}

// ---- Properties and history ----------------------------------------------------------------------

int64_t PropertyValue(const ComponentStore& store, char32_t letter) {
  const ComponentFileKind& k = store.kind();
  switch (letter) {
    case U'B': return k.transactions;
    case U'C': return k.checksum;
    case U'E': return store.swapped();
    case U'J': return k.journal;
    case U'S': return k.span;
    case U'U': return k.span == 64 && (store.header().architecture & kUnicodeArchitecture) != 0;
    case U'Z': return store.header().propertyFlags & 1;
    default: CF_ERROR(kDomainError, U"Invalid property name");
  }
}

struct PropertySetting {
  char32_t letter;
  int64_t value;
};

// The letters asked for, or the settings given: 'CJ', ('J' 1), or (('J' 1) ('C' 1)).
bool ReadPropertyRequest(Ref left, std::u32string& letters, std::vector<PropertySetting>& settings) {
  if (IsSimpleVectorOrScalar(left) && IsSimpleCharacterArray(left)) {
    letters = CharacterText(left);
    return false;
  }
  constexpr uint32_t form =
      MessageRow(kCategoryComponentFiles, U"Property name(s) or name/value pair(s) expected in left argument");
  auto pair = [&](Ref item) {
    if (!IsArray(item) || KindOf(TypeWord(item)) != kKindNested || RankOf(TypeWord(item)) != 1 || ElementCount(item) != 2)
      SignalError(kDomainError, form, 0, 0, kUnit, __LINE__);
    Ref name = DataOf<Ref>(item)[0];
    Ref value = DataOf<Ref>(item)[1];
    if (!IsRef(name) || !IsSimpleCharacterArray(name) || ElementCount(name) != 1) SignalError(kDomainError, form, 0, 0, kUnit, __LINE__);
    std::vector<int64_t> v = IntegersOf(value, 1, 1, MessageRow(kCategoryComponentFiles, U"Invalid property value"));
    settings.push_back({CharacterText(name)[0], v[0]});
  };
  if (!IsArray(left) || KindOf(TypeWord(left)) != kKindNested || RankOf(TypeWord(left)) != 1)
    SignalError(kDomainError, form, 0, 0, kUnit, __LINE__);
  Ref first = DataOf<Ref>(left)[0];
  if (IsRef(first) && IsSimpleCharacterArray(first)) pair(left);
  else
    for (uint64_t i = 0; i < ElementCount(left); ++i) pair(DataOf<Ref>(left)[i]);
  for (const PropertySetting& s : settings) letters.push_back(s.letter);
  return true;
}

ComponentFileKind KindWithSettings(const ComponentStore& store, const std::vector<PropertySetting>& settings) {
  ComponentFileKind kind = store.kind();
  std::u32string seen;
  for (const PropertySetting& s : settings) {
    if (seen.find(s.letter) != std::u32string::npos) CF_ERROR(kDomainError, U"Duplicated property setting");
    seen.push_back(s.letter);
    bool flag = s.value == 0 || s.value == 1;
    switch (s.letter) {
      case U'B': if (!flag) CF_ERROR(kDomainError, U"Invalid property value"); kind.transactions = s.value; break;
      case U'C': if (!flag) CF_ERROR(kDomainError, U"Invalid checksumming level"); kind.checksum = s.value; break;
      case U'J': if (s.value < 0 || s.value > 3) CF_ERROR(kDomainError, U"Invalid journaling level"); kind.journal = static_cast<int>(s.value); break;
      case U'U':
        // Only the large span records it; a small-span file is never marked.
        if (!flag || (s.value && kind.span != 64)) CF_ERROR(kDomainError, U"Invalid property value");
        break;
      case U'Z':
        if (!flag) CF_ERROR(kDomainError, U"Invalid property value");
        // The flag lives in the area after the fixed header, which only large-span files with
        // checksums or journaling have.
        if (s.value != 0 && (kind.span != 64 || (!kind.checksum && kind.journal == 0)))
          CF_ERROR(kDomainError, U"File type does not allow compression to be set");
        break;
      case U'E': case U'S': CF_ERROR(kDomainError, U"Invalid property name");
      default: CF_ERROR(kDomainError, U"Invalid property name");
    }
  }
  if (kind.journal >= 2 && !kind.checksum) CF_ERROR(kDomainError, U"Selected journaling level requires checksumming");
  if ((store.header().propertyFlags & kCompressionProperty) && !kind.checksum && kind.journal == 0 &&
      !std::any_of(settings.begin(), settings.end(), [](const PropertySetting& s) { return s.letter == U'Z' && s.value == 0; }))
    CF_ERROR(kDomainError, U"Invalid file type whilst compression is set");
  if (kind.transactions && (kind.span != 64 || !kind.checksum || kind.journal == 0))
    CF_ERROR(kDomainError, U"Transactioning only supported in 64-bit, journaled and checksummed component files");
  return kind;
}

bool SameHeaderSize(const ComponentFileKind& a, const ComponentFileKind& b) {
  return (a.checksum || a.journal) == (b.checksum || b.journal);
}

CallResult QuadFPROPS(const Ref& left, const Ref& right) {
  std::u32string letters;
  std::vector<PropertySetting> settings;
  bool setting = ReadPropertyRequest(left, letters, settings);
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  if (setting) CheckWritable(t);
  Operation op(t, setting);
  CheckAccess(t, setting ? kMaySetAccess : kMayRead, request.passnumber);
  std::vector<int64_t> values;
  for (char32_t c : letters) values.push_back(PropertyValue(t.store, c));
  if (setting) {
    ComponentFileKind kind = KindWithSettings(t.store, settings);
    uint32_t flags = t.store.header().propertyFlags;
    for (const PropertySetting& s : settings)
      if (s.letter == U'Z') flags = s.value ? flags | kCompressionProperty : flags & ~kCompressionProperty;
    if (SameHeaderSize(kind, t.store.kind()) && kind.checksum == t.store.kind().checksum) {
      t.store.SetKind(kind, CurrentUser());
    } else {
      if (t.shared) CF_ERROR(kFileAccessError, U"File must be exclusively tied to adjust file header structure");
      CompactTiedFile(t, kind);
      t.store.RecordEvent(kHistoryProperties, CurrentUser());
    }
    if (flags != t.store.header().propertyFlags) t.store.SetPropertyFlags(flags, CurrentUser());
    uint8_t architecture = t.store.header().architecture;
    for (const PropertySetting& s : settings)
      if (s.letter == U'U') architecture = s.value ? architecture | kUnicodeArchitecture : architecture & ~kUnicodeArchitecture;
    if (architecture != t.store.header().architecture) t.store.SetArchitecture(architecture, CurrentUser());
  }
  if (IsSimpleVectorOrScalar(left) && RankOf(TypeWord(left)) == 0) return {NumberScalar(static_cast<double>(values[0]))};
  Ref r = NumberVector(std::vector<double>(values.begin(), values.end()));
  return setting ? Shy(r) : CallResult{r};
}

CallResult QuadFHIST(const Ref&, const Ref& right) {
  TieAndPass request = TieArgument(right);
  ComponentTie& t = TieOf(request.tie);
  Operation op(t, false);
  CheckAccess(t, kMayReadHistory, request.passnumber);
  std::vector<int64_t> rows;
  for (const HistoryEntry& e : t.store.header().history) {
    rows.push_back(e.user);
    rows.push_back(static_cast<int64_t>(e.time));
  }
  return {IntegerMatrix(rows, 2)};
}

// The options of ⎕FCHK: words in a character vector (blank-separated) or a vector of words.
struct CheckOptions {
  bool validate = false;    // report only; the file is not changed
  bool concurrent = false;  // others may go on reading while it is checked (validation only)
  bool checksums = false;   // the check is by checksum, which the file must have
};

CheckOptions CheckOptionsOf(Ref left) {
  CheckOptions options;
  if (!left) return options;
  std::vector<std::u32string> words;
  auto split = [&](const std::u32string& text) {
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find(U' ', at);
      if (end == std::u32string::npos) end = text.size();
      if (end > at) words.push_back(text.substr(at, end - at));
      at = end + 1;
    }
  };
  if (IsSimpleVectorOrScalar(left) && (ElementCount(left) == 0 || IsSimpleCharacterArray(left))) {
    split(ElementCount(left) ? CharacterText(left) : U"");
  } else if (IsArray(left) && KindOf(TypeWord(left)) == kKindNested && RankOf(TypeWord(left)) == 1) {
    for (uint64_t i = 0; i < ElementCount(left); ++i) {
      Ref word = DataOf<Ref>(left)[i];
      if (!IsRef(word) || !IsSimpleCharacterArray(word) || RankOf(TypeWord(word)) > 1) CF_ERROR(kDomainError, U"Invalid option");
      words.push_back(CharacterText(word));
    }
  } else {
    CF_ERROR(kDomainError, U"Invalid option");
  }
  std::vector<std::u32string> seen;
  for (const std::u32string& w : words) {
    if (std::find(seen.begin(), seen.end(), w) != seen.end()) CF_ERROR(kDomainError, U"Duplicated option");
    seen.push_back(w);
    if (w == U"validate") options.validate = true;
    else if (w == U"concurrent") options.concurrent = true;
    else if (w == U"checksums") options.checksums = true;
    else CF_ERROR(kDomainError, U"Invalid option");
  }
  if (options.concurrent && !options.validate) CF_ERROR(kDomainError, U"The 'concurrent' option may only be used for validation");
  return options;
}

// (options) ⎕FCHK name: the numbers of the components that cannot be read back intact. The file
// must not be tied in this process; other processes are kept out while it is checked (with
// 'concurrent', only writers are). A file cut short is checked too: what is gone is damage. Unless
// told only to validate, the file is then rebuilt: the components that read back intact are copied,
// a damaged one keeps its record as it is (so it stays reported, never read as data) or, when not
// even its place in the file can be read, an empty index entry; index and free space are new.
CallResult QuadFCHK(const Ref& left, const Ref& right) {
  CheckOptions options = CheckOptionsOf(left);
  std::u32string name = FileNameOf(right);
  std::string path = ToUtf8(name);
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) CheckNotTiedHere(info);
  OpenedFile opened = OpenAndLock(path, [&](bool readOnly) { return readOnly || options.concurrent; });
  const int raw = opened.fd.get();
  const bool readOnly = opened.readOnly;
  // Beside shared ties, the check sees the file between their updates.
  if (options.concurrent)
    if (int err = SetLock(raw, F_RDLCK, kUpdateLock, true)) CF_OS_ERROR(kFileSystemError, U"Unable to lock file", err);
  ComponentStore store(raw);
  store.ReadHeader(true);
  if (options.checksums && !store.kind().checksum) CF_ERROR(kFileAccessError, U"File not checksummed");
  std::vector<uint32_t> damaged = store.DamagedComponents();
  if (!options.validate && !readOnly) CompactFile(path, raw, store, store.kind(), true);
  return {NumberVector(std::vector<double>(damaged.begin(), damaged.end()))};
}

}  // namespace

std::vector<TiedComponentFile> TiedComponentFiles() {
  std::vector<const ComponentTie*> tied;
  for (const ComponentTie& t : g_ties)
    if (t.tie != 0) tied.push_back(&t);
  std::sort(tied.begin(), tied.end(), [](const ComponentTie* a, const ComponentTie* b) { return a->order < b->order; });
  std::vector<TiedComponentFile> out;
  for (const ComponentTie* t : tied) out.push_back({t->tie, t->name});
  return out;
}

std::u32string WithComponentFileExtension(std::u32string_view name) {
  size_t slash = name.rfind(U'/');
  size_t dot = name.rfind(U'.');
  if (dot != std::u32string_view::npos && (slash == std::u32string_view::npos || dot > slash)) return std::u32string(name);
  return std::u32string(name) + U".vcf";
}

void InitialiseComponentFiles() {
  UntieEverything();
  RegisterWorkspaceForgetter(UntieEverything);
  InstallSystemFunction(U"FCREATE", nullptr, QuadFCREATE);
  InstallSystemFunction(U"FTIE", nullptr, QuadFTIE);
  InstallSystemFunction(U"FSTIE", nullptr, QuadFSTIE);
  InstallSystemFunction(U"FUNTIE", QuadFUNTIE, nullptr);
  InstallSystemFunction(U"FREAD", QuadFREAD, nullptr);
  InstallSystemFunction(U"FAPPEND", nullptr, QuadFAPPEND);
  InstallSystemFunction(U"FREPLACE", nullptr, QuadFREPLACE);
  InstallSystemFunction(U"FDROP", QuadFDROP, nullptr);
  InstallSystemFunction(U"FSIZE", QuadFSIZE, nullptr);
  InstallSystemFunction(U"FRDCI", QuadFRDCI, nullptr);
  InstallSystemFunction(U"FRDAC", QuadFRDAC, nullptr);
  InstallSystemFunction(U"FSTAC", nullptr, QuadFSTAC);
  InstallSystemFunction(U"FERASE", nullptr, QuadFERASE);
  InstallSystemFunction(U"FRENAME", nullptr, QuadFRENAME);
  InstallSystemFunction(U"FRESIZE", QuadFRESIZE, QuadFRESIZE);
  InstallSystemFunction(U"FCOPY", nullptr, QuadFCOPY);
  InstallSystemFunction(U"FHOLD", QuadFHOLD, nullptr);
  InstallSystemFunction(U"FPROPS", nullptr, QuadFPROPS);
  InstallSystemFunction(U"FHIST", QuadFHIST, nullptr);
  InstallSystemFunction(U"FCHK", QuadFCHK, QuadFCHK);
}

}  // namespace vantor
