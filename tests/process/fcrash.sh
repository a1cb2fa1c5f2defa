#!/usr/bin/env bash
# A component file survives SIGKILL at any moment of an update: after every kill the file ties, the
# check finds no damaged component, and every component reads back as a complete value, one that was
# there before the interrupted call or the one it was writing. A writer appends, replaces and drops
# components in a loop (keeping the file to a few hundred); each value is (its component number, a
# generation, a run of the generation), so a torn or misplaced value shows. One run uses journaling
# level 1 (the order of the writes keeps the file whole), a second level 2 (each step also flushed).
# Usage: fcrash.sh BUILD_DIRECTORY [ROUNDS]
set -u
build=$(cd "${1:?usage: fcrash.sh BUILD_DIRECTORY [ROUNDS]}" && pwd)
rounds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The writer: ties the file and updates it until it is killed. Its generation starts from the
# number of components so that values differ between rounds.
# Sizes and the component replaced vary with the generation (the writer needs no random numbers).
writer="⎕FX 'Run t;g;f;n;r' 'g←2⊃⎕FSIZE t' ':While 1' 'g←g+1' 'f n←2↑⎕FSIZE t'"
writer+=" '_←(n g((100+30000|g×7919)⍴g))⎕FAPPEND t' 'r←f+(1+n-f)|g×31' '_←(r g((100+30000|g×104729)⍴g))⎕FREPLACE t r'"
writer+=" ':If 0=7|g' '_←⎕FDROP t ¯1' ':EndIf' ':If 0=23|g' '_←⎕FDROP t 1' ':EndIf' ':If 400<n-f' '_←⎕FDROP t 100' ':EndIf' ':EndWhile'"

failures=0
run_rounds() {
  local journal=$1 killed=0 seen=""
  rm -f crash.vcf
  printf "t←'crash' ⎕FCREATE 0\n(1 1(10⍴1))⎕FAPPEND t\n⎕FUNTIE t\n" |
    APL_FCREATE_PROPS_J=$journal APL_FCREATE_PROPS_C=1 "$build/apl" >/dev/null 2>&1
  for ((round = 1; round <= rounds; ++round)); do
    printf "%s\nt←'crash' ⎕FTIE 0\nRun t\n" "$writer" | "$build/apl" >/dev/null 2>&1 &
    pid=$!
    sleep "$(awk -v ms=$((50 + RANDOM % 400)) 'BEGIN { printf "%.3f", ms / 1000 }')"
    kill -9 "$pid" 2>/dev/null && killed=$((killed + 1))
    wait "$pid" 2>/dev/null
    state=$(printf "%s\n" \
      "t←'crash' ⎕FTIE 0" \
      "Good←{v←⎕FREAD t ⍵ ⋄ (3=⍴v)∧(⍵=1⊃v)∧∧/(3⊃v)=2⊃v}" \
      "s←⎕FSIZE t ⋄ all←∧/Good¨(1⊃s)+¯1+⍳(2⊃s)-1⊃s ⋄ ⎕FUNTIE t" \
      "chk←⎕FCHK 'crash'" \
      "⎕←'state ',⍕all,(⍴chk),(2⊃s)-1⊃s" | "$build/apl" 2>&1 | grep -a 'state\|ERROR' | tail -1 | tr -s ' ')
    case "$state" in
      "state 1 0 "*) seen="$seen ${state##* }" ;;
      *) echo "FAIL journal $journal round $round: [$state]"; failures=$((failures + 1)) ;;
    esac
  done
  echo "journal $journal: $rounds rounds, $killed killed while writing; components after each:$seen"
}

run_rounds 1
run_rounds 2
exit $((failures > 0))
