#!/usr/bin/env bash
# Sets up, builds and starts the console interpreter (build/apl). Arguments go to the interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
cmake --build build
exec build/apl "$@"
