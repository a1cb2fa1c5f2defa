#!/usr/bin/env bash
# Sets up, builds and runs every test: the whole suite on the normal build, then the unit tests
# again on a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

scripts/setup.sh build-sanitize -DVANTOR_SANITIZE=ON -DVANTOR_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
cmake --build build-sanitize -j "$jobs" --target unit_tests
UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -E '^process\.'
