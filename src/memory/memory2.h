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

}  // namespace vantor
