// Component-file benchmark, measured in the same run: ⎕FAPPEND of 100,000 small arrays (10 numbers
// each) to a new file, then ⎕FREAD of every one of them, against CPython's sqlite3 inserting the same
// values as 80-byte blobs into a new database file in one transaction (committed) and selecting
// them all back. The file is unjournaled (goal: ratio <= 1.0), then journaled at level 1 (goal
// <= 2.0). The machine is shared, so both sides run several times alternately; each run gives a ratio.
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
constexpr int kComponents = 100000;

std::string SqliteScript(const std::string& database) {
  return "import os, sqlite3, struct, time\n"
         "path = '" + database + "'\n"
         "if os.path.exists(path): os.remove(path)\n"
         "start = time.perf_counter()\n"
         "db = sqlite3.connect(path)\n"
         "db.execute('create table c (n integer primary key, v blob)')\n"
         "db.executemany('insert into c values (?, ?)', ((i, struct.pack('10d', *range(i, i + 10)))"
         " for i in range(1, " + std::to_string(kComponents + 1) + ")))\n"
         "db.commit()\n"
         "rows = [struct.unpack('10d', v) for (v,) in db.execute('select v from c order by n')]\n"
         "db.close()\n"
         "print((time.perf_counter() - start) * 1e3)\n"
         "assert len(rows) == " + std::to_string(kComponents) + "\n";
}

// Appends and reads back the values through a file of journaling level `journal`; 1 when every
// value read is the one appended.
double OurRun(const std::string& file, int journal, bool& right) {
  unlink((file + ".vcf").c_str());
  setenv("APL_FCREATE_PROPS_J", std::to_string(journal).c_str(), 1);
  setenv("APL_FCREATE_PROPS_C", journal ? "1" : "0", 1);
  const std::u32string name = FromUtf8(file);
  double ms = bench::Milliseconds([&] {
    ExecuteLine(U"t←'" + name + U"' ⎕FCREATE 0");
    ExecuteLine(U"_←{(⍵+⍳10)⎕FAPPEND t}¨⍳" + FromUtf8(std::to_string(kComponents)));
    ExecuteLine(U"back←⎕FREAD¨t,¨⍳" + FromUtf8(std::to_string(kComponents)));
    ExecuteLine(U"⎕FUNTIE t");
  });
  ExecuteLine(U"same←back≡{⍵+⍳10}¨⍳" + FromUtf8(std::to_string(kComponents)));
  Ref same = EntryValue(LookupName(U"same", LookupMode::Find));
  right = right && IsRef(same) && ElementCount(same) == 1 && *DataOf<uint8_t>(same) != 0;
  ExecuteLine(U"back←0");
  return ms;
}

}  // namespace

int main() {
  bench::StartInterpreter(1024u << 20);
  char pattern[] = "/tmp/vantor-bench-cfiles-XXXXXX";
  const std::string directory = mkdtemp(pattern);
  const std::string file = directory + "/bench", database = directory + "/bench.sqlite";
  bool right = true;
  for (int journal : {0, 1}) {
    std::vector<double> ours, theirs;
    for (int run = 0; run < kRuns; ++run) {
      ours.push_back(OurRun(file, journal, right));
      theirs.push_back(bench::PythonNumber(SqliteScript(database)));
    }
    bench::PrintRuns(journal ? "100,000 ⎕FAPPEND and ⎕FREAD, journaled (level 1, checksummed)"
                             : "100,000 ⎕FAPPEND and ⎕FREAD, unjournaled",
                     ours, "CPython sqlite3 insert and select in one transaction", theirs, journal ? 2.0 : 1.0);
  }
  if (!right) std::printf("the values read back are not the values appended\n");
  std::string command = "rm -rf " + directory;
  if (std::system(command.c_str()) != 0) right = false;
  return right ? 0 : 1;
}
