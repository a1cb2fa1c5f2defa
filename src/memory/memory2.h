// Compaction: slides every live pocket of the current space down in address order, rewriting every
// reference (pocket fields, root block, registered temporaries) by pointer threading, so it needs no
// side table. Also the full consistency check that diagnostic bit 32 runs after each compaction.
#pragma once
#include <cstdint>

namespace vantor {

// Compacts the current space. With `requestedWords` > 0 the free space afterwards must hold that
// many words: the heap grows if needed and WS FULL is signalled when it still cannot. With 0 the end
// is moved to leave the standard headroom. `forSave` skips the preparation (freeing, narrowing).
void Compact(uint32_t requestedWords, bool forSave = false);

// Walks every space in use and checks every block and reference field; raises a system error at
// the first inconsistency.
void CheckHeapConsistency();

// Checks the current space as the consistency check does, without ending the process: the code of
// the first fault found (the system error the check would raise), or 0. With `checkCounts` every
// pocket's count must also equal the number of references to it. Used on workspace images read
// from files, which may be damaged.
int FindHeapFault(bool checkCounts);
// References that a pocket's count does not include, left out of that count check: every field of
// objects of a class that only points at something (a namespace handle), and root words that
// borrow their pocket.
void RegisterUncountedObjectClass(uint32_t objectClass);
void RegisterUncountedRootWord(uint32_t word);

}  // namespace vantor
