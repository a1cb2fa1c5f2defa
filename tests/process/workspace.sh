#!/usr/bin/env bash
# Workspaces across processes: what one process saves, another loads with the same values; the
# workspace commands' messages; a workspace named on the command line; the example application bound
# into one executable, with the exit codes of ⎕OFF, of code that returns (start-up flag 18) and of
# code that stops at an error. Usage: workspace.sh BUILD_DIRECTORY
set -u
build=$(cd "${1:?usage: workspace.sh BUILD_DIRECTORY}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}
# same NAME EXPECTED ACTUAL
same() {
  if [[ $2 == "$3" ]]; then echo "ok   $1"; else fail "$1: expected [$2], got [$3]"; fi
}
apl() { (cd "$work" && "$build/apl" "$@"); }

# --- every kind of value, saved by one process and loaded by another ---
apl >/dev/null <<'APL'
i←¯5 0 7 100000 ⋄ f←1.5 ¯2E300 ⋄ c←'text' ⋄ u←'⍳∆⍵' ⋄ z←0J1 3 ⋄ b←1 0 1 1 ⋄ e←⍬ ⋄ m←2 3⍴⍳6
nest←(1 2)('ab' (⊂3 4)) ⋄ big←⍳200000
ns←⎕NS '' ⋄ ns.x←42 ⋄ ns.inner←⎕NS '' ⋄ ns.inner.y←'deep' ⋄ same←ns ⋄ anon←⎕NS ''
dfn←{⍺+⍵} ⋄ op←{⍺⍺/⍵} ⋄ derived←+/
⎕FX 'r←Tradfn x;i' 'r←0' ':For i :In ⍳x' 'r←r+i' ':EndFor'
⎕FX 'r←(g Twice) x' 'r←g g x'
⎕IO←0 ⋄ ⎕PP←15 ⋄ ⎕LX←'loaded←1'
)SAVE values
APL
result=$(apl values <<'APL'
∧/∊(i≡¯5 0 7 100000)(f≡1.5 ¯2E300)(c≡'text')(u≡'⍳∆⍵')(z≡0J1 3)(b≡1 0 1 1)(e≡⍬)(m≡2 3⍴1+⍳6)(nest≡(1 2)('ab'(⊂3 4)))(big≡1+⍳200000)(ns.x=42)(ns.inner.y≡'deep')(same≡ns)(9=⎕NC 'anon')(5=2 dfn 3)(6=+op 1 2 3)(10=derived 1 2 3 4)(3=Tradfn 3)(4=(×∘2)Twice 1)(⎕IO=0)(⎕PP=15)(loaded=1)
APL
)
same "values saved by one process load in another" "$(printf './values.vws saved *\n1')" "$(sed '1s/saved .*/saved */' <<<"$result")"
result=$(apl -x values <<<"⎕NC 'loaded'")
same "-x loads without running ⎕LX" "0" "$(tail -1 <<<"$result")"

# --- objects copied from a saved workspace into another process's workspace ---
result=$(apl <<'APL'
)COPY values i nest ns same dfn op derived Tradfn Twice missing
∧/∊(i≡¯5 0 7 100000)(nest≡(1 2)('ab'(⊂3 4)))(ns.x=42)(ns.inner.y≡'deep')(same≡ns)(5=2 dfn 3)(6=+op 1 2 3)(10=derived 1 2 3 4)(6=Tradfn 3)(4=(×∘2)Twice 1)(⎕IO=1)
i←'mine'
)PCOPY values i c
i,' ',c
)COPY "values" f big
(f≡1.5 ¯2E300)∧big≡⍳200000
)COPY nothing
APL
)
same ")COPY and )PCOPY copy objects and report names they skip" "$(printf './values.vws saved *\nnot found missing\n1\n./values.vws saved *\nnot copied i\nmine text\n./values.vws saved *\n1\nws not found')" "$(sed 's/saved .*/saved */' <<<"$result")"

# --- messages of the workspace commands ---
printf 'not a workspace\n' >"$work/text.vws"
result=$(apl <<'APL'
)SAVE
)LOAD nothing
)LOAD
)LOAD my ws
)LOAD "my ws
)SAVE text
)LOAD text
)WSID "my ws"
)SAVE
)LOAD "my ws"
)SAVE values
)DROP "my ws"
)DROP "my ws"
)clear
)CLE
APL
)
expected='Not saved, this ws is CLEAR WS
ws not found
ws not found
unacceptable char
unacceptable char
Not saved, this ws is CLEAR WS
Not a workspace
was CLEAR WS
my ws.vws saved *
./my ws.vws saved *
Not saved, this ws is ./my ws.vws
*
ws not found
clear ws
Incorrect command'
same "the commands' messages" "$expected" "$(sed -E 's/saved .*/saved */; s/^[A-Z][a-z]{2} [A-Z][a-z]{2} .*[0-9]{4}$/*/' <<<"$result")"

# A workspace larger than this process's workspace size is refused, and the session goes on.
apl >/dev/null <<'APL'
big←⍳2000000
)SAVE large
APL
result=$(cd "$work" && MAXWS=4M "$build/apl" <<<")LOAD large
⎕WSID")
same "a workspace too large for MAXWS is refused" "$(printf 'Workspace too large\nCLEAR WS')" "$result"

# --- ⎕SAVE: from running code, which a later load cannot resume, so its state indicator is cleared;
# a suspended function saved by )SAVE is resumed after the load ---
result=$(apl <<'APL'
⎕FX 'r←Saving x' 'r←⎕SAVE x' 'r←r,2'
Saving 'running'
⎕SAVE 1 2
⎕SAVE 'no/such/dir/x'
⎕FX 'r←Stops x;local' 'local←5' 'r←÷x' 'r←r+local'
Stops 0
)SAVE suspended
APL
)
same "⎕SAVE saves and refuses" "$(printf 'Saving
1 2
DOMAIN ERROR
      ⎕SAVE 1 2
      ∧
DOMAIN ERROR: File could not be created
      ⎕SAVE'"'"'no/such/dir/x'"'"'
      ∧')" "$(head -8 <<<"$result")"
result=$(apl running <<<"⍴⎕LC" 2>&1 | tail -1)
same "a workspace saved by running code loads with an empty state indicator" "0" "$result"
result=$(apl suspended <<'APL' | tail -2
x←4
→⎕LC
⍴⎕LC
APL
)
same "a suspended function is resumed after the load" "$(printf '5.25
0')" "$result"

# --- ⎕LOAD: read and checked first (a refusal leaves this workspace), then all running code is
# abandoned, suspended functions included, and the loaded workspace's ⎕LX runs ---
result=$(apl <<'APL'
⎕FX 'Missing' '⎕LOAD ''nothing'''
Missing
⎕FX 'Stops' '÷0'
Stops
⎕FX 'Chain' '⎕LOAD ''suspended''' '⎕←''not reached'''
Chain
⍴⎕LC
⎕NC 'Chain'
APL
)
same "⎕LOAD replaces the workspace from running code" "$(printf '1\n0')" "$(tail -2 <<<"$result")"
same "a ⎕LOAD that cannot load is DOMAIN ERROR" "DOMAIN ERROR: Workspace not found" "$(sed -n 2p <<<"$result")"

# --- the example application, bound into one executable ---
app=$(bash "$here/../../examples/primes/build.sh" "$build" "$work/app" 2>&1 | tail -1)
output=$("$app" </dev/null)
code=$?
same "the bound application runs its ⎕LX" "$(printf 'Primes up to 100:\n2 3 5 7 11 13 17 19 23 29 31 37 41 43 47 53 59 61 67 71 73 79 83 89 97')" "$output"
same "and ends with the code its ⎕OFF gives" 25 "$code"

# Code that returns, and code that stops at an error, in a runtime application (flag 18).
apl >/dev/null <<'APL'
⎕LX←'⎕←2+2'
)SAVE returns
⎕FX 'Fails' '÷0'
⎕LX←'Fails'
)SAVE stops
APL
"$build/vantor-bind" --ws "$work/returns.vws" --flags 0x50002 -o "$work/returns" "$build/vantor"
"$build/vantor-bind" --ws "$work/stops.vws" --flags 0x50002 -o "$work/stops" "$build/vantor"
output=$("$work/returns" </dev/null)
same "a runtime application whose code returns ends with code 2" "4:2" "$output:$?"
output=$("$work/stops" </dev/null 2>/dev/null)
same "one that stops at an error ends with code 4" "4" "$?"

# A damaged bound workspace stops start-up with a message.
head -c 700 "$work/returns.vws" >"$work/cut.vws"
"$build/vantor-bind" --ws "$work/cut.vws" --flags 0x50002 -o "$work/cut" "$build/vantor"
message=$("$work/cut" </dev/null 2>&1)
code=$?
same "a damaged bound workspace is refused" "1:yes" "$code:$([[ $message == *"Not a workspace"* ]] && echo yes)"

exit $((failures > 0))
