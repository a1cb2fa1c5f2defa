// Fuzz target: any bytes, written as a component file, then tied, read and updated. Every
// component, its information, the access matrix, the size, each update and the check (which repairs
// the file) must each give a value or an APL error (the file refused or reported damaged); never a
// crash, a hang or a system error, and the workspace stays sound. The repaired file is read again.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/load.h"
#include "fresh.h"
#include "base/startup.h"
#include "base/utf8.h"
#include "language/session.h"
#include "memory/memory1.h"
#include "memory/memory2.h"
#include "memory/memory3.h"

using namespace vantor;


static std::string FilePath() {
  static std::string path = [] {
    char directory[] = "/tmp/fuzz_cfile.XXXXXX";
    if (!mkdtemp(directory)) abort();
    return std::string(directory) + "/f.vcf";
  }();
  return path;
}

// Runs one APL statement; an untrapped APL error is displayed (to /dev/null) and the line abandoned.
static void Run(const std::string& statement) { ExecuteLine(FromUtf8(statement)); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFresh();
  std::string path = FilePath();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  close(fd);
  Run("t←'" + path + "' ⎕FTIE 1");
  Run("s←⎕FSIZE 1");
  Run("r←{⎕FREAD 1 ⍵}¨(1⊃s)+¯1+⍳64⌊(2⊃s)-1⊃s");
  Run("r←{⎕FRDCI 1 ⍵}¨(1⊃s)+¯1+⍳64⌊(2⊃s)-1⊃s");
  Run("r←⎕FRDAC 1");
  Run("r←⎕FHIST 1");
  Run("r←'new' ⎕FAPPEND 1");
  Run("r←(⍳3) ⎕FREPLACE 1 (1⊃s)");
  Run("r←⎕FDROP 1 ¯1");
  Run("r←⎕FDROP 1 1");
  Run("⎕FUNTIE 1");
  Run("r←⎕FCHK '" + path + "'");
  Run("t←'" + path + "' ⎕FTIE 1");
  Run("s←⎕FSIZE 1");
  Run("r←{⎕FREAD 1 ⍵}¨(1⊃s)+¯1+⍳64⌊(2⊃s)-1⊃s");
  Run("⎕FUNTIE 1");
  if (FindHeapFault(true) != 0) abort();
  return 0;
}
