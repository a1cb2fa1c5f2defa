#!/usr/bin/env bash
# A save killed with SIGKILL at a random moment never costs the workspace: after every kill the file
# loads, as either the workspace that was there or the one being saved. Each round loads the file,
# flips its marker between 'a' and 'b', saves it over itself and is killed somewhere in that work.
# Usage: savekill.sh BUILD_DIRECTORY [ROUNDS]
set -u
build=$(cd "${1:?usage: savekill.sh BUILD_DIRECTORY [ROUNDS]}" && pwd)
rounds=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export MAXWS=256M

"$build/apl" >/dev/null <<'APL'
marker←'a' ⋄ big←⍳8000000 ⋄ text←100000⍴'workspace'
)SAVE target
APL

# How long one load-flip-save takes, so that the kills spread over all of it.
start=$(date +%s%N)
"$build/apl" target >/dev/null <<'APL'
marker←'ab'[1+marker≡'a']
)SAVE
APL
span=$((($(date +%s%N) - start) / 1000000 + 20))

failures=0 killed=0 kinds=""
for ((round = 1; round <= rounds; ++round)); do
  printf "marker←'ab'[1+marker≡'a']\n)SAVE\n" | "$build/apl" target >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v ms=$((RANDOM % span)) 'BEGIN { printf "%.3f", ms / 1000 }')"
  kill -9 "$pid" 2>/dev/null && killed=$((killed + 1))
  wait "$pid" 2>/dev/null
  state=$(printf "(marker)(big≡⍳8000000)(text≡100000⍴'workspace')\n" | "$build/apl" target 2>&1 | tail -1)
  case "$state" in
    "a 1 1" | "b 1 1") kinds="$kinds${state:0:1}" ;;
    *) echo "FAIL round $round: the workspace reads [$state]"; failures=$((failures + 1)) ;;
  esac
done
rm -f target.vws.*  # temporary files of killed saves
echo "$rounds rounds, $killed killed while running, markers seen: $kinds"
exit $((failures > 0))
