#!/usr/bin/env bash
# Start-up of build/vantor and of copies bound with build/vantor-bind: exit codes and the messages
# on standard error for the command line, configuration parameters, bound resources, the workspace
# memory question and start-up errors. Usage: startup.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: startup.sh BUILD_DIRECTORY}" && pwd)
vantor=$build/vantor
bind=$build/vantor-bind
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME CODE TEXT COMMAND...: runs COMMAND in the scratch directory with standard input from
# /dev/null (so the process is not interactive) and expects exit code CODE and standard error
# containing the fixed text TEXT; an empty TEXT means standard error must be empty.
check() {
  local name=$1 code=$2 text=$3
  shift 3
  (cd "$work" && exec "$@") </dev/null >"$work/stdout" 2>"$work/stderr"
  local rc=$?
  local err
  err=$(cat "$work/stderr")
  if [[ $rc -ne $code ]]; then
    echo "FAIL $name: exit code $rc, expected $code; stderr: $err"
    failures=$((failures + 1))
  elif [[ -z $text && -n $err ]]; then
    echo "FAIL $name: expected no standard error, got: $err"
    failures=$((failures + 1))
  elif [[ -n $text && $err != *"$text"* ]]; then
    echo "FAIL $name: standard error lacks \"$text\"; got: $err"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}

# --- bound copies ---
"$bind" --cmdline '' -o "$work/empty-cmdline" "$vantor" || fail "binding an empty command line"
"$bind" --cmdline 'MAXWS=5X' -o "$work/bad-cmdline" "$vantor" || fail "binding a command line"
# Rebinding replaces every resource: the bound command line of bad-cmdline is gone.
"$bind" --flags 0x2 -o "$work/rebound" "$work/bad-cmdline" || fail "rebinding a bound copy"

# A trailer whose index entry has a bad offset: the copy must run as unbound (its bound command
# line would otherwise fail start-up) and say so.
cp "$work/bad-cmdline" "$work/corrupt"
size=$(stat -c %s "$work/corrupt")
printf '\x7f' | dd of="$work/corrupt" bs=1 seek=$((size - 12 - 20 + 4)) conv=notrunc status=none

# A trailer whose count cannot be right.
printf '\x00\x00\x10\x00VNTRRSRC' >"$work/bad-count-tail"
cat "$vantor" "$work/bad-count-tail" >"$work/bad-count" && chmod 755 "$work/bad-count"

printf 'MAXWS=5X\n[Threads]\nFlags=3\n' >"$work/bad.ini"
printf 'MAXWS=8M\n' >"$work/good.ini"
printf '\xef\xbb\xbfMAXWS=5X\n' >"$work/bom.ini"

many=()
for i in $(seq 1 62); do many+=("w$i"); done

bad_maxws="Vantor APL could not initialise because of a bad startup value for MAXWS."
fcreate_c="the environment variable APL_FCREATE_PROPS_C contains an illegal value"
flock="the values in the environment variable APL_FLOCK_YIELD and/or APL_FLOCK_PAUSE contain an illegal value"
journaling="the value in the environment variable APL_FCREATE_PROPS_J requires that APL_FCREATE_PROPS_C be set to 1"

check "plain start" 0 "" "$vantor"
check "build/apl starts" 0 "" "$build/apl"
check "workspace name and options" 0 "" "$vantor" -x -DS +q myws
check "MAXWS in the environment" 1 "$bad_maxws" env MAXWS=5X "$vantor"
check "MAXWS on the command line" 1 "$bad_maxws" "$vantor" -maxws=5X
check "MAXWS 2M is raised, not refused" 0 "" "$vantor" MAXWS=2M
check "two start-up errors in one message" 1 \
  "Vantor APL could not initialise because $fcreate_c and $flock." \
  env APL_FCREATE_PROPS_C=2 APL_FLOCK_YIELD=3 "$vantor"
check "journaling needs checksums" 1 "because $journaling." \
  env APL_FCREATE_PROPS_C=0 APL_FCREATE_PROPS_J=2 "$vantor"
check "bad APL_FLOCK_PAUSE" 1 "because $flock." env APL_FLOCK_PAUSE=x "$vantor"
check "bound empty command line ignores argv" 0 "" "$work/empty-cmdline" MAXWS=5X '"abc'
check "bound command line is used" 1 "$bad_maxws" "$work/bad-cmdline"
check "rebinding drops the old command line" 0 "" "$work/rebound"
check "corrupt trailer runs unbound" 0 "ignoring the bound resources because" "$work/corrupt"
check "implausible resource count" 0 "ignoring the bound resources because the resource trailer claims" \
  "$work/bad-count"
check "unterminated quote" 1 "has no closing double quote" "$vantor" '"abc'
check "unterminated quoted value" 1 "has no closing double quote" "$vantor" 'X="abc'
check "quote outside a parameter value" 1 "has a double quote outside a parameter value" "$vantor" 'ab"c"'
check "quoted parameter value" 0 "" "$vantor" 'WSPATH=/a b' 'my ws'
check "redirection failure" 1 "Vantor APL redirection failure: /nonexistent/dir/f" \
  "$vantor" '1>/nonexistent/dir/f'
check "script file that cannot be read" 1 "Vantor APL redirection failure: missing.apl" \
  "$vantor" -script missing.apl
check "-script without a file" 1 "the -script option names no script file" "$vantor" -script
check "62 words" 0 "" "$vantor" "${many[@]}"
check "63 words" 1 "the command line has more than 62 words" "$vantor" "${many[@]}" one-more
check "service install refused" 9 "Service svc installation failed: services are not supported on this platform" \
  "$vantor" APL_ServiceInstall=svc
check "service run refused" 9 "Service svc execution failed" env APL_ServiceRun=svc "$vantor"
check "bad YY_WINDOW" 0 "Invalid YY_WINDOW entry" env YY_WINDOW=1950,2080 "$vantor"
check "good YY_WINDOW" 0 "" env YY_WINDOW=-50,40 "$vantor"
check "INIFILE on the command line" 1 "$bad_maxws" "$vantor" "INIFILE=$work/bad.ini"
check "command line beats INIFILE" 0 "" "$vantor" "INIFILE=$work/bad.ini" MAXWS=4M
check "INIFILE in the environment" 0 "" env INIFILE="$work/good.ini" "$vantor"
check "INIFILE with a byte order mark" 1 "$bad_maxws" env INIFILE="$work/bom.ini" "$vantor"
check "INIFILE naming no file" 0 "" env INIFILE="$work/missing.ini" "$vantor"
check "INIFILE naming a device" 1 \
  "Vantor APL could not initialise because INIFILE names a file that cannot be used: /dev/zero is not a regular file." \
  timeout 10 env INIFILE=/dev/zero "$vantor"
check "INIFILE naming a directory" 1 "INIFILE names a file that cannot be used" env INIFILE="$work" "$vantor"
check "test hook: system error" 3 "aplcore" env APL_SYSERROR_TEST=5 "$vantor"
[[ -e $work/aplcore ]] || fail "test hook: no aplcore file written"
rm -f "$work/aplcore"
check "MAXAPLCORES=0 writes no aplcore" 3 "Aplcore was not created." \
  env MAXAPLCORES=0 APL_SYSERROR_TEST=5 "$vantor"
[[ -e $work/aplcore ]] && fail "MAXAPLCORES=0: an aplcore was written"
# With a numbered pattern, 0 keeps the existing aplcores too.
touch "$work/core1"
check "MAXAPLCORES=0 with a pattern" 3 "Aplcore was not created." \
  env MAXAPLCORES=0 APLCORENAME='core*' APL_SYSERROR_TEST=5 "$vantor"
[[ -e $work/core1 && ! -e $work/core2 ]] || fail "MAXAPLCORES=0 with a pattern: aplcores changed"

# Redirections are applied before the collected start-up errors are shown, so 2>FILE catches them.
fcreate_message="Vantor APL could not initialise because $fcreate_c."
check "standard error redirected to a file" 1 "" env APL_FCREATE_PROPS_C=2 "$vantor" "2>$work/err.txt"
grep -qF "$fcreate_message" "$work/err.txt" 2>/dev/null || fail "redirected standard error lacks the message"
check "appending redirection" 1 "" env APL_FCREATE_PROPS_C=2 "$vantor" "2>>$work/err.txt"
[[ $(grep -cF "$fcreate_message" "$work/err.txt" 2>/dev/null) == 2 ]] || fail "2>> did not append"
check "2>&1 sends the message to standard output" 1 "" env APL_FCREATE_PROPS_C=2 "$vantor" "2>&1"
grep -qF "$fcreate_message" "$work/stdout" || fail "2>&1: standard output lacks the message"

# --- vantor-bind's own errors ---
check "bind without output" 2 "no output file" "$bind" "$vantor"
check "bind with bad flags" 2 "--flags needs a 32-bit number" "$bind" --flags 0x1FFFFFFFF -o x "$vantor"
check "bind with a missing workspace" 1 "cannot open" "$bind" --ws missing.vws -o x "$vantor"
check "bind a missing input" 1 "cannot open" "$bind" -o x missing-input
# Files that are not what they should be are refused with a message, not read without end.
mkdir "$work/dir"
printf 'echo hello\n' >"$work/script.sh" && chmod 755 "$work/script.sh"
check "bind a directory as input" 1 "dir is not a regular file" "$bind" -o x dir
check "bind a text file as input" 1 "script.sh is not an ELF executable" "$bind" -o x script.sh
check "bind a directory as workspace" 1 "dir is not a regular file" "$bind" --ws dir -o x "$vantor"
check "bind a device as workspace" 1 "/dev/zero is not a regular file" \
  timeout 10 "$bind" --ws /dev/zero -o x "$vantor"
check "bind onto a directory" 1 "dir is not a regular file" "$bind" -o dir "$vantor"
[[ -e $work/x ]] && fail "a refused bind wrote its output"

# --- the workspace memory question (address space limited with ulimit -v) ---
if ldd "$vantor" | grep -q 'lib[at]san'; then
  echo "skip memory-limit cases: a sanitizer build needs unlimited address space"
else
  check "smaller workspace refused by default" 1 \
    "There is insufficient free contiguous memory to obtain a 1024Mb workspace. Vantor APL/W can obtain a " \
    bash -c 'ulimit -v 300000 && exec "$0" "$@"' env MAXWS=1G "$vantor"
  # The smallest limit under which the interpreter still loads leaves less than the 16 MB that the
  # last reduced request needs; search for it rather than guess the loader's footprint.
  nothing="There is insufficient free contiguous memory to obtain a 1024Mb workspace."
  found=""
  for limit in $(seq 8000 2000 60000); do
    (ulimit -v "$limit" && exec env MAXWS=1G "$vantor") </dev/null >/dev/null 2>"$work/stderr"
    rc=$?
    if [[ $rc -eq 1 && $(cat "$work/stderr") == "$nothing" ]]; then
      found=$limit
      break
    fi
    grep -q "can obtain" "$work/stderr" && break
  done
  if [[ -n $found ]]; then echo "ok   no workspace obtainable (ulimit -v $found)"; else fail "no workspace obtainable: message never seen"; fi

  # On a terminal (script(1) provides one) the question waits for the user's answer.
  for answer in y n; do
    printf '%s\n' "$answer" | (ulimit -v 300000 && cd "$work" &&
      script -qec "env MAXWS=1G '$vantor'" /dev/null) >"$work/stdout" 2>&1
    rc=$?
    expected=$([[ $answer == y ]] && echo 0 || echo 1)
    if [[ $rc -eq $expected ]] && grep -qF "Vantor APL/W can obtain a" "$work/stdout"; then
      echo "ok   interactive memory question answered $answer"
    else
      fail "interactive memory question answered $answer: exit code $rc, expected $expected; output: $(cat "$work/stdout")"
    fi
  done
fi

if [[ $failures -gt 0 ]]; then
  echo "$failures start-up case(s) failed"
  exit 1
fi
echo "all start-up cases passed"
