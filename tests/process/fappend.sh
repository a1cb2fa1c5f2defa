#!/usr/bin/env bash
# What appends leave on disk. An unjournaled file tied exclusively holds its appends in memory and
# writes them in large pieces: an interpreter that ends without ⎕FUNTIE still leaves every component
# in the file, and one killed leaves a sound file with at least what ⎕FUNTIE ⍬ wrote and no torn
# component. Journaling level 3 puts every update, and a new file's name, on the disk before it
# returns; level 2 lets a commit reach the disk with the next update (counted with strace where it
# is installed).
# Usage: fappend.sh BUILD_DIRECTORY
set -u
build=$(cd "${1:?usage: fappend.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    echo "FAIL $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}
export APL_FCREATE_PROPS_J=0 APL_FCREATE_PROPS_C=0

# Component i holds i followed by i|7 numbers; Check gives 1 when components first to last are so,
# then the number of components and what a validating ⎕FCHK finds.
check='Check←{t←⍵ ⎕FTIE 0 ⋄ n←-/⌽2↑⎕FSIZE t ⋄ ok←∧/(⍳n)≡¨⊃¨v←⎕FREAD¨(⊂t),¨⍳n ⋄ ok∧←∧/(⍳n){(⍺,⍳⍺|7)≡⍵}¨v ⋄ _←⎕FUNTIE t ⋄ ok n(≢'"'"'validate'"'"' ⎕FCHK ⍵)}'
append='Append←{_←{(⍵,⍳⍵|7) ⎕FAPPEND ⍺}/¨(⊂⍺),¨⍵}'

# The end of input and )OFF both end the interpreter with the appends written.
for ending in "" ")OFF"; do
  printf "%s\nt←'ends' ⎕FCREATE 0\n'JC' ⎕FPROPS t\nt Append ⍳3000\n%s\n" "$append" "$ending" | "$build/apl" >out 2>&1
  expect "properties" "0 0" "$(head -1 out)"
  expect "appends kept at the end ${ending:-of input}" "1 3000 0" "$(printf "%s\nCheck 'ends'\n" "$check" | "$build/apl" 2>&1)"
  rm -f ends.vcf
done

# A kill after ⎕FUNTIE ⍬ loses none of the appends before it and leaves no damage.
# The interpreter reads its input from a pipe kept open, so it waits there until it is killed.
mkfifo input
"$build/apl" <input >out 2>&1 &
pid=$!
exec 3>input
printf "%s\nt←'killed' ⎕FCREATE 0\nt Append ⍳2000\n⎕FUNTIE ⍬\nt Append 2000+⍳500\n⎕←'ready'\n" "$append" >&3
for ((tries = 0; tries < 1000; ++tries)); do
  grep -q ready out 2>/dev/null && break
  sleep 0.01
done
kill -9 "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exec 3>&-
read -r ok count damaged <<<"$(printf "%s\nCheck 'killed'\n" "$check" | "$build/apl" 2>&1)"
expect "killed: every component intact, nothing damaged" "1 0" "$ok $damaged"
((count >= 2000 && count <= 2500)) || expect "killed: components kept" "2000 to 2500" "$count"

# Flushes to the disk per 40 appends at levels 2 and 3, and of the directory that holds the new file.
if command -v strace >/dev/null; then
  syncs() {
    printf "t←'level%s' ⎕FCREATE 0\n_←{(⍳⍵) ⎕FAPPEND t}¨⍳40\n" "$1" |
      APL_FCREATE_PROPS_J=$1 APL_FCREATE_PROPS_C=1 strace -f -e trace=fdatasync,fsync -o trace "$build/apl" >/dev/null 2>&1
    echo "$(grep -c fdatasync trace) $(grep -c 'fsync(' trace)"
  }
  read -r level2 directory2 <<<"$(syncs 2)"
  read -r level3 directory3 <<<"$(syncs 3)"
  ((level3 >= 80 && level2 >= 40 && level2 < 60)) || expect "flushes at levels 2 and 3" "40-59 and 80+" "$level2 and $level3"
  ((directory2 == 0 && directory3 >= 1)) || expect "directory flushes at levels 2 and 3" "0 and 1+" "$directory2 and $directory3"
else
  echo "strace is not installed: the flush counts are not checked"
fi

echo "held appends written at the end and kept across a kill; $failures failures"
exit $((failures > 0))
