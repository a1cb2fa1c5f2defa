#!/usr/bin/env bash
# Runs one transcript against the console interpreter and compares the session output exactly.
# Usage: run_transcript.sh INTERPRETER TRANSCRIPT [OPTION...]; the options go to the interpreter.
# See tests/apl/README.md for the format.
# The interpreter runs in a scratch directory (an aplcore or a file that the session writes lands
# there, not in the source tree) and must end with exit code 0: a system error (exit code 3), a
# sanitizer abort or a crash fails the transcript even where the output would match.
set -uo pipefail
interpreter=$(realpath "$1")
transcript=$2
shift 2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
input=$scratch/input
expected=$scratch/expected
actual=$scratch/actual
mkdir "$scratch/session"

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
touch "$input" "$expected"

(cd "$scratch/session" && exec "$interpreter" "$@") < "$input" > "$actual" 2>&1
status=$?
failed=0
diff -u --label expected --label actual "$expected" "$actual" || failed=1
if [ "$status" -ne 0 ]; then
  echo "the interpreter ended with exit code $status"
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  echo "transcript failed: $transcript"
  exit 1
fi
