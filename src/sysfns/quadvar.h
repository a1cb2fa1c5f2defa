// System variables: where each value lives (the session block, the workspace block, the namespace
// block of the executing namespace, or the current thread's block), its default and the
// configuration parameter that can change it, and the checks an assignment must pass. Reading and
// assigning go through one pair of operations indexed by the variable's registry number (qsys).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory/memory1.h"

namespace vantor {

// Registry numbers of the system variables (class 1 of qsys). 11 and 12 stand for ⎕ and ⍞, which
// the evaluator handles itself; 14 is unused.
enum SystemVariableNumber : uint32_t {
  kQuadCT = 0,
  kQuadDIV = 1,
  kQuadIO = 2,
  kQuadLX = 3,
  kQuadPP = 4,
  kQuadPW = 5,
  kQuadRL = 6,
  kQuadRTL = 7,
  kQuadTRAP = 8,
  kQuadSM = 9,
  kQuadWSID = 10,
  kQuadSE = 13,
  kQuadML = 15,
  kQuadPATH = 16,
  kQuadWX = 17,
  kQuadUSING = 18,
  kQuadAVU = 19,
  kQuadTNAME = 20,
  kQuadFR = 21,
  kQuadDCT = 22,
  kQuadDMX = 23,
  kSystemVariableLimit = 24,
};

// Root words of this unit (inside kRootSysVarWords).
enum SysVarRootWord : uint32_t {
  kRootSessionBlock = kRootSysVarWords,  // ⎕PW ⎕SE ⎕PATH; one per process
  kRootWorkspaceBlock,                   // ⎕LX ⎕TRAP ⎕SM ⎕WSID ⎕FR ⎕DCT; replaced by load and clear
  kRootNamespaceBlock,                   // the executing namespace's block; NOT counted (see below)
  kRootDefaultNamespaceBlock,            // the block in force before any namespace exists; counted
  kRootThreadBlock,                      // ⎕TNAME ⎕DMX of the running thread
  kRootNullItem,                         // the shared ⎕NULL object
  kRootSysVarEnd,
};
static_assert(static_cast<uint32_t>(kRootSysVarEnd) <= static_cast<uint32_t>(kRootErrorWords));

// Every block is a reference list (kind 2) with one slot per variable it holds.

// Creates the blocks with their defaults (reading the defaults' configuration parameters on first
// use) and the ⎕NULL object. Call once the main space exists, before the names are initialised.
void InitialiseSystemVariables();

// Re-reads the configuration parameters for the defaults (DEFAULT_DIV, DEFAULT_IO, DEFAULT_PP,
// SESSION_COLS, DEFAULT_RL, DEFAULT_RTL, DEFAULT_ML, DEFAULT_WX, DEFAULT_FR). The first reset or
// assignment in a process does this by itself; values outside a variable's bounds are ignored.
void LoadSystemVariableDefaults();

// ---- Reading and assigning -------------------------------------------------------------------

// The value of variable k, counted; 0 when it has none (⎕SM, ⎕USING and ⎕DMX until given one; the
// numbers 11, 12 and 14).
Ref ReadSystemVariable(uint32_t k);
// The value of a character variable (⎕LX, ⎕WSID) as text; empty when it has none.
std::u32string CharacterVariableText(uint32_t k);

// Checks `value` (borrowed) and stores it, or signals the variable's error leaving the old value in
// place. A namespace-level variable first makes the current namespace block private.
void AssignSystemVariable(uint32_t k, Ref value);

// Stores the variable's default (a clear workspace, a new thread, a reset). ⎕SE and ⎕DMX keep their
// values.
void ResetSystemVariable(uint32_t k);

// Stores `value` (a counted reference, taken over) without any check and returns the previous value
// (counted). This is the slot access for localisation: a class-15 name saves the current value
// with ReadSystemVariable and gives it back with ExchangeSystemVariable when its frame ends. The
// errors unit also keeps the thread's ⎕DMX here.
Ref ExchangeSystemVariable(uint32_t k, Ref value);

// Checks of variables whose values belong to other units: ⎕RL (random numbers), ⎕TRAP (errors),
// ⎕USING and ⎕SM. A check reads `value` (borrowed), signals when it is not acceptable and returns
// the counted value to store. Until a unit registers its check, assigning the variable is NONCE
// ERROR.
using SystemVariableCheck = Ref (*)(Ref value);
void RegisterSystemVariableCheck(uint32_t k, SystemVariableCheck check);

// ---- The namespace block ---------------------------------------------------------------------
// ⎕CT ⎕DIV ⎕IO ⎕PP ⎕RL ⎕RTL ⎕ML ⎕WX ⎕USING ⎕AVU live in a block that each NamespaceObject holds
// (counted) in its system-variable field. A new namespace takes CurrentNamespaceBlock(), so it
// shares its creator's block. The names unit calls InstallNamespaceBlock(block of the namespace)
// whenever the executing namespace changes; the root word then borrows that namespace's reference.
// An assignment to a namespace-level variable first makes the block private: when other holders
// share it, a copy replaces it and is passed to the writer registered below, which must store it
// (retained) into the executing namespace's field and release the one it held.

Ref CurrentNamespaceBlock();  // counted
void InstallNamespaceBlock(Ref block);
using NamespaceBlockWriter = void (*)(Ref block);
void SetNamespaceBlockWriter(NamespaceBlockWriter writer);
// A fresh block of defaults, counted (the block of a clear workspace's root).
Ref NewNamespaceBlock();
// Whether variable k lives in the namespace block and can be assigned (the unit that checks its
// values is present), and its value in a given block (not counted; 0 when the block holds none).
bool IsNamespaceVariable(uint32_t k);
Ref NamespaceBlockValue(Ref block, uint32_t k);

// ---- The other blocks ------------------------------------------------------------------------

// The thread unit keeps each thread's block in its thread record and installs the running
// thread's block when it switches (InstallThreadBlock takes over the counted reference and returns
// the previous one, counted). A new thread starts with NewThreadBlock().
Ref NewThreadBlock();
Ref InstallThreadBlock(Ref block);

// A clear workspace: the workspace block gets its defaults again.
void ResetWorkspaceBlock();

// The names unit puts the session namespace (counted reference, taken over) into the session block.
void InstallSessionNamespace(Ref se);

// ---- Workspace names -------------------------------------------------------------------------

// The longest workspace name, default extension included (⎕WSID and the workspace commands).
inline constexpr size_t kMaxWorkspaceNameLength = 259;
// A non-empty name whose last part (after the last '\', '/' or ':') has no '.' and that does not
// end with one of those separators gets the default extension: the text of WSEXT before its first
// ':', ".vws" when WSEXT is not set.
std::u32string WithWorkspaceExtension(std::u32string name);

// ---- Cheap accessors for the rest of the interpreter -------------------------------------------
// Before InitialiseSystemVariables they give the built-in defaults.

uint32_t IndexOrigin();             // ⎕IO
double ComparisonTolerance();       // ⎕CT
uint32_t DivisionMethod();          // ⎕DIV
int PrintPrecision();               // ⎕PP
int PrintWidth();                   // ⎕PW
uint32_t MigrationLevel();          // ⎕ML
int CurrentFloatRepresentation();   // ⎕FR: 645 or 1287
// The character at a position of ⎕AV (from the executing namespace's ⎕AVU), and the position of a
// character in ⎕AV (-1 when it has none).
char32_t AvCharacter(uint32_t position);
int AvPosition(char32_t c);

// The shared ⎕NULL item: a kind-5 object of class kNullObjectClass without fields, created once
// and held by the root block. The display shows it as [Null].
inline constexpr uint32_t kNullObjectClass = 20053;
Ref NullItem();  // counted
inline bool IsNullItem(Ref r) { return IsRef(r) && r == RootWordAt(kRootNullItem); }

}  // namespace vantor
