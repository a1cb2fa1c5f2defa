// Workspace files: saving the workspace (the heap image behind its root block, written so that the
// file on disk is at every instant either the old or the new workspace), loading one from a file or
// an image in memory into a spare space that replaces the workspace only once it has been checked,
// the search along WSPATH, clearing the workspace, ⎕SAVE and ⎕LOAD.
#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/ws.h"

namespace vantor {

// Saves the workspace as a file of `kind` (workspace or session) at `path`: 0, or the negated
// number of a load-and-save message. Compacts the heap first. An existing file is replaced only by
// renaming the complete new image over it, keeping its permissions; a file that is not a workspace
// or session file is never replaced.
int SaveWorkspace(const std::string& path, uint8_t kind);
// Saves the workspace as a workspace file under `path`, which becomes ⎕WSID (⎕WSID stays as it was
// when the save is refused).
int SaveWorkspaceAs(const std::string& path);

// Loads a workspace (or a session file) from `source` in place of the current workspace: 0, or the
// negated message. The image is read into a spare space and checked (block structure, references,
// counts); the current workspace is left as it was when anything is wrong. ⎕LX is not run.
int LoadWorkspace(ByteSource& source, uint8_t kind);

// Loads a workspace image held in memory whose length is known only from its header (the host
// entry that hands the interpreter an image).
int LoadWorkspaceImage(const uint8_t* image);

// Opens the file at `path` and loads it, ⎕WSID becoming the path; "Workspace not found" when it
// cannot be opened.
int LoadWorkspaceFile(const std::string& path);

// Copies objects from the workspace file at `path` into the executing namespace: the names asked
// for, or every variable, function, operator and namespace of its root when none are. With
// `protect`, names already defined here keep their values. `result` is 0 or the negated message of
// a file that cannot be read; names that the workspace does not define are listed, as are protected
// names. Errors of the values (one that cannot be copied) are signalled.
struct CopyOutcome {
  int result = 0;
  std::vector<std::u32string> notFound;
  std::vector<std::u32string> notCopied;
};
CopyOutcome CopyWorkspace(const std::string& path, const std::vector<std::u32string>& names, bool protect);

// Finds a workspace, the default extension added to a name without one: a name holding "/" is
// taken as it is; any other is looked for in the directories of WSPATH (";"-separated; when unset
// the current directory, then the installation directory's WS and xflib). The paths of the regular
// files found, in the order of the search; SearchWorkspace gives the first.
std::vector<std::string> FindWorkspaces(std::u32string_view name);
std::optional<std::string> SearchWorkspace(std::u32string_view name);
// The directories searched for a name without "/".
std::vector<std::string> WorkspaceDirectories();

// Replaces the workspace by a clear one.
void ClearWorkspace();
// The units' initialisation, run again on a cleared workspace (installed by the start-up code).
void SetWorkspaceInitialiser(void (*initialise)());

// The file this workspace was loaded from or last saved to ("" for a clear workspace).
const std::string& WorkspaceFile();

// The text of a load-and-save message given as a negated number.
std::u32string LoadSaveMessageText(int result);

// A time as the commands show it ("Thu Dec 10 17:37:26 2026").
std::u32string TimeText(std::time_t when);
// "<name> saved <time of the file's last change>", as the commands report a load or a save.
std::u32string SavedLine(const std::string& path);

// Sets ⎕WSID (cut to 255 characters).
void SetWorkspaceId(std::u32string_view id);

// ---- State checks ----------------------------------------------------------------------------------
// The conditions under which the workspace must not be replaced, cleared or saved, by number. The
// unit that owns a condition's state registers its test; a condition without a test (its state
// cannot arise in this process: no windows, shared variables, OLE clients, ...) passes.
enum StateCheck : uint32_t {
  kCheckWindowsOpen = 0,
  kCheckExternalWorkspace,
  kCheckSharedVariables,
  kCheckSessionConnection,
  kCheckInSessionNamespace,
  kCheckSessionInStateIndicator,
  kCheckOleClients,
  kCheckThreadsRunning,
  kCheckMappedFiles,
  kCheckRootReferencedBySession,
  kCheckSessionReferencedByRoot,
  kCheckDmReferencesSession,
  kCheckExternalCalls,
  kCheckPendentCompiled,
  kCheckExternalisedData,
  kStateCheckCount,
};
using StateTestFn = bool (*)();  // true when the condition holds (the operation must not go ahead)
void RegisterStateTest(StateCheck check, StateTestFn holds);
// The first check whose bit in `skipped` is clear and whose condition holds.
std::optional<StateCheck> FailingStateCheck(uint32_t skipped);
// The objects a failing check concerns, as the commands list them (names in ⎕SE whose values refer
// to #, for check 9); empty for the others.
std::vector<std::u32string> StateCheckObjects(StateCheck check);

// Registers ⎕SAVE, ⎕LOAD, ⎕CY and ⎕CLEAR with the evaluator, and the tests of the state checks that
// concern ⎕SE and #.
void InitialiseWorkspaceFiles();

// Between lines of the session: a workspace that ⎕LOAD read replaces this one, or the one that
// ⎕CLEAR asked for is cleared (the running code has been abandoned by then). True when a workspace
// was loaded; the caller reports it and runs its ⎕LX.
bool InstallPendingLoad();

}  // namespace vantor
