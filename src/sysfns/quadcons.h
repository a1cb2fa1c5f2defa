// Niladic system functions whose results come from the interpreter's own state, the clock or the
// host: ⎕A ⎕D ⎕AV ⎕Á ⎕TC ⎕TS ⎕AI ⎕AN ⎕WA ⎕FAVAIL ⎕NULL, and the hidden OLDDMX. Each is a
// NiladicHandler for the niladic dispatcher (handler number = registry number − 16, see qsys).
#pragma once
#include <cstdint>

#include "primitives/dispatch.h"

namespace vantor {

Ref QuadA();       // handler 0: the shared "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
Ref QuadAI();      // handler 1: user number, processor, connect and keying milliseconds
Ref QuadAV();      // handler 2: the 256 characters of the executing namespace's ⎕AVU
Ref QuadD();       // handler 4: the shared "0123456789"
Ref QuadTC();      // handler 9: backspace, line feed, carriage return (the last two exchanged when ⎕ML is 3)
Ref QuadTS();      // handler 10: year, month, day, hour, minute, second, millisecond of local time
Ref QuadWA();      // handler 11: free bytes in the workspace
Ref QuadUnderscoredA();  // handler 13 (⎕Á): positions 97 to 122 of ⎕AV
Ref QuadAN();      // handler 14: the name of the user running the process
Ref QuadFAVAIL();  // handler 15: 1
Ref QuadNULL();    // handler 31: the shared null item (see NullItem in quadvar)
Ref QuadOLDDMX();  // handler 37: SYNTAX ERROR

// The session input code adds the time a user spent typing; ⎕AI reports the total.
void AddKeyingTime(uint64_t milliseconds);

}  // namespace vantor
