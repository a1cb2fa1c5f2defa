// OpenBLAS through dlopen: the library's constructor starts worker threads, and a process that ends
// while they are still starting can hang in the library's shutdown, so it is loaded on the first
// matrix product rather than with the interpreter, and with one thread.
#include "primitives/blas.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include <openblas-pthread/cblas.h>

namespace vantor {

namespace {

struct Library {
  decltype(&cblas_dgemm) dgemm = nullptr;
  decltype(&openblas_set_num_threads) setThreads = nullptr;
  int threads = 0;  // the count last set
};

// The library starts as many threads as OPENBLAS_NUM_THREADS says when it is loaded: one, so that
// none is left starting up; openblas_set_num_threads adds them when a product wants them. The
// environment is restored at once, so commands the interpreter starts do not inherit the setting.
void* OpenLibrary() {
  const char* name = "OPENBLAS_NUM_THREADS";
  const char* previous = std::getenv(name);
  std::string saved = previous ? previous : "";
  setenv(name, "1", 1);
  void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (previous) setenv(name, saved.c_str(), 1);
  else unsetenv(name);
  return handle;
}

Library Load() {
  Library library;
  void* handle = OpenLibrary();
  if (!handle) return library;
  library.dgemm = reinterpret_cast<decltype(&cblas_dgemm)>(dlsym(handle, "cblas_dgemm"));
  library.setThreads = reinterpret_cast<decltype(&openblas_set_num_threads)>(dlsym(handle, "openblas_set_num_threads"));
  if (!library.dgemm || !library.setThreads) library.dgemm = nullptr;
  return library;
}

Library& TheLibrary() {
  static Library library = Load();
  return library;
}

}  // namespace

bool MultiplyMatrices(uint64_t rows, uint64_t inner, uint64_t columns, const double* a, const double* b, double* c,
                      uint32_t threads) {
  if (std::max({rows, inner, columns}) > INT_MAX) return false;
  Library& library = TheLibrary();
  if (!library.dgemm) return false;
  if (library.threads != static_cast<int>(threads)) {
    library.setThreads(static_cast<int>(threads));
    library.threads = static_cast<int>(threads);
  }
  const int m = static_cast<int>(rows), n = static_cast<int>(columns), k = static_cast<int>(inner);
  library.dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, 1.0, a, k, b, n, 0.0, c, n);
  return true;
}

}  // namespace vantor
