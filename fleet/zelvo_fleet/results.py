"""Reading a job folder: every result file parsed once, every value checked,
into NodeResult records; the nodes that left none, with their log's last line."""

import dataclasses
import errno
import json
import math
import os
import re
import stat

from .constants import NODE_LIST_FILE
from .errors import ResultFileError, UsageError
from .text import natural_key, shown

# The formats this reader takes; /2 adds the threads' progress.
SCHEMA = ("zelvo-result/1", "zelvo-result/2")

# A result file is a few KiB; one of more is not zelvo's and is never read.
MAX_FILE_BYTES = 16 * 1024 * 1024
# zelvo writes no integer wider than 64 bits; a longer literal is refused before
# int() sees it (Python refuses 4301 digits and more with its own error).
MAX_INTEGER_DIGITS = 20
# Far above any machine's score, and low enough that a median, a sum or a
# ratio of scores stays finite.
MAX_SCORE_MGUPS = 10**12
# The values of the result file's schema that the report reads.
MAX_THREADS = 2**32 - 1
SIZES = (64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192)
ISAS = ("sse2", "avx", "avx2", "fma")
WORKLOADS = ("standing_wave", "soft_gaussian")


@dataclasses.dataclass(frozen=True)
class NodeResult:
    """One node's result file as the report sees it, every value checked."""
    node: str
    file: str
    processor: str
    options: tuple
    threads: int
    threads_automatic: bool
    isa: str
    workload: str
    size: int
    score_mgups: float | None
    valid: bool
    reason: str | None


def _lookup(doc, path):
    value = doc
    for key in path.split("."):
        if not isinstance(value, dict) or key not in value:
            raise ResultFileError(f"incomplete result: no {path}")
        value = value[key]
    return value


def _excerpt(value):
    # json.dumps is ASCII and one line, whatever the value holds.
    return json.dumps(value)[:40]


def _field(doc, path, kind, nullable=False, low=None, high=None, choices=None):
    value = _lookup(doc, path)
    if value is None and nullable:
        return None
    # bool is an int in Python; a JSON true is not a number.
    if kind == "number":
        ok = isinstance(value, (int, float)) and not isinstance(value, bool)
    elif kind == "int":
        ok = isinstance(value, int) and not isinstance(value, bool)
    elif kind == "bool":
        ok = isinstance(value, bool)
    elif kind == "str":
        ok = isinstance(value, str)
    elif kind == "argv":
        ok = isinstance(value, list) and bool(value) and all(isinstance(a, str) for a in value)
    else:
        raise AssertionError(kind)
    if not ok:
        raise ResultFileError(f"incomplete result: {path} is {_excerpt(value)}")
    if kind == "number":
        value = float(value)
    if choices is not None and value not in choices:
        raise ResultFileError(f"out of range: {path} is {_excerpt(value)} (one of "
                              f"{', '.join(map(str, choices))})")
    if low is not None and not low <= value <= high:
        raise ResultFileError(f"out of range: {path} is {_excerpt(value)} "
                              f"(from {_excerpt(low)} to {_excerpt(high)})")
    return value


def given_options(command_line):
    """The zelvo options as given, without the program name and the --json pair:
    every node of a fleet run names its own result file."""
    options = []
    skip_value = False
    for arg in command_line[1:]:
        if skip_value:
            skip_value = False
        elif arg == "--json":
            skip_value = True
        elif not arg.startswith("--json="):
            options.append(arg)
    return tuple(options)


def parse_result(doc, node, path):
    """The report's view of one parsed result file; ResultFileError when the
    document is not a complete zelvo result."""
    if not isinstance(doc, dict) or "schema" not in doc:
        raise ResultFileError("not a zelvo result file (no \"schema\")")
    if doc["schema"] not in SCHEMA:
        raise ResultFileError(f"not a zelvo result file (schema {_excerpt(doc['schema'])})")
    valid = _field(doc, "result.valid", "bool")
    score = _field(doc, "result.score_mgups", "number", nullable=True, low=0,
                   high=MAX_SCORE_MGUPS)
    if valid and score is None:
        raise ResultFileError("incomplete result: a valid result without a score")
    return NodeResult(
        node=node,
        file=path,
        processor=_field(doc, "machine.cpu.brand", "str", nullable=True) or "unknown processor",
        options=given_options(_field(doc, "run.command_line", "argv")),
        threads=_field(doc, "run.options.threads", "int", low=1, high=MAX_THREADS),
        threads_automatic=_field(doc, "run.options.threads_automatic", "bool"),
        isa=_field(doc, "run.options.isa", "str", choices=ISAS),
        workload=_field(doc, "run.options.workload", "str", choices=WORKLOADS),
        size=_field(doc, "run.options.size", "int", choices=SIZES),
        score_mgups=score,
        valid=valid,
        reason=_field(doc, "result.reason", "str", nullable=True),
    )


def read_small_file(path, follow_link=True):
    """The bytes of a regular file of at most MAX_FILE_BYTES, read without
    blocking on a FIFO and without reading more than the limit. OSError when
    the system refuses, ResultFileError for any other kind of file."""
    limit = f"at most {MAX_FILE_BYTES // 2**20} MiB"
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | (0 if follow_link else os.O_NOFOLLOW)
    with open(os.open(path, flags), "rb") as f:
        info = os.fstat(f.fileno())
        if not stat.S_ISREG(info.st_mode):
            raise ResultFileError("not a regular file")
        if info.st_size > MAX_FILE_BYTES:
            raise ResultFileError(f"too large: {info.st_size} bytes ({limit})")
        raw = f.read(MAX_FILE_BYTES + 1)
    if len(raw) > MAX_FILE_BYTES:
        raise ResultFileError(f"too large: it grew while read ({limit})")
    return raw


def _json_int(text):
    digits = len(text) - text.startswith("-")
    if digits > MAX_INTEGER_DIGITS:
        raise ResultFileError(f"not a zelvo result file (an integer of {digits} digits)")
    return int(text)


def _json_float(text):
    value = float(text)
    if not math.isfinite(value):
        raise ResultFileError(f"not a zelvo result file (a number out of range: {text[:24]})")
    return value


def _json_constant(name):
    raise ResultFileError(f"not a zelvo result file ({name} is not a JSON number)")


def read_result_file(path, node):
    try:
        raw = read_small_file(path)
    except OSError as e:
        raise ResultFileError(f"cannot read: {e.strerror}") from None
    if not raw.strip():
        raise ResultFileError("empty file")
    try:
        doc = json.loads(raw.decode("utf-8"), parse_int=_json_int, parse_float=_json_float,
                         parse_constant=_json_constant)
    except UnicodeDecodeError:
        raise ResultFileError("not a zelvo result file (not UTF-8 text)") from None
    except json.JSONDecodeError as e:
        raise ResultFileError(f"corrupt or partial JSON: {e.msg} (line {e.lineno}, "
                              f"column {e.colno})") from None
    except RecursionError:
        raise ResultFileError("corrupt JSON: nested too deeply") from None
    return parse_result(doc, node, path)


def _last_log_line(path):
    # A log is never followed through a link: its last line is printed, and the
    # folder's writers must not choose a file outside it.
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOFOLLOW)
    except OSError:
        return None
    with open(fd, "rb") as f:
        try:
            if not stat.S_ISREG(os.fstat(fd).st_mode):
                return None
            f.seek(max(0, os.fstat(fd).st_size - 4096))
            tail = f.read(4096).decode("utf-8", "replace")
        except OSError:
            return None
    # The progress line rewrites itself with "\r": its last state is the text.
    lines = [line.strip() for line in re.split(r"[\r\n]", tail) if line.strip()]
    return lines[-1] if lines else None


def _not_a_node_name(name):
    """Why a line of the node list cannot be a node of this folder, or None:
    every name becomes <name>.json and <name>.log inside the folder."""
    if "\0" in name:
        return "it holds a NUL"
    if "/" in name:
        return "a path"
    if name in (".", ".."):
        return "a folder"
    if len(os.fsencode(name)) > 250:
        return "longer than a file name"
    return None


def read_folder(folder):
    """(results, failures) of a job folder: every <node>.json, and every node that
    left no result file: one with a <node>.log, or one of the job's node list."""
    try:
        names = os.listdir(folder)
    except OSError as e:
        raise UsageError(f"cannot read the folder {shown(folder)}: {e.strerror}") from None
    results, failures = [], []
    seen = set()
    logs = []
    for name in sorted(names, key=natural_key):
        # Hidden files include the temporary files of a write in progress.
        if name.startswith("."):
            continue
        if name.endswith(".log"):
            logs.append(name[:-len(".log")])
            continue
        if not name.endswith(".json"):
            continue
        path = os.path.join(folder, name)
        node = name[:-len(".json")]
        seen.add(node)
        try:
            results.append(read_result_file(path, node))
        except ResultFileError as e:
            failures.append({"node": node, "file": path, "error": str(e)})

    nodes = list(logs)
    listed = os.path.join(folder, NODE_LIST_FILE)
    if os.path.isfile(listed):
        # Never through a link: every line of the list may reach the report.
        try:
            text = read_small_file(listed, follow_link=False).decode("utf-8", "surrogateescape")
        except OSError as e:
            reason = "a symbolic link" if e.errno == errno.ELOOP else e.strerror
            raise UsageError(f"cannot read {shown(listed)}: {reason}") from None
        except ResultFileError as e:
            raise UsageError(f"cannot read {shown(listed)}: {e}") from None
        for number, line in enumerate(text.split("\n"), 1):
            node = line.strip()
            if not node:
                continue
            why = _not_a_node_name(node)
            if why is None:
                nodes.append(node)
            elif node not in seen:
                seen.add(node)
                failures.append({"node": node, "file": None,
                                 "error": f"line {number} of {NODE_LIST_FILE} is not a node "
                                          f"name ({why}); nothing opened"})
    for node in nodes:
        if node in seen:
            continue
        seen.add(node)
        error = "no result file"
        last = _last_log_line(os.path.join(folder, node + ".log"))
        if last:
            error += f"; its log ends with: {last}"
        failures.append({"node": node, "file": None, "error": error})
    failures.sort(key=lambda f: natural_key(f["node"]))
    return results, failures

