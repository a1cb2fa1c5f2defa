#!/usr/bin/env bash
# A journaled component file survives SIGKILL at any moment of ⎕FAPPEND, ⎕FREPLACE, ⎕FDROP and
# ⎕FRESIZE. Each round is one interpreter: it checks the file the previous round's writer left, then
# becomes the writer and is killed after a random delay. Each value is (its component number, a
# generation, a run of that generation), so a torn or misplaced value shows. Before every call the
# writer prints the fingerprint the file will have once the call is done (first and next component
# numbers and two sums over the generations); after a kill the file must have the fingerprint of the
# interrupted call or of the one before it: nothing committed is lost and nothing half done shows.
# The check also ties the file, reads every component and runs ⎕FCHK, which must find no damage.
# Rounds alternate over journaling levels 1, 2 and 3.
# Usage: fcrash.sh BUILD_DIRECTORY [KILLS [MOST_ELEMENTS [MOST_DELAY_MS]]]
set -u
build=$(cd "${1:?usage: fcrash.sh BUILD_DIRECTORY [KILLS [MOST_ELEMENTS [MOST_DELAY_MS]]]}" && pwd)
kills=${2:-201}
elements=${3:-3000}
delay=${4:-25}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The definitions every round shares. Size A and Size R give the lengths of appended and replaced
# values, so that records of many lengths meet in the file and its free space.
cat >common.apl <<APL
⎕PP←17
SizeA←{1+$elements|⍵×7919}
SizeR←{1+$elements|⍵×104729}
Print←{⎕←'F ',⍕⍵}
APL
cat >>common.apl <<'APL'
_←⎕FX 'r←Good v;n' 'r←0' '→(3≠≢v)/0' 'n←≢3⊃v' 'r←(∧/(3⊃v)=2⊃v)∧n∊(SizeA 2⊃v),SizeR 2⊃v'
_←⎕FX 'r←State t;s;V' 's←2↑⎕FSIZE t' 'G←⍬ ⋄ r←1' ':If 0<(2⊃s)-1⊃s' 'V←⎕FREAD¨(⊂t),¨(1⊃s)+¯1+⍳(2⊃s)-1⊃s' 'G←2⊃¨V' 'r←(∧/Good¨V)∧∧/(1⊃¨V)=(1⊃s)+¯1+⍳≢V' ':EndIf' 'r←r,s,(+/G×⍳≢G),+/G'
_←⎕FX 'Run t;g;f;n;i' 'f n←1↓3↑s' 'g←Round×1000000' ':While 1' 'g←g+1' 'Print f(n+1)(+/(G,g)×⍳1+≢G)(+/G,g)' '_←(n g((SizeA g)⍴g))⎕FAPPEND t' 'G←G,g ⋄ n←n+1' 'i←1+(n-f)|g×31' 'G[i]←g' 'Print f n(+/G×⍳≢G)(+/G)' '_←((f+i-1)g((SizeR g)⍴g))⎕FREPLACE t(f+i-1)' ':If 0=7|g' 'G←¯1↓G ⋄ n←n-1' 'Print f n(+/G×⍳≢G)(+/G)' '_←⎕FDROP t ¯1' ':EndIf' ':If (40<n-f)∨(0=23|g)∧5<n-f' 'G←5↓G ⋄ f←f+5' 'Print f n(+/G×⍳≢G)(+/G)' '_←⎕FDROP t 5' ':EndIf' ':If 0=11|g' '⎕FRESIZE t' ':EndIf' ':EndWhile'
APL

# One round: check what the last writer left, then write until killed (or, for the last round, stop).
# Prints the check's line: "check <damaged components> <all good> F <fingerprint>".
round() {  # round NUMBER OPTIONS WRITE (the file is $file)
  local number=$1 options=$2 write=$3
  {
    cat common.apl
    echo "Round←$number"
    echo "chk←$options ⎕FCHK '$file'"
    echo "t←'$file' ⎕FTIE 0 ⋄ s←State t"
    echo "⎕←'check ',(⍕≢chk),' ',(⍕1↑s),' F ',⍕1↓s"
    if ((write)); then echo "⎕←'writing'" && echo "Run t"; fi
  } >session
  : >out  # emptied here, not in the child, so that the wait below cannot see the last round's output
  "$build/apl" <session >>out 2>&1 &
  pid=$!
  if ((write)); then
    for ((tries = 0; tries < 2000; ++tries)); do
      grep -q '^writing' out 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.005
    done
    sleep "$(awk -v ms=$((RANDOM % (delay + 1))) 'BEGIN { printf "%.3f", ms / 1000 }')"
    if kill -9 "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  fi
  wait "$pid" 2>/dev/null
}

failures=0 killed=0 calls=0
verify() {  # verify ROUND: the check of this round against the fingerprints the last writer printed
  local line fingerprint
  line=$(grep -a '^check' out | head -1 | tr -s ' ')
  fingerprint=${line#*F }
  if [[ "$line" != "check 0 1 F "* ]] || ! grep -qxF "F $fingerprint" accepted; then
    echo "FAIL round $1 (journal $journal): [$line]; the last writer's last fingerprints:"
    cat accepted
    head -c 600 out
    failures=$((failures + 1))
  fi
  calls=$((calls + $(grep -ac '^F ' out)))
  # The fingerprints the next check may find: the state checked and every complete line the writer
  # printed, of which the last two (a last line cut off by the kill belongs to a call not started).
  {
    echo "F $fingerprint"
    if [[ -n "$(tail -c 1 out)" ]]; then grep -a '^F ' out | head -n -1; else grep -a '^F ' out; fi
  } | tail -2 >accepted
}

for ((kill = 1; kill <= kills; ++kill)); do
  journal=$((1 + kill % 3))
  file="crash$journal"
  if [[ ! -e "$file.vcf" ]]; then
    printf "⎕FUNTIE '%s' ⎕FCREATE 0\n" "$file" |
      APL_FCREATE_PROPS_J=$journal APL_FCREATE_PROPS_C=1 "$build/apl" >/dev/null 2>&1
    echo "F 1 1 0 0" >"accepted$journal"
  fi
  cp "accepted$journal" accepted
  # Most checks only validate; every tenth also rebuilds the file.
  options="'validate'"
  ((kill % 10 == 0)) && options="''"
  round "$kill" "$options" 1
  verify "$kill"
  cp accepted "accepted$journal"
done
for journal in 1 2 3; do
  file="crash$journal"
  cp "accepted$journal" accepted
  round 0 "''" 0
  verify final
done
left=$(find . -name 'crash*.vcf.*' | wc -l)
echo "$killed writers killed at random moments over journaling levels 1 to 3 (after $calls calls);" \
  "$failures failures;" \
  "$left compaction copies left behind by kills"
exit $((failures > 0 || killed < kills * 9 / 10))
