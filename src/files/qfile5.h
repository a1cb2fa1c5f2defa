// The component file on disk: its header, the 16-way index tree that maps component numbers to
// addresses, component records (header, transfer-form data, checksum), the access matrix record and
// the history of events. Every update first writes what is new beyond the committed end of the file
// and then commits it with one write of the header (and, for a replacement, one aligned write of an
// index entry afterwards), so the file read after a kill at any instant is the state before or after
// the update (an unjournaled file tied exclusively may hold its appends back: then it is a state
// before them). Journaling level 2 also flushes an update's new data to the disk before the header
// that commits it, so a failure of the whole system leaves a state the file had, perhaps without
// its last updates; level 3 flushes the commit too, so an update that returned survives it. Everything read
// from the file is checked before it is trusted: a damaged file gives FILE DAMAGED, never a wild read.
//
// The area after the fixed header (files with checksums or journaling) holds the five ⎕FHIST events
// (user number, 4 bytes, and time in 60ths of a second, 8 bytes, each) from offset 52 (32-bit span) or
// 72 (64-bit span), the property flags word at 116 or 200, and, in checksummed files, a CRC-32 of the
// whole header (taken with that word zero) at 120 or 204. In checksummed files each record is followed
// by a CRC-32 of its header and data seeded with its component number (0 for the access matrix); a
// record says in its header whether it has one (64-bit span: bit 0 of byte 5; 32-bit span: the top bit
// of the milliseconds field). Bit 1 of byte 5 marks compressed data (64-bit span only). The address
// of the free-space table (a record of address and length pairs, 8 bytes each) is at 112 (4 bytes)
// or 136 (8 bytes). The committed end (both allocation addresses) is where the next record
// goes unless the free-space table has room for it; compaction (⎕FRESIZE, ⎕FCHK) gives back what
// the table does not keep.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// What the type byte of a file says about it.
struct ComponentFileKind {
  int span = 64;         // 32 or 64: the width of addresses and sizes
  bool checksum = false;
  int journal = 0;       // 0 to 3
  bool transactions = false;
};
// The kind of a type byte; nothing for a byte that is not a component file's type.
std::optional<ComponentFileKind> KindOfFileType(uint8_t type);
// The type byte of a kind; 0 when no type has that combination.
uint8_t FileTypeOfKind(const ComponentFileKind& kind);

inline constexpr uint8_t kComponentFileMagic = 0xAA;
inline constexpr uint8_t kNascentFileType = 21;
inline constexpr uint64_t kSmallestSizeLimit = 304;
inline constexpr int kHistoryEvents = 5;
inline constexpr uint32_t kCompressionProperty = 1;  // in the property flags word
inline constexpr uint8_t kUnicodeArchitecture = 4;   // in the architecture flags byte: property U

// The events ⎕FHIST reports, in its row order.
enum HistoryEvent : int {
  kHistoryCreated = 0,
  kHistoryAccessMatrix,   // ⎕FSTAC
  kHistoryRenamed,        // ⎕FRENAME
  kHistoryProperties,     // ⎕FPROPS setting, ⎕FRESIZE
  kHistoryUpdated,        // ⎕FAPPEND ⎕FREPLACE ⎕FDROP
};

struct HistoryEntry {
  uint32_t user = 0;
  uint64_t time = 0;  // 60ths of a second since 1970-01-01
};

// The header as this process holds it (fields in native order).
struct ComponentFileHeader {
  uint8_t type = 0;
  uint8_t format = 15;
  uint8_t flags = 0;
  uint8_t architecture = 0x94;
  uint8_t depth = 0;
  uint32_t first = 1;
  uint32_t next = 1;
  uint64_t root = 0;
  uint64_t accessAddress = 0;
  uint32_t accessVersion = 0;
  uint64_t allocation = 0;  // the committed end of the file: new records go here
  uint64_t sizeLimit = 0;
  uint32_t reserved = 0xFFFFFFFF;
  uint32_t owner = 0;  // the owner's user number times 16 plus 13
  uint32_t propertyFlags = 0;  // kCompressionProperty
  uint64_t freeTable = 0;      // address of the free-space table record, 0 for none
  HistoryEntry history[kHistoryEvents];
};

// Information about one component record.
struct ComponentInfo {
  uint64_t bytes = 0;  // data and component header
  uint32_t user = 0;
  uint64_t time = 0;   // 60ths of a second since 1970-01-01
  bool compressed = false;  // the data is the compressed form of the transfer form (property Z)
};

// The current time in 60ths of a second since 1970-01-01.
uint64_t SixtiethsNow();
// The owner word for a user number, and back.
uint32_t OwnerWord(uint32_t user);
uint32_t OwnerOfWord(uint32_t word);

// An open component file (the descriptor is borrowed). Errors are signalled as APL errors.
class ComponentStore {
 public:
  explicit ComponentStore(int fd) : fd_(fd) {}

  // Writes the header of a new, empty file with type `kind` (written as nascent, then completed).
  void CreateEmpty(const ComponentFileKind& kind, uint64_t sizeLimit, uint32_t owner, uint32_t user);
  // For a file that no other process can use while it is tied (an exclusive tie): small reads are
  // served from a window read ahead, and unjournaled appends keep their records and the header in
  // memory and reach the file in large writes, the records before the header, so a kill can lose
  // appends not yet written but never leaves a header that names what is not in the file. Flush
  // writes what is held; TryFlush does it where no error can be signalled (0 or the error number).
  void HoldAppends(bool on);
  void Flush();
  int TryFlush() noexcept;
  // Reads and checks the header: "Not a component file" for a file that is not one, FILE DAMAGED for
  // a header that does not fit the file. With `salvage` (the check of a damaged file) a file cut
  // short is still read: what lies beyond its end is then damage found component by component.
  void ReadHeader(bool salvage = false);

  const ComponentFileHeader& header() const { return header_; }
  const ComponentFileKind& kind() const { return kind_; }
  bool swapped() const { return swapped_; }
  uint64_t HeaderBytes() const;

  // FILE INDEX ERROR "No such component" unless first ≤ n < next.
  void CheckComponentNumber(uint32_t n) const;
  // The transfer bytes of component n, checked against its checksum.
  std::vector<uint8_t> ReadComponent(uint32_t n, ComponentInfo* info = nullptr);
  ComponentInfo ComponentInformation(uint32_t n);

  // `compressed` marks data that is the compressed form of a value's transfer form.
  uint32_t Append(const std::vector<uint8_t>& data, uint32_t user, bool compressed);
  void Replace(uint32_t n, const std::vector<uint8_t>& data, uint32_t user, bool compressed);
  // Drops |count| components from the front (count > 0) or the back (count < 0).
  void Drop(int64_t count, uint32_t user);

  // The access matrix as transfer bytes (empty when the file has none), and its replacement.
  std::vector<uint8_t> ReadAccessMatrix();
  void WriteAccessMatrix(const std::vector<uint8_t>& data, uint32_t user);

  // Header-only changes: the size limit, the kind (journaling, checksumming), the property flags,
  // a history event.
  void SetSizeLimit(uint64_t limit, uint32_t user);
  void SetKind(const ComponentFileKind& kind, uint32_t user);
  void SetPropertyFlags(uint32_t flags, uint32_t user);
  // The architecture flags byte of the header (bit 2: written by a Unicode interpreter).
  void SetArchitecture(uint8_t architecture, uint32_t user);
  void RecordEvent(HistoryEvent event, uint32_t user);

  // Writes a compacted copy of this file as a file of `kind` (every component and the access
  // matrix, nothing else) through `target`, a new empty descriptor. With `salvage` a damaged
  // component does not stop the copy: its record is copied as it is when its header can be read
  // (so it stays reported as damaged), else its index entry is left empty.
  void CopyTo(int target, uint32_t user, const ComponentFileKind& kind, bool salvage = false);
  // The numbers of the components whose records cannot be read back intact.
  std::vector<uint32_t> DamagedComponents();

 // Field offsets and record sizes of a span.
  struct Layout;

 private:
  const Layout& layout() const;
  uint64_t Word(const uint8_t* at, bool wide) const;
  void PutWord(uint8_t* at, uint64_t value, bool wide) const;
  void EncodeHeader(std::vector<uint8_t>& out) const;
  void DecodeHeader(const std::vector<uint8_t>& bytes);
  void CommitHeader();
  void Sync();
  void SyncCommitBeforeReuse();
  void ReadExactly(void* buffer, uint64_t length, uint64_t at, uint32_t damagedRow);
  void WriteExactly(const void* buffer, uint64_t length, uint64_t at);
  int WriteToFile(const uint8_t* in, uint64_t length, uint64_t at) noexcept;
  void WriteTail();
  int TryWriteTail() noexcept;
  uint64_t IndexEntry(uint64_t block, uint32_t slot);
  void CheckBlock(uint64_t block) const;
  uint64_t AddressOf(uint32_t n);
  // Records carry the component number they were written for (0 for the access matrix) in their
  // checksum, so that an index entry that leads to the wrong record is caught too.
  uint32_t RecordChecksum(const uint8_t* record, uint64_t length, uint32_t number) const;
  uint64_t WriteRecord(const std::vector<uint8_t>& data, uint32_t user, uint64_t at, uint32_t number,
                       bool compressed = false);
  uint64_t RecordBytes(uint64_t dataLength) const;
  void CheckRoom(uint64_t end) const;
  void RebuildIndex(const std::vector<uint64_t>& addresses, uint64_t& at);
  // Free space (files with the area after the fixed header): the extents that nothing in the
  // committed file uses, kept in a table record that the header addresses. An update takes space
  // from the table, and the space it gives up (an old record, old index blocks, the old table) joins
  // a new table written with it, so space becomes free only in the state that no longer uses it.
  struct Extent {
    uint64_t address;
    uint64_t length;
  };
  bool HasFreeTable() const;
  void LoadFreeSpace();
  uint64_t Allocate(uint64_t length, uint64_t& end);
  void Release(uint64_t address, uint64_t length);
  void WriteFreeTable(uint64_t& end);
  void ReleaseIndexBlocks(uint64_t block, int depth, uint64_t base, uint64_t count);
  void ReplaceByCopies(uint32_t n, const std::vector<uint8_t>& data, uint32_t user, bool compressed);
  uint64_t CopyRecordAsItIs(ComponentStore& copy, uint32_t n, uint64_t& at);

  struct RecordHeader {
    uint64_t length = 0;       // of the data
    bool checksummed = false;  // a CRC-32 follows the data
    uint64_t recordBytes = 0;  // header, data and checksum
    ComponentInfo info;
  };
  // `headerRead`: the header's bytes are in `h` already.
  RecordHeader ReadRecordHeader(uint64_t address, uint8_t* h, bool headerRead = false);
  std::vector<uint8_t> ReadRecord(uint64_t address, ComponentInfo* info, uint32_t number);

  // While the components are checked, damage is reported to the checker instead of signalled.
  struct DamageFound {};
  [[noreturn]] void Fail(uint32_t errorNumber, uint32_t messageRow, int line) const;
  bool quiet_ = false;
  struct QuietScope {  // sets quiet_ (when asked) for its life
    bool& quiet;
    bool before;
    QuietScope(bool& q, bool on) : quiet(q), before(q) { quiet = quiet || on; }
    ~QuietScope() { quiet = before; }
  };
  std::vector<Extent> free_;     // the committed table less what this update has taken
  std::vector<Extent> released_;  // what this update gives up
  bool freeChanged_ = false;
  bool updateFreed_ = false;  // this update gives space up

  // Index blocks as read from the file, by address: a write over one forgets it, and so does a
  // header read that differs from the last one seen (another process updated the file).
  using IndexBlock = std::array<uint64_t, 16>;
  static constexpr size_t kMostCachedBlocks = 1 << 16;
  std::map<uint64_t, IndexBlock> indexCache_;
  std::vector<uint8_t> lastHeader_;
  void ForgetIndexBlocks(uint64_t at, uint64_t length);

  // Held appends: the bytes from tailStart_ on that are not in the file yet, and whether the header
  // (lastHeader_) waits behind them.
  bool holdWrites_ = false;  // the tie allows holding
  bool holding_ = false;     // an update is collecting its writes past the end of the file
  bool DefersCommit() const { return holdWrites_ && kind_.journal == 0; }
  // An update's writes past the end of the file are collected and go out with one write before its
  // header (or, deferred, later).
  struct HoldingScope {
    ComponentStore& store;
    explicit HoldingScope(ComponentStore& s) : store(s) { store.holding_ = true; }
    ~HoldingScope() { store.DropUncommittedTail(); }
  };
  void DropUncommittedTail() noexcept;
  bool ReserveTail();
  uint64_t reservedEnd_ = 0;  // disk space is reserved up to here
  // Journaling level 2: a header written but not yet flushed, and whether it gave space up.
  bool commitUnsynced_ = false;
  bool unsyncedCommitFreed_ = false;
  uint64_t tailStart_ = 0;
  std::vector<uint8_t> tail_;
  bool headerPending_ = false;
  // The bytes read ahead at windowStart_ (exclusive ties only).
  uint64_t windowStart_ = 0;
  std::vector<uint8_t> window_;

  int fd_;
  ComponentFileHeader header_;
  ComponentFileKind kind_;
  bool swapped_ = false;
  uint64_t physicalSize_ = 0;
};

}  // namespace vantor
