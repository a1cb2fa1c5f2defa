#!/usr/bin/env bash
# Component files shared between processes. Four interpreters (or as many as asked) append to one
# shared file at the same time (half of them under ⎕FHOLD) and every component is there exactly once; an exclusive tie keeps
# other processes out while it lasts; the access matrix and passnumbers decide, per user number
# (APLNID), what each may do.
# Usage: fshare.sh BUILD_DIRECTORY [COMPONENTS_PER_WRITER [WRITERS]]
set -u
build=$(cd "${1:?usage: fshare.sh BUILD_DIRECTORY [COMPONENTS_PER_WRITER [WRITERS]]}" && pwd)
count=${2:-400}
writers=${3:-4}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    echo "FAIL $1: expected [$2], got [$3]"
    failures=$((failures + 1))
    return 1
  fi
}
apl() { "$build/apl" 2>&1; }

# ---- The writers at once.
echo "t←'shared' ⎕FCREATE 0" | APL_FCREATE_PROPS_J=0 apl >/dev/null
pids=()
start=$(date +%s.%N)
for ((writer = 1; writer <= writers; ++writer)); do
  if ((2 * writer <= writers)); then body="_←⎕FHOLD t ⋄ _←(${writer} ⍵)⎕FAPPEND t ⋄ _←⎕FHOLD ⍬ ⋄ 1"
  else body="_←(${writer} ⍵)⎕FAPPEND t ⋄ 1"; fi
  printf "%s\n" "t←'shared' ⎕FSTIE 0" "+/{$body}¨⍳$count" | apl >"writer$writer.out" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
for ((writer = 1; writer <= writers; ++writer)); do expect "writer $writer" "$count" "$(tail -1 "writer$writer.out")" || cat "writer$writer.out"; done
result=$(printf "%s\n" "v←⎕FREAD t (¯1+(1⊃s)+⍳(2⊃s)-1⊃s)⊣s←⎕FSIZE t←'shared' ⎕FSTIE 0" \
  "≢v" "≢∪v" "∧/v∊,(⍳$writers)∘.{⍺ ⍵}⍳$count" | apl | tr '\n' ' ')
expect "every component once" "$((writers * count)) $((writers * count)) 1 " "$result"

# ---- Two processes take turns: each ties the file exclusively (trying again while the other has it),
# appends, compacts it (a new file renamed over the old) and unties. A tie must lock the file that
# the name stands for, not the one a compaction has just replaced, or appends are lost.
echo "⎕FUNTIE 'turns' ⎕FCREATE 0" | apl >/dev/null
pids=()
for writer in 1 2; do
  printf "%s\n" "Tie←{0::∇⍵ ⋄ 'turns' ⎕FTIE 0}" \
    "+/{t←Tie 0 ⋄ _←($writer ⍵) ⎕FAPPEND t ⋄ _←⎕FRESIZE t ⋄ _←⎕FUNTIE t ⋄ 1}¨⍳200" | apl >"turns$writer.out" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
result=$(printf "%s\n" "t←'turns' ⎕FTIE 0" "v←⎕FREAD¨(⊂t),¨(1⊃s)+¯1+⍳(2⊃s)-1⊃s←⎕FSIZE t" "≢∪v" | apl)
expect "ties between compactions" "200 200 400" "$(tail -1 turns1.out) $(tail -1 turns2.out) $result"

# ---- An exclusive tie keeps the file from other processes; a shared tie admits shared ones only.
# The holder makes the file "ready" once it has tied and keeps its tie until "release" appears (the
# interpreter may read its whole input before it runs it, so the holder waits in APL).
hold() {  # hold FUNCTION: ties the file with ⎕FTIE or ⎕FSTIE until released
  rm -f release ready
  printf "%s\n" "t←'shared' $1 0" "⎕NUNTIE 'ready' ⎕NCREATE 0" "{⎕NEXISTS 'release':0 ⋄ ∇ ⍵}0" "⎕FUNTIE t" |
    timeout 60 "$build/apl" >/dev/null 2>&1 &
  holder=$!
  for ((tries = 0; tries < 200; ++tries)); do [[ -e ready ]] && break; sleep 0.1; done
}
hold ⎕FTIE
result=$(printf "%s\n" "{0::⎕EN ⎕DMX.Message ⋄ 'shared' ⎕FSTIE 0}0" | apl | tail -1)
expect "exclusive tie elsewhere" "24  File already tied " "$result"
touch release
wait "$holder"
hold ⎕FSTIE
result=$(printf "%s\n" "{0::⎕EN ⎕DMX.Message ⋄ 'shared' ⎕FTIE 0}0" "t←'shared' ⎕FSTIE 0" "⍴⎕FREAD t 1" | apl | tr '\n' ' ')
expect "shared tie elsewhere" "24  File already tied  2 " "$result"
touch release
wait "$holder"

# ---- The access matrix. User 5 owns the file; row user 0 is everyone but the owner.
printf "%s\n" "t←'guarded' ⎕FCREATE 0" "'data' ⎕FAPPEND t" "(3 3⍴7 3 0 8 ¯1 42 0 4611 0) ⎕FSTAC t" | APLNID=5 apl >/dev/null
try="Try←{0::⎕EN ⎕DMX.Message ⋄ ⍎⍵}"
# The owner has no row of his own: passnumber 0 gives him everything.
result=$(printf "%s\n" "$try" "t←'guarded' ⎕FTIE 0" "'more' ⎕FAPPEND t" "⎕FREAD t 2" | APLNID=5 apl | tail -1)
expect "owner" "more" "$result"
# User 7 may tie and read, nothing else.
result=$(printf "%s\n" "$try" "t←'guarded' ⎕FTIE 0" "⎕FREAD t 1" "Try '''x'' ⎕FAPPEND t'" "Try '⎕FRDAC t'" | APLNID=7 apl | tr '\n' '|')
expect "user 7" "data|19  Prohibited by access matrix |19  Prohibited by access matrix |" "$result"
# User 8 may do everything with passnumber 42, given again with each operation; no row has 41.
result=$(printf "%s\n" "$try" "Try '''guarded'' ⎕FTIE 0 41'" "t←'guarded' ⎕FTIE 0 42" "Try '⎕FREAD t 1'" "⎕FREAD t 1 42" \
  "Try '''x'' ⎕FAPPEND t 42'" | APLNID=8 apl | tr '\n' '|')
expect "user 8" "19  Prohibited by access matrix |19  Incorrect passnumber |data|" "$result"
# User 9 falls under the row for user 0: tie, read and copy (4611 = 4096+512+2+1).
result=$(printf "%s\n" "$try" "t←'guarded' ⎕FSTIE 0" "⎕FREAD t 1" "⍴⎕FRDAC t" "Try '⎕FDROP t 1'" | APLNID=9 apl | tr '\n' '|')
expect "user 9" "data|3 3|19  Prohibited by access matrix |" "$result"
# User 0 passes every check.
result=$(printf "%s\n" "t←'guarded' ⎕FTIE 0" "'zero' ⎕FAPPEND t" "⎕FREAD t 4" | apl | tail -1)
expect "user 0" "zero" "$result"

echo "$((writers * count)) components from $writers writers in $seconds s; $failures failures"
exit $((failures > 0))
