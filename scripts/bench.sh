#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench) and runs every one in turn. They time NumPy and
# CPython in the same run through Debian's /usr/bin/python3, so python3-numpy is installed when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg-query -W -f='${Status}' python3-numpy 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing: python3-numpy"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq python3-numpy
fi

scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DVANTOR_BENCH=ON
cmake --build build-bench --target benchmarks

for program in build-bench/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "== ${program##*/}"
  "$program"
done
