"""Text from a results folder as it may be printed, the order of node names,
and the tool's own notes on standard error."""

import re
import sys


def shown(text):
    """text as it may reach a terminal, a plot or a log. Whoever can write into a
    results folder chooses the processor brand, the reason, the log lines and the
    file names: every character that is not printable (C0 and C1 controls, DEL,
    bidirectional overrides, line separators, a byte that was not UTF-8) is
    written as its escape, \\x1b or \\u202e, so it cannot drive the terminal or
    hide the text around it."""
    if text.isprintable():
        return text
    out = []
    for char in text:
        if char.isprintable():
            out.append(char)
            continue
        code = ord(char)
        if 0xDC80 <= code <= 0xDCFF:
            # A byte of a file name that was not UTF-8 (os.listdir's surrogateescape).
            code -= 0xDC00
        out.append(f"\\x{code:02x}" if code <= 0xFF else
                   f"\\u{code:04x}" if code <= 0xFFFF else f"\\U{code:08x}")
    return "".join(out)


def natural_key(text):
    """Sorts node2 before node10. Only ASCII 0-9 count as digits ('²' is a digit
    to str.isdigit but not to int), and a run of digits compares by its length
    and then its text, so no name, however long, can make the key raise."""
    parts = re.split("([0-9]+)", text)
    return [(len(part.lstrip("0")), part.lstrip("0"), part) if i % 2 else part
            for i, part in enumerate(parts)]



def note(text):
    """One line of zelvo-fleet's on standard error, after whatever standard
    output holds so far."""
    sys.stdout.flush()
    print(f"zelvo-fleet: {text}", file=sys.stderr, flush=True)
