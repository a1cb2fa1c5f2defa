// The error information of each APL thread: filling the ⎕DMX record when an error is signalled,
// presenting it (and ⎕EN, ⎕DM) as APL values, and composing the three-line error display.
#include "language/dmx.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "base/config.h"
#include "language/qem.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/memory1.h"

namespace vantor {

// ---- Formatting messages ---------------------------------------------------------------------------

static constexpr std::u32string_view kFormatFailure = U"An error occurred retrieving the error message.";

static std::u32string Widen(std::string_view bytes) { return std::u32string(bytes.begin(), bytes.end()); }

static std::u32string Digits(uint64_t value, int base) {
  char buffer[24];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, base).ptr;
  return Widen(std::string_view(buffer, end - buffer));
}

static std::u32string SignedDigits(int64_t value) {
  std::u32string digits = Digits(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value), 10);
  return value < 0 ? U"-" + digits : digits;
}

// The text for one placeholder ("ls", "d", "i", "u", "lu" or "x"), or nothing when the argument does
// not suit it.
static std::optional<std::u32string> Placeholder(std::u32string_view spec, const MessageArg& arg) {
  bool wantsText = spec == U"ls";
  if (wantsText != (arg.kind == MessageArg::Kind::Text)) return std::nullopt;
  if (wantsText) return std::u32string(arg.text);
  if (spec == U"d" || spec == U"i") return SignedDigits(arg.number);
  if (spec == U"u" || spec == U"lu") return Digits(static_cast<uint64_t>(arg.number), 10);
  return Digits(static_cast<uint64_t>(arg.number), 16);  // "x"
}

// The placeholder at `format[at]` (just after a %): its letters, or empty when it is not one we know.
static std::u32string_view PlaceholderAt(std::u32string_view format, size_t at) {
  for (std::u32string_view spec : {U"ls", U"lu", U"d", U"i", U"u", U"x"})
    if (format.substr(at, spec.size()) == spec) return spec;
  return {};
}

std::u32string FormatMessage(std::u32string_view format, std::initializer_list<MessageArg> args) {
  std::u32string out;
  const MessageArg* next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != U'%') {
      out += format[i];
      continue;
    }
    std::u32string_view spec = PlaceholderAt(format, i + 1);
    if (spec.empty() || next == args.end()) return std::u32string(kFormatFailure);
    std::optional<std::u32string> text = Placeholder(spec, *next++);
    if (!text) return std::u32string(kFormatFailure);
    out += *text;
    i += spec.size();
  }
  return out;
}

// ---- Parts of the record -----------------------------------------------------------------------------

std::u32string OsErrorText(int, int code) {
  if (code == 0) return {};
  char buffer[256];
  return Widen(strerror_r(code, buffer, sizeof buffer));
}

static constexpr std::u32string_view kHelpBase = U"https://docs.vantor-apl.dev/messages/";
static constexpr std::u32string_view kHelpVersion = U"15.0";
static constexpr size_t kHelpAddressLimit = 2048;

static bool IsAsciiLetterOrDigit(char32_t c) {
  return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
}

// A category name as an address segment: letters and digits stay, blanks go, the rest become %XX.
static std::u32string AddressSegment(std::u32string_view name) {
  std::u32string out;
  for (char32_t c : name) {
    if (IsAsciiLetterOrDigit(c)) {
      out += c;
    } else if (c != U' ') {
      std::u32string hex = Digits(c, 16);
      std::transform(hex.begin(), hex.end(), hex.begin(), [](char32_t h) { return h >= U'a' ? h - 32 : h; });
      out += U"%" + std::u32string(hex.size() < 2 ? 1 : 0, U'0') + hex;
    }
  }
  return out;
}

std::u32string HelpAddress(uint32_t row) {
  MessageCategory category = CategoryOfRow(row);
  if (category == kCategoryNone) return {};
  std::u32string address = std::u32string(kHelpBase) + std::u32string(kHelpVersion) + U"/" +
                           AddressSegment(kMessageCategories[category].name) + U"/" +
                           Digits(IndexInCategory(row), 10);
  if (address.size() > kHelpAddressLimit) address.resize(kHelpAddressLimit);
  return address;
}

static constexpr size_t kUnitNameLimit = 63;

// The source unit's name without directories, cut to its limit.
static std::string UnitName(const char* sourceUnit) {
  std::string_view path = sourceUnit ? sourceUnit : "";
  size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return std::string(name.substr(0, kUnitNameLimit));
}

// 25 and 35 are variants that programs trap under the number of the plainer error.
static uint32_t RecordedNumber(uint32_t errorNumber) {
  if (errorNumber == kFileTiedRemotely) return kFileTied;
  if (errorNumber == kFileAccessErrorConverting) return kFileAccessError;
  return errorNumber;
}

// ---- The record --------------------------------------------------------------------------------------

static ThreadErrorState g_firstThreadErrors;
static ThreadErrorState* g_threadErrors = &g_firstThreadErrors;

ThreadErrorState& ErrorState() { return *g_threadErrors; }
void SetErrorState(ThreadErrorState* state) {
  g_threadErrors = state ? state : &g_firstThreadErrors;
  SetErrorRecorder(RecordDmx);
}

std::u32string DisplayMessage(const ErrorRecord& record) {
  return record.signalledMessage ? *record.signalledMessage : ErrorMessage(record.signalledEn);
}

static ErrorRecord FilledRecord(uint32_t errorNumber, uint32_t row, int osKind, int osCode, const char* sourceUnit,
                                int sourceLine, std::initializer_list<MessageArg> args) {
  ErrorRecord record;
  record.filled = true;
  record.en = RecordedNumber(errorNumber);
  record.signalledEn = errorNumber;
  record.row = row <= kMessageRowCount ? row : 0;
  record.enx = IndexInCategory(record.row);
  record.category = kMessageCategories[CategoryOfRow(record.row)].name;
  if (record.row) record.message = FormatMessage(kExtendedMessages[record.row], args);
  record.helpUrl = HelpAddress(record.row);
  record.osKind = osKind;
  record.osCode = osCode;
  record.osText = OsErrorText(osKind, osCode);
  record.unit = UnitName(sourceUnit);
  record.line = sourceLine;
  record.vendor = kDefaultVendor;
  record.dm = {DisplayMessage(record), U"", U""};
  return record;
}

void RecordDmx(uint32_t errorNumber, uint32_t row, int osKind, int osCode, const char* sourceUnit, int sourceLine,
               std::initializer_list<MessageArg> args) {
  if (errorNumber >= kFirstUnwindRequest || TrapSearchRunning()) return;
  ThreadErrorState& state = ErrorState();
  state.en = RecordedNumber(errorNumber);
  if (errorNumber == kException && row == 0)
    row = MessageRow(U"A .NET exception has occurred. Check ⎕EXCEPTION for details");
  try {
    state.dmx = FilledRecord(errorNumber, row, osKind, osCode, sourceUnit, sourceLine, args);
  } catch (const std::bad_alloc&) {
    state.dmx = FilledRecord(kDomainError, MessageRow(U"An error occurred creating the ⎕DMX information"), 0, 0,
                             sourceUnit, sourceLine, {});
  }
  state.dm = state.dmx.dm;
}

// A signalled message replaces the standard one, within the same length limit.
void SetSignalledMessage(std::u32string message) {
  ThreadErrorState& state = ErrorState();
  if (message.size() > kErrorMessageLimit) message.resize(kErrorMessageLimit);
  state.dmx.signalledMessage = std::move(message);
  state.dmx.dm[0] = *state.dmx.signalledMessage;
  state.dm = state.dmx.dm;
}

// ---- ⎕DMX, ⎕EN and ⎕DM as values ---------------------------------------------------------------------

static Ref EmptyVector() {
  Ref empty = RootWordAt(kRootEmptyNumericVector);
  Retain(empty);
  return empty;
}

static Ref TextLines(const std::vector<std::u32string>& lines) {
  if (lines.empty()) return EmptyVector();
  return MakeNested({static_cast<uint32_t>(lines.size())}, [&](uint64_t i) { return MakeText(lines[i]); });
}

static Ref MessageValue(const ErrorRecord& r) { return MakeText(r.message); }
static Ref ENValue(const ErrorRecord& r) { return MakeIntScalar(static_cast<int32_t>(r.en)); }
static Ref ENXValue(const ErrorRecord& r) { return MakeIntScalar(static_cast<int32_t>(r.enx)); }
static Ref InternalLocationValue(const ErrorRecord& r) {
  if (!r.filled) return EmptyVector();
  std::u32string unit = Widen(r.unit);
  return MakeNested({2}, [&](uint64_t i) { return i == 0 ? MakeText(unit) : MakeIntScalar(r.line); });
}
static Ref HelpURLValue(const ErrorRecord& r) { return MakeText(r.helpUrl); }
static Ref OSErrorValue(const ErrorRecord& r) {
  if (!r.filled) return MakeText(U"");
  return MakeNested({3}, [&](uint64_t i) {
    return i == 0 ? MakeIntScalar(r.osKind) : i == 1 ? MakeIntScalar(r.osCode) : MakeText(r.osText);
  });
}
static Ref DMValue(const ErrorRecord& r) { return TextLines(r.dm); }
static Ref CategoryValue(const ErrorRecord& r) { return MakeText(r.category); }
static Ref VendorValue(const ErrorRecord& r) { return MakeText(r.vendor); }
static Ref EMValue(const ErrorRecord& r) {
  if (!r.filled) return MakeText(U"");
  return MakeText(r.signalledMessage ? *r.signalledMessage : ErrorMessage(r.en));
}

struct DmxPropertyInfo {
  std::u32string_view name;
  Ref (*value)(const ErrorRecord&);
};

// Indexed by DmxProperty (entry 0 unused).
static constexpr DmxPropertyInfo kDmxProperties[kDmxPropertyCount + 1] = {
    {U"", nullptr},
    {U"Message", MessageValue},
    {U"EN", ENValue},
    {U"ENX", ENXValue},
    {U"InternalLocation", InternalLocationValue},
    {U"HelpURL", HelpURLValue},
    {U"OSError", OSErrorValue},
    {U"DM", DMValue},
    {U"Category", CategoryValue},
    {U"Vendor", VendorValue},
    {U"EM", EMValue},
};

// The properties in name order (code units compared exactly), for binary search.
static constexpr DmxProperty kDmxPropertiesByName[kDmxPropertyCount] = {
    kDmxCategory, kDmxDM, kDmxEM, kDmxEN, kDmxENX, kDmxHelpURL, kDmxInternalLocation, kDmxMessage, kDmxOSError, kDmxVendor,
};
static constexpr std::u32string_view NameOf(DmxProperty property) { return kDmxProperties[property].name; }
static_assert(std::ranges::is_sorted(kDmxPropertiesByName, {}, NameOf));

std::u32string_view DmxPropertyName(DmxProperty property) { return NameOf(property); }

uint32_t FindDmxProperty(std::u32string_view name) {
  const DmxProperty* found = std::ranges::lower_bound(kDmxPropertiesByName, name, {}, NameOf);
  if (found == std::end(kDmxPropertiesByName) || NameOf(*found) != name) return 0;
  return *found;
}

Ref DmxPropertyValue(DmxProperty property) { return kDmxProperties[property].value(ErrorState().dmx); }

Ref DmxValue() {
  return MakeNested({kDmxPropertyCount, 2}, [](uint64_t i) {
    DmxProperty property = static_cast<DmxProperty>(i / 2 + 1);
    return i % 2 == 0 ? MakeText(DmxPropertyName(property)) : DmxPropertyValue(property);
  });
}

// The record as a nested vector: its numbers, then its texts, then the lines of ⎕DM.
enum RecordValueItem : uint32_t { kRecordNumbers, kRecordFirstText, kRecordDm = kRecordFirstText + 7, kRecordItems };

Ref DmxRecordValue() {
  const ErrorRecord& r = ErrorState().dmx;
  const int32_t numbers[] = {r.filled,          static_cast<int32_t>(r.en),  static_cast<int32_t>(r.signalledEn),
                             static_cast<int32_t>(r.row), static_cast<int32_t>(r.enx), r.osKind, r.osCode, r.line,
                             r.signalledMessage.has_value()};
  const std::u32string unit(r.unit.begin(), r.unit.end());
  const std::u32string_view texts[] = {r.category, r.message, r.helpUrl, r.osText, unit,
                                       r.signalledMessage ? *r.signalledMessage : U"", r.vendor};
  return MakeNested({kRecordItems}, [&](uint64_t i) -> Ref {
    if (i == kRecordNumbers) {
      Ref v = AllocVector(kInt32, std::size(numbers));
      std::copy(std::begin(numbers), std::end(numbers), DataOf<int32_t>(v));
      return v;
    }
    if (i == kRecordDm) return TextLines(r.dm);
    return MakeText(texts[i - kRecordFirstText]);
  });
}

namespace {

std::u32string ItemText(Ref nested, uint64_t i) {
  Ref item = DataOf<Ref>(nested)[i];
  return ElementCount(item) ? CharacterText(item) : std::u32string();
}

ErrorRecord RecordFromValue(Ref value) {
  ErrorRecord r;
  const int32_t* n = DataOf<int32_t>(DataOf<Ref>(value)[kRecordNumbers]);
  r.filled = n[0];
  r.en = static_cast<uint32_t>(n[1]);
  r.signalledEn = static_cast<uint32_t>(n[2]);
  r.row = static_cast<uint32_t>(n[3]);
  r.enx = static_cast<uint32_t>(n[4]);
  r.osKind = static_cast<int>(n[5]);
  r.osCode = static_cast<int>(n[6]);
  r.line = static_cast<int>(n[7]);
  uint32_t t = kRecordFirstText;
  r.category = ItemText(value, t++);
  r.message = ItemText(value, t++);
  r.helpUrl = ItemText(value, t++);
  r.osText = ItemText(value, t++);
  const std::u32string unit = ItemText(value, t++);
  r.unit.assign(unit.begin(), unit.end());
  if (n[8]) r.signalledMessage = ItemText(value, t);
  ++t;
  r.vendor = ItemText(value, t++);
  Ref dm = DataOf<Ref>(value)[kRecordDm];
  for (uint64_t i = 0; i < ElementCount(dm); ++i) r.dm.push_back(ItemText(dm, i));
  return r;
}

}  // namespace

Ref ExchangeDmxRecord(Ref value) {
  Temporaries hold;
  hold[0] = value;
  Ref previous = DmxRecordValue();
  if (hold[0]) ErrorState().dmx = RecordFromValue(hold[0]);
  return previous;
}

Ref QuadEN() { return MakeIntScalar(static_cast<int32_t>(ErrorState().en)); }
Ref QuadDM() { return TextLines(ErrorState().dm); }

// ---- The error display -------------------------------------------------------------------------------

static bool HasCaretLine(uint32_t errorNumber) {
  return errorNumber != kStop && errorNumber != kWeakInterrupt && errorNumber != kSilentUnwind;
}

std::vector<std::u32string> ErrorDisplayLines(uint32_t errorNumber, std::u32string_view message,
                                              std::u32string_view extended, const ErrorPlace& place) {
  std::u32string first = place.thread >= 0 ? SignedDigits(place.thread) + U":" : U"";
  first += message;
  if (!extended.empty()) first += U": " + std::u32string(extended);
  std::u32string where = place.function.empty()
                             ? std::u32string(6, U' ')
                             : std::u32string(place.function) + U"[" + Digits(place.line, 10) + U"]";
  std::vector<std::u32string> lines = {first, where + std::u32string(place.statement)};
  if (HasCaretLine(errorNumber)) lines.push_back(std::u32string(where.size() + place.caret, U' ') + U"∧");
  return lines;
}

std::u32string DmxOutputText(const ErrorRecord& record) {
  std::u32string text = record.message;
  if (record.osCode != 0) text += (text.empty() ? U"(\"" : U" (\"") + record.osText + U"\")";
  return text;
}

static constexpr int64_t kDefaultDmxOutput = 2;
static constexpr uint32_t kDmxOutputOnFirstLine = 2;
static constexpr uint32_t kDmxOutputToSession = 1;

static uint32_t DmxOutputOnError() {
  static const uint32_t mode = [] {
    int64_t value = kDefaultDmxOutput;
    if (!ReadStrict("DMXOUTPUTONERROR", value, INT32_MAX)) value = kDefaultDmxOutput;
    return static_cast<uint32_t>(value);
  }();
  return mode;
}

ErrorDisplay RecordErrorDisplay(const ErrorPlace& place) {
  ThreadErrorState& state = ErrorState();
  uint32_t errorNumber = state.dmx.signalledEn;
  std::u32string message = DisplayMessage(state.dmx);
  ErrorPlace unthreaded = place;
  unthreaded.thread = -1;
  state.dm = ErrorDisplayLines(errorNumber, message, U"", unthreaded);
  state.dm.resize(3);
  state.dmx.dm = state.dm;

  uint32_t mode = DmxOutputOnError();
  std::u32string text = DmxOutputText(state.dmx);
  ErrorDisplay display;
  display.lines = ErrorDisplayLines(errorNumber, message, mode & kDmxOutputOnFirstLine ? text : U"", place);
  if (mode & kDmxOutputToSession) display.sessionText = text;
  return display;
}

// ---- Array helpers -----------------------------------------------------------------------------------

template <typename T>
static Ref TextOfType(ElementType type, std::u32string_view text) {
  Ref r = AllocVector(type, static_cast<uint32_t>(text.size()));
  std::copy(text.begin(), text.end(), DataOf<T>(r));
  return r;
}

Ref MakeText(std::u32string_view text) {
  if (text.empty()) {
    Ref empty = RootWordAt(kRootEmptyCharVector);
    Retain(empty);
    return empty;
  }
  char32_t widest = *std::max_element(text.begin(), text.end());
  if (widest <= 0xFF) return TextOfType<uint8_t>(kChar8, text);
  if (widest <= 0xFFFF) return TextOfType<char16_t>(kChar16, text);
  return TextOfType<char32_t>(kChar32, text);
}

Ref MakeNested(const std::vector<uint32_t>& shape, const std::function<Ref(uint64_t)>& makeItem) {
  uint64_t count = 1;
  for (uint32_t length : shape) count *= length;
  Temporaries hold;
  hold[0] = AllocArray(kRefElement, static_cast<uint32_t>(shape.size()), count);
  std::copy(shape.begin(), shape.end(), ShapeOf(hold[0]));
  if (count == 0) DataOf<Ref>(hold[0])[0] = MakeText(U"");
  for (uint64_t i = 0; i < count; ++i) {
    Ref item = makeItem(i);
    DataOf<Ref>(hold[0])[i] = item;
  }
  return hold.Take(0);
}

template <typename T>
static bool AppendWhole(const T* data, uint64_t count, std::vector<int64_t>& out) {
  for (uint64_t i = 0; i < count; ++i) {
    if constexpr (std::is_floating_point_v<T>) {
      // Whole numbers within ±2*63: the float converts exactly.
      if (!(std::trunc(data[i]) == data[i] && std::fabs(data[i]) < 9.2e18)) return false;
    }
    out.push_back(static_cast<int64_t>(data[i]));
  }
  return true;
}

static bool AppendBits(const uint8_t* data, uint64_t count, std::vector<int64_t>& out) {
  for (uint64_t i = 0; i < count; ++i) out.push_back(GetBit(data, i));
  return true;
}

bool ReadIntegers(Ref array, std::vector<int64_t>& out) {
  uint32_t type = TypeWord(array);
  if (KindOf(type) != kKindSimple) return false;
  uint64_t count = ElementCount(array);
  out.reserve(out.size() + count);
  switch (ElementOf(type)) {
    case kBool: return AppendBits(DataOf<uint8_t>(array), count, out);
    case kInt8: return AppendWhole(DataOf<int8_t>(array), count, out);
    case kInt16: return AppendWhole(DataOf<int16_t>(array), count, out);
    case kInt32: return AppendWhole(DataOf<int32_t>(array), count, out);
    case kInt64: return AppendWhole(DataOf<int64_t>(array), count, out);
    case kFloat64: return AppendWhole(DataOf<double>(array), count, out);
    default: return false;
  }
}

}  // namespace vantor
