// ⎕SIGNAL: checks its arguments (an error number with an optional message, or a ⎕DMX specification),
// records the error with the properties given and raises it for the caller of the signalling function.
// Nothing here allocates in the workspace, so references read from the arguments stay valid.
#include "language/quadsignal.h"

#include <optional>
#include <string>
#include <vector>

#include "language/dmx.h"
#include "language/space.h"
#include "base/errors.h"

namespace vantor {

using namespace argcheck;

static constexpr char kUnit[] = "quadsignal";

static constexpr uint32_t kInvalidNumber = MessageRow(U"Invalid error number for signal");
static constexpr uint32_t kMessageNotText = MessageRow(U"A signalled message must be a character vector or scalar");
static constexpr uint32_t kBadFormat = MessageRow(U"Incorrect ⎕DMX specification format");
static constexpr uint32_t kUnexpectedName = MessageRow(U"Unexpected name in signalled ⎕DMX specification");
static constexpr uint32_t kDuplicateName = MessageRow(U"Duplicate name in signalled ⎕DMX specification");
static constexpr uint32_t kUnexpectedValue = MessageRow(U"Unexpected value in signalled ⎕DMX specification");

static constexpr int64_t kLargestSignalNumber = 999;

// A single integer: RANK ERROR when there is not exactly one element, DOMAIN ERROR when it is not a
// whole number; both with the message `row`.
static int64_t RequireInteger(Ref value, uint32_t row) {
  if (!IsArrayValue(value)) SIGNAL_ROW(kDomainError, row);
  if (ElementCount(value) != 1) SIGNAL_ROW(kRankError, row);
  std::vector<int64_t> numbers;
  if (!ReadIntegers(value, numbers)) SIGNAL_ROW(kDomainError, row);
  return numbers[0];
}

// An error number that APL code may signal: 1 to 999.
static uint32_t RequireErrorNumber(Ref value) {
  int64_t number = RequireInteger(value, kInvalidNumber);
  if (number < 1 || number > kLargestSignalNumber) SIGNAL_ROW(kDomainError, kInvalidNumber);
  return static_cast<uint32_t>(number);
}

// A character vector or scalar: DOMAIN ERROR for anything else, RANK ERROR for a higher rank; both
// with the message `row`.
static std::u32string RequireText(Ref value, uint32_t row) {
  if (!IsArrayValue(value) || !IsSimpleCharacterArray(value)) SIGNAL_ROW(kDomainError, row);
  if (ArrayRank(value) > 1) SIGNAL_ROW(kRankError, row);
  return CharacterText(value);
}

// Records `errorNumber` as raised by ⎕SIGNAL, lets `adjust` change the record, and raises the error
// for the caller of the function that executed ⎕SIGNAL.
template <typename Adjust>
[[noreturn]] static void RaiseForCaller(uint32_t errorNumber, Adjust adjust) {
  int line = __LINE__;
  RecordDmx(errorNumber, 0, kOsErrorNone, 0, kUnit, line);
  adjust(ErrorState().dmx);
  AplError error(errorNumber, 0, kOsErrorNone, 0, kUnit, line);
  error.raisedBySignal = true;
  RaiseRecordedError(error);
}

// ---- The ⎕DMX specification form -------------------------------------------------------------------

struct OsErrorSpecification {
  int kind;
  int code;
  std::u32string text;
};

struct DmxSpecification {
  std::optional<uint32_t> en;
  std::optional<uint32_t> enx;
  std::optional<std::u32string> message, helpUrl, category, vendor, em;
  std::optional<OsErrorSpecification> osError;
};

// A name-value pair: a two-item vector whose first item is a name (characters, rank 0 or 1).
static bool IsNamedPair(Ref r) {
  if (!IsArrayValue(r) || !IsNestedArray(r) || ArrayRank(r) != 1 || ElementCount(r) != 2) return false;
  Ref name = ItemOf(r, 0);
  return IsArrayValue(name) && IsSimpleCharacterArray(name) && ArrayRank(name) <= 1;
}

// The pairs of a specification: a vector of pairs, a single pair, or either of these enclosed.
static std::vector<Ref> SpecificationPairs(Ref specification) {
  if (ArrayRank(specification) == 0) specification = ItemOf(specification, 0);
  if (IsNamedPair(specification)) return {specification};
  if (!IsArrayValue(specification) || ArrayRank(specification) != 1) SIGNAL_ROW(kRankError, kBadFormat);
  std::vector<Ref> pairs;
  for (uint64_t i = 0, count = ElementCount(specification); i < count; ++i) {
    Ref pair = IsNestedArray(specification) ? ItemOf(specification, i) : 0;
    if (!IsArrayValue(pair) || ArrayRank(pair) != 1) SIGNAL_ROW(kRankError, kBadFormat);
    if (ElementCount(pair) != 2) SIGNAL_ROW(kLengthError, kBadFormat);
    pairs.push_back(pair);
  }
  return pairs;
}

// The property a pair names; InternalLocation and DM are the interpreter's to fill.
static DmxProperty NamedProperty(Ref pair) {
  Ref name = IsNestedArray(pair) ? ItemOf(pair, 0) : 0;
  if (!IsArrayValue(name) || !IsSimpleCharacterArray(name) || ArrayRank(name) > 1) SIGNAL_ROW(kDomainError, kUnexpectedName);
  uint32_t property = FindDmxProperty(CharacterText(name));
  if (property == 0 || property == kDmxInternalLocation || property == kDmxDM) SIGNAL_ROW(kDomainError, kUnexpectedName);
  return static_cast<DmxProperty>(property);
}

static int RequireInt32(Ref value) {
  int64_t number = RequireInteger(value, kUnexpectedValue);
  if (number < INT32_MIN || number > INT32_MAX) SIGNAL_ROW(kDomainError, kUnexpectedValue);
  return static_cast<int>(number);
}

// OSError: kind, code and the system's text.
static OsErrorSpecification RequireOsError(Ref value) {
  if (!IsArrayValue(value)) SIGNAL_ROW(kDomainError, kUnexpectedValue);
  if (ArrayRank(value) != 1) SIGNAL_ROW(kRankError, kUnexpectedValue);
  if (!IsNestedArray(value) || ElementCount(value) != 3) SIGNAL_ROW(kDomainError, kUnexpectedValue);
  return {RequireInt32(ItemOf(value, 0)), RequireInt32(ItemOf(value, 1)), RequireText(ItemOf(value, 2), kUnexpectedValue)};
}

static void ReadProperty(DmxSpecification& spec, DmxProperty property, Ref value) {
  switch (property) {
    case kDmxEN: spec.en = RequireErrorNumber(value); break;
    case kDmxENX: {
      int number = RequireInt32(value);
      if (number < 0) SIGNAL_ROW(kDomainError, kUnexpectedValue);
      spec.enx = static_cast<uint32_t>(number);
      break;
    }
    case kDmxMessage: spec.message = RequireText(value, kUnexpectedValue); break;
    case kDmxHelpURL: spec.helpUrl = RequireText(value, kUnexpectedValue); break;
    case kDmxCategory: spec.category = RequireText(value, kUnexpectedValue); break;
    case kDmxVendor: spec.vendor = RequireText(value, kUnexpectedValue); break;
    case kDmxEM: spec.em = RequireText(value, kUnexpectedValue); break;
    case kDmxOSError: spec.osError = RequireOsError(value); break;
    default: SIGNAL_ROW(kDomainError, kUnexpectedName);
  }
}

static DmxSpecification ReadSpecification(Ref specification) {
  DmxSpecification spec;
  uint32_t seen = 0;
  for (Ref pair : SpecificationPairs(specification)) {
    DmxProperty property = NamedProperty(pair);
    if (seen & (1u << property)) SIGNAL_ROW(kDomainError, kDuplicateName);
    seen |= 1u << property;
    ReadProperty(spec, property, ItemOf(pair, 1));
  }
  if (!spec.en) SIGNAL_ROW(kDomainError, kInvalidNumber);
  return spec;
}

// Properties a ⎕DMX specification leaves out keep what RecordDmx gave them.
static void ApplySpecification(const DmxSpecification& spec, ErrorRecord& record) {
  if (spec.enx) record.enx = *spec.enx;
  if (spec.message) record.message = *spec.message;
  if (spec.helpUrl) record.helpUrl = *spec.helpUrl;
  if (spec.category) record.category = *spec.category;
  if (spec.vendor) record.vendor = *spec.vendor;
  if (spec.osError) {
    record.osKind = spec.osError->kind;
    record.osCode = spec.osError->code;
    record.osText = spec.osError->text;
  }
  if (spec.em) SetSignalledMessage(*spec.em);
}

// ---- ⎕SIGNAL ---------------------------------------------------------------------------------------

CallResult QuadSignal(const Ref& left, const Ref& right) {
  if (ElementCount(right) == 0) return {};
  if (IsNestedArray(right)) {
    if (left) SIGNAL_MESSAGE(kDomainError, U"Cannot provide nested right argument and a left argument");
    DmxSpecification spec = ReadSpecification(right);
    RaiseForCaller(*spec.en, [&](ErrorRecord& record) { ApplySpecification(spec, record); });
  }
  uint32_t errorNumber = RequireErrorNumber(right);
  std::optional<std::u32string> message;
  if (left) message = RequireText(left, kMessageNotText);
  RaiseForCaller(errorNumber, [&](ErrorRecord&) {
    if (message) SetSignalledMessage(*message);
  });
}

}  // namespace vantor
