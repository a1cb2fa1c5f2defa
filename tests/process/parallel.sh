#!/usr/bin/env bash
# Parallel kernel runs give the same output, bit for bit and error for error, with any number of
# threads: the same session runs with APL_MAX_THREADS 1, 2, 3 and 7 and a low APL_MIN_PARALLEL, so
# that runs split into slices of uneven length (Boolean results packed across slice boundaries, an
# overflow or a negative logarithm in a worker's slice). Usage: parallel.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: parallel.sh BUILD_DIRECTORY}" && pwd)
session='⎕PP←17
x←¯50+0.0013×⍳100003
y←⌽x
(+/*x),(+/⍟|x),(+/x×y),(+/x÷y),(+/x⌈y),(+/x-y)
(+/x<y),(+/x=1⌽x),(+/x≤y),(+/(⍳100003)×x≥y),(x<y)⍳0
z←(x<y)/x ⋄ (⍴z),(+/z),(1⊥z≠⌽z)
¯3↑⍟(99999⍴2),¯1
¯3↑*(99999⍴1),700
*(99999⍴1),710
+/(⍳100001)×(0J1×⍳100001)=0J1×⌽⍳100001'

reference=$(printf '%s\n' "$session" | APL_MAX_THREADS=1 "$build/apl" -s 2>&1)
case "$reference" in *"DOMAIN ERROR"*) ;; *) echo "the overflow gave no DOMAIN ERROR:"; echo "$reference"; exit 1 ;; esac
status=0
for threads in 2 3 7; do
  output=$(printf '%s\n' "$session" | APL_MAX_THREADS=$threads APL_MIN_PARALLEL=1000 "$build/apl" -s 2>&1)
  if [ "$output" != "$reference" ]; then
    echo "APL_MAX_THREADS=$threads differs from one thread:"
    diff <(echo "$reference") <(echo "$output")
    status=1
  fi
done
exit $status
