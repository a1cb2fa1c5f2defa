// System commands. The evaluator hands every session line that begins with ')' to RunSystemCommand,
// which finds the command word in a sorted table of rows (name, handler) and runs the handler with
// the rest of the line. The handlers list and erase names, enter namespaces, show and clear the
// state indicator, show and set ⎕WSID and run shell commands; refusals are messages, never errors.
#include "sysfns/syscoms.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>

#include "files/load.h"
#include "memory/memory3.h"
#include "host/aplio.h"
#include "base/startup.h"
#include "language/dmx.h"
#include "language/session.h"
#include "language/qsym.h"
#include "language/space.h"
#include "language/stack.h"
#include "sysfns/quadvar.h"

namespace vantor {

namespace {

constexpr char32_t kIncorrectCommand[] = U"Incorrect command";
constexpr char32_t kUnacceptableChar[] = U"unacceptable char";
constexpr char32_t kNameTooLong[] = U"name too long";

// The argument is the rest of the command line with blanks stripped at both ends.
using CommandHandler = void (*)(std::u32string_view argument);

std::optional<std::vector<std::u32string>> g_permitted;

// ---- Listing names ---------------------------------------------------------------------------------

// Writes names in columns as wide as the longest name, two blanks apart, as many to a line as fit
// in ⎕PW (at least one), in order along each line.
void WriteNameColumns(const std::vector<std::u32string>& names) {
  constexpr size_t kGap = 2;
  size_t width = 0;
  for (const std::u32string& name : names) width = std::max(width, name.size());
  const size_t printWidth = static_cast<size_t>(std::max(PrintWidth(), 1));
  const size_t perLine = std::max<size_t>(1, (printWidth + kGap) / (width + kGap));
  for (size_t first = 0; first < names.size(); first += perLine) {
    std::u32string line;
    for (size_t i = first; i < std::min(first + perLine, names.size()); ++i) {
      if (i > first) line.resize((i - first) * (width + kGap), U' ');
      line += names[i];
    }
    WriteSessionLine(line);
  }
}

// Lists the names of the current namespace whose class code passes `wanted`, in the name tree's
// order, from the starting letter (the argument's first character) on.
template <typename Wanted>
void ListNames(std::u32string_view argument, Wanted wanted) {
  const std::u16string from = ToUtf16(argument.substr(0, 1));
  std::vector<std::u32string> names;
  ForEachEntry(CurrentSpaceNamespace(), [&](Ref entry) {
    if (!wanted(NameClassCode(entry, false))) return;
    std::u32string name = EntryName(entry);
    if (ToUtf16(name) >= from) names.push_back(std::move(name));
  });
  WriteNameColumns(names);
}

void ListVariables(std::u32string_view argument) {
  ListNames(argument, [](uint32_t code) { return code / 10 == kNameVariable; });
}
void ListFunctions(std::u32string_view argument) {
  ListNames(argument, [](uint32_t code) { return code / 10 == kNameFunction; });
}
void ListOperators(std::u32string_view argument) {
  ListNames(argument, [](uint32_t code) { return code / 10 == kNameOperator; });
}
void ListNamespaces(std::u32string_view argument) {
  ListNames(argument, [](uint32_t code) { return code / 10 == kNameNamespace; });
}
void ListClasses(std::u32string_view argument) {
  ListNames(argument, [](uint32_t code) { return code == 94; });
}

// )EVENTS )METHODS )PROPS list the members of the current namespace when it is a GUI object; no
// namespace is one until GUI objects exist, so there is nothing to list.
void ListGuiMembers(std::u32string_view) {}

// ---- Erasing names ---------------------------------------------------------------------------------

// )ERASE expunges each name that has a value; labels and system names stay.
void EraseNames(std::u32string_view argument) {
  for (std::u32string_view name : BlankSeparated(argument)) {
    Ref entry = ResolvePath(name);
    uint32_t nameClass = IsRef(entry) ? EntryClass(entry) : kNameUndefined;
    if (FindQuadName(name)) nameClass = kNameSystemVariable;
    switch (nameClass) {
      case kNameUndefined:
        WriteSessionLine(U"not found " + std::u32string(name));
        break;
      case kNameVariable:
      case kNameFunction:
      case kNameOperator:
      case kNameMethod:
      case kNameProperty:
      case kNameNamespace:
        SetEntry(entry, kNameUndefined, 0);
        break;
      default:  // a label or a system name
        WriteSessionLine(U"not erased " + std::u32string(name));
    }
  }
}

// ---- Namespaces ------------------------------------------------------------------------------------

// Whether every segment of a dotted path is #, ## or ⎕SE or a name, and every segment that is
// defined names a namespace, so that creating the path's namespaces cannot fail half-way.
bool CanReachNamespace(std::u32string_view path) {
  Ref existing = ExecutingNamespace();  // the deepest namespace of the path that exists
  uint32_t pending = 0;                 // segments below it that are still to be created
  for (size_t start = 0; start <= path.size();) {
    size_t dot = std::min(path.find(U'.', start), path.size());
    std::u32string_view segment = path.substr(start, dot - start);
    start = dot + 1;
    if (segment == U"##" && pending > 0) {
      --pending;
    } else if (Ref special = SpecialNamespace(segment, existing)) {
      existing = special;
      pending = 0;
    } else if (!IsValidName(segment)) {
      return false;
    } else if (pending > 0) {
      ++pending;
    } else {
      Ref entry;
      {
        SpaceScope scope(existing);
        entry = LookupName(segment, LookupMode::Find);
      }
      if (!IsRef(entry) || EntryClass(entry) == kNameUndefined) {
        pending = 1;
        continue;
      }
      existing = EntryClass(entry) == kNameNamespace ? NamespaceOf(EntryValue(entry)) : 0;
      if (!IsRef(existing)) return false;
    }
  }
  return true;
}

// The namespace a command's argument names, created as needed; 0 (with the refusal written) when
// the argument cannot name one.
Ref NamespaceArgument(std::u32string_view argument) {
  if (!CanReachNamespace(argument)) {
    WriteSessionLine(U"Not a namespace: " + std::u32string(argument));
    return 0;
  }
  return ResolveNamespacePath(argument, true);
}

// )NS name creates the namespace (and those on its path) and shows it; )NS alone shows the current
// namespace.
void MakeNamespace(std::u32string_view argument) {
  Ref ns = argument.empty() ? ExecutingNamespace() : NamespaceArgument(argument);
  if (IsRef(ns)) WriteSessionLine(DisplayName(ns));
}

// )CS name makes the namespace (created as needed) the current one; )CS alone goes to the root.
void ChangeSpace(std::u32string_view argument) {
  Ref ns = argument.empty() ? RootNamespace() : NamespaceArgument(argument);
  if (!IsRef(ns)) return;
  SetExecutingNamespace(ns);
  WriteSessionLine(DisplayName(ns));
}

// ---- The state indicator ---------------------------------------------------------------------------

// The frames that ⎕SI reports, from the most recent down, with what )SI and )SINL add to its names
// and ⎕LC's lines: whether the function is suspended and the names its frame localised.
struct ShownFrame {
  bool suspended = false;
  std::vector<std::u32string> locals;
};

std::vector<ShownFrame> ShownFrames() {
  std::vector<ShownFrame> shown;
  for (Ref f = CurrentFrame(); FrameClassOf(f) != kFrameImmediate; f = FrameBelow(f)) {
    const uint32_t sub = FrameSubTypeOf(f);
    const bool execution = FrameClassOf(f) == kFrameExecution;
    const bool function = execution && (sub == kExecutionRunning || sub == kExecutionSuspended);
    if (!function && !(TypeWord(f) & kDfnFrameFlag)) continue;
    ShownFrame frame{function && sub == kExecutionSuspended, {}};
    Ref below = FrameBelow(f);
    if (FrameClassOf(below) == kFrameLocalisation) {
      for (uint32_t i = 0; i < Words(below)[kLocalCountWord]; ++i)
        frame.locals.push_back(EntryName(Words(below)[kLocalFirstWord + 3 * i]));
    }
    shown.push_back(std::move(frame));
  }
  return shown;
}

// One line per reported function: name[line], * after a suspended one, then (with `locals`) the
// names it localised. A dfn outside any defined function shows as {}.
void ShowStateIndicator(bool locals) {
  std::vector<std::u32string> names;
  std::vector<int64_t> lines;
  {
    Ref si = QuadSI();
    for (uint64_t i = 0, n = ElementCount(si); i < n; ++i) names.push_back(CharacterText(DataOf<Ref>(si)[i]));
    ReleaseRef(si);
    Ref lc = QuadLC();
    ReadIntegers(lc, lines);
    ReleaseRef(lc);
  }
  std::vector<ShownFrame> frames = ShownFrames();
  for (size_t i = 0; i < std::min({names.size(), lines.size(), frames.size()}); ++i) {
    std::u32string line = names[i].empty() ? U"{}" : names[i] + U"[" + FromUtf8(std::to_string(lines[i])) + U"]";
    if (frames[i].suspended) line += U"*";
    if (locals && !frames[i].locals.empty()) {
      line += U" ";
      for (const std::u32string& name : frames[i].locals) line += U" " + name;
    }
    WriteSessionLine(line);
  }
}

void ShowSI(std::u32string_view) { ShowStateIndicator(false); }
void ShowSINL(std::u32string_view) { ShowStateIndicator(true); }
void ResetStateIndicator(std::u32string_view) { ClearStateIndicator(); }

// )HOLDS shows the tokens that :Hold holds; none is held until APL threads exist.
void ShowHolds(std::u32string_view) {}

// )TID shows the current thread; a switch to another one is refused. Thread 0 is the only one until
// APL threads exist.
void ThreadIdentity(std::u32string_view argument) {
  constexpr int kCurrentThread = 0;
  const std::u32string current = FromUtf8(std::to_string(kCurrentThread));
  if (argument.empty()) return WriteSessionLine(U"is " + current);
  const bool number = argument.size() < 10 && std::all_of(argument.begin(), argument.end(), [](char32_t c) {
    return c >= U'0' && c <= U'9';
  });
  if (number && std::stoi(ToUtf8(argument)) == kCurrentThread) return WriteSessionLine(U"was " + current);
  WriteSessionLine(U"Can't switch, this thread is " + current);
}

// ---- The workspace name ----------------------------------------------------------------------------

void WorkspaceIdentity(std::u32string_view argument) {
  if (argument.empty()) return WriteSessionLine(U"is " + CharacterVariableText(kQuadWSID));
  CommandFileName parsed = ReadCommandFileName(argument, true);
  if (parsed.refusal) return WriteSessionLine(parsed.refusal);
  std::u32string old = CharacterVariableText(kQuadWSID);
  Temporaries held;
  held[0] = MakeText(parsed.name);
  AssignSystemVariable(kQuadWSID, held[0]);  // adds the default extension
  WriteSessionLine(U"was " + old);
}

// ---- Workspaces ------------------------------------------------------------------------------------

constexpr char32_t kClearWorkspaceId[] = U"CLEAR WS";
constexpr char32_t kNotFound[] = U"ws not found";

// The name a workspace command was given, or nothing after writing why it cannot be used.
std::optional<std::u32string> WorkspaceNameArgument(std::u32string_view argument) {
  CommandFileName parsed = ReadCommandFileName(argument, true);
  if (parsed.refusal) {
    WriteSessionLine(parsed.refusal);
    return std::nullopt;
  }
  return parsed.name;
}

// What each state check writes when it stops a command.
constexpr const char32_t* kStateCheckMessages[kStateCheckCount] = {
    U"Cannot perform operation with windows open.",
    U"Cannot perform operation with external workspace.",
    U"Cannot perform operation with variables shared.",
    U"Cannot perform operation with connection to external object in session namespace.",
    U"Cannot perform operation from within session namespace.",
    U"Cannot perform operation with session namespace in the state indicator.",
    U"Cannot perform operation with OLE clients attached.",
    U"Cannot perform operation with threads running.",
    U"Cannot perform operation with mapped files present.",
    U"Cannot perform operation when # is referenced by session namespace.",
    U"Cannot perform operation when session namespace is referenced by #.",
    U"Can't save whilst ⎕DM contains references to session namespace",
    U"Cannot perform operation with calls to or from external functions or certain callbacks.",
    U"Cannot perform operation with pendent compiled functions.",
    U"Workspace references externalised data",
};

constexpr uint32_t Checks(std::initializer_list<StateCheck> checks) {
  uint32_t mask = 0;
  for (StateCheck c : checks) mask |= 1u << c;
  return mask;
}
constexpr uint32_t kAllChecks = (1u << kStateCheckCount) - 1;
constexpr uint32_t kClearChecks = Checks({kCheckSessionConnection, kCheckRootReferencedBySession});
// The checks that )SAVE -name and )SAVE +name (the form )CONTINUE uses) skip.
constexpr uint32_t kMinusSkips = Checks({kCheckThreadsRunning, kCheckRootReferencedBySession});
constexpr uint32_t kPlusSkips = Checks({kCheckInSessionNamespace, kCheckSessionInStateIndicator,
                                        kCheckRootReferencedBySession, kCheckSessionReferencedByRoot,
                                        kCheckDmReferencesSession});

// What a command writes after the message of a failing check: nothing ()SAVE), the objects
// concerned ()CLEAR), or " From" and the objects ()CONTINUE).
enum class ObjectsShown { kNone, kListed, kFrom };

// Runs the checks not in `skipped`: true when all pass; otherwise false, the failing check's
// message and the objects concerned having been written.
bool PassesStateChecks(uint32_t skipped, ObjectsShown shown) {
  std::optional<StateCheck> failing = FailingStateCheck(skipped);
  if (!failing) return true;
  WriteSessionLine(kStateCheckMessages[*failing]);
  if (shown == ObjectsShown::kFrom) WriteSessionLine(U" From");
  if (shown != ObjectsShown::kNone)
    for (const std::u32string& name : StateCheckObjects(*failing)) WriteSessionLine(name);
  return false;
}

void ClearCommand(std::u32string_view) {
  if (!PassesStateChecks(kAllChecks & ~kClearChecks, ObjectsShown::kListed)) return;
  ClearWorkspace();
  WriteSessionLine(U"clear ws");
}

void LoadNamed(std::u32string_view argument, bool runLatentExpression) {
  std::optional<std::u32string> name = WorkspaceNameArgument(argument);
  if (!name) return;
  std::optional<std::string> path = name->empty() ? std::nullopt : SearchWorkspace(*name);
  if (!path) return WriteSessionLine(kNotFound);
  if (int refusal = LoadWorkspaceFile(*path)) return WriteSessionLine(LoadSaveMessageText(refusal));
  WriteSessionLine(SavedLine(*path));
  if (runLatentExpression) SetPendingLatentExpression(CharacterVariableText(kQuadLX));
}
void LoadCommand(std::u32string_view argument) { LoadNamed(argument, true); }
void LoadWithoutLatentExpression(std::u32string_view argument) { LoadNamed(argument, false); }

// )COPY ws [names] and )PCOPY ws [names]: the workspace's line as a load writes it, then a line for
// each name that it does not define ("not found") or that )PCOPY kept ("not copied").
void CopyNamed(std::u32string_view argument, bool protect) {
  CommandFileName parsed = ReadCommandFileName(argument, false);
  if (parsed.refusal) return WriteSessionLine(parsed.refusal);
  std::optional<std::string> path = parsed.name.empty() ? std::nullopt : SearchWorkspace(parsed.name);
  if (!path) return WriteSessionLine(kNotFound);
  std::vector<std::u32string> names;
  for (std::u32string_view name : BlankSeparated(parsed.rest)) names.emplace_back(name);
  CopyOutcome outcome = CopyWorkspace(*path, names, protect);
  if (outcome.result) return WriteSessionLine(LoadSaveMessageText(outcome.result));
  WriteSessionLine(SavedLine(*path));
  for (const std::u32string& name : outcome.notFound) WriteSessionLine(U"not found " + name);
  for (const std::u32string& name : outcome.notCopied) WriteSessionLine(U"not copied " + name);
}
void CopyCommand(std::u32string_view argument) { CopyNamed(argument, false); }
void ProtectedCopyCommand(std::u32string_view argument) { CopyNamed(argument, true); }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Saves under `name` (⎕WSID when empty); the leading "+" or "-" of the forms that skip some state
// checks is accepted and dropped.
void SaveCommand(std::u32string_view argument) {
  uint32_t skipped = 0;
  if (!argument.empty() && (argument[0] == U'+' || argument[0] == U'-')) {
    skipped = argument[0] == U'+' ? kPlusSkips : kMinusSkips;
    argument = TrimBlanks(argument.substr(1));
  }
  std::optional<std::u32string> name = WorkspaceNameArgument(argument);
  if (!name) return;
  const std::u32string oldId = CharacterVariableText(kQuadWSID);
  if (name->empty()) {
    if (oldId == kClearWorkspaceId) return WriteSessionLine(U"Not saved, this ws is " + oldId);
    name = oldId;
  }
  std::string path = ToUtf8(WithWorkspaceExtension(*name));
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !SameFile(path, WorkspaceFile()))
    return WriteSessionLine(U"Not saved, this ws is " + oldId);
  if (!PassesStateChecks(skipped, ObjectsShown::kNone)) return;
  if (int refusal = SaveWorkspaceAs(path)) {
    if (refusal == -kMessageFileNotCreated) return WriteSessionLine(U"Can't create " + FromUtf8(path));
    return WriteSessionLine(LoadSaveMessageText(refusal));
  }
  WriteSessionLine(SavedLine(path));
}

void ContinueCommand(std::u32string_view) {
  if (!PassesStateChecks(0, ObjectsShown::kFrom)) return;
  if (int refusal = SaveWorkspaceAs("CONTINUE.vws")) return WriteSessionLine(LoadSaveMessageText(refusal));
  ExitApl(0);
}

void DropCommand(std::u32string_view argument) {
  std::optional<std::u32string> name = WorkspaceNameArgument(argument);
  if (!name) return;
  std::vector<std::string> found = name->empty() ? std::vector<std::string>{} : FindWorkspaces(*name);
  if (found.empty()) return WriteSessionLine(kNotFound);
  if (found.size() > 1) {
    WriteSessionLine(U"Multiple possibilities:");
    for (const std::string& path : found) WriteSessionLine(FromUtf8(path));
    return;
  }
  if (unlink(found[0].c_str()) != 0) return WriteSessionLine(U"Can't delete " + FromUtf8(found[0]));
  WriteSessionLine(TimeText(std::time(nullptr)));
}

// The workspaces in a directory (the argument) or in every directory of the search path.
void ListWorkspaces(std::u32string_view argument) {
  std::vector<std::string> directories;
  if (argument.empty()) directories = WorkspaceDirectories();
  else directories.push_back(ToUtf8(argument));
  const std::string extension = ToUtf8(WithWorkspaceExtension(U"x")).substr(1);
  for (const std::string& directory : directories) {
    DIR* listing = opendir(directory.c_str());
    if (!listing) continue;
    std::vector<std::u32string> names;
    while (dirent* entry = readdir(listing)) {
      std::string file = entry->d_name;
      if (file.size() > extension.size() && file.ends_with(extension))
        names.push_back(FromUtf8(file.substr(0, file.size() - extension.size())));
    }
    closedir(listing);
    if (names.empty()) continue;
    std::sort(names.begin(), names.end());
    if (argument.empty()) WriteSessionLine(FromUtf8(directory));
    WriteNameColumns(names);
  }
}

// ---- The host --------------------------------------------------------------------------------------

// )SH and )CMD run the argument with /bin/sh and show what it writes to standard output and standard
// error, line by line. The command reads nothing (the session's input stays the session's), and its
// exit status is not reported.
void RunShellCommand(std::u32string_view argument) {
  const std::string script = "exec 2>&1 </dev/null\n" + ToUtf8(argument);
  FILE* output = popen(script.c_str(), "r");
  if (!output) return WriteSessionLine(U"Can't run the command");
  char* buffer = nullptr;
  size_t capacity = 0;
  for (ssize_t n; (n = getline(&buffer, &capacity, output)) > 0;) {
    std::string_view line(buffer, static_cast<size_t>(n));
    if (line.back() == '\n') line.remove_suffix(1);
    WriteSessionLine(FromUtf8(line));
  }
  std::free(buffer);
  pclose(output);
  ClearInterrupts();  // a break while the command ran stopped the command (the shell got it too)
}

void NeedsSession(std::u32string_view) { WriteSessionLine(U")ED needs a session"); }
void Unavailable(std::u32string_view) { WriteSessionLine(kIncorrectCommand); }
void EndInterpreter(std::u32string_view) { ExitApl(0); }

// ---- The command table -----------------------------------------------------------------------------

struct CommandRow {
  std::u32string_view name;
  CommandHandler handler;
};

// Sorted by name (checked below) for the binary search.
constexpr CommandRow kCommands[] = {
    {U"CLASSES", ListClasses},
    {U"CLEAR", ClearCommand},
    {U"CMD", RunShellCommand},
    {U"CONTINUE", ContinueCommand},
    {U"COPY", CopyCommand},
    {U"CS", ChangeSpace},
    {U"DROP", DropCommand},
    {U"ED", NeedsSession},
    {U"ERASE", EraseNames},
    {U"EVENTS", ListGuiMembers},
    {U"FNS", ListFunctions},
    {U"HOLDS", ShowHolds},
    {U"LIB", ListWorkspaces},
    {U"LOAD", LoadCommand},
    {U"METHODS", ListGuiMembers},
    {U"NS", MakeNamespace},
    {U"OBJECTS", ListNamespaces},
    {U"OBS", ListNamespaces},
    {U"OFF", EndInterpreter},
    {U"OPS", ListOperators},
    {U"PCOPY", ProtectedCopyCommand},
    {U"PROPS", ListGuiMembers},
    {U"READ", Unavailable},
    {U"RESET", ResetStateIndicator},
    {U"SAVE", SaveCommand},
    {U"SH", RunShellCommand},
    {U"SI", ShowSI},
    {U"SIC", ResetStateIndicator},
    {U"SINL", ShowSINL},
    {U"TID", ThreadIdentity},
    {U"VARS", ListVariables},
    {U"WSID", WorkspaceIdentity},
    {U"XLOAD", LoadWithoutLatentExpression},
};
static_assert(std::ranges::is_sorted(kCommands, {}, &CommandRow::name));

const CommandRow* FindCommand(std::u32string_view name) {
  auto row = std::ranges::lower_bound(kCommands, name, {}, &CommandRow::name);
  return row != std::end(kCommands) && row->name == name ? row : nullptr;
}

bool Permitted(std::u32string_view name) {
  return !g_permitted || std::ranges::find(*g_permitted, name) != g_permitted->end();
}

}  // namespace

// ---- Interface -------------------------------------------------------------------------------------

void RunSystemCommand(std::u32string_view command) {
  command = TrimBlanks(command);
  const size_t wordEnd = std::min(command.find(U' '), command.size());
  std::u32string word(command.substr(0, wordEnd));
  for (char32_t& c : word)
    if (c >= U'a' && c <= U'z') c -= U'a' - U'A';
  const CommandRow* row = FindCommand(word);
  if (!row || !Permitted(word)) return WriteSessionLine(kIncorrectCommand);
  row->handler(TrimBlanks(command.substr(wordEnd)));
}

void SetPermittedCommands(std::optional<std::vector<std::u32string>> names) { g_permitted = std::move(names); }

CommandFileName ReadCommandFileName(std::u32string_view text, bool wholeArgument) {
  CommandFileName result;
  size_t end = 0;  // just after the name as written
  if (!text.empty() && text[0] == U'"') {
    for (end = 1;; ++end) {
      if (end == text.size()) return {{}, {}, kUnacceptableChar};  // not closed
      if (text[end] != U'"') {
        result.name.push_back(text[end]);
      } else if (end + 1 < text.size() && text[end + 1] == U'"') {
        result.name.push_back(U'"');
        ++end;
      } else {
        ++end;
        break;
      }
    }
    if (end < text.size() && text[end] != U' ') return {{}, {}, kUnacceptableChar};
  } else {
    end = std::min(text.find(U' '), text.size());
    result.name = text.substr(0, end);
  }
  result.rest = TrimBlanks(text.substr(end));
  if ((wholeArgument && !result.rest.empty()) || result.name.find(U'⍝') != std::u32string::npos)
    return {{}, {}, kUnacceptableChar};
  if (WithWorkspaceExtension(result.name).size() > kMaxWorkspaceNameLength) return {{}, {}, kNameTooLong};
  return result;
}

void InitialiseSystemCommands() { SetSystemCommandHandler(RunSystemCommand); }

}  // namespace vantor
