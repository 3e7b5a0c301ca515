"""Reading a job folder: every result file parsed once, every value checked,
into NodeResult records, one per run; the runs and nodes that left none, with
their log's last line."""

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

SCHEMA = "zelvo-result/2"
# Older files have no progress trace; they are read as before.
SCHEMAS = ("zelvo-result/1", SCHEMA)

# A result file is a few KiB plus about 8 KiB of trace per thread; one of more
# than this (some 8,000 threads) is not zelvo's and is never read.
MAX_FILE_BYTES = 64 * 1024 * 1024
# zelvo writes no integer wider than 64 bits; a longer literal is refused before
# int() sees it (Python refuses 4301 digits and more with its own error).
MAX_INTEGER_DIGITS = 20
# Far above any machine's score, and low enough that a median, a sum or a
# ratio of scores stays finite.
MAX_SCORE_MGUPS = 10**12
# The values of the result file's schema that the report reads.
MAX_THREADS = 2**32 - 1
MAX_UPDATES = 2**64 - 1
# Far above any run's length (at most 1000 s), and low enough that a rate stays finite.
MAX_SECONDS = 10**6
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
    # Which run of the node (<node>.<k>.json), None for a single run (<node>.json).
    run: int | None = None
    schema: str = SCHEMA
    # One (index, ((seconds, updates), ...)) per thread, None when the file has no
    # trace (zelvo-result/1).
    trace: tuple | None = None


def _lookup(doc, path, where=None):
    value = doc
    for key in path.split("."):
        if not isinstance(value, dict) or key not in value:
            raise ResultFileError(f"incomplete result: no {_named(path, where)}")
        value = value[key]
    return value


def _named(path, where):
    return f"{where}.{path}" if where else path


def _excerpt(value):
    # json.dumps is ASCII and one line, whatever the value holds.
    return json.dumps(value)[:40]


def _field(doc, path, kind, nullable=False, low=None, high=None, choices=None, where=None):
    value = _lookup(doc, path, where)
    path = _named(path, where)
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


def _is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _progress(thread, where):
    """A thread's trace, checked: pairs [seconds, updates], neither going back,
    the last one the thread's own seconds and grid_updates."""
    seconds = _field(thread, "seconds", "number", low=0, high=MAX_SECONDS, where=where)
    updates = _field(thread, "grid_updates", "int", low=0, high=MAX_UPDATES, where=where)
    pairs = _lookup(thread, "progress", where)
    if not isinstance(pairs, list) or not pairs:
        raise ResultFileError(f"incomplete result: {where}.progress is {_excerpt(pairs)}")
    points = []
    last = (0.0, 0)
    for j, pair in enumerate(pairs):
        name = f"{where}.progress[{j}]"
        if not (isinstance(pair, list) and len(pair) == 2 and _is_number(pair[0])
                and isinstance(pair[1], int) and not isinstance(pair[1], bool)):
            raise ResultFileError(f"incomplete result: {name} is {_excerpt(pair)} "
                                  "(a pair [seconds, updates])")
        point = (float(pair[0]), pair[1])
        if not (0 <= point[0] <= MAX_SECONDS and 0 <= point[1] <= MAX_UPDATES):
            raise ResultFileError(f"out of range: {name} is {_excerpt(pair)}")
        if point[0] < last[0] or point[1] < last[1]:
            raise ResultFileError(f"out of order: {name} is {_excerpt(pair)}, after "
                                  f"{_excerpt(list(last))}")
        points.append(point)
        last = point
    if last != (seconds, updates):
        raise ResultFileError(f"inconsistent: {where}.progress ends with {_excerpt(list(last))}, "
                              f"the thread's seconds and grid_updates are "
                              f"{_excerpt([seconds, updates])}")
    return tuple(points)


def _trace(doc):
    threads = _lookup(doc, "threads")
    if not isinstance(threads, list):
        raise ResultFileError(f"incomplete result: threads is {_excerpt(threads)}")
    trace = []
    for i, thread in enumerate(threads):
        where = f"threads[{i}]"
        if not isinstance(thread, dict):
            raise ResultFileError(f"incomplete result: {where} is {_excerpt(thread)}")
        index = _field(thread, "index", "int", low=0, high=MAX_THREADS, where=where)
        trace.append((index, _progress(thread, where)))
    return tuple(sorted(trace))


def parse_result(doc, node, path, run=None):
    """The report's view of one parsed result file; ResultFileError when the
    document is not a complete zelvo result."""
    if not isinstance(doc, dict) or "schema" not in doc:
        raise ResultFileError("not a zelvo result file (no \"schema\")")
    if doc["schema"] not in SCHEMAS:
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
        run=run,
        schema=doc["schema"],
        trace=_trace(doc) if doc["schema"] != SCHEMAS[0] else None,
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


def read_result_file(path, node=None, run=None):
    """The NodeResult of one result file (node: its name without .json unless
    given); ResultFileError when it cannot be used."""
    if node is None:
        node = os.path.basename(path)
        node = node[:-len(".json")] if node.endswith(".json") else node
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
    return parse_result(doc, node, path, run)


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


# <node>.<k>.json: run k of a node, k = 1, 2, ... written without leading zeros
# (nine digits at most: no name makes a number worth counting up to).
_RUN_STEM = re.compile(r"(.+)\.([1-9][0-9]{0,8})", re.DOTALL)


def _read_node_list(folder):
    """(names, failures) of the folder's node list; ([], []) without one."""
    listed = os.path.join(folder, NODE_LIST_FILE)
    if not os.path.isfile(listed):
        return [], []
    # Never through a link: every line of the list may reach the report.
    try:
        text = read_small_file(listed, follow_link=False).decode("utf-8", "surrogateescape")
    except OSError as e:
        reason = "a symbolic link" if e.errno == errno.ELOOP else e.strerror
        raise UsageError(f"cannot read {shown(listed)}: {reason}") from None
    except ResultFileError as e:
        raise UsageError(f"cannot read {shown(listed)}: {e}") from None
    nodes, failures = [], []
    for number, line in enumerate(text.split("\n"), 1):
        node = line.strip()
        if not node:
            continue
        why = _not_a_node_name(node)
        if why is None:
            nodes.append(node)
        elif node not in (f["node"] for f in failures):
            failures.append({"node": node, "run": None, "file": None,
                             "error": f"line {number} of {NODE_LIST_FILE} is not a node "
                                      f"name ({why}); nothing opened"})
    return nodes, failures


def _gaps(present, last):
    """The runs from 1 to last that are not in present, as (first, last) ranges:
    a folder's highest k may be large, a node's runs are few."""
    gaps, k = [], 1
    for run in sorted(present) + [last + 1]:
        if run > k:
            gaps.append((k, min(run, last + 1) - 1))
        k = max(k, run + 1)
    return gaps


def _runs_text(gaps):
    """'run 3', 'runs 3 to 9' or 'runs 2, 4 to 9' for ranges of run numbers."""
    parts = [str(a) if a == b else f"{a} to {b}" for a, b in gaps]
    single = len(gaps) == 1 and gaps[0][0] == gaps[0][1]
    return ("run " if single else "runs ") + ", ".join(parts)


def read_folder(folder):
    """(results, failures) of a job folder, one NodeResult per run read.

    A folder holds single runs, <node>.json, or repeated runs, <node>.<k>.json
    with k = 1 ... N, each run with its console log beside it (.log). It holds
    repeated runs when any result file's name (or, without result files, any
    log's) has that form and is not a node of the job's node list. Then N is the
    highest k in the folder, and every run of a node up to N that left no result
    file is a failure, as is a result file named otherwise (<node>.json,
    <node>.x.json). Failures are {node, run, file, error}: unusable files, and
    nodes or runs that left none (with a log, or named in the node list)."""
    try:
        names = os.listdir(folder)
    except OSError as e:
        raise UsageError(f"cannot read the folder {shown(folder)}: {e.strerror}") from None
    listed, failures = _read_node_list(folder)
    known = set(listed)

    def split(stem):
        match = None if stem in known else _RUN_STEM.fullmatch(stem)
        return (match[1], int(match[2])) if match else (stem, None)

    files, logs = [], []
    for name in sorted(names, key=natural_key):
        # Hidden files include the temporary files of a write in progress.
        if name.startswith("."):
            continue
        for suffix, into in ((".json", files), (".log", logs)):
            if name.endswith(suffix):
                into.append((name, split(name[:-len(suffix)])))
    repeated = any(run for _, (_, run) in files or logs)

    results = []
    done = {}  # node -> the runs that left a result file (used or not)
    for name, (node, run) in files:
        path = os.path.join(folder, name)
        if repeated and run is None:
            done.setdefault(node, set())
            failures.append({"node": node, "run": None, "file": path,
                             "error": "not a run's name in a folder of repeated runs "
                                      "(<node>.<k>.json, k = 1, 2, ...); not read"})
            continue
        done.setdefault(node, set()).add(run)
        try:
            results.append(read_result_file(path, node, run))
        except ResultFileError as e:
            failures.append({"node": node, "run": run, "file": path, "error": str(e)})

    last = max((run or 0 for _, (_, run) in files + logs), default=0)
    logged, bare = {}, set()
    for name, (node, run) in logs:
        if repeated and run is not None:
            logged.setdefault(node, set()).add(run)
        else:
            bare.add(node)
    for node in sorted(set(listed) | set(done) | set(logged) | bare, key=natural_key):
        if not repeated:
            if node not in done:
                failures.append({"node": node, "run": None, "file": None,
                                 "error": _no_result(folder, node, None)})
            continue
        present = done.get(node, set()) - {None}
        if node in done and not present and not logged.get(node):
            continue  # only a stray file, which says so itself
        if not present and not logged.get(node):
            failures.append({"node": node, "run": None, "file": None,
                             "error": _no_result(folder, node, None)})
            continue
        # Each run that left a log: its own line; the other missing runs: one line.
        for k in sorted(logged.get(node, set()) - present):
            failures.append({"node": node, "run": k, "file": None,
                             "error": _no_result(folder, f"{node}.{k}", k)})
        gaps = _gaps(present | logged.get(node, set()), last)
        if gaps:
            failures.append({"node": node, "run": gaps[0][0], "file": None,
                             "error": f"{_runs_text(gaps)}: no result file"})
    failures.sort(key=lambda f: (natural_key(f["node"]), f["run"] or 0))
    return results, failures


def _no_result(folder, stem, run):
    error = "no result file" if run is None else f"run {run}: no result file"
    last = _last_log_line(os.path.join(folder, stem + ".log"))
    if last:
        error += f"; its log ends with: {last}"
    return error
