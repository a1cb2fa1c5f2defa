#!/usr/bin/env bash
# A component file on a full disk: appends fail with FILE FULL and the operating system's message,
# and nothing written before is lost; the file ties again and every component reads back. A check
# that would compact the file needs room for the copy: it fails the same way and leaves the file as
# it was. The disk is a 64 KB tmpfs mounted in a private user and mount namespace; where the system
# does not allow one, the test says so and passes.
# Usage: ffull.sh BUILD_DIRECTORY
set -u
build=$(cd "${1:?usage: ffull.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "no private mount namespace here: skipped"
  exit 0
fi
mkdir "$work/disk"
cat >"$work/session" <<'APL'
Try←{0::⎕EN ⎕DMX.Message ⋄ ⍎⍵}
t←'full' ⎕FCREATE 0
n←+/{0::0 ⋄ _←(1000⍴⍵) ⎕FAPPEND t ⋄ 1}¨⍳100
n>10
Try '(1000⍴7) ⎕FAPPEND t'
s←⎕FSIZE t ⋄ ⎕FUNTIE t
t←'full' ⎕FTIE 0
(s≡⎕FSIZE t),(2⊃s)=n+1
∧/(1000∘⍴¨⍳n)≡¨⎕FREAD¨(⊂t),¨⍳n
⎕FUNTIE t
⍴'validate' ⎕FCHK 'full'
Try '⎕FCHK ''full'''
t←'full' ⎕FTIE 0
∧/(1000∘⍴¨⍳n)≡¨⎕FREAD¨(⊂t),¨⍳n
APL
export build work
result=$(unshare --user --map-root-user --mount bash -c '
  mount -t tmpfs -o size=64k tmpfs "$work/disk" || exit 2
  cd "$work/disk" && "$build/apl" <"$work/session" 2>&1 && ls | wc -l')
expected="1
21  Unable to write component data 
1 1
1
0
21  Unable to write component data 
1
1"
if [[ "$result" != "$expected" ]]; then
  printf "FAIL: expected\n%s\ngot\n%s\n" "$expected" "$result"
  exit 1
fi
echo "full disk: appends and compaction refused with FILE FULL, every earlier component intact"
