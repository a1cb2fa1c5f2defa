// ⎕SIGNAL: raises an error chosen by APL code, given as a number (with an optional message that
// replaces the standard one) or as a ⎕DMX specification, a list of property names and values.
#pragma once
#include "primitives/dispatch.h"

namespace vantor {

// ⎕SIGNAL, monadic or dyadic. An empty right argument does nothing; otherwise the error is recorded
// with the given properties and raised with AplError::raisedBySignal set, so that the evaluator
// reports it in the caller of the function that executed ⎕SIGNAL.
CallResult QuadSignal(const Ref& left, const Ref& right);

}  // namespace vantor
