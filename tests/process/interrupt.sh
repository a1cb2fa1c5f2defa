#!/usr/bin/env bash
# A strong interrupt (a second break signal while the first is pending) stops a primitive that would
# otherwise run for a minute: the session shows INTERRUPT, answers the next line and ends with exit
# code 0 at the end of its input. Usage: interrupt.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: interrupt.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
deadline=20  # seconds for one session; every line below runs far longer unless interrupted
export MAXWS=512M

# check NAME LINE: types LINE into build/apl, sends two break signals 1.5 seconds later, then types 1+1
# and ends the input. Expects INTERRUPT, then 2, and exit code 0 within the deadline.
check() {
  local name=$1 line=$2
  rm -f "$work/in"
  mkfifo "$work/in"
  "$build/apl" <"$work/in" >"$work/out" 2>&1 &
  local pid=$! input
  exec {input}>"$work/in"
  printf '%s\n' "$line" >&"$input"
  sleep 1.5
  kill -INT "$pid"
  sleep 0.1
  kill -INT "$pid"
  printf '1+1\n' >&"$input"
  exec {input}>&-
  local waited=0
  while kill -0 "$pid" 2>/dev/null && ((waited < deadline * 10)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    echo "FAIL $name: still running after ${deadline}s"
    failures=$((failures + 1))
    return
  fi
  wait "$pid"
  local rc=$?
  local interrupted answered
  interrupted=$(grep -n -m1 '^INTERRUPT$' "$work/out" | cut -d: -f1)
  answered=$(grep -n -m1 '^2$' "$work/out" | cut -d: -f1)
  if [[ $rc -ne 0 || -z $interrupted || -z $answered || $answered -lt $interrupted ]]; then
    echo "FAIL $name: exit code $rc; output:"
    cat "$work/out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check "scalar function over a large array" '⍴(1E7⍴500)!1000'
check "reduction whose work grows with the square of the length" '⍴2E5-/4E5⍴1.5'
check "outer product" '⍴(2000⍴500)∘.!5000⍴1000'
check "matrix product" '⍴X+.×X←3000 3000⍴1.5'
check "pattern search" '⍴(1E5⍴0)⍷1E6⍴0'

if [[ $failures -gt 0 ]]; then
  echo "$failures interrupt case(s) failed"
  exit 1
fi
