#!/usr/bin/env bash
# The long runs of the component-file process tests: the kill test with 1,200 kills, values up to
# 30,000 numbers and kills up to 100 ms into the writing, then two and four processes appending
# 5,000 components each to one shared file. Usage: bench/files_long.sh [BUILD_DIRECTORY]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
start=$SECONDS
bash tests/process/fcrash.sh "$build" 1200 30000 100 || status=1
echo "kill test: $((SECONDS - start)) s"
for writers in 2 4; do
  bash tests/process/fshare.sh "$build" 5000 "$writers" | tail -1 || status=1
done
exit $status
