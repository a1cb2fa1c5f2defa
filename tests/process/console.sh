#!/usr/bin/env bash
# The interactive console: build/apl on a pseudo-terminal edits lines with the cursor keys, types APL
# glyphs after the backtick prefix key, recalls earlier lines with the up arrow (also from the
# history file a previous session wrote in $HOME), continues a ⍞← prompt on the same line, abandons
# a line at Ctrl-C and ends at Ctrl-D. Results follow their input line directly (no blank line
# between) and no key's escape sequence reaches the interpreter. Usage: console.sh BUILD_DIRECTORY
set -u

build=$(cd "${1:?usage: console.sh BUILD_DIRECTORY}" && pwd)
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

exec python3 - "$build/apl" "$home" <<'PYTHON'
import os, pty, re, select, signal, sys, termios, time

apl, home = sys.argv[1], sys.argv[2]
TIMEOUT = 30  # seconds to wait for any one expected output; generous for a loaded machine
LEFT, HOME, END, DELETE, UP = b"\x1b[D", b"\x1b[H", b"\x1b[F", b"\x1b[3~", b"\x1b[A"
BACKSPACE, CTRL_C, CTRL_D = b"\x7f", b"\x03", b"\x04"
# The editor draws the six-blank prompt from the start of the line, as blanks or as a cursor move.
PROMPT = re.compile(rb"\r(?: {6}|\x1b\[7G)\Z")


class Failure(Exception):
    pass


class Session:
    def __init__(self):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.environ.update(HOME=home, TERM="xterm")
            os.execv(apl, [apl])
        self.output = b""
        self.mark = 0  # output before this has been matched

    def read_some(self, deadline):
        ready, _, _ = select.select([self.fd], [], [], max(0, deadline - time.time()))
        if not ready:
            return False
        try:
            data = os.read(self.fd, 4096)
        except OSError:  # the other side has closed
            data = b""
        if not data:
            return False
        self.output += data
        return True

    def wait_for(self, what, found):
        deadline = time.time() + TIMEOUT
        while True:
            match = found(self.output[self.mark:])
            if match is not None:
                self.mark += match
                return
            if time.time() > deadline or not self.read_some(deadline):
                raise Failure(f"waiting for {what}; output after the last match: "
                              f"{self.output[self.mark:]!r}")

    def expect(self, text):
        def found(rest):
            at = rest.find(text)
            return None if at < 0 else at + len(text)
        self.wait_for(repr(text), found)

    def expect_prompt(self):
        self.wait_for("the prompt", lambda rest: len(rest) if PROMPT.search(rest) else None)
        self.wait_until_editing()

    def wait_until_editing(self):
        """Waits for the editor's own terminal mode, which it sets just after drawing the prompt: keys
        typed before would meet the terminal's line discipline instead of the editor."""
        deadline = time.time() + TIMEOUT
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.time() > deadline:
                raise Failure("the editor never took over the terminal")
            time.sleep(0.01)

    def type(self, keys):
        os.write(self.fd, keys)

    def line(self, keys, result):
        """Types a line at the prompt and expects its result on the line after it, then the prompt."""
        self.type(keys + b"\r")
        self.expect(b"\r\n" + result + b"\r\n")
        self.expect_prompt()

    def end(self):
        self.type(CTRL_D)
        deadline = time.time() + TIMEOUT
        while time.time() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
                    raise Failure(f"Ctrl-D ended the session with status {status:#x}")
                return
            self.read_some(time.time() + 0.1)
        os.kill(self.pid, signal.SIGKILL)
        raise Failure("the session did not end at Ctrl-D")


failures = 0


def case(name, run, session):
    global failures
    try:
        run(session)
        print(f"ok   {name}")
    except Failure as failure:
        failures += 1
        print(f"FAIL {name}: {failure}")


def plain_line(s):
    s.expect_prompt()
    s.type(b"1+1\r")
    s.expect(b"1+1\r\n2\r\n")  # the result comes on the very next line
    s.expect_prompt()


def cursor_keys(s):
    s.type(b"2+2")
    s.expect(b"2+2")
    s.line(LEFT + LEFT + BACKSPACE + b"40", b"42")  # 40+2
    s.type(b"15+6")
    s.expect(b"15+6")
    s.line(HOME + DELETE + END + b"0", b"65")  # 5+60


def prefix_key(s):
    s.line(b"`r`i5", b"5")  # ⍴⍳5
    s.line("'```Q'".encode(), b"``Q")  # `` is a backtick; Q has no glyph, so `Q stays as typed


def history(s):
    s.line(UP * 4, b"42")  # back past '``Q', ⍴⍳5 and 5+60 to 40+2


def quote_quad_prompt(s):
    s.type("⍞←'Name: ' ⋄ x←⍞\r".encode())
    s.expect(b"\r\nName: ")
    s.wait_until_editing()
    before = s.mark
    s.type(b"Bob\r")
    s.expect(b"Bob\r\n")
    between = s.output[before:s.mark - len(b"Bob\r\n")]
    if b"\n" in between:
        raise Failure(f"the answer went to a new line: {between!r}")
    s.expect_prompt()
    s.line(b"x", b"Bob")  # the answer without the prompt text


def quad_inputs(s):
    s.type("y←⎕+1\r".encode())
    s.expect("\r\n⎕:\r\n".encode())
    s.expect_prompt()
    s.type("2×3\r".encode())
    s.expect_prompt()
    s.line(b"y", b"7")
    s.type("z←⍞\r".encode())
    s.expect(b"\r\n")
    s.wait_until_editing()
    s.type(b"secret\r")
    s.expect(b"\r\n")
    s.expect_prompt()
    s.line(b"z", b"secret")


def break_abandons_line(s):
    s.type(b"1+")
    s.expect(b"1+")
    s.type(CTRL_C)
    s.expect_prompt()
    s.line(b"3+3", b"6")
    s.line("{⍵×3}7".encode(), b"21")  # no interrupt is left over for the lines of a dfn
    if b"ERROR" in s.output or b"INTERRUPT" in s.output:
        raise Failure(f"an error was shown: {s.output!r}")


def history_file(s):
    s.end()
    try:
        with open(os.path.join(home, ".vantor_history"), "rb") as f:
            saved = f.read()
    except OSError as error:
        raise Failure(f"no history file: {error}")
    for line in (b"40+2", "⍴⍳5".encode()):
        if line not in saved.split(b"\n"):
            raise Failure(f"{line!r} is not in the history file: {saved!r}")
    if b"secret" in saved:
        raise Failure(f"a ⍞ answer went into the history file: {saved!r}")


def history_of_previous_session(s):
    s.expect_prompt()
    s.line(UP, b"21")  # the last line of the first session
    s.end()


first = Session()
for name, run in [("a result follows its line directly", plain_line),
                  ("cursor keys edit the line", cursor_keys),
                  ("the backtick prefix types glyphs", prefix_key),
                  ("the up arrow recalls earlier lines", history),
                  ("⍞ input goes on after the ⍞← prompt", quote_quad_prompt),
                  ("⎕ and ⍞ input prompt as they should", quad_inputs),
                  ("Ctrl-C abandons the typed line", break_abandons_line),
                  ("Ctrl-D ends the session, the history file is written", history_file)]:
    case(name, run, first)
case("a new session recalls the previous one's lines", history_of_previous_session, Session())

if failures:
    print(f"{failures} console case(s) failed")
    sys.exit(1)
print("all console cases passed")
PYTHON
