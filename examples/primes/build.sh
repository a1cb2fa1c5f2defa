#!/usr/bin/env bash
# Builds the example application into one executable: the workspace is made by running primes.apl
# through the interpreter, then bound into a copy of the runtime with the start-up flags for console
# mode with output shown (0x10002). Usage: build.sh BUILD_DIRECTORY OUTPUT_DIRECTORY
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: build.sh BUILD_DIRECTORY OUTPUT_DIRECTORY}" && pwd)
out=$(mkdir -p "${2:?usage: build.sh BUILD_DIRECTORY OUTPUT_DIRECTORY}" && cd "$2" && pwd)
(cd "$out" && rm -f primes.vws && "$build/apl" <"$here/primes.apl" >/dev/null)
"$build/vantor-bind" --ws "$out/primes.vws" --flags 0x10002 -o "$out/primes" "$build/vantor"
echo "$out/primes"
