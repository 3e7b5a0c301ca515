#!/usr/bin/env python3
"""The README's table of failure messages against what the sources can print.

Both ways: every row of the table is a line that the sources can print, and
every line that the sources hand to a writer of standard error is a row of the
table or is listed below as something else (a warning, a detail line). So a
message cannot leave the program and stay in the table (and the manual page,
which is made from it), nor come in without a row.

Usage: failure_messages_test.py README SOURCE_ROOT [unittest options]
"""
import os
import re
import sys
import unittest

# Calls whose text arguments go to standard error: the console's error stream,
# a worker's and the coordinator's failure, an error value (its message is
# printed by whoever receives it), the invalid result's reason, the entry
# point's error line.
WRITERS = ("err", "fail", "report_failure", "invalid", "write_error_line")
# Functions whose returned text goes to standard error.
BUILDERS = ("field_allocation_failure", "result_file_error", "output_failure_line")
SOURCE_DIRS = ("app", "bench", "solver", "platform")

# Lines the writers print that are not failures of their own, in the table's
# notation. A new line that ends a run or fails a thread goes into the table; a
# new warning, or a line that only explains the one before it, goes here.
WARNINGS = [  # the run goes on
    "warning",  # the title of the warning box
    "Fast timer is not compliant with HWBOT rules (fast timer source: <source>)",
    "Check that this is a detection error in terms of your windows version, processor, or timer before"
    " submitting",
]
DETAILS = [  # after a failure of the table: its reason, its values, what to do
    "invalid result",  # the title of the box before the report's reasons
    "Use --bypass-timer-check to run regardless if you are sure that this is a detection error in terms of"
    " your windows version, processor, or timer",
    "field allocation failed",
    "failed to initalize H field",
    "allocation failed for validation buffer",
    "init_val = <v>",
    "calc_val = <v>",
    "energy_init = <v>",
    "energy_acc = <v>",
    "energy_calc = <v>",
    "ratio = <v>",
    "fast timer = <N>ms    coarse timer = <N>ms",
]
REFUSED_EARLIER = [  # about inputs that the option check refuses before any run
    "unknown isa '<isa>'",
]

HOLE = "\x01"  # a value filled in at run time
TOKEN = re.compile(
    r"""//[^\n]*|/\*.*?\*/
      |(?<!\w)R"(?P<delimiter>[^(\s]*)\((?P<raw>.*?)\)(?P=delimiter)"
      |"(?P<text>(?:\\.|[^"\\\n])*)"
      |'(?:\\.|[^'\\\n])+'""",
    re.S | re.X)
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", '"': '"', "'": "'", "?": "?"}
# fmt's replacement fields and printf's conversions.
FORMAT_HOLES = re.compile(r"\{[^{}]*\}|%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z|j|t)?[diouxXeEfFgGcsp]")
# Between two literals of one expression: "+ value +" (no new argument, no new
# statement).
JOINED = re.compile(r"\s*\)*\s*\+[^,;{}]*\+\s*\(*\s*$")
PLACEHOLDER = re.compile(r"<[^<>\s]+>")


def unescape(text):
    return re.sub(r"\\(x[0-9a-fA-F]+|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x" else ESCAPES.get(m.group(1), "?"),
                  text)


def as_template(text):
    """The text of a literal with every format field a hole ("{{" stays "{")."""
    parts = re.split(r"(\{\{|\}\}|%%)", text)
    return "".join(p[0] if p in ("{{", "}}", "%%") else FORMAT_HOLES.sub(HOLE, p) for p in parts)


class Source:
    """One file's code with its literals taken out: each literal is "@N@" in
    `code`, its text (format fields as holes) `literals[N]`."""

    def __init__(self, path, text):
        self.path, self.literals, self.lines = path, [], []

        def take_out(m):
            if m.group("raw") is None and m.group("text") is None:
                return " " * len(m.group(0)) if m.group(0).startswith("/") else "' '"
            raw = m.group("raw")
            self.literals.append(as_template(raw if raw is not None else unescape(m.group("text"))))
            self.lines.append(text.count("\n", 0, m.start()) + 1)
            return f"@{len(self.literals) - 1}@"
        self.code = TOKEN.sub(take_out, text)

    def texts(self, start=0, end=None):
        """The texts the expressions in code[start:end] build from literals:
        adjacent literals joined, literals linked by "+ value +" joined with a
        hole, and a hole where a value is added before or after. Yields
        (path, line number, text)."""
        code = self.code[start:end]
        marks = list(re.finditer(r"@(\d+)@", code))
        i = 0
        while i < len(marks):
            first = marks[i]
            text = self.literals[int(first.group(1))]
            if re.search(r"\+\s*\(*\s*$", code[max(0, first.start() - 40):first.start()]):
                text = HOLE + text
            while i + 1 < len(marks):
                between = code[marks[i].end():marks[i + 1].start()]
                if between.strip() and not JOINED.match(between):
                    break
                text += (HOLE if between.strip() else "") + self.literals[int(marks[i + 1].group(1))]
                i += 1
            if re.match(r"\s*\)*\s*\+", code[marks[i].end():]):
                text += HOLE
            yield self.path, self.lines[int(first.group(1))], text
            i += 1

    def closing(self, open_at, opening, closing):
        depth = 0
        for i in range(open_at, len(self.code)):
            depth += {opening: 1, closing: -1}.get(self.code[i], 0)
            if depth == 0:
                return i
        return len(self.code)

    def constants(self):
        """Named text constants (kName = "..."), as name and (path, line number, text)."""
        for m in re.finditer(r"\b(k[A-Z]\w*)\s*(?:\[\s*\])?\s*=\s*(?=@\d+@)", self.code):
            yield m.group(1), next(self.texts(m.end(), self.code.find(";", m.end())))

    def written(self, constants):
        """What the writers' arguments and the builders' bodies print, as (path,
        line number, text); `constants` as constants() gives them."""
        for m in re.finditer(r"\b(%s)\s*\(" % "|".join(WRITERS + BUILDERS), self.code):
            open_at = m.end() - 1
            close_at = self.closing(open_at, "(", ")")
            if m.group(1) in WRITERS:
                yield from self.texts(open_at, close_at)
                names = re.findall(r"\b(k[A-Z]\w*)\b", self.code[open_at:close_at])
                yield from (constants[name] for name in names if name in constants)
            else:
                body = re.match(r"\s*(?:const\s*)?(?:noexcept\s*)?\{", self.code[close_at + 1:])
                if body:
                    body_at = close_at + body.end()
                    yield from self.texts(body_at, self.closing(body_at, "{", "}"))


def printed_lines(texts):
    """Each text as the lines it prints, blanks trimmed, lines of punctuation and
    values only (box rules, a lone reason) left out."""
    for path, number, text in texts:
        for line in text.split("\n"):
            line = line.strip(" ")
            if re.search(r"[A-Za-z]", line):
                yield path, number, line


def pattern(entry):
    """A table entry as a pattern over printed lines: a placeholder such as <T>
    stands for a hole or a word ("<isa> support not detected" covers "avx
    support not detected"); a trailing ": <reason>" may be missing (the system
    gave none)."""
    body, optional_tail = re.fullmatch(r"(.*?)(: <[^<>\s]+>)?", entry).groups()
    value = "(?:%s|[^\\s%s]+)" % (HOLE, HOLE)
    regex = value.join(re.escape(p) for p in PLACEHOLDER.split(body))
    return re.compile(regex + ("(?:: %s)?" % value if optional_tail else ""))


def matches(entry_pattern, line):
    # A line may start with a value put in front by its caller (a line break).
    return bool(entry_pattern.fullmatch(line) or entry_pattern.fullmatch(line.lstrip(HOLE)))


def shown(line):
    return line.replace(HOLE, "<>")


def failure_table(readme_path):
    """The README's section of failure messages as (message, meaning) rows."""
    with open(readme_path, encoding="utf-8") as f:
        section = f.read().partition("\n## Failure messages\n")[2].partition("\n## ")[0]
    return re.findall(r"^\| `([^`\n]+)` \| (.+) \|$", section, re.M)


def read_sources(root):
    sources = []
    for here, _, names in (walked for folder in SOURCE_DIRS for walked in os.walk(os.path.join(root, folder))):
        for path in (os.path.join(here, n) for n in sorted(names) if n.endswith((".cpp", ".h", ".h.in"))):
            with open(path, encoding="utf-8") as f:
                sources.append(Source(os.path.relpath(path, root), f.read()))
    return sources


README = SOURCE_ROOT = None


class FailureTableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.table = failure_table(README)
        sources = read_sources(SOURCE_ROOT)
        constants = {name: where for s in sources for name, where in s.constants()}
        cls.every_line = [t for s in sources for t in printed_lines(s.texts())]
        cls.written = [t for s in sources for t in printed_lines(s.written(constants))]

    def test_every_row_is_a_line_the_program_can_print(self):
        self.assertGreater(len(self.table), 10, "no failure messages table in the README")
        for row, meaning in self.table:
            with self.subTest(row=row):
                p = pattern(row)
                self.assertTrue(any(matches(p, line) for _, _, line in self.every_line),
                                f"the README's row `{row}` is printed nowhere in {', '.join(SOURCE_DIRS)}")
                # A message named inside a meaning would go unchecked: each has a row.
                for span in re.findall(r"`([^`]+)`", meaning):
                    self.assertTrue(span.startswith("-"),
                                    f"the meaning of `{row}` names `{span}`: give that message a row of its own")

    def test_every_written_line_is_a_row_or_listed_as_something_else(self):
        known = [pattern(e) for e in [row for row, _ in self.table] + WARNINGS + DETAILS + REFUSED_EARLIER]
        self.assertGreater(len(self.written), 20, "the writers' arguments were not found")
        for path, number, line in self.written:
            with self.subTest(line=shown(line)):
                self.assertTrue(any(matches(p, line) for p in known),
                                f"{path}:{number}: \"{shown(line)}\" is written to standard error but is no row of "
                                "the README's failure messages (nor a warning or detail listed in this test)")

    def test_every_listed_line_is_still_written(self):
        for entry in WARNINGS + DETAILS + REFUSED_EARLIER:
            with self.subTest(entry=entry):
                p = pattern(entry)
                self.assertTrue(any(matches(p, line) for _, _, line in self.written),
                                f"\"{entry}\" is listed in this test but no longer written")


class ExtractionTest(unittest.TestCase):
    def test_texts_and_lines(self):
        cases = [
            # adjacent literals are one; fmt fields and printf conversions are values
            ('err("a {} b" "c %.2f d\\n");', ["a <> bc <> d"]),
            # values added with "+" between and around literals
            ('fail("\\nx in thread " + std::to_string(i) + "\\nv = " + f(v));', ["x in thread <>", "v = <>"]),
            ('write_error_line(std::string("stopped: ") + e.what());', ["stopped: <>"]),
            # a new argument is a new text; escaped braces stay
            ('report_failure(r, c, fmt::format("{{x}} {}", "y"));', ["{x} <>", "y"]),
            # named constants, and the body of a builder; other calls are not written
            ('constexpr std::string_view kLine = "z line\\n"; void g() { err(kLine); out("no"); }', ["z line"]),
            ('std::string output_failure_line(int r) { return "built " + s(r); } int h() { return "no"; }',
             ["built <>"]),
            # comments and character literals hold no text
            ('err(/* "no" */ "yes" // "no"\n); char q = \'"\';', ["yes"]),
        ]
        for code, expected in cases:
            with self.subTest(code=code):
                s = Source("x.cpp", code)
                got = [shown(line) for _, _, line in printed_lines(s.written(dict(s.constants())))]
                self.assertEqual(got, expected)

    def test_patterns(self):
        cases = [
            ("solver H step error in thread <T>", "solver H step error in thread " + HOLE, True),
            ("<isa> support not detected", "avx2 support not detected", True),
            ("<isa> support not detected", "avx2 avx support not detected", False),  # one word only
            ("illegal instruction in thread <T>: x", HOLE + "illegal instruction in thread " + HOLE + ": x", True),
            ("zelvo: stopped: <reason>", "zelvo: stopped", True),
            ("zelvo: stopped: <reason>", "zelvo: stopped: " + HOLE, True),
            ("fast timer will overflow", "coarse timer will overflow", False),
        ]
        for entry, line, expected in cases:
            with self.subTest(entry=entry, line=shown(line)):
                self.assertEqual(matches(pattern(entry), line), expected)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    README, SOURCE_ROOT = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
