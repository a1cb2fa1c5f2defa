// Component files by name: ⎕FNUMS and ⎕FNAMES list the files this process has tied, ⎕FLIB lists
// the component files of a directory (files whose first bytes make them component files).
#pragma once

namespace vantor {

// Registers ⎕FNUMS, ⎕FNAMES and ⎕FLIB.
void InitialiseComponentFileNames();

}  // namespace vantor
