// Native files: ordinary files read and written as raw data through tie numbers (⎕NTIE ⎕NCREATE
// ⎕NUNTIE ⎕NREAD ⎕NAPPEND ⎕NREPLACE ⎕NSIZE ⎕NRESIZE ⎕NLOCK ⎕NRENAME ⎕NERASE ⎕NXLATE ⎕NNAMES ⎕NNUMS),
// whole text files with their encoding and line endings (⎕NGET ⎕NPUT), and the text codecs those use,
// which the search-and-replace streams share. Ties belong to the process and go with the workspace.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "memory/pockutil.h"

namespace vantor {

// A conversion code: the element type of an array read with it, and the bits one element takes in
// the file. Codes 11 80 82 83 160 163 320 323 645 1287 1289.
struct ConversionCode {
  int code;
  ElementType type;
  uint32_t bits;
};
// The conversion code `code`; DOMAIN ERROR "Invalid conversion code" for any other number.
const ConversionCode& ConversionCodeInfo(int64_t code);
// Reads the first `count` elements of `array`, an array of the code's element type, from the file
// at `offset`: the number of whole elements read (fewer when the file ends early). A number the
// interpreter cannot hold is DOMAIN ERROR; code 82 bytes are left as ⎕AV positions.
uint64_t ReadElementsInto(Ref array, int fd, uint64_t offset, const ConversionCode& c, uint64_t count);

// Text encodings, numbered as their names are listed; detection tries byte-order marks in the order
// UTF-8, UTF-32LE, UTF-32BE, UTF-16LE, UTF-16BE.
enum class TextEncoding : uint8_t {
  kAscii = 1,
  kWindows1252 = 2,
  kUtf8 = 3,
  kUtf16LE = 4,
  kUtf16BE = 5,
  kUtf32LE = 6,
  kUtf32BE = 7,
};

// An encoding as a name selects it: the encoding, and whether a byte-order mark goes with it (a
// "-BOM" suffix; a bare Unicode name or "-NOBOM" means none). Names compare without regard to case.
struct EncodingChoice {
  TextEncoding encoding;
  bool byteOrderMark;
};
std::optional<EncodingChoice> ParseEncodingName(std::u32string_view name);
// "UTF-8-BOM", "UTF-16LE-NOBOM", "ASCII", "Windows-1252" ...
std::u32string EncodingName(EncodingChoice choice);

// The encoding of bytes read from a file: a byte-order mark when one starts them (its length in
// `markLength`), otherwise the encoding the bytes fit best.
TextEncoding DetectEncoding(std::string_view bytes, size_t& markLength);
// Decodes bytes (without their mark) into characters; false on a sequence the encoding cannot
// have produced.
bool DecodeText(std::string_view bytes, TextEncoding encoding, std::u32string& out);
// Appends the encoded characters (no mark); false on a character the encoding cannot represent.
bool EncodeText(std::u32string_view text, TextEncoding encoding, std::string& out);
// The byte-order mark of a Unicode encoding ("" for ASCII and Windows-1252).
std::string_view ByteOrderMark(TextEncoding encoding);

// The APL error for an errno value from a failed file operation: FILE NAME ERROR, FILE SYSTEM ERROR,
// FILE SYSTEM TIES USED UP, FILE FULL or FILE ACCESS ERROR.
uint32_t FileErrorForErrno(int err);
// Signals that error with a native-file message row and the errno attached (⎕DMX.OSError).
[[noreturn]] void SignalFileSystemError(uint32_t messageRow, int err, const char* unit, int line);
// A native-file error with its message (raised from a unit that defines kUnit), and one that
// carries the operating system's error number.
#define NATIVE_ERROR(en, text) SIGNAL_MESSAGE_IN(en, kCategoryNativeFiles, text)
#define NATIVE_OS_ERROR(text, err) \
  SignalFileSystemError(MessageRow(kCategoryNativeFiles, text), (err), kUnit, __LINE__)

// Tied files as byte streams for the units that read and write text through a tie number (⎕R and
// ⎕S). A tie number not in use gives false and leaves the file alone; a failing read or write is the
// file system's error. Reading takes the bytes from the tie's position to the end of the file (as far
// as a device yields, at most `limit` bytes: more gives false with `tooLong` set) and leaves the
// position after them.
bool ReadRestOfTiedFile(int64_t tie, uint64_t limit, std::string& out, bool& tooLong);
// Appends bytes to the end of the file, after `mark` when the file is empty (a byte-order mark), and
// leaves the position after them; a failed write leaves the file as it was.
bool AppendToTiedFile(int64_t tie, std::string_view mark, std::string_view bytes);

// Registers the native-file system functions and unties every file when the workspace goes.
void InitialiseNativeFiles();

// ---- Paths, shared by the units that write files -----------------------------------------------

// The directory part of a path: "." when it has none, "/" for a file in the root.
std::string DirectoryOf(const std::string& path);
// The mode a new file gets: that of the file it replaces, else what the process's umask allows.
uint32_t NewFileMode(const std::string& path);
// Flushes a directory's entries to disk, so that a file renamed into it stays there after a crash.
void SyncDirectory(const std::string& directory);

}  // namespace vantor
