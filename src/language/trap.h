// Trapping: the check of a value assigned to ⎕TRAP. (Errors themselves, their numbers and
// SignalError, are in base/errors.h.)
#pragma once
#include "base/errors.h"
#include "memory/pockutil.h"

namespace vantor {

// The check of a value assigned to ⎕TRAP (`value` borrowed): an empty value, one specification
// (numbers, action, expression) or a vector of them. Signals DOMAIN, RANK or LENGTH ERROR for a
// malformed value; returns the counted value to store: the empty numeric vector, or a vector of
// specifications, each a nested vector whose first item is the error numbers and whose second is
// the action character.
Ref CheckTrapValue(Ref value);

// Registers the ⎕TRAP check with the system variables. Called once at start-up.
void InitialiseErrors();

}  // namespace vantor
