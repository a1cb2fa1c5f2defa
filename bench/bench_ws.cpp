// Workspace save and load benchmarks, measured in the same run:
//  1. saving and loading a workspace that holds 256 MB of arrays (a 128 MB binary64 vector and two
//     64 MB int32 vectors) against NumPy's np.save and np.load of the same arrays, one after the
//     other in one file (goal: ratio <= 1.0 for each; NumPy from Debian's python3-numpy, through
//     /usr/bin/python3). Our save ends with fsync (the file on disk is always a whole workspace), so
//     NumPy's ends with f.flush() and os.fsync() too; both replace the file of the run before, so
//     both free its blocks (our rename over it, NumPy's truncation). Both loads read warm files:
//     nothing is dropped from the page cache on either side, and each file was written just before;
//  2. loading a workspace that holds 1,000,000 small pockets (goal: <= 0.1 s), shown beside a plain
//     read() of the same file into memory.
// Both sides use files in the same temporary directory under /tmp. The machine is shared, so every
// measurement is repeated: the two sides of 1 run alternately, and each run gives a ratio of its own;
// the lines show the median, then the min, median and max over the runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/load.h"
#include "host/aplmain.h"
#include "base/utf8.h"
#include "language/session.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "memory/memory3.h"
#include "primitives/index.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;
constexpr uint64_t kWorkspaceBytes = 1024u << 20;
// Elements of each large vector: A binary64 (128 MB), B and C int32 (64 MB each), 256 MB in all.
constexpr uint32_t kLength = 1u << 24;

uint64_t FileBytes(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

double FileMegabytes(const std::string& path) { return FileBytes(path) / 1048576.0; }

// The value of the variable `name`, or 0 when it has none.
Ref ValueOf(std::u32string_view name) {
  Ref entry = LookupName(name, LookupMode::Find);
  return entry ? EntryValue(entry) : 0;
}

bool HoldsVector(std::u32string_view name, ElementType type) {
  Ref value = ValueOf(name);
  return value && ElementOf(TypeWord(value)) == type;
}

// Whether `test`, executed as APL, gives 1.
bool Holds(const std::u32string& test) {
  ExecuteLine(U"ok←" + test);
  Ref ok = ValueOf(U"ok");
  return ok && IntegersOf(ok) == std::vector<int64_t>{1};
}

// ---- 1. 256 MB of arrays against NumPy -------------------------------------------------------------

std::u32string Decimal(uint64_t n) { return FromUtf8(std::to_string(n)); }

bool MakeLargeArrays() {
  ExecuteLine(U"A←0.5×⍳" + Decimal(kLength) + U" ⋄ B←⍳" + Decimal(kLength) + U" ⋄ C←-B");
  return HoldsVector(U"A", kFloat64) && HoldsVector(U"B", kInt32) && HoldsVector(U"C", kInt32);
}

bool LargeArraysLoaded() {
  const std::u32string n = Decimal(kLength);
  return HoldsVector(U"A", kFloat64) && HoldsVector(U"B", kInt32) && HoldsVector(U"C", kInt32) &&
         Holds(U"(" + n + U"≡≢A)∧(" + n + U"≡≢C)∧(A[" + n + U"]=0.5×" + n + U")∧(B[" + n + U"]=" + n +
               U")∧C[1]=¯1");
}

// The same arrays in NumPy, saved to `path` with np.save one after the other and synced; the time
// of the save in ms, negative when NumPy cannot be run.
double NumPySaveMs(const std::string& path) {
  return bench::PythonNumber(std::string("import numpy as np, os, time\n") + "n = " + std::to_string(kLength) +
                             "\n"
                             "a = np.arange(1, n + 1) * 0.5; b = np.arange(1, n + 1, dtype=np.int32); c = -b\n"
                             "start = time.perf_counter()\n"
                             "with open('" + path + "', 'wb') as f:\n"
                             "    np.save(f, a); np.save(f, b); np.save(f, c)\n"
                             "    f.flush(); os.fsync(f.fileno())\n"
                             "print((time.perf_counter() - start) * 1e3)\n");
}

// The time of np.load of the three arrays from `path` in ms (negative when NumPy cannot be run or the
// arrays are not those saved).
double NumPyLoadMs(const std::string& path) {
  return bench::PythonNumber(std::string("import numpy as np, time\n") + "n = " + std::to_string(kLength) +
                             "\n"
                             "start = time.perf_counter()\n"
                             "with open('" + path + "', 'rb') as f:\n"
                             "    a = np.load(f); b = np.load(f); c = np.load(f)\n"
                             "ms = (time.perf_counter() - start) * 1e3\n"
                             "print(ms if a[-1] == 0.5 * n and b[-1] == n and c[0] == -1 else -1)\n");
}

bool SaveAndLoadLargeWorkspace(const std::string& directory) {
  if (!MakeLargeArrays()) {
    std::printf("the 256 MB arrays were not made as binary64 and int32 vectors\n");
    return false;
  }
  const std::string ws = directory + "/large.dws", npy = directory + "/large.npy";
  std::vector<double> ourSave, ourLoad, numpySave, numpyLoad;
  bool right = true;
  // Run 0 warms both sides up (the first file written, the first pages touched) and is not kept.
  for (int run = 0; run <= kRuns; ++run) {
    int saved = 0, loaded = 0;
    double save = bench::Milliseconds([&] { saved = SaveWorkspace(ws, kFileKindWorkspace); });
    double theirSave = NumPySaveMs(npy);
    double load = bench::Milliseconds([&] { loaded = LoadWorkspaceFile(ws); });
    double theirLoad = NumPyLoadMs(npy);
    if (saved != 0 || loaded != 0 || !LargeArraysLoaded()) {
      std::printf("run %d: save gave %d, load gave %d, or the arrays loaded are wrong\n", run, saved, loaded);
      right = false;
    }
    if (run == 0) continue;
    ourSave.push_back(save);
    ourLoad.push_back(load);
    numpySave.push_back(theirSave);
    numpyLoad.push_back(theirLoad);
  }
  std::printf("workspace file %.1f MB | NumPy file %.1f MB\n", FileMegabytes(ws), FileMegabytes(npy));
  bench::PrintRuns("save a workspace of 256 MB of arrays", ourSave, "NumPy np.save + fsync", numpySave, 1.0);
  bench::PrintRuns("load a workspace of 256 MB of arrays (warm file)", ourLoad, "NumPy np.load (warm file)", numpyLoad,
            1.0);
  std::remove(ws.c_str());
  std::remove(npy.c_str());
  return right;
}

// ---- 2. 1,000,000 small pockets ----------------------------------------------------------------------

// The time of reading the whole file at `path` into memory with read(), in ms.
double PlainReadMs(const std::string& path) {
  std::vector<char> buffer(FileBytes(path));
  return bench::Milliseconds([&] {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    for (size_t at = 0; at < buffer.size();) {
      ssize_t got = read(fd, buffer.data() + at, buffer.size() - at);
      if (got <= 0) break;
      at += static_cast<size_t>(got);
    }
    close(fd);
  });
}

bool LoadManySmallPockets(const std::string& directory) {
  ClearWorkspace();
  // A million distinct 3-item vectors, each a pocket of its own.
  ExecuteLine(U"X←⍳¨1000000⍴3 ⋄ X[1000000]←⊂7 8 9");
  const std::u32string test = U"(1000000≡≢X)∧(1 2 3≡500000⊃X)∧7 8 9≡1000000⊃X";
  if (!Holds(test)) {
    std::printf("the million small vectors were not made\n");
    return false;
  }
  const std::string ws = directory + "/pockets.dws";
  if (int saved = SaveWorkspace(ws, kFileKindWorkspace)) {
    std::printf("saving the million small vectors gave %d\n", saved);
    return false;
  }
  std::vector<double> loads, reads;
  bool right = true;
  for (int run = 0; run <= kRuns; ++run) {
    int loaded = 0;
    double load = bench::Milliseconds([&] { loaded = LoadWorkspaceFile(ws); });
    double plain = PlainReadMs(ws);
    if (loaded != 0 || !Holds(test)) {
      std::printf("run %d: load gave %d, or the vectors loaded are wrong\n", run, loaded);
      right = false;
    }
    if (run == 0) continue;
    loads.push_back(load / 1e3);
    reads.push_back(plain / 1e3);
  }
  bench::Spread load = bench::SpreadOf(loads), plain = bench::SpreadOf(reads);
  std::printf("load a workspace of 1,000,000 small pockets (%.1f MB file): %.3f s (goal <= 0.100) | "
              "read() of the file %.3f s | ratio %.1f\n",
              FileMegabytes(ws), load.median, plain.median, load.median / plain.median);
  std::printf("  %d runs, min/median/max: load %.3f/%.3f/%.3f s | read() %.3f/%.3f/%.3f s\n", kRuns, load.min,
              load.median, load.max, plain.min, plain.median, plain.max);
  std::remove(ws.c_str());
  return right;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the interpreter writes to the same stream directly
  bench::StartInterpreter(kWorkspaceBytes);
  SetWorkspaceInitialiser(InitialiseModules);
  char directory[] = "/tmp/vantor_bench_ws.XXXXXX";
  if (!mkdtemp(directory)) {
    std::perror("mkdtemp");
    return 1;
  }
  bool right = SaveAndLoadLargeWorkspace(directory);
  right = LoadManySmallPockets(directory) && right;
  rmdir(directory);
  return right ? 0 : 1;
}
