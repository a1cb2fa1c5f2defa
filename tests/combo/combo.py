#!/usr/bin/env python3
"""Combination test: every primitive function (monadic and dyadic), every primitive operator with a
few operands, every assignment form and every registered system name, applied to arguments of every
kind (empty arrays of each element type, scalars and one-item arrays, vectors, matrices, nested and
mixed arrays, complex and decimal numbers, namespaces).

Each group of lines (one per primitive, operator or system name) runs in its own interpreter process
started with the diagnostic option that checks the whole heap after every compaction; after every
generated line a ⎕WA forces a compaction, so a line that leaves a bad pocket behind fails at once.
A group passes when the interpreter reaches the end of its input and ends with exit code 0, without
a system error, an aplcore or a sanitizer report. APL errors (DOMAIN ERROR and the like) are fine.

A failing group is reported with the smallest run of its lines that still fails on its own, ready
to be fed to the interpreter's standard input.

Usage: combo.py APL [--jobs N] [--only REGEX] [--timeout SECONDS] [--print GROUP]
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REGISTRY = HERE.parents[1] / "src" / "sysfns" / "qsys.cpp"
KNOWN_CRASHES = HERE / "known_crashes.txt"

# The letter of -D that runs the full heap consistency check after every compaction.
HEAP_CHECK_OPTION = "-DS"

# Names that the prologue defines for every group: decimal arrays (made under ⎕FR 1287, so they
# stay decimal whatever ⎕FR is later), a traditional operand function of each valence.
PROLOGUE = [
    "⎕FR←1287",
    "dec←0.5",
    "decv←0.1 2.5 ¯3",
    "decm←2 2⍴0.1 0.2 0.3 0.4",
    "⎕FR←645",
    "⎕FX 'r←a tf w' 'r←a,w'",
    "⎕FX 'r←mf w' 'r←⊂w'",
]

# Arguments of every kind. Each is a self-contained expression, parenthesised where a strand would
# otherwise join it to its neighbour.
EMPTIES = ["⍬", "''", "(0⍴⊂⍬)", "(0⍴1 0)", "(0⍴0.5)", "(0⍴1J1)", "(0⍴⎕UCS 1000)",
           "(0⍴⎕UCS 128512)", "(0⍴dec)", "(0⍴⊂'ab')", "(0 3⍴0)", "(2 0⍴'')", "(0⍴⊂⎕NS '')"]
SCALARS = ["1", "0", "(⊃1 0)", "5", "¯5", "300", "70000", "2147483647", "¯2147483648", "1.5",
           "¯0.5", "1E300", "1J2", "0J1", "'a'", "' '", "(⎕UCS 955)", "(⎕UCS 128512)", "dec",
           "(⊂⍬)", "(⊂1 2)", "(⎕NS '')"]
ONE_ITEM = ["(1⍴1)", "(1⍴0)", "(1⍴5)", "(1⍴300)", "(1⍴1.5)", "(1⍴1J2)", "(1⍴'a')",
            "(1⍴⎕UCS 955)", "(1⍴⎕UCS 128512)", "(1⍴dec)", "(1⍴⊂1 2)", "(1 1⍴1)", "(1 1 1⍴'a')"]
VECTORS = ["(1 0 1 1)", "(33⍴1 0 0)", "(1 2 3)", "(¯3 70000 5)", "(0.5 1.5 ¯2.25)",
           "(1J2 3 ¯4J¯1)", "'abc'", "(⎕UCS 955 956 957)", "(⎕UCS 128512 65)", "(⍳5)", "decv",
           "(2147483647 ¯2147483648)"]
MATRICES = ["(2 3⍴⍳6)", "(2 2⍴1 0 0 1)", "(3 2⍴'abcdef')", "(2 2⍴1.5 2 3 4)", "(2 2⍴1J1 2 3 4)",
            "(2 3 4⍴⍳24)", "decm", "(2 2⍴1 (1 2) 'a' ⍬)"]
NESTED = ["((1 2)(3 4))", "('ab' 'cd')", "(⊂⊂'a')", "(1 'a' 2.5)", "((1 2) 'x' (⊂⍳3))",
          "(⊂⊂⊂1 2)", "(1(2(3(4 5))))", "((⎕NS '') 1)", "(1J1 'a' dec)"]
VALUES = EMPTIES + SCALARS + ONE_ITEM + VECTORS + MATRICES + NESTED
NUMERIC = [v for v in VALUES if not re.search(r"['⎕⊂]|\(\(|dec", v)]

FUNCTIONS = list("+-×÷⌈⌊*⍟|!○~∨∧⍱⍲<≤=≥>≠≡≢⍴,⍪⍳↑↓?⍒⍋⍉⌽⊖∊⊥⊤⍎⍕⌹⊂⊃∪∩⍷⌷/⌿\\⍀⊣⊢")
SCALAR_FUNCTIONS = list("+-×÷⌈⌊*⍟|!○~∨∧⍱⍲<≤=≥>≠")

# Operands: primitives of each family, dfns, traditional functions, a derived function.
OPERANDS = ["+", "×", "⌈", "=", "∧", ",", "⍴", "⊂", "⊃", "↑", "⌽", "⍳", "≡", "⊢", "{⍺,⍵}", "{⍵}",
            "{⍺←0 ⋄ ⍺+⍵}", "tf", "mf", "(+/)", "(⊂⍤1)"]
ARRAY_OPERANDS = ["0", "1", "2", "¯1", "1.5", "(0 1)", "⍬", "'a'", "(⊂⍬)", "70000"]
AXES = ["1", "2", "3", "0", "0.5", "1.5", "⍬", "(1 2)", "'a'", "(⊂1)"]

# Selections for selective assignment: (f x)←R.
SELECTIONS = ["2↑x", "1↑x", "¯1↑x", "0↑x", "1↓x", "⊃x", ",x", "⍉x", "⌽x", "⊖x", "1 0 1/x",
              "2 2⍴x", "(⊂1)⌷x", "⊃¨x", "x[1]", "1⊃x", "∊x", "↑x", "↓x", "⍬⍴x", "1 2⍴x"]
INDEXINGS = ["x[1]", "x[⍬]", "x[1;1]", "x[⍳0]", "x[,1]", "x[2 1]", "x[⊂1 1]", "x[]", "x[1;]"]
MODIFIERS = ["+", ",", "⊢", "⌈", "⍴", "{⍺,⍵}", "/"]

# System names that must not run here: they end the process, wait for something that never comes,
# or hand text to the host system.
NOT_RUN = {
    "OFF": "ends the process",
    "DQ": "waits for events",
    "ED": "opens an editor and waits",
    "SH": "runs a host command",
    "CMD": "runs a host command",
}
# System names whose arguments are restricted so that they neither wait long nor block.
SHORT_DELAYS = ["0", "⍬", "''", "(0⍴1 0)", "0.001", "¯1", "'a'", "1J2", "(⊂⍬)", "(⎕NS '')", "(0 0)"]
RESTRICTED = {
    "DL": (SHORT_DELAYS, []),
    "TGET": ([], [("0", v) for v in VALUES]),  # with a timeout of 0 only
}

# After each generated line: cut back a function suspended by the line, force a compaction (with
# the heap check) and show the line's number, so that a crash or hang is attributed to its line.
def check_lines(number):
    return ["→", f"w←⎕WA ⋄ '@@{number}'"]

END_MARK = "@@end"


def sample(rng, items, count):
    """A deterministic choice of at most count items, in their original order."""
    if len(items) <= count:
        return list(items)
    chosen = sorted(rng.sample(range(len(items)), count))
    return [items[i] for i in chosen]


def pairs(values, rng=None, count=None):
    every = [(a, b) for a in values for b in values]
    return every if rng is None else sample(rng, every, count)


def primitive_groups():
    groups = {}
    for f in FUNCTIONS:
        rng = random.Random("primitive " + f)
        lines = [f"{f}{v}" for v in VALUES]
        lines += [f"{a}{f}{b}" for a, b in pairs(VALUES)]
        if f in SCALAR_FUNCTIONS:
            lines += ["⎕FR←1287"] + [f"{a}{f}{b}" for a, b in pairs(NUMERIC, rng, 300)] + ["⎕FR←645"]
        groups[f"function {f}"] = lines
    return groups


def axis_group():
    rng = random.Random("axis")
    lines = []
    for f in [",", "⍪", "⌽", "⊖", "↑", "↓", "⊂", "⊃", "/", "⌿", "\\", "⍀", "+", "=", "+/", ",\\", "⍉"]:
        for k in AXES:
            lines += [f"{f}[{k}]{v}" for v in sample(rng, VALUES, 25)]
            lines += [f"{a}{f}[{k}]{b}" for a, b in pairs(VALUES, rng, 40)]
    return {"function with axis": lines}


def monadic_operator_lines(rng, operator, operands, each_dyadic):
    """f OP R for every operand and value, L f OP R for a sample of pairs."""
    lines = []
    for f in operands:
        lines += [f"{f}{operator} {v}" for v in VALUES]
        lines += [f"{a}({f}{operator}){b}" for a, b in pairs(VALUES, rng, each_dyadic)]
    return lines


def dyadic_operator_lines(rng, operator, left_operands, right_operands, each):
    lines = []
    for f in left_operands:
        for g in right_operands:
            lines += [f"({f}{operator}{g}){v}" for v in sample(rng, VALUES, each)]
            lines += [f"{a}({f}{operator}{g}){b}" for a, b in pairs(VALUES, rng, each)]
    return lines


def operator_groups():
    def rng(name):
        return random.Random("operator " + name)

    groups = {
        "operator ¨": monadic_operator_lines(rng("¨"), "¨", OPERANDS, 250),
        "operator ⍨": monadic_operator_lines(rng("⍨"), "⍨", OPERANDS, 150),
        "operator ⌸": monadic_operator_lines(rng("⌸"), "⌸", OPERANDS + ["{⍺ ⍵}", "{⍺(≢⍵)}"], 150),
        "operator &": monadic_operator_lines(rng("&"), "&", ["{⍵}", "+", "mf"], 50),
        "operator ⌶": monadic_operator_lines(rng("⌶"), "⌶", ["1500"] + ARRAY_OPERANDS, 100),
        "operator ∘": dyadic_operator_lines(rng("∘"), "∘", OPERANDS, ["⊂", "+", "{⍵}", "⍴", "mf"], 40)
        + dyadic_operator_lines(rng("∘ bound"), "∘", ARRAY_OPERANDS, ["+", "⍴", "{⍺,⍵}", "tf"], 40)
        + dyadic_operator_lines(rng("∘ bound right"), "∘", ["+", "⍴", "{⍺,⍵}", "tf"], ARRAY_OPERANDS, 40),
        "operator ∘.": [f"{a}∘.{f}{b}" for f in OPERANDS for a, b in pairs(VALUES, rng("∘." + f), 250)],
        "operator .": dyadic_operator_lines(rng("."), ".", ["+", "∧", "{⍺,⍵}", ",", "tf"],
                                            ["×", "=", "{⍺,⍵}", "⍴", "tf"], 120),
        "operator ⍣": dyadic_operator_lines(rng("⍣"), "⍣", ["+", "⊂", "⌽", "{⍵}", "mf", "(1∘+)"],
                                            ["0", "1", "2", "¯1", "1.5", "⍬", "'a'", "(1 2)"], 60)
        # Operands that reach a fixed point from any argument, monadic or dyadic.
        + dyadic_operator_lines(rng("⍣ fixpoint"), "⍣", ["⊢", "∪", "{⍵}"], ["≡", "=", "{⍺≡⍵}"], 60),
        "operator ⍤": dyadic_operator_lines(rng("⍤"), "⍤", ["+", "⊂", "⍴", ",", "{⍺,⍵}", "⌽", "tf"],
                                            ["0", "1", "¯1", "(0 1)", "2", "⍬", "'a'", "1.5", "(1 2 3)"], 50)
        + dyadic_operator_lines(rng("⍤ atop"), "⍤", ["⊂", "-", "≢"], ["+", ",", "{⍺,⍵}"], 50),
        "operator ⍠": dyadic_operator_lines(rng("⍠"), "⍠", ["⍳", "=", "{⍵}"],
                                            ["('IC' 1)", "1", "'a'", "⍬", "(⊂'IC' 1)"], 60),
    }
    for reduction in ["/", "⌿", "\\", "⍀"]:
        groups[f"operator {reduction}"] = monadic_operator_lines(rng(reduction), reduction, OPERANDS, 200)
    groups["derived chains"] = derived_chain_lines(rng("chains"))
    return groups


def derived_chain_lines(rng):
    """Derived functions of derived functions, named and applied."""
    chains = ["+¨¨", "+/¨", "⊂⍤1¨", "{⍺ ⍵}⌸¨", ",⍨¨", "+.×¨", "(+/)⍣2", "∘.,¨", "⌽⍤1⍤2",
              "+\\¨¨", "({⍵}¨)¨", "f¨", "g⍣2"]
    lines = ["f←+¨", "f←f¨", "g←{⍺←⊢ ⋄ ⍺,⍵}¨"]
    for chain in chains:
        lines += [f"{chain}{v}" for v in VALUES]
        lines += [f"{a}({chain}){b}" for a, b in pairs(VALUES, rng, 60)]
    return lines


def assignment_groups():
    rng = random.Random("assignment")
    selective, indexed, modified = [], [], []
    for x in VALUES:
        for s in SELECTIONS:
            selective += [f"x←{x} ⋄ ({s})←{r} ⋄ x" for r in sample(rng, VALUES, 6)]
        for i in INDEXINGS:
            indexed += [f"x←{x} ⋄ {i}←{r} ⋄ x" for r in sample(rng, VALUES, 6)]
            indexed += [f"x←{x} ⋄ {i}+←{r} ⋄ x" for r in sample(rng, VALUES, 2)]
        for f in MODIFIERS:
            modified += [f"x←{x} ⋄ x{f}←{r} ⋄ x" for r in sample(rng, VALUES, 8)]
    return {"selective assignment": selective, "indexed assignment": indexed,
            "modified assignment": modified}


def registered_system_names():
    """(name, class) for every entry of the system-name registry, except ⎕ and ⍞ themselves."""
    entry = re.compile(r'\{u"([^"]+)", Code\(\d+, \w+\), (kSystem\w+)\}')
    names = entry.findall(REGISTRY.read_text(encoding="utf-8"))
    if not names:
        sys.exit(f"combo: no system names found in {REGISTRY}")
    return [(name, cls) for name, cls in names if name not in ("QNULL", "QQUOTE")]


def system_function_lines(rng, name):
    monadic_values, dyadic_pairs = VALUES, pairs(VALUES, rng, 400)
    if name in RESTRICTED:
        monadic_values, dyadic_pairs = RESTRICTED[name]
    return [f"⎕{name} {v}" for v in monadic_values] + [f"{a} ⎕{name} {b}" for a, b in dyadic_pairs]


def system_variable_lines(name):
    lines = [f"⎕{name}", f"⍴⎕{name}", f"⎕{name}←⎕{name}"]
    lines += [f"s←⎕{name} ⋄ ⎕{name}←{v} ⋄ ⎕{name} ⋄ ⎕{name}←s" for v in VALUES]
    lines += [f"s←⎕{name} ⋄ ⎕{name}[1]←{v} ⋄ ⎕{name} ⋄ ⎕{name}←s" for v in SCALARS]
    lines += [f"s←⎕{name} ⋄ ⎕{name},←{v} ⋄ ⎕{name} ⋄ ⎕{name}←s" for v in SCALARS]
    lines += [f"{{⎕{name}←⍵ ⋄ ⎕{name}}}{v}" for v in VALUES]
    return lines


def system_operator_lines(rng, name):
    lines = []
    for a, b in pairs(VALUES, rng, 150):
        lines += [f"({a}⎕{name}{b}){v}" for v in sample(rng, VALUES, 2)]
    lines += [f"(⍳⎕{name}{v})'abc'" for v in VALUES]
    lines += [f"'abc'(⍳⎕{name}{v})'b'" for v in VALUES]
    return lines


def system_name_groups():
    groups = {}
    for name, cls in registered_system_names():
        if name in NOT_RUN:
            continue
        rng = random.Random("system " + name)
        if cls == "kSystemFunction":
            lines = system_function_lines(rng, name)
        elif cls == "kSystemVariable":
            lines = system_variable_lines(name)
        elif cls == "kSystemNiladic":
            lines = [f"⎕{name}", f"⍴⎕{name}", f"⊃⎕{name}", f"⎕{name}⊢1"]
        else:
            lines = system_operator_lines(rng, name)
        groups[f"system name ⎕{name}"] = lines
    return groups


def all_groups():
    groups = {}
    for build in (primitive_groups, axis_group, operator_groups, assignment_groups, system_name_groups):
        groups.update(build())
    skipped = known_crashes()
    return {name: [line for line in lines if not skipped.fullmatch(line)] for name, lines in groups.items()}


def known_crashes():
    """One pattern for the lines that crash the interpreter today and are being fixed."""
    text = KNOWN_CRASHES.read_text(encoding="utf-8").splitlines()
    patterns = [line for line in text if line.strip() and not line.startswith("#")]
    return re.compile("|".join(f"(?:{p})" for p in patterns) or "(?!)")


def session_input(lines, with_prologue=True):
    """The interpreter's input: the prologue, each line followed by its check, an end mark."""
    text = list(PROLOGUE) if with_prologue else []
    for number, line in enumerate(lines):
        text += [line] + check_lines(number)
    text.append(f"'{END_MARK}'")
    return "\n".join(text) + "\n"


SANITIZER_REPORT = re.compile(r"ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|"
                              r"Syserror|aplcore")


class Outcome:
    """What one run of the interpreter did: passed, or why not and after which line."""

    def __init__(self, status, output, timed_out):
        self.output = output
        self.timed_out = timed_out
        marks = re.findall(r"^@@(\d+)$", output, re.MULTILINE)
        self.lines_done = int(marks[-1]) + 1 if marks else 0
        report = SANITIZER_REPORT.search(output)
        finished = re.search(f"^{END_MARK}$", output, re.MULTILINE) is not None
        if timed_out:
            self.failure = "hang (no end of input within the time limit)"
        elif status != 0:
            self.failure = f"exit code {status}" + (" (system error)" if status == 3 else "")
        elif report:
            self.failure = "report: " + output[report.start():].splitlines()[0]
        elif not finished:
            self.failure = "the interpreter stopped before the end of its input"
        else:
            self.failure = None

    def report_excerpt(self):
        """The sanitizer or system-error report, or the last lines of output."""
        report = SANITIZER_REPORT.search(self.output)
        if report:
            tail = self.output[self.output.rfind("\n", 0, report.start()) + 1:]
        else:
            tail = self.output[-1500:]
        return "\n".join(tail.splitlines()[:25])


def run_interpreter(apl, text, timeout):
    with tempfile.TemporaryDirectory(prefix="combo") as scratch:
        try:
            done = subprocess.run([apl, HEAP_CHECK_OPTION], input=text.encode(), cwd=scratch,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
            return Outcome(done.returncode, done.stdout.decode(errors="replace"), False)
        except subprocess.TimeoutExpired as expired:
            output = (expired.stdout or b"").decode(errors="replace")
            return Outcome(None, output, True)


def smallest_reproduction(apl, lines, failing, timeout, hang):
    """The shortest input that still fails, as the interpreter's input: the failing line alone, then
    with more and more of the lines before it, each without and then with the prologue. A hang is
    tried on its line alone only, as every try may last the whole time limit."""
    last = lines[: failing + 1]
    for count in (1,) if hang else (1, 4, 16, 64, 256, len(last)):
        for with_prologue in (False, True):
            text = session_input(last[-count:], with_prologue)
            if run_interpreter(apl, text, timeout).failure:
                return text
        if count >= len(last):
            break
    return session_input(last)


def run_group(apl, name, lines, timeout):
    """Runs one group; returns its name, line count, seconds taken and failure report (or None)."""
    start = time.monotonic()
    outcome = run_interpreter(apl, session_input(lines), timeout)
    seconds = time.monotonic() - start
    if outcome.failure is None:
        return name, len(lines), seconds, None
    failing = min(outcome.lines_done, len(lines) - 1)
    reproduction = smallest_reproduction(apl, lines, failing, timeout, outcome.timed_out)
    message = (f"FAIL {name}: {outcome.failure}\n  at line: {lines[failing]}\n"
               f"  reproduction (apl {HEAP_CHECK_OPTION} reading standard input):\n"
               + indented(reproduction) + "  output:\n" + indented(outcome.report_excerpt()))
    return name, len(lines), seconds, message


def indented(text):
    return "".join(f"    {line}\n" for line in text.splitlines())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("apl", help="the console interpreter (build/apl)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--only", default="", help="run the groups whose name matches this regex")
    parser.add_argument("--timeout", type=float, default=120, help="seconds one group may take")
    parser.add_argument("--print", dest="print_group", help="print one group's input and stop")
    args = parser.parse_args()

    groups = all_groups()
    if args.print_group:
        sys.stdout.write(session_input(groups[args.print_group]))
        return 0
    chosen = {n: l for n, l in groups.items() if re.search(args.only, n)}
    apl = str(Path(args.apl).resolve())
    start = time.monotonic()
    failures, total_lines, durations = [], 0, []
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        runs = [pool.submit(run_group, apl, n, l, args.timeout) for n, l in chosen.items()]
        for run in concurrent.futures.as_completed(runs):
            name, count, seconds, message = run.result()
            total_lines += count
            durations.append((seconds, name))
            if message:
                failures.append(message)
                print(message, flush=True)
    elapsed = time.monotonic() - start
    slowest = ", ".join(f"{name} {seconds:.1f} s" for seconds, name in sorted(durations)[-5:])
    print(f"combo: {len(chosen)} groups, {total_lines} lines, {elapsed:.0f} s; slowest: {slowest}")
    print(f"combo: {len(chosen) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
