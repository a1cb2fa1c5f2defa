// Component files at the APL level: the table of up to 512 tied files, the ⎕F functions that tie,
// read and update them, and the access matrix with passnumbers that guards each operation. Ties are
// exclusive (an exclusive lock on the whole file for the life of the tie) or shared (each operation
// re-reads the header under a shared lock, each update holds an exclusive lock), using open-file-
// description byte-range locks beyond any data, so several processes can share one file. The file
// layout itself is the business of qfile5.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

// A tied file as ⎕FNUMS and ⎕FNAMES list it.
struct TiedComponentFile {
  int32_t tie;
  std::u32string name;
};
// The tied files in the order they were tied.
std::vector<TiedComponentFile> TiedComponentFiles();

// A name as a component file's path: the extension "vcf" added when the last part has none.
std::u32string WithComponentFileExtension(std::u32string_view name);

// Registers the ⎕F functions and unties every component file when the workspace goes.
void InitialiseComponentFiles();

}  // namespace vantor
