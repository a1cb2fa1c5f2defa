#!/usr/bin/env bash
# Runs one transcript against the console interpreter and compares the session output exactly.
# Usage: run_transcript.sh INTERPRETER TRANSCRIPT. See tests/apl/README.md for the format.
set -uo pipefail
interpreter=$1
transcript=$2

input=$(mktemp)
expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$input" "$expected" "$actual"' EXIT

# Input lines start with six blanks; '⍝⍝' lines are notes; a '|' starts an expected line that itself
# begins with six blanks or a '|'; every other line is expected output as written.
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    "⍝⍝"*) ;;
    "      "*) printf '%s\n' "${line:6}" >> "$input" ;;
    "|"*) printf '%s\n' "${line:1}" >> "$expected" ;;
    *) printf '%s\n' "$line" >> "$expected" ;;
  esac
done < "$transcript"
touch "$expected"

"$interpreter" < "$input" > "$actual" 2>&1
if ! diff -u --label expected --label actual "$expected" "$actual"; then
  echo "transcript failed: $transcript"
  exit 1
fi
