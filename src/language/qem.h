// Error messages: the ⎕EM text of every error number, the table of extended messages that ⎕DMX draws
// its second-level message from (30 categories whose messages are numbered by one flat row, 1 to 521),
// and the ⎕EM function. Code names an extended message by its text; MessageRow finds the row while
// compiling, so a misspelt or ambiguous text does not build.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "language/parse.h"

namespace vantor {

// The ⎕EM text of an error number. Numbers without a message of their own give "ERROR n"; 101 to 199
// give "FILE ERROR n text" for the run-time library's error n-100; 76 depends on the current errno.
// Every text is cut to 127 characters.
std::u32string ErrorMessage(uint32_t errorNumber);
inline constexpr size_t kErrorMessageLimit = 127;

// ---- The extended message table ------------------------------------------------------------------

enum MessageCategory : uint32_t {
  kCategoryNone = 0,  // no name and no messages: row 0, "no extended message"
  kCategoryGeneral,
  kCategoryGui,
  kCategoryNumericConversion,
  kCategoryInternal,
  kCategoryDotNet,
  kCategoryObjectOriented,
  kCategoryCoreConversion,
  kCategoryXml,
  kCategorySearchReplace,
  kCategoryComponentFiles,
  kCategoryNativeFiles,
  kCategoryNameAssociation,
  kCategoryFileMapping,
  kCategoryOle,
  kCategoryDataExchange,
  kCategoryProfiling,
  kCategoryCompression,
  kCategoryIsolates,
  kCategoryUnused,
  kCategoryWordExpansion,
  kCategoryDataBinding,
  kCategoryExternalWorkspace,
  kCategoryDevelopment,
  kCategoryJson,
  kCategoryCompiler,
  kCategoryLoadSave,
  kCategoryKite,
  kCategoryExternaliseData,
  kCategorySourceFiles,
  kMessageCategoryCount,
};

// A category: its name (⎕DMX.Category) and the flat rows of its messages.
struct MessageCategoryInfo {
  std::u32string_view name;
  uint32_t firstRow;
  uint32_t count;
};

inline constexpr MessageCategoryInfo kMessageCategories[kMessageCategoryCount] = {
    {U"", 1, 0},
    {U"General", 1, 69},  // kCategoryGeneral
    {U"Gui", 70, 11},  // kCategoryGui
    {U"Numeric conversion", 81, 10},  // kCategoryNumericConversion
    {U"Internal", 91, 5},  // kCategoryInternal
    {U".NET interface", 96, 6},  // kCategoryDotNet
    {U"Object oriented programming", 102, 2},  // kCategoryObjectOriented
    {U"Core to aplcore conversion", 104, 12},  // kCategoryCoreConversion
    {U"XML conversion", 116, 44},  // kCategoryXml
    {U"Search Replace", 160, 38},  // kCategorySearchReplace
    {U"Component file system", 198, 104},  // kCategoryComponentFiles
    {U"Native files", 302, 54},  // kCategoryNativeFiles
    {U"Name association", 356, 5},  // kCategoryNameAssociation
    {U"File mapping", 361, 10},  // kCategoryFileMapping
    {U"OLE", 371, 10},  // kCategoryOle
    {U"Data exchange", 381, 13},  // kCategoryDataExchange
    {U"Profiling", 394, 2},  // kCategoryProfiling
    {U"Data compression", 396, 11},  // kCategoryCompression
    {U"Isolates and futures", 407, 4},  // kCategoryIsolates
    {U"unused", 411, 0},  // kCategoryUnused
    {U"Word expansion", 411, 9},  // kCategoryWordExpansion
    {U"Data binding", 420, 5},  // kCategoryDataBinding
    {U"External workspace", 425, 18},  // kCategoryExternalWorkspace
    {U"Development environment", 443, 1},  // kCategoryDevelopment
    {U"JSON conversion", 444, 25},  // kCategoryJson
    {U"Compiler", 469, 2},  // kCategoryCompiler
    {U"Load and save", 471, 43},  // kCategoryLoadSave
    {U"Kite", 514, 1},  // kCategoryKite
    {U"Externalise data", 515, 1},  // kCategoryExternaliseData
    {U"Source Code Files", 516, 6},  // kCategorySourceFiles
};

inline constexpr uint32_t kMessageRowCount = 521;

// Message formats by flat row; row 0 is "no extended message". Placeholders: %ls a text, %d and %i
// an integer, %lu an unsigned integer, %x hexadecimal.
inline constexpr std::u32string_view kExtendedMessages[kMessageRowCount + 1] = {
    U"",
    // 1 General (rows 1-69)
    U"Divide by zero",
    U"Invalid use of variant%ls",
    U"Out of memory",
    U"%ls not supported on this platform",
    U"Invalid I-Beam function selection",
    U"Can't change nameclass on assignment",
    U"Invalid modified assignment, or an attempt was made to change nameclass on assignment",
    U"Invalid seed value",
    U"Invalid error number for signal",
    U"Unexpected name in signalled ⎕DMX specification",
    U"Duplicate name in signalled ⎕DMX specification",
    U"Unexpected value in signalled ⎕DMX specification",
    U"Incorrect ⎕DMX specification format",
    U"Cannot provide nested right argument and a left argument",
    U"A signalled message must be a character vector or scalar",
    U"The selected random number generator is not implemented on this platform",
    U"Roll right argument must consist of non-negative integer(s)",
    U"Deal left argument must be non-negative",
    U"Deal right argument must be greater than or equal to the left argument",
    U"The selected random number generator does not produce a sufficient range of values",
    U"Invalid random number generator selected",
    U"No result was provided when the context expected one",
    U"The function requires a left argument",
    U"The function does not take a left argument",
    U"Invalid use of variant: bad option value",
    U"An error occurred creating the ⎕DMX information",
    U"Deal right argument must be non-negative",
    U"Cannot :Hold within high priority callback",
    U"Cannot TSYNC within high priority callback",
    U"Cannot fork with more than one APL thread",
    U"Unable to format result",
    U"Argument must be single",
    U"Argument must be positive",
    U"Argument must be a symbol name",
    U"External function no longer exists",
    U"Unicode character ⎕UCS %lu has no equivalent in Quornel (not in ⎕AVU)",
    U"%ls",
    U"%ls is not a function",
    U"Repeated axis",
    U"Function tree too deep or contains cycle",
    U"Invalid left argument",
    U"Invalid right argument",
    U"Invalid axis",
    U"Missing right argument",
    U"Invalid date/time",
    U"Rank of resultant array would exceed maximum permitted",
    U"Execute did not return a result",
    U"Argument must be non-empty",
    U"Left argument must be non-empty",
    U"Right argument must be non-empty",
    U"The CPU does not have the required SSE instructions",
    U"It must be that either the left and right frames match or one of them has length 0",
    U"File name is too long",
    U"Use of Interface is inappropriate",
    U"Use of Instance is inappropriate",
    U"Use of ⎕SE is inappropriate",
    U"Use of # is inappropriate",
    U"Use of ⎕DM is inappropriate",
    U"Argument type only supported for Quornel versions",
    U"I-Beam function %d has been withdrawn",
    U"I-Beam function %d is not supported by this interpreter",
    U"Operation cannot be completed with an \"external\" call on the stack",
    U"Command interpreter failed to start",
    U"Output truncated: line too long",
    U"Command interpreter failed to execute command",
    U"Command interpreter returned failure code %d",
    U"⎕RL indexed and selective assignment is not permitted",
    U"Invalid UTF-8 sequence",
    U"The program could not be created",
    // 2 Gui (rows 70-80)
    U"%ls%ls",
    U"There was an error processing the property at position %i of the right argument",
    U"Font specifier must be a character scalar or vector or an object reference",
    U"RTFText must be a vector of 8 bit characters",
    U"⎕DQ can only process objects created on the same thread",
    U"Invalid property name: %ls",
    U"Invalid argument passed at position %i: character array expected",
    U"Invalid argument passed at position %i: numeric value or ICON object expected",
    U"This object cannot be saved to this type of file",
    U"This property cannot be set on this type of object",
    U"The object name is too long",
    // 3 Numeric conversion (rows 81-90)
    U"Invalid value",
    U"Value out of range",
    U"The specified array is too large for this operation",
    U"32-bit interpreter limit",
    U"Numeric value required",
    U"Character value required",
    U"Ref not allowed here",
    U"Boolean result required from guard or control structure expression",
    U"Boolean singleton value required",
    U"Invalid floating point number (NaN?) encountered",
    // 4 Internal (rows 91-95)
    U"\"%ls\" is false",
    U"Impossible conversion criteria",
    U"Arithmetic overflow",
    U"Display encountered an unexpected element type within an array",
    U"%ls",
    // 5 .NET interface (rows 96-101)
    U"Only IDispatch can be obtained from a .NET object",
    U"A .NET exception has occurred. Check ⎕EXCEPTION for details",
    U"The .NET framework does not provide a function for this operation",
    U"There are no constructors available for the specified type",
    U"Can't fork with active bridge",
    U"Array must be a namespace reference or nested array",
    // 6 Object oriented programming (rows 102-103)
    U"Access error: %ls",
    U"There were errors processing the script",
    // 7 Core to aplcore conversion (rows 104-115)
    U"Invalid workspace address in core",
    U"Workspace structure in core has wrong length",
    U"Conversion of 64 bit core using 32 bit APL not supported",
    U"Problem with left argument",
    U"Problem with right argument",
    U"Core file is empty",
    U"Not enough address space to map core file",
    U"Not a proper core file",
    U"Core does not contain Vantor's own address block",
    U"Cannot extract workspace information",
    U"Failed to completely write the new aplcore",
    U"Operation not allowed in post-mortem mode",
    // 8 XML conversion (rows 116-159)
    U"Invalid left argument%ls",
    U"Invalid right argument%ls",
    U"Array has invalid number of columns%ls",
    U"Unterminated comment%ls",
    U"Unterminated <![CDATA[%ls",
    U"Too many levels of nesting%ls",
    U"Invalid character%ls",
    U"Unterminated markup%ls",
    U"Unterminated processing instruction%ls",
    U"Invalid '--' in comment%ls",
    U"'>' expected%ls",
    U"Attribute, '>' or '/>' expected%ls",
    U"Invalid ']]>'%ls",
    U"Invalid entity reference%ls",
    U"Unterminated character reference%ls",
    U"Invalid character reference%ls",
    U"Invalid character from character reference%ls",
    U"Tag mismatch%ls",
    U"Tag imbalance%ls",
    U"'=' expected%ls",
    U"Quote expected at start of attribute value%ls",
    U"Unterminated attribute value%ls",
    U"'<' not allowed in attribute value%ls",
    U"Numeric value expected in level column%ls",
    U"Level must be a non-negative value%ls",
    U"Outer level must be 0%ls",
    U"Level increment must be no greater than 1%ls",
    U"Character vector expected in tag column%ls",
    U"Invalid attribute array%ls",
    U"Attribute list should have two columns%ls",
    U"Attribute list but no tag%ls",
    U"Character vector expected for attribute name%ls",
    U"Zero-length attribute name%ls",
    U"Invalid attribute name%ls",
    U"Numeric scalar or character vector expected for attribute value%ls",
    U"Invalid xml:space attribute value%ls",
    U"Numeric scalar or character vector expected in data column%ls",
    U"Invalid character in data%ls",
    U"Numeric value expected in type column%ls",
    U"Invalid tag name%ls",
    U"Invalid character in attribute value%ls",
    U"Orphaned data%ls",
    U"Invalid option name%ls",
    U"Invalid option value%ls",
    // 9 Search Replace (rows 160-197)
    U"Invalid escape sequence in transformation string",
    U"Regular expression %d (indexed from 0), offset %d: %ls",
    U"Regular expression optimisation: %ls",
    U"Option '%ls': invalid value",
    U"Option '%ls': only allowed with search",
    U"Option '%ls': only allowed with replace",
    U"Option '%ls': not allowed in line mode",
    U"Internal error %d",
    U"'%ls': invalid subpattern name",
    U"Text too long",
    U"Input stream not tied",
    U"Output stream not tied",
    U"Input stream error",
    U"Output array cannot be written to a stream",
    U"Invalid regular expression format",
    U"Invalid transformation format",
    U"Invalid output destination",
    U"Invalid input source",
    U"Execution cannot resume because the version of the PCRE library has changed",
    U"Unicode to UTF-8 translation error",
    U"UTF-8 to Unicode translation error",
    U"Output stream translation error",
    U"Non-Unicode interpreter: invalid character \\x{%x} in result",
    U"Unterminated sequence in transformation string",
    U"Subpattern reference out of range in transformation string",
    U"Invalid numeric in transformation string",
    U"Name expected between '<' and '>' in transformation string",
    U"Invalid subpattern name in transformation string",
    U"Invalid character in input stream",
    U"Too many regular expressions",
    U"Too many blocks",
    U"Too many subpatterns",
    U"Transformation function should return a value",
    U"Transformation function should return a character vector",
    U"Cannot optimise: %ls",
    U"Invalid option value",
    U"Invalid hexadecimal codepoint",
    U"Invalid pattern: %ls",
    // 10 Component file system (rows 198-301)
    U"Tie number not in use",
    U"Tie number in use",
    U"Invalid tie number",
    U"File already tied",
    U"Too many tied files",
    U"File must be exclusively tied",
    U"File opened read-only",
    U"File opened read-only because of the file architecture",
    U"File exists",
    U"Unable to create file",
    U"Unable to open file",
    U"Not a component file (bad magic number)",
    U"Not a component file (too short)",
    U"Unsupported archaic file architecture",
    U"Incompatible file architecture",
    U"Incompatible journal detected",
    U"Damaged free tree",
    U"Damaged component tree",
    U"FCHK was previously unable to recover this component",
    U"Incorrect passnumber",
    U"Prohibited by access matrix",
    U"Unable to read file status",
    U"Unable to read file header",
    U"Unable to read expected data",
    U"Unable to read free tree",
    U"Component contains an array which was created by a later version of the interpreter and is unsafe to read",
    U"Invalid length in component header",
    U"Write access required for exclusive tie",
    U"Write access required - journal present",
    U"Write access required - file needs to be converted",
    U"File must be exclusively tied to adjust file header structure",
    U"Unable to write component data",
    U"File size limit reached",
    U"Unable to free space within file",
    U"Unable to free an index block",
    U"Insufficient space in file",
    U"Unable to delete file",
    U"Cannot exceed maximum component number",
    U"Unable to rename file",
    U"Unable to read one or more components whilst adding checksums",
    U"Unable to write journal",
    U"Unable to manipulate file descriptor",
    U"Unable to lock file",
    U"Unable to seek in file",
    U"Unable to checksum - invalid block length",
    U"Invalid left argument",
    U"Invalid right argument",
    U"Invalid filename",
    U"Invalid component number",
    U"No such component",
    U"Too few components in file",
    U"File name mismatch",
    U"Invalid passnumber",
    U"The 'concurrent' option may only be used for validation",
    U"File not checksummed",
    U"Invalid file size",
    U"Option invalid with small span files",
    U"Component too big for a small span file",
    U"One or more components would become too big for a small span file",
    U"Duplicated option",
    U"Invalid option",
    U"Invalid option value",
    U"Invalid journaling level",
    U"Selected journaling level requires checksumming",
    U"Invalid checksumming level",
    U"File too big",
    U"File name buffer overflow",
    U"Unable to compact file",
    U"Component checksum mismatch",
    U"User number override active: no access to other user's files",
    U"Invalid access matrix specification",
    U"File is read only due to an architectural conflict but write access is required for exclusive access",
    U"A name in the directory is too long",
    U"A name in the directory contains an invalid character",
    U"A name in the directory contains a Unicode character - Quornel interpreter limitation",
    U"File error - invalid value in access matrix",
    U"Property name(s) or name/value pair(s) expected in left argument",
    U"Invalid property name",
    U"Invalid property value",
    U"Duplicated property setting",
    U"Filename and optional file size limit expected in left argument",
    U"Invalid tree number",
    U"Tie numbers or two-row matrix of tie numbers and passnumbers expected in right argument",
    U"Tie number and optional passnumber expected in right argument",
    U"Tie number and optional address size expected in right argument",
    U"Tie number, component number and optional passnumber expected in right argument",
    U"Tie number, component count and optional passnumber expected in right argument",
    U"Invalid span size",
    U"Invalid component count",
    U"Not a component file (nascent)",
    U"Component file does not support transactions",
    U"Operation disallowed whilst a transaction is taking place",
    U"Transactioning only supported in 64-bit, journaled and checksummed component files",
    U"No transaction ID is set",
    U"File still contains data from transaction %ls which should be removed by the server",
    U"File must be tied in 'Frozen' mode",
    U"Unsupported transaction type",
    U"This file must be converted to a large-span file or tied using the ReadOnly variant option",
    U"Invalid transaction level",
    U"Invalid compression level",
    U"File type does not allow compression to be set",
    U"Invalid file type whilst compression is set",
    U"External variables do not support namespaces",
    U"Component length miscalculation",
    // 11 Native files (rows 302-355)
    U"Invalid left argument",
    U"Invalid right argument",
    U"Invalid tie number",
    U"Unable to create file",
    U"Unable to delete file",
    U"File name mismatch",
    U"Unable to manipulate file descriptor",
    U"File already tied",
    U"Unable to read file status",
    U"Unable to lock file",
    U"Tie number not in use",
    U"Unable to open file",
    U"Unable to read expected data",
    U"Unable to seek in file",
    U"Tie number in use",
    U"Too many tied files",
    U"Unable to truncate file",
    U"Unable to write to file",
    U"Invalid element count",
    U"Invalid file offset",
    U"Invalid length",
    U"Invalid conversion code",
    U"Invalid mode",
    U"Invalid lock type",
    U"Invalid timeout",
    U"The total number of bits in the right argument is not an exact multiple of the number of bits in the type given in the left argument",
    U"Left argument should be a character array",
    U"Invalid left argument: three elements only allowed with Quornel Edition",
    U"Invalid left argument: 163 82 expected in the second and third elements",
    U"Translate vector should have 256 elements",
    U"Translate vector element value out of range",
    U"Missing left argument",
    U"Name too long",
    U"Left argument array could not be converted to the requested type",
    U"Array too large",
    U"Missing filename",
    U"Invalid directory name",
    U"Invalid file or directory name",
    U"Unable to delete directory",
    U"Directory exists",
    U"Unable to create directory",
    U"Unable to modify file or directory",
    U"Invalid user name",
    U"Invalid group name",
    U"Unable to normalise the file or directory name",
    U"Right argument should be file name and optional flags",
    U"Left argument should be content, optional encoding and optional line ending",
    U"Invalid file name",
    U"Invalid file encoding type",
    U"Unable to decode the file",
    U"Unable to encode the file",
    U"Invalid text array",
    U"Invalid line ending",
    U"NEL line ending (133) not supported by the selected file encoding",
    // 12 Name association (rows 356-360)
    U"Shared library could not be loaded %ls %ls",
    U"Bad parameter specification: %ls",
    U"The specified function could not be found",
    U"Callback is not a function",
    U"Callback is not a function name",
    // 13 File mapping (rows 361-370)
    U"Cannot map file",
    U"GetFileSizeEx() failed",
    U"File too big",
    U"File too small",
    U"Too many boolean elements",
    U"Cannot unmap file",
    U"Cannot map pages",
    U"Cannot synchronise file",
    U"Flushing file to disk failed",
    U"Shape needs to be fully specified",
    // 14 OLE (rows 371-380)
    U"%ls",
    U"The CLSID is not in a valid format",
    U"Cannot resolve name to a CLSID",
    U"There is no class factory for the server",
    U"There is no type library for the server",
    U"There is no running instance of the server",
    U"There is no IDispatch available from the server",
    U"There is not enough memory",
    U"There was a problem creating the object",
    U"This property can only be accessed with indexers",
    // 15 Data exchange (rows 381-393)
    U"Array is from a later version of APL",
    U"Read function terminated early. End of file",
    U"Read function returned error",
    U"Write function terminated early",
    U"Write function returned error",
    U"Array cannot be serialised",
    U"Incoming array is invalid",
    U"Namespace is not self contained",
    U"Attempt to pass complex array",
    U"DECF will not fit into a double",
    U"Function is too old to convert with this version of APL",
    U"Object oriented namespace cannot be serialised",
    U"GUI Object cannot be serialised",
    // 16 Profiling (rows 394-395)
    U"Cannot change timer without first clearing collected data",
    U"No timer in use",
    // 17 Data compression (rows 396-406)
    U"Invalid left argument",
    U"Invalid compression library",
    U"Compression level cannot be specified for this compression library",
    U"Data too long for selected compressor",
    U"Invalid right argument",
    U"Invalid compressed data",
    U"Invalid compressed data and/or mismatched left argument",
    U"Compression library ran out of memory",
    U"Compression library reported an unexpected error",
    U"Invalid compression level",
    U"Unable to decompress the source of a scripted object",
    // 18 Isolates and futures (rows 407-410)
    U"Future has no value",
    U"%ls",
    U"invalid assignment into an isolate",
    U"isolate function %ls does not exist or is not valid",
    // 20 Word expansion (rows 411-419)
    U"Left argument is not NOCMD or SHOWERR or UNDEF",
    U"Left argument has more than 1 numeric",
    U"Left argument numeric value has more than 1 element",
    U"Left argument contains non simple array",
    U"Number of result elements not as requested",
    U"Unexpected failure to convert argument to or from UTF-8",
    U"Word expansion failed",
    U"Right argument not character",
    U"Element of right argument not vector",
    // 21 Data binding (rows 420-424)
    U"Binding types cannot be redefined",
    U"The variable's name is too long",
    U"Cannot change rank of a databound array",
    U"Cannot change the number of columns in a databound matrix",
    U"Cannot databind to an array with rank greater than two",
    // 22 External workspace (rows 425-442)
    U"Not supported on 32 bit or Quornel Editions",
    U"Does not allow GUI",
    U"Unexpected illegal data",
    U"Filename should be a vector",
    U"Left argument should be a slot identifier",
    U"Right argument should be an empty vector",
    U"Right argument should be a slot identifier and a file name",
    U"Right argument should be a vector of file names",
    U"More filenames than are supported",
    U"Failed to unload one or more existing files",
    U"List of names contains invalid name",
    U"List of names can be a vector of vectors or a matrix",
    U"List of names must be character",
    U"Cannot obtain memory statistics from operating system",
    U"Operating system has provided more information than can be processed",
    U"External workspace unusable",
    U"External workspace failed to load: unsuitable address",
    U"External workspace failed to map",
    // 23 Development environment (rows 443-443)
    U"The editor can only be used within a Session",
    // 24 JSON conversion (rows 444-468)
    U"Unexpected end of input",
    U"End of input expected%ls",
    U"Invalid character%ls",
    U"Invalid number%ls",
    U"Number out of range%ls",
    U"Invalid string%ls",
    U"Invalid hexadecimal digit%ls",
    U"Invalid UTF-16 encoding%ls",
    U"Invalid array%ls",
    U"Invalid object%ls",
    U"Output failure",
    U"Array unsupported by JSON",
    U"Invalid matrix or sub-matrix%ls",
    U"Level must be a non-negative integer%ls",
    U"Level 0 expected%ls",
    U"Non-zero level expected%ls",
    U"Level increment must be no greater than 1%ls",
    U"Invalid level increment%ls",
    U"Name must be a character vector or scalar%ls",
    U"Name not expected%ls",
    U"Type must be an integer%ls",
    U"Invalid type%ls",
    U"Value does not match the specified type%ls",
    U"Conversion format does not support tolerance of invalid data",
    U"Circular namespace reference",
    // 25 Compiler (rows 469-470)
    U"Nameclass of non-local name has changed since compilation",
    U"Detected bytecode from a previous version; please uncompile and recompile",
    // 26 Load and save (rows 471-513)
    U"Windows are open",
    U"Variables are shared",
    U"Connection exists to an external object in session namespace",
    U"In session namespace",
    U"State indicator contains a session namespace",
    U"OLE clients are attached",
    U"Threads are running",
    U"Mapped files are present",
    U"# is referenced by session namespace",
    U"Session namespace is referenced by #",
    U"Active calls to or from external functions or certain callbacks are present",
    U"There are pendent compiled functions",
    U"An external workspace is present",
    U"File exists",
    U"File exists and is not a workspace or session file",
    U"File could not be created",
    U"Open file limit has been reached",
    U"Write failed",
    U"Workspace not found",
    U"Not a workspace",
    U"Workspace too large",
    U"A session object is connected to a shared or external variable",
    U"Insufficient resources",
    U"Workspace generated by a later version of the interpreter",
    U"Cannot load a Conflu Edition workspace",
    U"64-bit interpreter cannot load a 32-bit workspace that predates version 10.1",
    U"Only aplcores/dumps generated by the same architecture can be loaded",
    U"Ulvane Edition cannot load a Quornel workspace that predates version 7",
    U"64 bit interpreter cannot load a workspace that predates version 7",
    U"⎕DM references session namespace",
    U"Workspace predates version 5.2",
    U"Workspace predates version 7 and contains a state indicator",
    U"Post-mortem workspace is loaded",
    U"Cannot attempt to load a new workspace over a post-mortem workspace",
    U"Workspace cannot be saved in post-mortem mode",
    U"External workspace already exists",
    U"Workspace predates version 7 and has the wrong byte order",
    U"Load failed",
    U"Name not found",
    U"Name not copied",
    U"Workspace predates version 11.0",
    U"Workspace references externalised data",
    U"64-bit version is needed to load this workspace",
    // 27 Kite (rows 514-514)
    U"Disabled in this environment",
    // 28 Externalise data (rows 515-515)
    U"Namespace/object references are not allowed",
    // 29 Source Code Files (rows 516-521)
    U"The file could not be opened",
    U"The file could not be opened for writing",
    U"An error occured writing to the file",
    U"Only text can be written to a file",
    U"The prefix \"file://\" was expected",
    U"The type of code in \"%ls\" could not be inferred",
};

// The category of a row (kCategoryNone for row 0 and rows out of range).
constexpr MessageCategory CategoryOfRow(uint32_t row) {
  for (uint32_t c = 1; c < kMessageCategoryCount; ++c) {
    const MessageCategoryInfo& info = kMessageCategories[c];
    if (row >= info.firstRow && row < info.firstRow + info.count) return static_cast<MessageCategory>(c);
  }
  return kCategoryNone;
}

// The 1-based index of a row within its category (⎕DMX.ENX); 0 for row 0.
constexpr uint32_t IndexInCategory(uint32_t row) {
  MessageCategory category = CategoryOfRow(row);
  return category == kCategoryNone ? 0 : row - kMessageCategories[category].firstRow + 1;
}

// The row whose format is exactly `text`, among rows first..last; 0 when no row or more than one row
// has that text.
constexpr uint32_t FindMessageRowIn(uint32_t first, uint32_t last, std::u32string_view text) {
  uint32_t found = 0;
  for (uint32_t row = first; row <= last; ++row) {
    if (kExtendedMessages[row] != text) continue;
    if (found) return 0;
    found = row;
  }
  return found;
}

// The row of a message text that occurs once in the whole table, resolved while compiling.
consteval uint32_t MessageRow(std::u32string_view text) {
  uint32_t row = FindMessageRowIn(1, kMessageRowCount, text);
  if (row == 0) throw "not an extended message, or one that several categories share: name its category";
  return row;
}

// The row of a message text within one category, resolved while compiling.
consteval uint32_t MessageRow(MessageCategory category, std::u32string_view text) {
  const MessageCategoryInfo& info = kMessageCategories[category];
  uint32_t row = FindMessageRowIn(info.firstRow, info.firstRow + info.count - 1, text);
  if (row == 0) throw "not an extended message of this category";
  return row;
}

// ⎕EM: the message of each error number in the right argument (a character vector for a scalar,
// otherwise a nested array of the argument's shape). DOMAIN ERROR for anything but non-negative
// integers.
CallResult QuadEM(const Ref& left, const Ref& right);

}  // namespace vantor
