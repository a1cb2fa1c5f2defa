// Reading a large native file whole, measured in the same run: ⎕NREAD of a 1 GB file as 1-byte
// integers (conversion 83) and 83 ⎕MAP of it, against `cat FILE > /dev/null` on the same file (goal:
// close to 1). The file is read once before timing, so every side reads from the page cache; the
// machine is shared, so the sides run several times alternately and each run gives a ratio.
// Usage: bench_nread [MEGABYTES] (default 1024; a smaller file where memory or disk is short).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "language/session.h"
#include "language/space.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr int kRuns = 5;

double CatMs(const std::string& path) {
  std::string command = "cat '" + path + "' > /dev/null";
  return bench::Milliseconds([&] {
    if (std::system(command.c_str()) != 0) std::printf("cat failed\n");
  });
}

// Whether `name` holds `bytes` 1-byte integers whose last is the file's last byte.
bool Holds(const char32_t* name, uint64_t bytes, int last) {
  ExecuteLine(std::u32string(U"check←(") + FromUtf8(std::to_string(bytes)) + U"=≢" + name + U")∧" +
              (last < 0 ? U"¯" : U"") + FromUtf8(std::to_string(std::abs(last))) + U"=¯1↑" + name);
  Ref check = EntryValue(LookupName(U"check", LookupMode::Find));
  return IsRef(check) && ElementCount(check) == 1 && *DataOf<uint8_t>(check) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t bytes = megabytes << 20;
  bench::StartInterpreter(bytes + (bytes >> 1) + (256u << 20));
  char pattern[] = "/tmp/vantor-bench-nread-XXXXXX";
  const std::string directory = mkdtemp(pattern);
  const std::string path = directory + "/data.bin";
  {
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 4096);
    FILE* f = std::fopen(path.c_str(), "wb");
    for (uint64_t written = 0; written < bytes; written += block.size()) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  const int last = static_cast<signed char>(static_cast<char>((bytes - 1) % (1 << 20) * 7 + (bytes - 1) % (1 << 20) / 4096));
  CatMs(path);
  const std::u32string name = FromUtf8(path);
  ExecuteLine(U"t←'" + name + U"' ⎕NTIE 0");
  std::vector<double> ourRead, ourMap, cat;
  bool right = true;
  for (int run = 0; run < kRuns; ++run) {
    ourRead.push_back(bench::Milliseconds([&] { ExecuteLine(U"x←⎕NREAD t 83 ¯1 0"); }));
    right = right && Holds(U"x", bytes, last);
    ExecuteLine(U"x←0");
    cat.push_back(CatMs(path));
    ourMap.push_back(bench::Milliseconds([&] { ExecuteLine(U"x←83 ⎕MAP '" + name + U"'"); }));
    right = right && Holds(U"x", bytes, last);
    ExecuteLine(U"x←0");
  }
  ExecuteLine(U"⎕NUNTIE t");
  std::string size = std::to_string(megabytes) + " MB";
  bench::PrintRuns("⎕NREAD of " + size + " as bytes (83)", ourRead, "cat > /dev/null", cat, 1.0);
  bench::PrintRuns("83 ⎕MAP of " + size, ourMap, "cat > /dev/null", cat, 1.0);
  if (!right) std::printf("the bytes read are not the file's\n");
  std::string command = "rm -rf " + directory;
  if (std::system(command.c_str()) != 0) right = false;
  return right ? 0 : 1;
}
