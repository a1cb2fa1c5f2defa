#!/usr/bin/env bash
# Files under conditions a user does not choose. Permission denied: a read-only component file can
# be tied shared and read but not updated, and in a read-only directory nothing can be created,
# renamed or deleted and a compaction fails, leaving every file as it was. A file-size limit
# (ulimit -f): a write past it is FILE FULL and the interpreter lives on (the limit's signal is
# ignored), with every component written before intact. The permission cases need a user whom the
# file modes bind: root runs them in a user namespace, where it has no power over the files; where
# that is not allowed they are skipped.
# Usage: fhostile.sh BUILD_DIRECTORY
set -u
build=$(cd "${1:?usage: fhostile.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
failures=0
compare() {  # compare NAME EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    printf "FAIL %s: expected\n%s\ngot\n%s\n" "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
try="Try←{0::⎕EN ⎕DMX.Message ⋄ ⍎⍵}"

# ---- Permission denied.
unprivileged=()
if (($(id -u) == 0)); then
  if unshare --user true 2>/dev/null; then unprivileged=(unshare --user); else unprivileged=(skip); fi
fi
if [[ "${unprivileged[0]:-}" == skip ]]; then
  echo "running as root without user namespaces: permission cases skipped"
else
  mkdir locked
  printf "%s\n" "t←'readonly' ⎕FCREATE 0" "'one' ⎕FAPPEND t" "⎕FUNTIE t" "t←'locked/inside' ⎕FCREATE 0" \
    "'kept' ⎕FAPPEND t" "⎕FUNTIE t" "'text' ⎕NPUT 'locked/n.txt'" | "$build/apl" >/dev/null 2>&1
  chmod 444 readonly.vcf
  chmod 555 locked
  result=$(printf "%s\n" "$try" "Try '''readonly'' ⎕FTIE 0'" "t←'readonly' ⎕FSTIE 0" "⎕FREAD t 1" \
    "Try '''x'' ⎕FAPPEND t'" "Try '''x'' ⎕FREPLACE t 1'" "Try '⎕FDROP t 1'" "Try '(''C'' 0) ⎕FPROPS t'" "⎕FUNTIE t" \
    "Try '''locked/new'' ⎕FCREATE 0'" "t←'locked/inside' ⎕FTIE 0" "Try '⎕FRESIZE t'" \
    "Try '''locked/renamed'' ⎕FRENAME t'" "Try '''locked/inside'' ⎕FERASE t'" "⎕FREAD t 1" "⎕FUNTIE t" \
    "⍴'validate' ⎕FCHK 'locked/inside'" "Try '''x'' ⎕NPUT ''locked/new.txt'''" "Try '⎕MKDIR ''locked/sub'''" \
    "Try '⎕NDELETE ''locked/n.txt'''" "⊃⎕NGET 'locked/n.txt'" "Try '''readonly.vcf'' ⎕NTIE 0 1'" |
    "${unprivileged[@]}" "$build/apl" 2>&1)
  compare "permission denied" "19  Write access required for exclusive tie 
one
19  File opened read-only 
19  File opened read-only 
19  File opened read-only 
19  File opened read-only 
22  Unable to create file 
26  Unable to compact file 
22  Unable to rename file 
19  Unable to delete file 
kept
0
22  Unable to create file 
19  Unable to create directory 
19  Unable to delete file 
text
19  Unable to open file " "$result"
  chmod 755 locked
  compare "files left" "inside.vcf n.txt readonly.vcf" "$(echo $(cd locked && ls) $(ls readonly*))"
fi

# ---- A file-size limit of 64 KB.
result=$(printf "%s\n" "$try" "t←'big' ⎕FCREATE 0" "n←+/{0::0 ⋄ _←(1000⍴⍵) ⎕FAPPEND t ⋄ 1}¨⍳100" "n>10" \
  "Try '(1000⍴7) ⎕FAPPEND t'" "⎕FUNTIE t ⋄ t←'big' ⎕FTIE 0" "∧/(1000∘⍴¨⍳n)≡¨⎕FREAD¨(⊂t),¨⍳n" \
  "⎕FUNTIE t ⋄ ⍴⎕FCHK 'big'" "nt←'n.bin' ⎕NCREATE 0" "Try '(100000⍴1.5) ⎕NAPPEND nt'" "⎕NSIZE nt" \
  "Try '(100000⍴''x'') ⎕NPUT ''p.txt'''" "⎕NEXISTS 'p.txt'" "'alive'" | (ulimit -f 64 && "$build/apl" 2>&1))
compare "file-size limit" "1
21  Unable to write component data 
1
0
21  Unable to write to file 
0
21  Unable to write to file 
0
alive" "$result"

echo "permission and file-size limit cases: $failures failures"
exit $((failures > 0))
