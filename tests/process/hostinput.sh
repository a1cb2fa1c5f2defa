#!/usr/bin/env bash
# Host text input of build/apl: bytes on standard input that are not well-formed UTF-8 reach APL as
# U+FFFD, one for each maximal subpart of an ill-formed sequence, and are written back as the
# well-formed EF BF BD, never as the bytes that came in. Usage: hostinput.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: hostinput.sh BUILD_DIRECTORY}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME INPUT EXPECTED: pipes the bytes INPUT (printf format) into build/apl and expects the
# bytes EXPECTED (printf format) on standard output and exit code 0.
check() {
  local name=$1 input=$2 expected=$3
  printf "$input" | "$build/apl" >"$work/out" 2>&1
  local rc=$?
  local got want
  got=$(od -An -tx1 "$work/out")
  want=$(printf "$expected" | od -An -tx1)
  if [[ $rc -ne 0 || $got != "$want" ]]; then
    echo "FAIL $name: exit code $rc; output bytes:$got; expected:$want"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

fffd='\xef\xbf\xbd'
check "overlong slash is two replacement characters" "'\xc0\xaf'='$fffd'\n" '1 1\n'
check "overlong NUL is three" "⍴'\xe0\x80\x80'\n" '3\n'
check "truncated sequence is one and keeps the quote after it" "⍴,'\xf0\x9f\x98'\n" '1\n'
check "surrogate and value above U+10FFFF are written back well-formed" \
  "'\xed\xa0\x80\xf4\x90\x80\x80'\n" "$fffd$fffd$fffd$fffd$fffd$fffd$fffd\n"
check "well-formed text passes unchanged" "'é😀'\n" 'é😀\n'

if [[ $failures -gt 0 ]]; then
  echo "$failures host input case(s) failed"
  exit 1
fi
echo "all host input cases passed"
