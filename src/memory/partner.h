// The transfer form: the byte stream into which a value (an array with every pocket it reaches) is
// written so that it can leave the workspace and be rebuilt in another one: components of component
// files, compressed data, socket frames and copying between workspaces all carry it. Each pocket is
// one record: its size in words (0 for no pocket), its type word and a body, followed by the records
// of the pockets it refers to, depth first. Both directions walk explicit stacks, so a value nested
// 100,000 deep is no deeper for the machine stack than a flat one.
//
// Arrays are written here. The units that own the other kinds (names, namespaces, functions)
// register a rule for them; a pocket of a kind with no rule is DOMAIN ERROR "Array cannot be
// serialised".
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "memory/memory1.h"

namespace vantor {

// The architecture flags byte that this interpreter writes in front of a stream where the carrier
// needs one: little-endian 4-byte words, Unicode characters.
inline constexpr uint8_t kTransferArchitecture = 0x94;

// Delivers `length` bytes; returns the bytes accepted, or -1 for a failure.
using TransferSink = int64_t (*)(void* context, const void* bytes, uint64_t length);
// Fills `buffer` with up to `length` bytes; returns the bytes delivered, or -1 for a failure.
using TransferSource = int64_t (*)(void* context, void* buffer, uint64_t length);

// Where a writer's failures go: by default they are signalled as APL errors. A writer that walks
// another space (copying from a workspace file) passes a routine that throws without touching the
// workspace; it must not return.
using TransferFailFn = void (*)(uint32_t errorNumber, uint32_t messageRow);

// Writes the records of values. Several values written through one writer share its table of
// namespaces, so a namespace that two of them refer to is written once.
class TransferWriter {
 public:
  TransferWriter(TransferSink sink, void* context, TransferFailFn fail = nullptr);
  ~TransferWriter();
  TransferWriter(const TransferWriter&) = delete;
  TransferWriter& operator=(const TransferWriter&) = delete;

  // Writes the records of one value (a reference below 512 is a single 0 word). DOMAIN ERROR for a
  // pocket that cannot be written or a sink that fails; the sink then holds a partial stream. With
  // the default failure routine a strong interrupt stops the walk.
  void Write(Ref value);
  // Passes what is still buffered to the sink.
  void Flush();

  // For rules: the body of the record being written, and the children that follow it, in order.
  void Word(uint32_t word);
  void Bytes(const void* bytes, uint64_t length);
  void Child(Ref child);
  // For rules of shared objects (namespaces): 0 when `object` is met for the first time (it is
  // entered in the table), else the non-zero word that refers back to its first occurrence.
  int32_t ShareWord(Ref object);
  // Whether # and ⎕SE are written as references to the reader's own # and ⎕SE (copying between
  // workspaces) instead of being refused as outside the value.
  void WriteRootsAsReferences() { rootsAsReferences_ = true; }
  bool RootsAsReferences() const { return rootsAsReferences_; }
  // Fails through the writer's failure routine.
  [[noreturn]] void Fail(uint32_t errorNumber, uint32_t messageRow);

 private:
  void WriteRecord(Ref pocket);
  void CheckAccepted(int64_t accepted, uint64_t length);
  TransferSink sink_;
  void* context_;
  TransferFailFn fail_;
  bool rootsAsReferences_ = false;
  std::vector<uint8_t> buffer_;
  std::unordered_map<Ref, uint32_t> shared_;  // each shared object's sequence number
  std::vector<std::vector<Ref>> pending_;  // children still to write, one list per open record
};

// Reads the records of values into the current space.
class TransferReader {
 public:
  TransferReader(TransferSource source, void* context);
  // An error part way through leaves every open record (rules restore what they changed) and
  // releases what was built.
  ~TransferReader();
  TransferReader(const TransferReader&) = delete;
  TransferReader& operator=(const TransferReader&) = delete;

  // Reads one value (counted; 0 for an empty record). DOMAIN ERROR for an invalid or short stream.
  Ref Read();

  // For rules, while the body of a record is read.
  uint32_t Word();
  void Bytes(void* buffer, uint64_t length);
  // The next `count` child records go to consecutive words of the new pocket from `firstWord`.
  void ChildrenToWords(uint32_t firstWord, uint32_t count);
  // The next `count` child records go to the rule's deliver function.
  void ChildrenToRule(uint32_t count);
  // Words the rule keeps with the open record until its children are read.
  std::vector<uint32_t>& RecordData();
  // A counted reference the rule keeps with the open record (given back to its leave function).
  void KeepWithRecord(Ref counted);
  // Sharing: enters an object in the table, or finds the object that a non-zero share word refers
  // back to (not counted; DOMAIN ERROR when it refers to nothing).
  void EnterShared(const Ref& object);
  Ref SharedObject(int32_t shareWord);

  // DOMAIN ERROR "Incoming array is invalid".
  [[noreturn]] static void Invalid();

 private:
  struct Frame;
  void ReadRecord();
  void Deliver(Ref child);
  void CloseFinishedFrames();
  void PopFrame(bool completed);
  void RegisterHeld();
  TransferSource source_;
  void* context_;
  std::vector<Frame> frames_;
  std::vector<Ref> held_;  // counted: each open record's pocket and kept reference
  uint32_t sharedCount_ = 0;
  // [0] the value read, [1] the table of shared objects, [2] a record being closed
  Temporaries registration_;
  // The frame being prepared by a rule's read.
  std::vector<std::pair<uint32_t, uint32_t>> newRuns_;
  uint32_t newRuleChildren_ = 0;
  std::vector<uint32_t> newData_;
};

// A kind's rule. `write` writes the whole record (size word first) and names the children. `read`
// gets the size and type words, reads the rest of the body, and returns the new pocket (counted),
// saying where each child record goes. The optional `deliver` takes children sent to the rule
// (`child` counted and given over: hold it before allocating); `leave` runs when the record is
// closed, also when reading fails (the pocket is then released after it). `pocket` and `kept` are
// registered slots that compaction keeps right; `data` is the record's RecordData.
struct TransferRule {
  void (*write)(Ref pocket, TransferWriter& out) = nullptr;
  Ref (*read)(TransferReader& in, uint32_t size, uint32_t type) = nullptr;
  void (*deliver)(const Ref& pocket, const std::vector<uint32_t>& data, uint32_t index, Ref child) = nullptr;
  void (*leave)(const Ref& pocket, const Ref& kept, bool completed) = nullptr;
};
void RegisterTransferKind(uint32_t kind, const TransferRule& rule);
void RegisterTransferObjectClass(uint32_t low16, const TransferRule& rule);
// The rule that writes a pocket's words as they are and its reference fields as child records,
// and reads them back into a pocket of the same size; for kinds whose other words are plain data.
TransferRule PlainTransferRule();

// A sink that appends to the std::vector<uint8_t> given as its context, and a source that reads
// from the TransferCursor given as its context.
int64_t AppendTransferBytes(void* vector, const void* bytes, uint64_t length);
struct TransferCursor {
  const uint8_t* next;
  uint64_t left;
};
int64_t ReadTransferCursor(void* cursor, void* buffer, uint64_t length);

// The bytes the stream of `value` takes. LIMIT ERROR when they pass 2³² − 1.
uint64_t MeasureTransfer(Ref value);
// The stream of one value as bytes, and one value read back from bytes (DOMAIN ERROR when the
// bytes are not exactly one value's stream).
std::vector<uint8_t> TransferBytes(Ref value);
Ref ValueFromTransferBytes(const uint8_t* bytes, uint64_t length);

}  // namespace vantor
