#!/usr/bin/env bash
# Native files shared by two interpreter processes: a byte-range lock (⎕NLOCK) held by one process
# keeps the other out (TIMEOUT) until it is released, while other ranges stay free; a waiting lock
# is granted as soon as the holder lets go; a tie that denies sharing refuses the other process's
# tie (FILE TIED); and data one process appends is read at once by the other. On a full file system
# (a small tmpfs, when this user may mount one) a write fails whole: ⎕NPUT leaves the old file or
# none, ⎕NAPPEND leaves the file as it was.
# Usage: nfiles.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: nfiles.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
holder=
full=
trap '[ -n "$holder" ] && kill -KILL "$holder" 2>/dev/null; [ -n "$full" ] && umount "$full"; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}

# The holder: ties both files, locks bytes 0-9 of one, denies all sharing of the other, and waits
# for more lines on a FIFO.
mkfifo in
"$build/apl" <in >holder.out 2>&1 &
holder=$!
exec {input}>in
printf '%s\n' "'abc' ⎕NPUT 'shared'" "'' ⎕NPUT 'excl'" "t←'shared' ⎕NTIE 0" "2 ⎕NLOCK t 0 10" \
  "e←'excl' ⎕NTIE 0 (16+2)" "'holding'" >&"$input"
for _ in $(seq 100); do grep -q holding holder.out && break; sleep 0.1; done
grep -q holding holder.out || fail "the holder did not start: $(cat holder.out)"

# The other process, while the lock is held.
other=$(printf '%s\n' "t←'shared' ⎕NTIE 0" "2 0 ⎕NLOCK t 0 10" "2 0 ⎕NLOCK t 10 10" "'excl' ⎕NTIE 0" \
  "⎕NREAD t 80 ¯1 0" | "$build/apl" 2>&1)
expected="TIMEOUT: Unable to lock file
      2 0 ⎕NLOCK t 0 10
          ∧
FILE TIED: File already tied
      'excl'⎕NTIE 0
            ∧
abc"
[ "$other" = "$expected" ] || fail "while the lock is held, expected:
$expected
got:
$other"

# A lock that waits (up to 20 seconds) is granted once the holder releases its lock half a second
# later, and then sees what the holder appended.
( sleep 0.5; printf '%s\n' "'def' ⎕NAPPEND t" "0 ⎕NLOCK t 0 10" >&"$input" ) &
releaser=$!
start=$(date +%s%N)
waited=$(printf '%s\n' "t←'shared' ⎕NTIE 0" "2 20 ⎕NLOCK t 0 10" "⎕NREAD t 80 ¯1 0" | "$build/apl" 2>&1)
elapsed=$((($(date +%s%N) - start) / 1000000))
[ "$waited" = "abcdef" ] || fail "the waiting lock: expected abcdef, got: $waited"
((elapsed >= 400 && elapsed < 10000)) || fail "the waiting lock was granted after ${elapsed} ms"
wait "$releaser"

# When the holder ends, its ties and locks go with it.
exec {input}>&-
wait "$holder"
holder=
after=$(printf '%s\n' "t←'shared' ⎕NTIE 0" "2 0 ⎕NLOCK t" "e←'excl' ⎕NTIE 0 (16+2)" "⎕NNUMS" | "$build/apl" 2>&1)
[ "$after" = "¯1 ¯2" ] || fail "after the holder ended: $after"

# A full file system.
mkdir "$work/full"
if mount -t tmpfs -o size=64k tmpfs "$work/full" 2>/dev/null; then
  full=$work/full
  cd "$full" || exit 1
  got=$(printf '%s\n' "(⊂'small' 'file') ⎕NPUT 'keep.txt'" "(100000⍴'x') ⎕NPUT 'big.txt'" "⎕NEXISTS 'big.txt'" \
    "(100000⍴'y') ⎕NPUT 'keep.txt' 1" "⊃⎕NGET 'keep.txt' 1" "t←'keep.txt' ⎕NTIE 0" "(100000⍴'z') ⎕NAPPEND t" \
    "⎕NSIZE t" | "$build/apl" 2>&1)
  expected="FILE SYSTEM NO SPACE: Unable to write to file (\"No space left on device\")
      (100000⍴'x')⎕NPUT'big.txt'
                  ∧
0
FILE SYSTEM NO SPACE: Unable to write to file (\"No space left on device\")
      (100000⍴'y')⎕NPUT'keep.txt'1
                  ∧
 small  file 
FILE FULL: Unable to write to file (\"No space left on device\")
      (100000⍴'z')⎕NAPPEND t
                  ∧
13"
  [ "$got" = "$expected" ] || fail "on a full file system, expected:
$expected
got:
$got"
  [ "$(ls -A "$full")" = "keep.txt" ] || fail "a failed write left files behind: $(ls -A "$full")"
  cd "$work" || exit 1
  umount "$full" && full=
else
  echo "no tmpfs can be mounted here: the full file system is not tried"
fi

if ((failures)); then exit 1; fi
echo "native files shared by two processes: all checks passed"
