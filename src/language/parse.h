// The evaluator: executes token streams right to left with a handful of registers held in the root
// block and dispatches primitives and system functions through the tables of primitives/dispatch.h.
// Its units share language/evaluator.h; the session loop is language/session.h.
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"

namespace vantor {

// Builds the dispatch tables. Called once at start-up, after the units it dispatches to.
void InitialiseEvaluator();

}  // namespace vantor
