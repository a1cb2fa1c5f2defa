// The component file on disk. New records and index blocks always go beyond the committed end (the
// allocation address in the header), so until the header that mentions them is written they are
// invisible; the header fits in the first sector and is written with one call, which makes it the
// commit point. Space given up by replaced and dropped components is reused through the free-space
// table; compaction gives back the rest.
#include "files/qfile5.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "files/qnfiles.h"
#include "base/messages.h"
#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "qfile5";

#define CF_ERROR(en, text) Fail((en), MessageRow(kCategoryComponentFiles, text), __LINE__)
#define CF_OS_ERROR(text, err) \
  SignalFileSystemError(MessageRow(kCategoryComponentFiles, text), (err), kUnit, __LINE__)

namespace {

struct TypeRow {
  uint8_t type;
  ComponentFileKind kind;
};

constexpr TypeRow kTypes[] = {
    {1, {32, false, 0, false}},  {9, {64, false, 0, false}},  {11, {32, false, 1, false}},
    {12, {64, false, 1, false}}, {13, {32, true, 1, false}},  {14, {64, true, 1, false}},
    {15, {32, true, 2, false}},  {16, {64, true, 2, false}},  {17, {32, true, 3, false}},
    {18, {64, true, 3, false}},  {19, {32, true, 0, false}},  {20, {64, true, 0, false}},
    {22, {64, true, 1, true}},   {23, {64, true, 2, true}},   {24, {64, true, 3, true}},
};

constexpr uint32_t kIndexEntries = 16;
constexpr uint8_t kMaxDepth = 8;  // 16⁸ = 2³² positions
constexpr uint8_t kChecksumFlag = 1;    // in a component header: a CRC-32 follows the data
constexpr uint8_t kCompressedFlag = 2;  // in a 64-bit component header: the data is compressed
constexpr uint32_t kChecksumBytes = 4;
constexpr uint64_t kFirstRecordRead = 4096;  // bytes of a record read with its header
constexpr uint64_t kWindowBytes = 65536;      // read ahead for small reads of an exclusive tie
constexpr uint64_t kMostHeldBytes = 1 << 20;  // held appends are written once they reach this

}  // namespace

// Field offsets and record sizes of one span.
struct ComponentStore::Layout {
  bool wide;
  uint64_t fixedHeader, fullHeader, indexBlock, componentHeader;
  uint32_t first, next, root, access, version, allocation1, allocation2, limit, reserved, owner;
  uint32_t history, propertyFlags, headerChecksum, freeTable;
};

namespace {

constexpr ComponentStore::Layout kSmall{false, 52, 144, 64, 12, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 116, 120, 112};
constexpr ComponentStore::Layout kLarge{true, 72, 256, 128, 24, 12, 16, 24, 32, 20, 40, 48, 56, 64, 68, 72, 200, 204, 136};
constexpr uint32_t kFreeTableNumber = 0xFFFFFFFFu;  // the number a free table's checksum is seeded with
constexpr size_t kMostFreeExtents = 4096;

}  // namespace

std::optional<ComponentFileKind> KindOfFileType(uint8_t type) {
  for (const TypeRow& row : kTypes)
    if (row.type == type) return row.kind;
  return std::nullopt;
}

uint8_t FileTypeOfKind(const ComponentFileKind& kind) {
  for (const TypeRow& row : kTypes)
    if (row.kind.span == kind.span && row.kind.checksum == kind.checksum && row.kind.journal == kind.journal &&
        row.kind.transactions == kind.transactions)
      return row.type;
  return 0;
}

uint64_t SixtiethsNow() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) * 60 / 1000;
}

uint32_t OwnerWord(uint32_t user) { return user == 0 ? 0xFFFFFFF0u | 13u : user * 16 + 13; }
uint32_t OwnerOfWord(uint32_t word) { return (word >> 4) == 0x0FFFFFFFu ? 0 : word >> 4; }

// ---- Raw access ----------------------------------------------------------------------------------

void ComponentStore::Fail(uint32_t errorNumber, uint32_t messageRow, int line) const {
  if (quiet_) throw DamageFound{};
  SignalError(errorNumber, messageRow, 0, 0, kUnit, line);
}

const ComponentStore::Layout& ComponentStore::layout() const { return kind_.span == 32 ? kSmall : kLarge; }

uint64_t ComponentStore::HeaderBytes() const {
  return kind_.checksum || kind_.journal ? layout().fullHeader : layout().fixedHeader;
}

uint64_t ComponentStore::Word(const uint8_t* at, bool wide) const {
  uint64_t v = 0;
  if (wide) {
    std::memcpy(&v, at, 8);
    if (swapped_) v = __builtin_bswap64(v);
  } else {
    uint32_t w;
    std::memcpy(&w, at, 4);
    v = swapped_ ? __builtin_bswap32(w) : w;
  }
  return v;
}

void ComponentStore::PutWord(uint8_t* at, uint64_t value, bool wide) const {
  if (wide) {
    if (swapped_) value = __builtin_bswap64(value);
    std::memcpy(at, &value, 8);
  } else {
    uint32_t w = static_cast<uint32_t>(value);
    if (swapped_) w = __builtin_bswap32(w);
    std::memcpy(at, &w, 4);
  }
}

// Reads `length` bytes at `at`: what the held tail covers comes from it, small reads of an
// exclusively tied file from the window read ahead, the rest from the file.
void ComponentStore::ReadExactly(void* buffer, uint64_t length, uint64_t at, uint32_t damagedRow) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t tailEnd = tailStart_ + tail_.size();
  if (!tail_.empty() && at + length > tailStart_) {
    uint64_t from = std::max(at, tailStart_);
    if (at + length > tailEnd) Fail(kFileDamaged, damagedRow, __LINE__);
    std::memcpy(out + (from - at), tail_.data() + (from - tailStart_), at + length - from);
    length = from - at;
  }
  if (length == 0) return;
  if (holdWrites_ && length <= kWindowBytes / 2) {
    if (at < windowStart_ || at + length > windowStart_ + window_.size()) {
      window_.resize(kWindowBytes);
      ssize_t got;
      do got = pread(fd_, window_.data(), window_.size(), static_cast<off_t>(at));
      while (got < 0 && errno == EINTR);
      if (got < 0) CF_OS_ERROR(U"Unable to read expected data", errno);
      window_.resize(static_cast<size_t>(got));
      windowStart_ = at;
    }
    if (at >= windowStart_ && at + length <= windowStart_ + window_.size()) {
      std::memcpy(out, window_.data() + (at - windowStart_), length);
      return;
    }
  }
  while (length > 0) {
    ssize_t got = pread(fd_, out, length, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) CF_OS_ERROR(U"Unable to read expected data", errno);
    if (got == 0) Fail(kFileDamaged, damagedRow, __LINE__);
    out += got;
    at += static_cast<uint64_t>(got);
    length -= static_cast<uint64_t>(got);
  }
}

// Writes everything of `length` bytes at `at`; 0 or the error number.
int ComponentStore::WriteToFile(const uint8_t* in, uint64_t length, uint64_t at) noexcept {
  while (length > 0) {
    ssize_t put = pwrite(fd_, in, length, static_cast<off_t>(at));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return put < 0 ? errno : ENOSPC;
    in += put;
    at += static_cast<uint64_t>(put);
    length -= static_cast<uint64_t>(put);
  }
  return 0;
}

void ComponentStore::WriteExactly(const void* buffer, uint64_t length, uint64_t at) {
  ForgetIndexBlocks(at, length);
  if (at < windowStart_ + window_.size() && at + length > windowStart_) window_.clear();
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  const uint64_t fileEnd = physicalSize_;  // the tail's end when there is one
  physicalSize_ = std::max(physicalSize_, at + length);
  if (holding_) {
    if (tail_.empty()) tailStart_ = fileEnd;
    if (at >= tailStart_) {
      // At or past the end of the file: into the tail (a gap, which only a failed update leaves,
      // is zeros).
      if (at + length > tailStart_ + tail_.size()) tail_.resize(at + length - tailStart_);
      std::memcpy(tail_.data() + (at - tailStart_), in, length);
      return;
    }
  }
  if (!tail_.empty() && at + length > tailStart_) WriteTail();
  if (int err = WriteToFile(in, length, at)) CF_OS_ERROR(U"Unable to write component data", err);
}

int ComponentStore::TryWriteTail() noexcept {
  if (tail_.empty()) return 0;
  int err = WriteToFile(tail_.data(), tail_.size(), tailStart_);
  if (err != 0) return err;
  if (tailStart_ < windowStart_ + window_.size()) window_.clear();  // it may hold what lay there before
  tail_.clear();
  // Space reserved beyond the end is given back (where the file system keeps it past the end).
  if (reservedEnd_ > physicalSize_ && ftruncate(fd_, static_cast<off_t>(physicalSize_)) == 0) reservedEnd_ = 0;
  return 0;
}

// Held records must be sure to reach the file: the disk space under the tail is reserved first,
// within the process's file size limit. False where it cannot be (the tail is then written).
bool ComponentStore::ReserveTail() {
  const uint64_t end = tailStart_ + tail_.size();
  if (end <= reservedEnd_) return true;
  const uint64_t from = std::max(reservedEnd_, tailStart_), to = end + kMostHeldBytes;
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && to > limit.rlim_cur) return false;
  if (fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from), static_cast<off_t>(to - from)) != 0) return false;
  reservedEnd_ = to;
  return true;
}

// After an update: what it left in the tail beyond the committed end is dropped (a failed update
// leaves nothing that a later write could carry into the file).
void ComponentStore::DropUncommittedTail() noexcept {
  holding_ = false;
  if (tail_.empty()) return;
  const uint64_t keep = header_.allocation > tailStart_ ? std::min<uint64_t>(tail_.size(), header_.allocation - tailStart_) : 0;
  tail_.resize(keep);
  physicalSize_ = tailStart_ + keep;
}

void ComponentStore::WriteTail() {
  if (int err = TryWriteTail()) CF_OS_ERROR(U"Unable to write component data", err);
}

int ComponentStore::TryFlush() noexcept {
  if (int err = TryWriteTail()) return err;
  if (!headerPending_) return 0;
  int err = WriteToFile(lastHeader_.data(), lastHeader_.size(), 0);
  if (err == 0) headerPending_ = false;
  return err;
}

void ComponentStore::Flush() {
  if (int err = TryFlush()) CF_OS_ERROR(U"Unable to write component data", err);
}

void ComponentStore::HoldAppends(bool on) {
  if (!on) Flush();
  holdWrites_ = on;
  window_.clear();
}

// The order of the writes of an update is what keeps a file whole when the process dies: that
// holds from journaling level 1 up. From level 2 what an update writes reaches the disk before the
// header that commits it, so that a failure of the whole system leaves a state the file had: at
// level 2 the last updates may be lost (a commit reaches the disk with the next update's flush),
// at level 3 an update is on the disk when it returns.
void ComponentStore::Sync() {
  if (kind_.journal < 2) return;
  WriteTail();
  if (fdatasync(fd_) != 0) CF_OS_ERROR(U"Unable to write journal", errno);
  commitUnsynced_ = unsyncedCommitFreed_ = false;
}

// At level 2 an update must not reuse space that a commit not yet on the disk gave up: after a
// system failure the state before that commit, which still uses the space, may be what is found.
void ComponentStore::SyncCommitBeforeReuse() {
  if (commitUnsynced_ && unsyncedCommitFreed_) Sync();
}

// ---- The header ----------------------------------------------------------------------------------

void ComponentStore::EncodeHeader(std::vector<uint8_t>& out) const {
  const Layout& l = layout();
  out.assign(HeaderBytes(), 0);
  out[0] = kComponentFileMagic;
  out[1] = header_.type;
  out[2] = header_.format;
  out[5] = header_.flags;
  out[6] = header_.architecture;
  out[7] = header_.depth;
  PutWord(&out[8], 1, false);
  PutWord(&out[l.first], header_.first, false);
  PutWord(&out[l.next], header_.next, false);
  PutWord(&out[l.root], header_.root, l.wide);
  PutWord(&out[l.access], header_.accessAddress, l.wide);
  PutWord(&out[l.version], header_.accessVersion, false);
  PutWord(&out[l.allocation1], header_.allocation, l.wide);
  PutWord(&out[l.allocation2], header_.allocation, l.wide);
  PutWord(&out[l.limit], header_.sizeLimit, l.wide);
  PutWord(&out[l.reserved], header_.reserved, false);
  PutWord(&out[l.owner], header_.owner, false);
  if (out.size() < l.fullHeader) return;
  for (int e = 0; e < kHistoryEvents; ++e) {
    PutWord(&out[l.history + 12 * e], header_.history[e].user, false);
    PutWord(&out[l.history + 12 * e + 4], header_.history[e].time, true);
  }
  PutWord(&out[l.propertyFlags], header_.propertyFlags, false);
  PutWord(&out[l.freeTable], header_.freeTable, l.wide);
  if (kind_.checksum) PutWord(&out[l.headerChecksum], crc32_z(0, out.data(), out.size()), false);
}

void ComponentStore::DecodeHeader(const std::vector<uint8_t>& b) {
  const Layout& l = layout();
  header_.type = b[1];
  header_.format = b[2];
  header_.flags = b[5];
  header_.architecture = b[6];
  header_.depth = b[7];
  header_.first = static_cast<uint32_t>(Word(&b[l.first], false));
  header_.next = static_cast<uint32_t>(Word(&b[l.next], false));
  header_.root = Word(&b[l.root], l.wide);
  header_.accessAddress = Word(&b[l.access], l.wide);
  header_.accessVersion = static_cast<uint32_t>(Word(&b[l.version], false));
  header_.allocation = Word(&b[l.allocation1], l.wide);
  header_.sizeLimit = Word(&b[l.limit], l.wide);
  header_.reserved = static_cast<uint32_t>(Word(&b[l.reserved], false));
  header_.owner = static_cast<uint32_t>(Word(&b[l.owner], false));
  header_.propertyFlags = 0;
  header_.freeTable = 0;
  for (HistoryEntry& e : header_.history) e = HistoryEntry();
  if (b.size() < l.fullHeader) return;
  for (int e = 0; e < kHistoryEvents; ++e) {
    header_.history[e].user = static_cast<uint32_t>(Word(&b[l.history + 12 * e], false));
    header_.history[e].time = Word(&b[l.history + 12 * e + 4], true);
  }
  header_.propertyFlags = static_cast<uint32_t>(Word(&b[l.propertyFlags], false));
  header_.freeTable = Word(&b[l.freeTable], l.wide);
}

// The commit point of every update: the whole header in one write.
// While appends are held the header waits in memory behind the tail; the tail is written first, so
// the header on disk never names what is not there.
void ComponentStore::CommitHeader() {
  std::vector<uint8_t> bytes;
  EncodeHeader(bytes);
  lastHeader_ = std::move(bytes);
  if (holding_ && DefersCommit()) {
    headerPending_ = true;
    return;
  }
  WriteTail();
  WriteExactly(lastHeader_.data(), lastHeader_.size(), 0);
  headerPending_ = false;
  if (kind_.journal >= 3) return Sync();
  if (kind_.journal == 2) {
    commitUnsynced_ = true;
    unsyncedCommitFreed_ = unsyncedCommitFreed_ || updateFreed_;
  }
}

void ComponentStore::CreateEmpty(const ComponentFileKind& kind, uint64_t sizeLimit, uint32_t owner, uint32_t user) {
  kind_ = kind;
  swapped_ = false;
  header_ = ComponentFileHeader();
  header_.type = kNascentFileType;
  header_.owner = owner;
  header_.sizeLimit = sizeLimit;
  header_.allocation = HeaderBytes();
  header_.history[kHistoryCreated] = {user, SixtiethsNow()};
  CommitHeader();
  header_.type = FileTypeOfKind(kind);
  CommitHeader();
  physicalSize_ = header_.allocation;
}

void ComponentStore::ReadHeader(bool salvage) {
  Flush();
  struct stat info;
  if (fstat(fd_, &info) != 0) CF_OS_ERROR(U"Unable to read file status", errno);
  physicalSize_ = static_cast<uint64_t>(info.st_size);
  uint8_t start[24];
  if (physicalSize_ < sizeof start) CF_ERROR(kFileNameError, U"Not a component file (too short)");
  ReadExactly(start, sizeof start, 0, MessageRow(kCategoryComponentFiles, U"Unable to read file header"));
  if (start[0] != kComponentFileMagic) CF_ERROR(kFileNameError, U"Not a component file (bad magic number)");
  if (start[1] == kNascentFileType) CF_ERROR(kFileNameError, U"Not a component file (nascent)");
  if (start[1] == 2 || start[1] == 6) CF_ERROR(kFileNameError, U"Unsupported archaic file architecture");
  std::optional<ComponentFileKind> kind = KindOfFileType(start[1]);
  if (!kind) CF_ERROR(kFileNameError, U"Not a component file (bad magic number)");
  kind_ = *kind;
  uint32_t marker;
  std::memcpy(&marker, start + 8, 4);
  if (marker == 1) swapped_ = false;
  else if (marker == __builtin_bswap32(1u)) swapped_ = true;
  else CF_ERROR(kFileNameError, U"Incompatible file architecture");
  std::vector<uint8_t> bytes(HeaderBytes());
  if (physicalSize_ < bytes.size()) CF_ERROR(kFileDamaged, U"Unable to read file header");
  ReadExactly(bytes.data(), bytes.size(), 0, MessageRow(kCategoryComponentFiles, U"Unable to read file header"));
  // Another process changes the header with every update, so an unchanged header means the index
  // blocks cached from the file are still what is there.
  if (bytes != lastHeader_) indexCache_.clear();
  lastHeader_ = bytes;
  DecodeHeader(bytes);
  if (kind_.checksum) {
    // The header's own checksum is computed with its field zero.
    uint64_t stored = Word(&bytes[layout().headerChecksum], false);
    std::memset(&bytes[layout().headerChecksum], 0, 4);
    if (stored != (crc32_z(0, bytes.data(), bytes.size()) & 0xFFFFFFFFu)) CF_ERROR(kFileDamaged, U"Unable to read file header");
  }
  const ComponentFileHeader& h = header_;
  bool sound = h.allocation >= HeaderBytes() && (salvage || h.allocation <= physicalSize_) && h.first <= h.next &&
               h.depth <= kMaxDepth && h.root < h.allocation && h.accessAddress < h.allocation &&
               h.freeTable < h.allocation &&
               (h.first == h.next || h.root >= HeaderBytes()) &&
               (h.depth == kMaxDepth || uint64_t{h.next} - h.first <= (uint64_t{1} << (4 * h.depth))) &&
               // every component has a record of its own, within what the file still holds
               (uint64_t{h.next} - h.first) * layout().componentHeader <= std::min(h.allocation, physicalSize_);
  if (!sound) CF_ERROR(kFileDamaged, U"Damaged component tree");
}

// ---- The index tree ------------------------------------------------------------------------------

void ComponentStore::CheckBlock(uint64_t block) const {
  if (block < HeaderBytes() || block > header_.allocation || header_.allocation - block < layout().indexBlock)
    CF_ERROR(kFileDamaged, U"Damaged component tree");
}

uint64_t ComponentStore::IndexEntry(uint64_t block, uint32_t slot) {
  CheckBlock(block);
  auto cached = indexCache_.find(block);
  if (cached == indexCache_.end()) {
    const Layout& l = layout();
    const uint32_t width = l.wide ? 8 : 4;
    uint8_t bytes[kIndexEntries * 8];
    if (physicalSize_ < block + l.indexBlock) {
      // A block that a file cut short has lost in part: its first entries may still be there.
      ReadExactly(bytes, width, block + uint64_t{slot} * width, MessageRow(kCategoryComponentFiles, U"Damaged component tree"));
      return Word(bytes, l.wide);
    }
    ReadExactly(bytes, l.indexBlock, block, MessageRow(kCategoryComponentFiles, U"Damaged component tree"));
    IndexBlock entries;
    for (uint32_t i = 0; i < kIndexEntries; ++i) entries[i] = Word(bytes + i * width, l.wide);
    if (indexCache_.size() >= kMostCachedBlocks) indexCache_.clear();
    cached = indexCache_.emplace(block, entries).first;
  }
  return cached->second[slot];
}

void ComponentStore::ForgetIndexBlocks(uint64_t at, uint64_t length) {
  if (indexCache_.empty()) return;
  const uint64_t size = layout().indexBlock;
  auto it = indexCache_.lower_bound(at >= size ? at - size + 1 : 0);
  while (it != indexCache_.end() && it->first < at + length) it = indexCache_.erase(it);
}

void ComponentStore::CheckComponentNumber(uint32_t n) const {
  if (n < header_.first || n >= header_.next) CF_ERROR(kFileIndexError, U"No such component");
}

uint64_t ComponentStore::AddressOf(uint32_t n) {
  CheckComponentNumber(n);
  uint32_t p = n - header_.first;
  uint64_t address = header_.root;
  for (int level = header_.depth - 1; level >= 0; --level) address = IndexEntry(address, (p >> (4 * level)) & 15);
  return address;
}

// ---- Component records ---------------------------------------------------------------------------

uint64_t ComponentStore::RecordBytes(uint64_t dataLength) const {
  return layout().componentHeader + dataLength + (kind_.checksum ? kChecksumBytes : 0);
}

void ComponentStore::CheckRoom(uint64_t end) const {
  if (header_.sizeLimit != 0 && end > header_.sizeLimit) CF_ERROR(kFileFull, U"File size limit reached");
  if (kind_.span == 32 && end > 0xFFFFFFFFu) CF_ERROR(kFileFull, U"File too big");
}

// Writes a component record at `at` (beyond the committed end); returns the address after it.
uint32_t ComponentStore::RecordChecksum(const uint8_t* record, uint64_t length, uint32_t number) const {
  uint8_t seed[4];
  PutWord(seed, number, false);
  return static_cast<uint32_t>(crc32_z(crc32_z(0, seed, 4), record, length));
}

uint64_t ComponentStore::WriteRecord(const std::vector<uint8_t>& data, uint32_t user, uint64_t at, uint32_t number,
                                     bool compressed) {
  const Layout& l = layout();
  if (kind_.span == 32 && data.size() > 0x7FFFFFFFu) CF_ERROR(kFileFull, U"Component too big for a small span file");
  uint64_t end = at + RecordBytes(data.size());
  CheckRoom(end);
  auto now = std::chrono::system_clock::now().time_since_epoch();
  uint64_t micros = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  std::vector<uint8_t> record(RecordBytes(data.size()), 0);
  uint8_t* h = record.data();
  uint8_t checksumFlag = kind_.checksum ? kChecksumFlag : 0;
  if (l.wide) {
    PutWord(h, data.size() & 0xFFFFFFFFu, false);
    h[4] = 0x94;
    h[5] = checksumFlag | (compressed ? kCompressedFlag : 0);
    PutWord(h + 8, data.size() >> 32, false);
    PutWord(h + 12, user, false);
    PutWord(h + 16, micros / 1000000, false);
    PutWord(h + 20, micros % 1000000, false);
  } else {
    PutWord(h, data.size(), false);
    PutWord(h + 4, micros / 1000000, false);
    uint16_t millis = static_cast<uint16_t>((micros / 1000) % 1000) | (checksumFlag ? 0x8000 : 0);
    uint16_t user16 = static_cast<uint16_t>(user);
    if (swapped_) millis = __builtin_bswap16(millis), user16 = __builtin_bswap16(user16);
    std::memcpy(h + 8, &millis, 2);
    std::memcpy(h + 10, &user16, 2);
  }
  if (!data.empty()) std::memcpy(h + l.componentHeader, data.data(), data.size());
  if (kind_.checksum) {
    PutWord(h + l.componentHeader + data.size(), RecordChecksum(record.data(), l.componentHeader + data.size(), number), false);
  }
  WriteExactly(record.data(), record.size(), at);
  return end;
}

// Reads and checks the header of the record at `address` into `h`.
ComponentStore::RecordHeader ComponentStore::ReadRecordHeader(uint64_t address, uint8_t* h, bool headerRead) {
  const Layout& l = layout();
  // A file cut short (read for a repair) holds less than its header says.
  const uint64_t end = std::min(header_.allocation, physicalSize_);
  if (address < HeaderBytes() || address > end || end - address < l.componentHeader)
    CF_ERROR(kFileDamaged, U"Damaged component tree");
  if (!headerRead)
    ReadExactly(h, l.componentHeader, address, MessageRow(kCategoryComponentFiles, U"Invalid length in component header"));
  RecordHeader r;
  if (l.wide) {
    r.length = Word(h, false) | (Word(h + 8, false) << 32);
    r.checksummed = (h[5] & kChecksumFlag) != 0;
    r.info.compressed = (h[5] & kCompressedFlag) != 0;
    r.info.user = static_cast<uint32_t>(Word(h + 12, false));
    r.info.time = Word(h + 16, false) * 60 + Word(h + 20, false) * 60 / 1000000;
  } else {
    r.length = Word(h, false);
    uint16_t millis, user16;
    std::memcpy(&millis, h + 8, 2);
    std::memcpy(&user16, h + 10, 2);
    if (swapped_) millis = __builtin_bswap16(millis), user16 = __builtin_bswap16(user16);
    r.checksummed = (millis & 0x8000) != 0;
    r.info.user = user16;
    r.info.time = Word(h + 4, false) * 60 + (millis & 0x3FF) * 60 / 1000;
  }
  uint64_t tail = r.checksummed ? kChecksumBytes : 0;
  uint64_t room = end - address - l.componentHeader;
  if (r.length > room || room - r.length < tail) CF_ERROR(kFileDamaged, U"Invalid length in component header");
  r.info.bytes = l.componentHeader + r.length;
  r.recordBytes = r.info.bytes + tail;
  return r;
}

std::vector<uint8_t> ComponentStore::ReadRecord(uint64_t address, ComponentInfo* info, uint32_t number) {
  const Layout& l = layout();
  const uint32_t invalidLength = MessageRow(kCategoryComponentFiles, U"Invalid length in component header");
  // One read takes the header and, for a small record, the rest of it too (never past the end of
  // the file, which a file cut short may have before its committed end).
  std::vector<uint8_t> record(kFirstRecordRead);
  uint64_t limit = std::min(header_.allocation, physicalSize_);
  uint64_t first = address < limit ? std::min<uint64_t>(kFirstRecordRead, limit - address) : 0;
  bool headerRead = first >= l.componentHeader;
  if (headerRead) ReadExactly(record.data(), first, address, invalidLength);
  RecordHeader r = ReadRecordHeader(address, record.data(), headerRead);
  if (info) *info = r.info;
  if (!headerRead) first = l.componentHeader;
  record.resize(r.recordBytes);
  if (record.size() > first)
    ReadExactly(record.data() + first, record.size() - first, address + first, invalidLength);
  if (r.checksummed) {
    if (Word(record.data() + l.componentHeader + r.length, false) != RecordChecksum(record.data(), l.componentHeader + r.length, number))
      CF_ERROR(kFileComponentDamaged, U"Component checksum mismatch");
  }
  return std::vector<uint8_t>(record.begin() + static_cast<ptrdiff_t>(l.componentHeader),
                              record.begin() + static_cast<ptrdiff_t>(l.componentHeader + r.length));
}

std::vector<uint8_t> ComponentStore::ReadComponent(uint32_t n, ComponentInfo* info) {
  return ReadRecord(AddressOf(n), info, n);
}

ComponentInfo ComponentStore::ComponentInformation(uint32_t n) {
  ComponentInfo info;
  ReadRecord(AddressOf(n), &info, n);
  return info;
}

// ---- Free space ----------------------------------------------------------------------------------

bool ComponentStore::HasFreeTable() const { return HeaderBytes() == layout().fullHeader; }

// Every update starts from the table on disk, so what a failed update took is free again.
void ComponentStore::LoadFreeSpace() {
  SyncCommitBeforeReuse();
  free_.clear();
  released_.clear();
  freeChanged_ = updateFreed_ = false;
  if (!HasFreeTable() || header_.freeTable == 0) return;
  std::vector<uint8_t> bytes;
  try {
    QuietScope scope(quiet_, true);
    bytes = ReadRecord(header_.freeTable, nullptr, kFreeTableNumber);
  } catch (const DamageFound&) {
    CF_ERROR(kFileDamaged, U"Damaged free tree");
  }
  if (bytes.size() % 16 != 0) CF_ERROR(kFileDamaged, U"Damaged free tree");
  for (size_t i = 0; i < bytes.size(); i += 16) {
    Extent e{Word(&bytes[i], true), Word(&bytes[i + 8], true)};
    if (e.address < HeaderBytes() || e.address > header_.allocation || e.length > header_.allocation - e.address)
      CF_ERROR(kFileDamaged, U"Damaged free tree");
    free_.push_back(e);
  }
}

// Space for `length` bytes: the smallest free extent that holds it, else at `end` (moved past it).
uint64_t ComponentStore::Allocate(uint64_t length, uint64_t& end) {
  size_t best = free_.size();
  for (size_t i = 0; i < free_.size(); ++i)
    if (free_[i].length >= length && (best == free_.size() || free_[i].length < free_[best].length)) best = i;
  if (best == free_.size()) {
    uint64_t address = end;
    end += length;
    return address;
  }
  uint64_t address = free_[best].address;
  free_[best].address += length;
  free_[best].length -= length;
  if (free_[best].length == 0) free_.erase(free_.begin() + static_cast<ptrdiff_t>(best));
  freeChanged_ = true;
  return address;
}

void ComponentStore::Release(uint64_t address, uint64_t length) {
  if (!HasFreeTable() || length == 0) return;
  released_.push_back({address, length});
  freeChanged_ = updateFreed_ = true;
}

// Releases the index blocks under `block`, a block of a tree `depth` levels deep over positions from
// `base`; only subtrees that hold some of the first `count` positions are followed (entries beyond
// are left from dropped components and may point anywhere).
void ComponentStore::ReleaseIndexBlocks(uint64_t block, int depth, uint64_t base, uint64_t count) {
  if (depth <= 0) return;
  CheckBlock(block);
  if (depth > 1) {
    uint64_t span = uint64_t{1} << (4 * (depth - 1));
    for (uint32_t slot = 0; slot < kIndexEntries && base + slot * span < count; ++slot)
      ReleaseIndexBlocks(IndexEntry(block, slot), depth - 1, base + slot * span, count);
  }
  Release(block, layout().indexBlock);
}

// Writes the table the update leaves (when it changed) beyond `end`; the old table's space is free
// in it. The header written next makes it the committed one.
void ComponentStore::WriteFreeTable(uint64_t& end) {
  if (!freeChanged_ || !HasFreeTable()) return;
  std::vector<Extent> all = free_;
  all.insert(all.end(), released_.begin(), released_.end());
  if (header_.freeTable != 0) {
    uint8_t h[24];
    all.push_back({header_.freeTable, ReadRecordHeader(header_.freeTable, h).recordBytes});
  }
  std::sort(all.begin(), all.end(), [](const Extent& a, const Extent& b) { return a.address < b.address; });
  std::vector<Extent> merged;
  for (const Extent& e : all) {
    if (!merged.empty() && merged.back().address + merged.back().length == e.address) merged.back().length += e.length;
    else merged.push_back(e);
  }
  if (merged.size() > kMostFreeExtents) {
    // The smallest extents are left out (until compaction) so the table stays small.
    std::sort(merged.begin(), merged.end(), [](const Extent& a, const Extent& b) { return a.length > b.length; });
    merged.resize(kMostFreeExtents);
  }
  if (merged.empty()) {
    header_.freeTable = 0;
  } else {
    std::vector<uint8_t> bytes(merged.size() * 16);
    for (size_t i = 0; i < merged.size(); ++i) {
      PutWord(&bytes[16 * i], merged[i].address, true);
      PutWord(&bytes[16 * i + 8], merged[i].length, true);
    }
    uint64_t table = end;
    end = WriteRecord(bytes, 0, end, kFreeTableNumber);
    header_.freeTable = table;
  }
  free_ = std::move(merged);
  released_.clear();
  freeChanged_ = false;
}

// ---- Updates -------------------------------------------------------------------------------------

uint32_t ComponentStore::Append(const std::vector<uint8_t>& data, uint32_t user, bool compressed) {
  if (header_.next == 0xFFFFFFFFu) CF_ERROR(kFileIndexError, U"Cannot exceed maximum component number");
  const Layout& l = layout();
  const uint32_t width = l.wide ? 8 : 4;
  const uint32_t p = header_.next - header_.first;
  if (tail_.size() >= kMostHeldBytes) Flush();
  HoldingScope holding(*this);
  LoadFreeSpace();
  uint64_t at = header_.allocation;
  const uint64_t component = Allocate(RecordBytes(data.size()), at);
  WriteRecord(data, user, component, header_.next, compressed);
  const uint64_t freshFrom = at;  // blocks this update writes lie in [freshFrom, at)
  ComponentFileHeader updated = header_;
  // A fresh block holding `entry` at `slot`, written beyond the committed end.
  auto freshBlock = [&](uint32_t slot, uint64_t entry) {
    std::vector<uint8_t> block(l.indexBlock, 0);
    PutWord(&block[slot * width], entry, l.wide);
    CheckRoom(at + l.indexBlock);
    WriteExactly(block.data(), block.size(), at);
    uint64_t address = at;
    at += l.indexBlock;
    return address;
  };
  // The subtree of `levels` levels under which position bits `p` lead to the component.
  auto freshPath = [&](int levels) {
    uint64_t address = component;
    for (int level = 0; level < levels; ++level) address = freshBlock((p >> (4 * level)) & 15, address);
    return address;
  };
  uint64_t patchAddress = 0, patchValue = 0;
  if (p == 0) {
    updated.root = component;
    updated.depth = 0;
  } else {
    // Grow the tree until position p fits: each new root's first entry is the old root.
    while (updated.depth < kMaxDepth && (uint64_t{p} >> (4 * updated.depth)) != 0) {
      updated.root = freshBlock(0, updated.root);
      ++updated.depth;
    }
    uint64_t block = updated.root;
    for (int level = updated.depth - 1; level >= 0; --level) {
      uint32_t slot = (p >> (4 * level)) & 15;
      // A subtree already holds the components before p unless p is the first position it covers;
      // the entry of one that holds none (left by dropped components or by an update that never
      // committed) is not followed but replaced.
      if (level > 0 && (p & ((uint32_t{1} << (4 * level)) - 1)) != 0) {
        block = IndexEntry(block, slot);
        continue;
      }
      bool blockIsFresh = block >= freshFrom && block < at;
      // Any other block beyond the committed end comes from a damaged entry or header.
      if (!blockIsFresh && block + l.indexBlock > header_.allocation) CF_ERROR(kFileDamaged, U"Damaged component tree");
      uint64_t subtree = freshPath(level);
      if (blockIsFresh) {
        // Only a new root is fresh here, and freshBlock wrote it already: put the entry in it.
        uint8_t word[8];
        PutWord(word, subtree, l.wide);
        WriteExactly(word, width, block + uint64_t{slot} * width);
      } else {
        patchAddress = block + uint64_t{slot} * width;
        patchValue = subtree;
      }
      break;
    }
  }
  WriteFreeTable(at);
  updated.freeTable = header_.freeTable;
  Sync();
  if (patchAddress != 0) {
    // The entry is for a position beyond the last component, so it is unused until the commit.
    uint8_t word[8];
    PutWord(word, patchValue, l.wide);
    WriteExactly(word, width, patchAddress);
  }
  // The new records are in the file, or held where the disk has room for them, before the header
  // changes: an append that fails leaves the header as it was.
  if (!DefersCommit() || !ReserveTail()) WriteTail();
  updated.allocation = at;
  ++updated.next;
  updated.history[kHistoryUpdated] = {user, SixtiethsNow()};
  header_ = updated;
  CommitHeader();
  return header_.next - 1;
}

void ComponentStore::Replace(uint32_t n, const std::vector<uint8_t>& data, uint32_t user, bool compressed) {
  CheckComponentNumber(n);
  const Layout& l = layout();
  const uint32_t p = n - header_.first;
  if (kind_.journal == 0) {
    // Without journaling, data of the same length goes over the old data (a crash part way through
    // can leave that component torn, which its checksum then reports).
    uint64_t old = AddressOf(n);
    uint8_t h[24];
    if (old != 0 && ReadRecordHeader(old, h).recordBytes == RecordBytes(data.size())) {
      WriteRecord(data, user, old, n, compressed);
      header_.history[kHistoryUpdated] = {user, SixtiethsNow()};
      CommitHeader();
      return;
    }
  }
  if (HasFreeTable()) return ReplaceByCopies(n, data, user, compressed);
  // The entry that will point to the new record: the root field, or a slot of a leaf block.
  uint64_t leaf = header_.root;
  for (int level = header_.depth - 1; level > 0; --level) leaf = IndexEntry(leaf, (p >> (4 * level)) & 15);
  if (header_.depth > 0) CheckBlock(leaf);
  uint64_t component = header_.allocation;
  uint64_t end = WriteRecord(data, user, component, n, compressed);
  Sync();
  header_.allocation = end;
  header_.history[kHistoryUpdated] = {user, SixtiethsNow()};
  if (header_.depth == 0) header_.root = component;
  CommitHeader();
  if (header_.depth == 0) return;
  // The new record is committed space now; one aligned write switches the component to it.
  uint8_t word[8];
  PutWord(word, component, l.wide);
  WriteExactly(word, l.wide ? 8 : 4, leaf + uint64_t{p & 15} * (l.wide ? 8 : 4));
  Sync();
}

// A replacement in a file with free space: the new record and new copies of the index blocks on its
// path are written where the old ones are not, and the header switches to them; the old record and
// blocks become free with that same write.
void ComponentStore::ReplaceByCopies(uint32_t n, const std::vector<uint8_t>& data, uint32_t user, bool compressed) {
  const Layout& l = layout();
  const uint32_t width = l.wide ? 8 : 4;
  const uint32_t p = n - header_.first;
  LoadFreeSpace();
  uint64_t end = header_.allocation;
  // A component that a repair could not save has no record (entry 0); its replacement restores it.
  uint64_t old = AddressOf(n);
  uint8_t h[24];
  uint64_t oldBytes = old == 0 ? 0 : ReadRecordHeader(old, h).recordBytes;
  uint64_t component = Allocate(RecordBytes(data.size()), end);
  WriteRecord(data, user, component, n, compressed);
  if (old != 0) Release(old, oldBytes);
  std::vector<uint64_t> path;  // from the root down to the leaf block
  uint64_t block = header_.root;
  for (int level = header_.depth - 1; level >= 0; --level) {
    path.push_back(block);
    if (level > 0) block = IndexEntry(block, (p >> (4 * level)) & 15);
  }
  uint64_t child = component;
  std::vector<uint8_t> bytes(l.indexBlock);
  for (size_t i = path.size(); i-- > 0;) {
    int level = header_.depth - 1 - static_cast<int>(i);
    CheckBlock(path[i]);
    ReadExactly(bytes.data(), bytes.size(), path[i], MessageRow(kCategoryComponentFiles, U"Damaged component tree"));
    PutWord(&bytes[((p >> (4 * level)) & 15) * width], child, l.wide);
    CheckRoom(end + l.indexBlock);
    WriteExactly(bytes.data(), bytes.size(), end);
    Release(path[i], l.indexBlock);
    child = end;
    end += l.indexBlock;
  }
  WriteFreeTable(end);
  Sync();
  header_.root = child;
  header_.allocation = end;
  header_.history[kHistoryUpdated] = {user, SixtiethsNow()};
  CommitHeader();
}

// Builds a complete index over `addresses` (positions 0, 1, ...) beyond the committed end.
void ComponentStore::RebuildIndex(const std::vector<uint64_t>& addresses, uint64_t& at) {
  const Layout& l = layout();
  const uint32_t width = l.wide ? 8 : 4;
  std::vector<uint64_t> level = addresses;
  uint8_t depth = 0;
  while (level.size() > 1) {
    std::vector<uint64_t> above;
    for (size_t i = 0; i < level.size(); i += kIndexEntries) {
      std::vector<uint8_t> block(l.indexBlock, 0);
      for (size_t j = i; j < level.size() && j < i + kIndexEntries; ++j)
        PutWord(&block[(j - i) * width], level[j], l.wide);
      CheckRoom(at + l.indexBlock);
      WriteExactly(block.data(), block.size(), at);
      above.push_back(at);
      at += l.indexBlock;
    }
    level.swap(above);
    ++depth;
  }
  header_.root = level.empty() ? 0 : level[0];
  header_.depth = depth;
}

void ComponentStore::Drop(int64_t count, uint32_t user) {
  uint64_t present = header_.next - header_.first;
  uint64_t magnitude = count < 0 ? static_cast<uint64_t>(-count) : static_cast<uint64_t>(count);
  if (magnitude > present) CF_ERROR(kFileIndexError, U"Too few components in file");
  if (magnitude == 0) return;
  ComponentFileHeader before = header_;
  try {
    LoadFreeSpace();
    uint64_t at = header_.allocation;
    if (HasFreeTable()) {
      uint64_t from = count < 0 ? header_.next - magnitude : header_.first;
      uint8_t h[24];
      for (uint64_t n = from; n < from + magnitude; ++n) {
        uint64_t address = AddressOf(static_cast<uint32_t>(n));
        if (address != 0) Release(address, ReadRecordHeader(address, h).recordBytes);
      }
    }
    if (count < 0) {
      header_.next -= static_cast<uint32_t>(magnitude);
      uint64_t left = header_.next - header_.first;
      // The tree loses the levels it no longer needs.
      while (header_.depth > 0 && (header_.depth == 1 ? left <= 1 : left <= (uint64_t{1} << (4 * (header_.depth - 1))))) {
        header_.root = left == 0 ? 0 : IndexEntry(header_.root, 0);
        --header_.depth;
      }
      if (left == 0) header_.root = 0;
    } else {
      // Positions count from the first component, so what stays gets a new tree.
      std::vector<uint64_t> kept;
      kept.reserve(present - magnitude);
      for (uint64_t n = header_.first + magnitude; n < header_.next; ++n) kept.push_back(AddressOf(static_cast<uint32_t>(n)));
      if (HasFreeTable()) ReleaseIndexBlocks(header_.root, header_.depth, 0, present);
      RebuildIndex(kept, at);
      header_.first += static_cast<uint32_t>(magnitude);
    }
    WriteFreeTable(at);
    Sync();
    header_.allocation = at;
  } catch (...) {
    header_ = before;
    throw;
  }
  header_.history[kHistoryUpdated] = {user, SixtiethsNow()};
  CommitHeader();
}

// ---- Access matrix and header changes --------------------------------------------------------------

std::vector<uint8_t> ComponentStore::ReadAccessMatrix() {
  if (header_.accessAddress == 0) return {};
  return ReadRecord(header_.accessAddress, nullptr, 0);
}

void ComponentStore::WriteAccessMatrix(const std::vector<uint8_t>& data, uint32_t user) {
  LoadFreeSpace();
  uint64_t end = header_.allocation;
  uint64_t address = Allocate(RecordBytes(data.size()), end);
  WriteRecord(data, user, address, 0);
  if (header_.accessAddress != 0) {
    uint8_t h[24];
    Release(header_.accessAddress, ReadRecordHeader(header_.accessAddress, h).recordBytes);
  }
  WriteFreeTable(end);
  Sync();
  header_.allocation = end;
  header_.accessAddress = address;
  ++header_.accessVersion;
  header_.history[kHistoryAccessMatrix] = {user, SixtiethsNow()};
  CommitHeader();
}

void ComponentStore::SetSizeLimit(uint64_t limit, uint32_t user) {
  header_.sizeLimit = limit;
  header_.history[kHistoryProperties] = {user, SixtiethsNow()};
  CommitHeader();
}

void ComponentStore::SetKind(const ComponentFileKind& kind, uint32_t user) {
  // Both kinds have the same header size here: the caller keeps to kinds of one header layout.
  kind_ = kind;
  header_.type = FileTypeOfKind(kind);
  header_.history[kHistoryProperties] = {user, SixtiethsNow()};
  CommitHeader();
}

void ComponentStore::SetPropertyFlags(uint32_t flags, uint32_t user) {
  header_.propertyFlags = flags;
  header_.history[kHistoryProperties] = {user, SixtiethsNow()};
  CommitHeader();
}

void ComponentStore::SetArchitecture(uint8_t architecture, uint32_t user) {
  header_.architecture = architecture;
  header_.history[kHistoryProperties] = {user, SixtiethsNow()};
  CommitHeader();
}

void ComponentStore::RecordEvent(HistoryEvent event, uint32_t user) {
  header_.history[event] = {user, SixtiethsNow()};
  CommitHeader();
}

// ---- Copying and checking ------------------------------------------------------------------------

// Copies the record of component n as it is, for a salvaging copy; 0 when even its place or its
// header cannot be read.
uint64_t ComponentStore::CopyRecordAsItIs(ComponentStore& copy, uint32_t n, uint64_t& at) {
  try {
    uint8_t h[24];
    uint64_t address = AddressOf(n);
    std::vector<uint8_t> record(ReadRecordHeader(address, h).recordBytes);
    ReadExactly(record.data(), record.size(), address, MessageRow(kCategoryComponentFiles, U"Invalid length in component header"));
    copy.CheckRoom(at + record.size());
    copy.WriteExactly(record.data(), record.size(), at);
    uint64_t written = at;
    at += record.size();
    return written;
  } catch (const DamageFound&) {
    return 0;
  }
}

void ComponentStore::CopyTo(int target, uint32_t user, const ComponentFileKind& kind, bool salvage) {
  ComponentStore copy(target);
  copy.kind_ = kind;
  copy.swapped_ = false;
  copy.header_ = header_;
  copy.header_.type = kNascentFileType;
  copy.header_.allocation = copy.HeaderBytes();
  copy.header_.root = 0;
  copy.header_.depth = 0;
  copy.header_.accessAddress = 0;
  copy.header_.freeTable = 0;
  copy.CommitHeader();
  uint64_t at = copy.header_.allocation;
  std::vector<uint64_t> addresses;
  copy.holding_ = true;  // the copy has no name yet: its records are written in large pieces
  for (uint32_t n = header_.first; n < header_.next; ++n) {
    ComponentInfo info;
    std::vector<uint8_t> data;
    try {
      QuietScope scope(quiet_, salvage);
      uint64_t address = AddressOf(n);
      if (address == 0) {  // a component that a repair could not save stays empty
        addresses.push_back(0);
        continue;
      }
      data = ReadRecord(address, &info, n);
    } catch (const DamageFound&) {
      QuietScope scope(quiet_, true);
      addresses.push_back(CopyRecordAsItIs(copy, n, at));
      continue;
    }
    addresses.push_back(at);
    at = copy.WriteRecord(data, info.user, at, n, info.compressed);
  }
  if (header_.accessAddress != 0) {
    copy.header_.accessAddress = at;
    at = copy.WriteRecord(ReadAccessMatrix(), user, at, 0);
  }
  copy.RebuildIndex(addresses, at);
  copy.header_.allocation = at;
  copy.holding_ = false;
  copy.WriteTail();
  copy.Sync();
  copy.header_.type = FileTypeOfKind(kind);
  copy.CommitHeader();
}

std::vector<uint32_t> ComponentStore::DamagedComponents() {
  std::vector<uint32_t> damaged;
  QuietScope scope(quiet_, true);
  for (uint32_t n = header_.first; n < header_.next; ++n) {
    try {
      ReadRecord(AddressOf(n), nullptr, n);
    } catch (const DamageFound&) {
      damaged.push_back(n);
    }
  }
  return damaged;
}

}  // namespace vantor
