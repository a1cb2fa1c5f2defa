#!/usr/bin/env bash
# Sets up, builds and runs every test: the whole suite on the normal build, the whole suite again on
# a build with AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets for a bounded
# time. The benchmarks are not built here (scripts/bench.sh builds and runs them).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build -DVANTOR_BENCH=OFF
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# Unit, process and transcript tests and the combination test (tests/combo/) under the sanitizers;
# a sanitizer report fails the test that caused it (the settings come with the tests). Optimised, so
# that the combination test stays within a few minutes.
scripts/setup.sh build-sanitize -DVANTOR_SANITIZE=ON -DVANTOR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-sanitize -j "$jobs"
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

# The fuzz targets, each for a bounded time; new findings are written to build-fuzz/findings/. The
# line target takes any line at all, starting from the corpus of kept inputs (every transcript line,
# each input that once failed, and the sessions in tests/fuzz/seeds/ that define functions,
# operators, namespaces and derived functions and then use them).
scripts/setup.sh build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVANTOR_FUZZ=ON -DVANTOR_SANITIZE=ON \
  -DVANTOR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs" --target fuzz_line fuzz_load fuzz_json fuzz_fmt fuzz_cfile fuzz_transfer fuzz_xml fuzz_pcre
rm -rf build-fuzz/transcripts  # made afresh, so a removed transcript leaves no seed behind
mkdir -p build-fuzz/corpus build-fuzz/findings build-fuzz/transcripts
# Every input line of the transcripts is a seed, so the fuzzer starts from the language as tested.
grep -h '^      ' tests/apl/*.apl | sed 's/^      //' | split -l 1 -a 4 - build-fuzz/transcripts/line_
# Each transcript whole is a seed too: its lines run in one workspace, one after another.
for transcript in tests/apl/*.apl; do
  grep '^      ' "$transcript" | sed 's/^      //' >"build-fuzz/transcripts/whole_$(basename "$transcript" .apl)"
done
# A unit may legitimately take long (displaying a result of a billion elements); only one that runs for
# two minutes counts as a hang.
build-fuzz/fuzz_line -max_total_time=60 -timeout=120 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  -dict=tests/fuzz/apl.dict build-fuzz/corpus build-fuzz/transcripts tests/fuzz/corpus tests/fuzz/seeds

# The workspace loader: any bytes as a workspace file, from saved workspaces and the inputs that
# once failed (tests/fuzz/load_seeds/). A file is refused or loads to a consistent heap.
mkdir -p build-fuzz/load_corpus
build-fuzz/fuzz_load -max_total_time=30 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  build-fuzz/load_corpus tests/fuzz/load_seeds

# JSON import and export: any text in each of the three import forms, then exported and imported
# again, from a few kept texts (tests/fuzz/json_seeds/: the first byte picks the form).
mkdir -p build-fuzz/json_corpus
build-fuzz/fuzz_json -max_total_time=30 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  -dict=tests/fuzz/json.dict build-fuzz/json_corpus tests/fuzz/json_seeds

# ⎕FMT format text: any text as ⎕FMT format text on arguments of every kind and, by its
# first bytes, as the left argument of dyadic ⍕, from a few kept format texts (tests/fuzz/fmt_seeds/).
mkdir -p build-fuzz/fmt_corpus
build-fuzz/fuzz_fmt -max_total_time=30 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  -dict=tests/fuzz/fmt.dict build-fuzz/fmt_corpus tests/fuzz/fmt_seeds

# XML import: any text with the options chosen by its first byte, exported and imported again, from
# a few kept documents (tests/fuzz/xml_seeds/).
mkdir -p build-fuzz/xml_corpus
build-fuzz/fuzz_xml -max_total_time=20 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  -dict=tests/fuzz/xml.dict build-fuzz/xml_corpus tests/fuzz/xml_seeds

# ⎕R and ⎕S: patterns, transformations and text from one input (options from its first byte), from a
# few kept inputs (tests/fuzz/pcre_seeds/).
mkdir -p build-fuzz/pcre_corpus
build-fuzz/fuzz_pcre -max_total_time=20 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  -dict=tests/fuzz/pcre.dict build-fuzz/pcre_corpus tests/fuzz/pcre_seeds

# Component files: any bytes as a component file, tied and read through (components, their
# information, the access matrix, the history, the check), from a few small files of both spans
# (tests/fuzz/cfile_seeds/). Each is refused or reported damaged with an APL error, never a crash.
mkdir -p build-fuzz/cfile_corpus
build-fuzz/fuzz_cfile -max_total_time=30 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  build-fuzz/cfile_corpus tests/fuzz/cfile_seeds

# The transfer-form reader and the decompressor, from kept streams (tests/fuzz/transfer_seeds/: the
# first byte picks the reader).
mkdir -p build-fuzz/transfer_corpus
build-fuzz/fuzz_transfer -max_total_time=30 -timeout=60 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ \
  build-fuzz/transfer_corpus tests/fuzz/transfer_seeds
