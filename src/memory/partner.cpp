// The transfer form: writer, reader and the rules for arrays. A record is a size word, a type word,
// a body and the records of its children; the writer keeps a stack of children still to write, the
// reader a stack of open records waiting for their children, so neither recurses.
#include "memory/partner.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "partner";

namespace {

constexpr size_t kWriteBufferBytes = 65536;
// A record of a plain rule larger than this is not one that this interpreter writes.
constexpr uint32_t kMaxPlainWords = 1u << 20;
constexpr uint32_t kTypeFlagsKept = kKindMask | kRankMask | kElementMask | kNoNarrowFlag;

std::vector<std::pair<uint32_t, TransferRule>> g_objectRules;

// ---- Arrays ------------------------------------------------------------------------------------

void WriteArrayHeader(Ref array, TransferWriter& out) {
  uint32_t type = TypeWord(array);
  uint32_t rank = RankOf(type);
  out.Word(ArrayWords(ElementOf(type), rank, ElementCount(array)));
  out.Word(type & kTypeFlagsKept);
  out.Bytes(ShapeOf(array), 4ull * rank);
}

void WriteSimpleArray(Ref array, TransferWriter& out) {
  Narrow(array);
  WriteArrayHeader(array, out);
  ElementType element = ElementOf(TypeWord(array));
  out.Bytes(DataOf<uint8_t>(array), 4 * DataWords(element, ElementCount(array)));
}

void WriteNestedArray(Ref array, TransferWriter& out) {
  WriteArrayHeader(array, out);
  uint64_t count = ElementCount(array);
  const Ref* items = DataOf<Ref>(array);
  for (uint64_t i = 0; i < std::max<uint64_t>(count, 1); ++i) out.Child(items[i]);
}

// Reads the shape of an array record and allocates the array; the record's size must be the one
// that the shape and element type give.
Ref ReadArrayHeader(TransferReader& in, uint32_t size, uint32_t type) {
  uint32_t rank = RankOf(type);
  uint32_t shape[kMaxRank];
  uint64_t count = 1;
  for (uint32_t i = 0; i < rank; ++i) {
    shape[i] = in.Word();
    count *= shape[i];
    if (count > 0xFFFFFFFFull) TransferReader::Invalid();
  }
  ElementType element = ElementOf(type);
  uint64_t words = kHeaderWords + rank + DataWords(element, count) + (element == kRefElement && count == 0);
  if (words != size) TransferReader::Invalid();
  Ref array = AllocArray(element, rank, count);
  std::copy(shape, shape + rank, ShapeOf(array));
  TypeWord(array) |= type & kNoNarrowFlag;
  return array;
}

Ref ReadSimpleArray(TransferReader& in, uint32_t size, uint32_t type) {
  ElementType element = ElementOf(type);
  if (element == kInternal8 || element >= kElementTypeCount) SIGNAL_MESSAGE(kDomainError, U"Array is from a later version of APL");
  if (element == kRefElement || (type & ~kTypeFlagsKept)) TransferReader::Invalid();
  Temporaries hold;
  hold[0] = ReadArrayHeader(in, size, type);
  in.Bytes(DataOf<uint8_t>(hold[0]), 4 * DataWords(element, ElementCount(hold[0])));
  return hold.Take(0);
}

Ref ReadNestedArray(TransferReader& in, uint32_t size, uint32_t type) {
  if (ElementOf(type) != kRefElement || (type & ~kTypeFlagsKept)) TransferReader::Invalid();
  Ref array = ReadArrayHeader(in, size, type);
  uint64_t count = ElementCount(array);
  in.ChildrenToWords(static_cast<uint32_t>(DataWordOffset(RankOf(type))), static_cast<uint32_t>(std::max<uint64_t>(count, 1)));
  return array;
}

// ---- Plain pockets -----------------------------------------------------------------------------

void WritePlain(Ref pocket, TransferWriter& out) {
  uint32_t words = PocketWords(pocket);
  out.Word(words);
  out.Word(TypeWord(pocket) & ~(kMarkFlag | kPaddingMask));
  out.Bytes(Words(pocket) + kHeaderWords, 4ull * (words - kHeaderWords));
  FieldRuns runs;
  ChildFields(pocket, runs);
  ForEachChildField(Words(pocket), runs, [&](uint32_t* field) {
    if (IsRef(*field)) out.Child(*field);
  });
}

// The body is read before the pocket exists, and the pocket is made plain data while its layout is
// checked, so that a stream cut short or damaged never leaves a pocket whose reference fields hold
// the writer's numbers.
Ref ReadPlain(TransferReader& in, uint32_t size, uint32_t type) {
  if (size < kHeaderWords || size > kMaxPlainWords) TransferReader::Invalid();
  std::vector<uint32_t> body(size - kHeaderWords);
  in.Bytes(body.data(), 4ull * body.size());
  Temporaries hold;
  hold[0] = GetSpace(size);
  Ref pocket = hold[0];
  RefCount(pocket) = 1;
  std::copy(body.begin(), body.end(), Words(pocket) + kHeaderWords);
  TypeWord(pocket) = type;
  bool fits = HasLayout(pocket);
  FieldRuns runs;
  if (fits) ChildFields(pocket, runs);
  for (uint32_t i = 0; i < runs.count; ++i) {
    const FieldRuns::Run& run = runs.runs[i];
    if (run.fields != 0 && uint64_t{run.firstWord} + uint64_t{run.fields - 1} * run.stride >= size) fits = false;
  }
  if (!fits) {
    TypeWord(pocket) = kKindPlain14;
    TransferReader::Invalid();
  }
  ForEachChildField(Words(pocket), runs, [&](uint32_t* field) {
    if (!IsRef(*field)) return;
    *field = 0;
    in.ChildrenToWords(static_cast<uint32_t>(field - Words(pocket)), 1);
  });
  return hold.Take(0);
}

// ---- Byte sinks and sources --------------------------------------------------------------------

int64_t CountingSink(void* context, const void*, uint64_t length) {
  *static_cast<uint64_t*>(context) += length;
  return static_cast<int64_t>(length);
}

constexpr std::array<TransferRule, 16> ArrayRules() {
  std::array<TransferRule, 16> rules{};
  rules[kKindSimple] = {WriteSimpleArray, ReadSimpleArray, nullptr, nullptr};
  rules[kKindNested] = {WriteNestedArray, ReadNestedArray, nullptr, nullptr};
  return rules;
}

std::array<TransferRule, 16> g_kindRules = ArrayRules();  // then the units add theirs

const TransferRule* RuleFor(uint32_t type) {
  uint32_t kind = KindOf(type);
  if (kind == kKindObject) {
    for (const auto& [low16, rule] : g_objectRules)
      if (low16 == (type & 0xFFFF)) return &rule;
    return nullptr;
  }
  return g_kindRules[kind].read ? &g_kindRules[kind] : nullptr;
}

}  // namespace

int64_t AppendTransferBytes(void* vector, const void* bytes, uint64_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(vector);
  const auto* p = static_cast<const uint8_t*>(bytes);
  out->insert(out->end(), p, p + length);
  return static_cast<int64_t>(length);
}

int64_t ReadTransferCursor(void* context, void* buffer, uint64_t length) {
  auto* cursor = static_cast<TransferCursor*>(context);
  uint64_t n = std::min(length, cursor->left);
  if (n == 0) return 0;  // an empty stream may have no bytes behind it at all
  std::memcpy(buffer, cursor->next, n);
  cursor->next += n;
  cursor->left -= n;
  return static_cast<int64_t>(n);
}

// ---- Rules -------------------------------------------------------------------------------------

void RegisterTransferKind(uint32_t kind, const TransferRule& rule) { g_kindRules[kind & kKindMask] = rule; }

void RegisterTransferObjectClass(uint32_t low16, const TransferRule& rule) {
  for (auto& [known, existing] : g_objectRules)
    if (known == low16) {
      existing = rule;
      return;
    }
  g_objectRules.emplace_back(low16, rule);
}

TransferRule PlainTransferRule() { return {WritePlain, ReadPlain, nullptr, nullptr}; }


// ---- Writer ------------------------------------------------------------------------------------

TransferWriter::TransferWriter(TransferSink sink, void* context, TransferFailFn fail)
    : sink_(sink), context_(context), fail_(fail) {
  buffer_.reserve(kWriteBufferBytes);
}

TransferWriter::~TransferWriter() = default;

void TransferWriter::Flush() {
  if (buffer_.empty()) return;
  int64_t accepted = sink_(context_, buffer_.data(), buffer_.size());
  uint64_t length = buffer_.size();
  buffer_.clear();
  CheckAccepted(accepted, length);
}

void TransferWriter::Fail(uint32_t errorNumber, uint32_t messageRow) {
  if (fail_) fail_(errorNumber, messageRow);
  SignalError(errorNumber, messageRow, 0, 0, kUnit, __LINE__);
}

void TransferWriter::CheckAccepted(int64_t accepted, uint64_t length) {
  if (accepted < 0) Fail(kDomainError, MessageRow(U"Write function returned error"));
  if (static_cast<uint64_t>(accepted) != length) Fail(kDomainError, MessageRow(U"Write function terminated early"));
}

void TransferWriter::Word(uint32_t word) { Bytes(&word, 4); }

void TransferWriter::Bytes(const void* bytes, uint64_t length) {
  if (buffer_.size() + length > kWriteBufferBytes) Flush();
  if (length >= kWriteBufferBytes) {
    return CheckAccepted(sink_(context_, bytes, length), length);
  }
  const auto* p = static_cast<const uint8_t*>(bytes);
  buffer_.insert(buffer_.end(), p, p + length);
}

void TransferWriter::Child(Ref child) { pending_.back().push_back(child); }

int32_t TransferWriter::ShareWord(Ref object) {
  auto [it, first] = shared_.emplace(object, static_cast<uint32_t>(shared_.size()));
  if (first) return 0;
  int32_t distance = static_cast<int32_t>(shared_.size() - 1 - it->second);
  return distance == 0 ? -1 : distance;
}

// Writes one record's size, type and body, and queues its children. The list of children is
// pushed first so that the rule's Child calls fill it; a record without children drops it again.
void TransferWriter::WriteRecord(Ref pocket) {
  if (!IsRef(pocket)) return Word(0);
  const TransferRule* rule = RuleFor(TypeWord(pocket));
  if (!rule || !rule->write) Fail(kDomainError, MessageRow(U"Array cannot be serialised"));
  pending_.emplace_back();
  rule->write(pocket, *this);
  if (pending_.back().empty()) pending_.pop_back();
  else std::reverse(pending_.back().begin(), pending_.back().end());  // taken from the back
}

void TransferWriter::Write(Ref value) {
  size_t base = pending_.size();
  WriteRecord(value);
  uint32_t steps = 0;
  while (pending_.size() > base) {
    if (pending_.back().empty()) {
      pending_.pop_back();
      continue;
    }
    Ref next = pending_.back().back();
    pending_.back().pop_back();
    WriteRecord(next);
    if ((++steps & 0xFFF) == 0 && !fail_) CheckStrongInterrupt();
  }
}

// ---- Reader ------------------------------------------------------------------------------------

struct TransferReader::Frame {
  const TransferRule* rule;
  std::vector<std::pair<uint32_t, uint32_t>> runs;  // words to fill: (first word, count)
  uint32_t ruleChildren = 0;
  std::vector<uint32_t> data;
  uint64_t delivered = 0;
  uint32_t run = 0;         // the run being filled
  uint32_t inRun = 0;       // children delivered into it
  uint64_t total = 0;
};

TransferReader::TransferReader(TransferSource source, void* context) : source_(source), context_(context) {}

TransferReader::~TransferReader() {
  while (held_.size() > 2 * frames_.size()) {  // a record whose body was being read
    Release(held_.back());
    held_.pop_back();
  }
  while (!frames_.empty()) PopFrame(false);
  registration_.SetBuffer(nullptr, 0);
}

void TransferReader::Invalid() { SIGNAL_MESSAGE(kDomainError, U"Incoming array is invalid"); }

void TransferReader::Bytes(void* buffer, uint64_t length) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    int64_t got = source_(context_, p, length);
    if (got < 0) SIGNAL_MESSAGE(kDomainError, U"Read function returned error");
    if (got == 0) SIGNAL_MESSAGE(kDomainError, U"Read function terminated early. End of file");
    p += got;
    length -= static_cast<uint64_t>(got);
  }
}

uint32_t TransferReader::Word() {
  uint32_t word;
  Bytes(&word, 4);
  return word;
}

void TransferReader::ChildrenToWords(uint32_t firstWord, uint32_t count) {
  if (count == 0) return;
  if (!newRuns_.empty() && newRuns_.back().first + newRuns_.back().second == firstWord) newRuns_.back().second += count;
  else newRuns_.emplace_back(firstWord, count);
}

void TransferReader::ChildrenToRule(uint32_t count) { newRuleChildren_ += count; }

std::vector<uint32_t>& TransferReader::RecordData() { return newData_; }

// The reference of the record whose body is being read sits in the last pair of held_.
void TransferReader::KeepWithRecord(Ref counted) {
  Ref previous = held_.back();
  held_.back() = counted;
  Release(previous);
}

// The table of shared objects is a reference vector in registration slot 1, so that compaction
// keeps it right and the destructor releases it; sharedCount_ says how much of it is used.
void TransferReader::EnterShared(const Ref& object) {
  Ref& table = registration_[1];
  if (!IsRef(table) || sharedCount_ == ElementCount(table)) {
    Ref grown = AllocVector(kRefElement, std::max(16u, 2 * sharedCount_));
    if (IsRef(table)) {
      std::memcpy(DataOf<Ref>(grown), DataOf<Ref>(table), 4ull * sharedCount_);
      std::memset(DataOf<Ref>(table), 0, 4ull * sharedCount_);
    }
    Release(table);
    table = grown;
  }
  Retain(object);
  DataOf<Ref>(table)[sharedCount_++] = object;
}

Ref TransferReader::SharedObject(int32_t shareWord) {
  int64_t distance = shareWord == -1 ? 0 : shareWord;
  if (distance < 0 || distance >= sharedCount_) Invalid();
  return DataOf<Ref>(registration_[1])[sharedCount_ - 1 - distance];
}

void TransferReader::RegisterHeld() { registration_.SetBuffer(held_.data(), static_cast<uint32_t>(held_.size())); }

// Hands a finished child (counted) to the open record it belongs to; records that are then
// complete close and are handed on in turn. With no open record the child is the value.
void TransferReader::Deliver(Ref child) {
  for (;;) {
    if (frames_.empty()) {
      registration_[0] = child;
      return;
    }
    Frame& frame = frames_.back();
    Ref& pocket = held_[2 * (frames_.size() - 1)];
    if (frame.run < frame.runs.size()) {
      auto [first, count] = frame.runs[frame.run];
      Words(pocket)[first + frame.inRun] = child;
      if (++frame.inRun == count) {
        ++frame.run;
        frame.inRun = 0;
      }
    } else {
      uint32_t index = static_cast<uint32_t>(frame.delivered - (frame.total - frame.ruleChildren));
      frame.rule->deliver(pocket, frame.data, index, child);
    }
    if (++frame.delivered < frame.total) return;
    PopFrame(true);
    child = registration_.Take(2);
  }
}

// Closes the innermost open record. A completed one leaves its pocket in registration slot 2 for
// Deliver; an abandoned one is released.
void TransferReader::PopFrame(bool completed) {
  Frame& frame = frames_.back();
  Ref pocket = held_[held_.size() - 2];
  Ref kept = held_[held_.size() - 1];
  held_[held_.size() - 2] = 0;
  held_[held_.size() - 1] = 0;
  Release(registration_[2]);  // a record whose closing failed
  registration_[2] = pocket;
  const TransferRule* rule = frame.rule;
  frames_.pop_back();
  held_.resize(held_.size() - 2);
  RegisterHeld();
  Temporaries keep;
  keep[0] = kept;
  if (rule->leave) rule->leave(registration_[2], keep[0], completed);
  if (!completed) Release(registration_[2]);
}

// Reads one record's size, type and body. A pocket with children becomes an open record (its
// pocket and kept reference the last pair of held_); one without is handed on at once.
void TransferReader::ReadRecord() {
  uint32_t size = Word();
  if (size == 0) return Deliver(0);
  if (size < kHeaderWords) Invalid();
  uint32_t type = Word();
  const TransferRule* rule = RuleFor(type);
  if (!rule) Invalid();
  newRuns_.clear();
  newRuleChildren_ = 0;
  newData_.clear();
  held_.push_back(0);
  held_.push_back(0);
  RegisterHeld();
  held_[held_.size() - 2] = rule->read(*this, size, type);
  uint64_t total = newRuleChildren_;
  for (auto& run : newRuns_) total += run.second;
  if (newRuleChildren_ && !rule->deliver) Invalid();
  frames_.push_back(Frame{rule, std::move(newRuns_), newRuleChildren_, std::move(newData_), 0, 0, 0, total});
  if (total == 0) {
    PopFrame(true);
    Deliver(registration_.Take(2));
  }
}

Ref TransferReader::Read() {
  size_t base = frames_.size();
  ReadRecord();
  uint32_t steps = 0;
  while (frames_.size() > base) {
    ReadRecord();
    if ((++steps & 0xFFF) == 0) CheckStrongInterrupt();
  }
  return registration_.Take(0);
}

// ---- Whole values ------------------------------------------------------------------------------

uint64_t MeasureTransfer(Ref value) {
  uint64_t total = 0;
  TransferWriter writer(CountingSink, &total);
  writer.Write(value);
  writer.Flush();
  if (total > 0xFFFFFFFFull) SIGNAL_MESSAGE(kLimitError, U"32-bit interpreter limit");
  return total;
}

std::vector<uint8_t> TransferBytes(Ref value) {
  std::vector<uint8_t> bytes;
  TransferWriter writer(AppendTransferBytes, &bytes);
  writer.Write(value);
  writer.Flush();
  return bytes;
}

Ref ValueFromTransferBytes(const uint8_t* bytes, uint64_t length) {
  TransferCursor cursor{bytes, length};
  TransferReader reader(ReadTransferCursor, &cursor);
  Temporaries hold;
  hold[0] = reader.Read();
  if (cursor.left != 0) TransferReader::Invalid();
  return hold.Take(0);
}

}  // namespace vantor
