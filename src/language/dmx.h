// The error information of each APL thread: ⎕EN, ⎕DM and the ⎕DMX record, filled by RecordDmx when an
// error is signalled; the values ⎕DMX, ⎕EN and ⎕DM give to APL code; and the three-line error display
// that the evaluator writes for an untrapped error.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "memory/pockutil.h"

namespace vantor {

// Fills a format's placeholders from `args` in order. A placeholder without a matching argument gives
// the fixed text "An error occurred retrieving the error message.".
std::u32string FormatMessage(std::u32string_view format, std::initializer_list<MessageArg> args);

// The system's text for an operating-system error code; empty for code 0. On this platform the
// system's error codes are errno values, so every kind reads the C library's text.
std::u32string OsErrorText(int kind, int code);

// The documentation address of an extended message: the base address, the version, the category
// name with every character other than a letter or digit written as %XX (blanks dropped), and ENX.
// Empty for row 0.
std::u32string HelpAddress(uint32_t row);

// The ⎕DMX record of one thread. `filled` is false until the thread's first error; the properties of
// an unfilled record read as their defaults.
struct ErrorRecord {
  bool filled = false;
  uint32_t en = 0;           // the recorded number: 25 is recorded as 24 and 35 as 19
  uint32_t signalledEn = 0;  // the number as signalled, whose message the display shows
  uint32_t row = 0;          // flat row of the extended message, 0 for none
  uint32_t enx = 0;
  std::u32string category;
  std::u32string message;    // the extended message, placeholders filled
  std::u32string helpUrl;
  int osKind = 0;
  int osCode = 0;
  std::u32string osText;
  std::string unit;          // source unit that raised the error, without directories
  int line = 0;
  std::optional<std::u32string> signalledMessage;  // replaces the standard message (⎕SIGNAL)
  std::u32string vendor;
  std::vector<std::u32string> dm;  // the three lines of ⎕DM, or none before the first error
};

// The error state of one APL thread: ⎕EN and ⎕DM are kept apart from the record because :Trap
// localises ⎕DMX only.
struct ThreadErrorState {
  uint32_t en = 0;
  std::vector<std::u32string> dm;
  ErrorRecord dmx;
};

// The running thread's error state. The thread scheduler installs each thread's own state when it
// switches; nullptr selects the state of the first thread. Signalled errors are recorded in it from then on.
ThreadErrorState& ErrorState();
void SetErrorState(ThreadErrorState* state);

inline constexpr std::u32string_view kDefaultVendor = U"Vantor";

// Records an error in the running thread's state as SignalError does, without raising it: stores ⎕EN
// (25 as 24, 35 as 19) and fills the record (EN, row, ENX, category, message formatted from the row
// and `args`, help address, OS error with its text, source unit and line, vendor), and makes ⎕DM's
// first line the error's message until the evaluator records the full display. An EXCEPTION (90)
// without a row gets the row of the .NET exception message. Numbers from 32768 up are unwinding
// requests and record nothing, and so do errors raised inside the trap search.
void RecordDmx(uint32_t errorNumber, uint32_t row, int osKind, int osCode, const char* sourceUnit, int sourceLine,
               std::initializer_list<MessageArg> args = {});

// Gives the recorded error a message that replaces the standard one (⎕SIGNAL's left argument or EM).
void SetSignalledMessage(std::u32string message);

// The message the display shows for a record: the signalled message, else the message of the number
// as signalled.
std::u32string DisplayMessage(const ErrorRecord& record);

// ---- ⎕DMX, ⎕EN and ⎕DM as values --------------------------------------------------------------------

// ⎕DMX's ten properties, in their order.
enum DmxProperty : uint32_t {
  kDmxMessage = 1,
  kDmxEN,
  kDmxENX,
  kDmxInternalLocation,
  kDmxHelpURL,
  kDmxOSError,
  kDmxDM,
  kDmxCategory,
  kDmxVendor,
  kDmxEM,
};
inline constexpr uint32_t kDmxPropertyCount = 10;

// The property with exactly this name, or 0.
uint32_t FindDmxProperty(std::u32string_view name);
std::u32string_view DmxPropertyName(DmxProperty property);

// A property of the running thread's record as a counted value (⎕DMX.EN and the like).
Ref DmxPropertyValue(DmxProperty property);
// ⎕DMX itself until namespaces can present it as an object: a 10×2 nested matrix of property names
// and values, in property order.
Ref DmxValue();

// ⎕DMX localised (a function that traps errors): the running thread's record as a counted value
// that keeps every field, and the exchange that installs such a value (0: keep the record) and
// returns the record it replaces in the same form.
Ref DmxRecordValue();
Ref ExchangeDmxRecord(Ref value);

// ⎕EN: the recorded number of the most recent error (0 before any).
Ref QuadEN();
// ⎕DM: the three lines describing the most recent error (an empty vector before any).
Ref QuadDM();

// ---- The error display -----------------------------------------------------------------------------

// Where an error happened, as the evaluator knows it.
struct ErrorPlace {
  std::u32string_view function;   // the function's name; empty for immediate execution
  uint32_t line = 0;              // the function's line number
  std::u32string_view statement;  // the statement's text, appended as given
  uint32_t caret = 0;             // offset in `statement` of the failing part
  int thread = -1;                // the thread number in a multi-threaded run, else -1
};

// The lines of an error's display, without line ends: the message (after "n:" for a thread, and
// followed by ": " and `extended` when that is not empty); the function name with "[line]" (or six
// blanks for immediate execution) and the statement; blanks and the caret ∧ under the failing part.
// 1001, 1002 and 32772 have no caret line.
std::vector<std::u32string> ErrorDisplayLines(uint32_t errorNumber, std::u32string_view message,
                                              std::u32string_view extended, const ErrorPlace& place);

// The text DMXOUTPUTONERROR adds for a record: ⎕DMX.Message and, for an OS error, the system's text
// in parentheses and double quotes.
std::u32string DmxOutputText(const ErrorRecord& record);

// What the evaluator writes for an error: the display lines (with the DMXOUTPUTONERROR text on the
// first when its bit 2 is set) and, when its bit 1 is set, the text for the session output.
struct ErrorDisplay {
  std::vector<std::u32string> lines;
  std::u32string sessionText;
};

// Completes the running thread's record with the error's place: ⎕DM and ⎕DMX.DM get the three lines
// (message without thread prefix or DMXOUTPUTONERROR text; the caret line empty when the display has
// none). Returns what to display. DMXOUTPUTONERROR is read once, on first use (default 2).
ErrorDisplay RecordErrorDisplay(const ErrorPlace& place);

// ---- Array helpers of the error functions ----------------------------------------------------------

// Readers of the argument arrays that ⎕SIGNAL and ⎕TRAP check, in a namespace of their own because
// other units keep file-local helpers with these names.
namespace argcheck {
// A reference to an array, simple or nested (not a function, namespace or code below 512).
inline bool IsArrayValue(Ref r) { return IsRef(r) && IsArrayKind(KindOf(TypeWord(r))); }
inline bool IsNestedArray(Ref r) { return KindOf(TypeWord(r)) == kKindNested; }
inline Ref ItemOf(Ref nested, uint64_t i) { return DataOf<Ref>(nested)[i]; }
inline uint32_t ArrayRank(Ref array) { return RankOf(TypeWord(array)); }
}  // namespace argcheck

// A counted character vector of the narrowest character type that holds `text`.
Ref MakeText(std::u32string_view text);
// A counted nested array of this shape whose item i is `makeItem(i)` (a counted value), each stored as
// soon as it is built. An empty one gets the empty character vector as its prototype.
Ref MakeNested(const std::vector<uint32_t>& shape, const std::function<Ref(uint64_t)>& makeItem);
// The elements of a simple numeric array as integers; false when the array is not simple numeric or
// an element is not a whole number.
bool ReadIntegers(Ref array, std::vector<int64_t>& out);

}  // namespace vantor
