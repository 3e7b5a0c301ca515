#!/usr/bin/env python3
"""Checks a result file against its schema and against the run that wrote it.

Usage: check_result.py <schema> <result file> <stdout file> <stderr file>
                       <exit code> <zelvo arguments>...

Besides the schema: "schema" is the first key, the exit code and the arguments
are the run's, the score equals the printed one at its printed precision, every table
row has its thread, an invalid result's reason is what standard error said, the
field memory is what the run asks for, every thread was pinned to a processor
the process was allowed to use, and every thread's progress (files of
"zelvo-result/2") follows its run.
"""
import json
import re
import sys


class Mismatch(Exception):
    """The file does not fit its schema or its run; the message says where."""


def fail(message):
    raise Mismatch(message)


def check_progress(result):
    """Each thread's trace: at most a point per hundredth of the duration and the
    loop's end, each point but the last past one more hundredth than the one
    before it, updates rising, and the last point the thread's own figures."""
    duration = result["run"]["options"]["duration_s"]
    for t in result["threads"]:
        points = t["progress"]
        where = f"thread {t['index']} progress"
        if len(points) > 101:
            fail(f"{where}: {len(points)} points, at most 101")
        if points[-1] != [t["seconds"], t["grid_updates"]]:
            fail(f"{where} ends at {points[-1]}, the thread at {[t['seconds'], t['grid_updates']]}")
        for i, (before, after) in enumerate(zip(points, points[1:])):
            if after[0] < before[0] or after[1] <= before[1]:
                fail(f"{where}: point {i + 1} {after} does not follow {before}")
        # The readings are whole microseconds, the thresholds whole timer counts.
        for i, (seconds, _) in enumerate(points[:-1]):
            if seconds < (i + 1) * duration / 100 - 2e-6:
                fail(f"{where}: point {i} at {seconds} s has not passed hundredth {i + 1} of {duration} s")


def check(schema, text, out, err, exit_code, args):
    """Mismatch when the result file's `text` does not fit the run that printed
    `out` and `err`, exited with `exit_code` and was given `args`."""
    import jsonschema
    pairs = json.loads(text, object_pairs_hook=lambda p: p)
    if not pairs or pairs[0][0] != "schema":
        fail("the first key is not \"schema\"")
    result = json.loads(text)
    errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(result), key=str)
    if errors:
        fail("schema violations:\n" + "\n".join(
            f"  {'/'.join(map(str, e.absolute_path))}: {e.message}" for e in errors))

    if result["schema"] != "zelvo-result/1":
        check_progress(result)

    verdict = result["result"]
    if verdict["exit_code"] != int(exit_code):
        fail(f"exit code {verdict['exit_code']} in the file, {exit_code} from the run")
    if result["run"]["command_line"][1:] != args:
        fail(f"command line {result['run']['command_line'][1:]} in the file, {args} given")

    # E and H of 32 bytes per cell over the grid and its halo, H starting 1 KiB
    # into its block; with large pages each block takes whole pages.
    run = result["run"]
    cells = (run["options"]["size"] + 2) ** 3
    blocks = [32 * cells, 32 * cells + 1024]
    page = result["machine"]["large_page_bytes"]
    if run["options"]["large_pages_requested"] and page:
        blocks = [-(-b // page) * page for b in blocks]
    if run["field_bytes_per_thread"] != sum(blocks):
        fail(f"field_bytes_per_thread {run['field_bytes_per_thread']}, the run asks for {sum(blocks)}")

    allowed = result["machine"]["allowed_processors"]
    if allowed is not None:
        for t in result["threads"]:
            if t["processor"] is not None and t["processor"] not in allowed:
                fail(f"thread {t['index']} recorded on processor {t['processor']}, allowed are {allowed}")

    printed = re.search(r"\nfinal score: ([0-9.e+]+) MGups\n", out)
    if verdict["valid"]:
        if not printed:
            fail("a valid result in the file, no score on the console")
        # Formatted as the console does: two decimals above 100, four significant
        # digits below (rounding the printed text again would round twice).
        score = verdict["score_mgups"]
        shown = f"{score:.2f}" if score > 100.0 else f"{score:.4g}"
        if shown != printed.group(1):
            fail(f"score {score} in the file, {printed.group(1)} printed")
        rows = re.findall(r"^ *([0-9]+) +[0-9]+ +[0-9.]+s +[0-9.]+ +[0-9]+$", out, re.MULTILINE)
        indices = [t["index"] for t in result["threads"]]
        if [int(r) for r in rows] != indices:
            fail(f"threads {indices} in the file, table rows {rows}")
        if len(indices) != result["run"]["options"]["threads"]:
            fail("a valid result without every thread")
        total = sum(t["mgups"] for t in result["threads"])
        if abs(total - verdict["score_mgups"]) > 1e-6 * max(1.0, total):
            fail(f"thread rates sum to {total}, the score is {verdict['score_mgups']}")
    else:
        if printed:
            fail("an invalid result in the file, a score on the console")
        for line in verdict["reason"].split("\n"):
            if line and line not in err:
                fail(f"reason line {line!r} was not printed on standard error")


def main():
    if len(sys.argv) < 6:
        print(__doc__)
        return 1
    schema_path, result_path, stdout_path, stderr_path, exit_code = sys.argv[1:6]
    try:
        import jsonschema  # noqa: F401
    except ImportError:
        print("python3-jsonschema is missing (scripts/deps.sh test installs it)")
        return 1
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(result_path, encoding="utf-8") as f:
        text = f.read()
    # Windows writes text mode; the streams were normalised before, the file never.
    with open(stdout_path, encoding="utf-8", errors="replace") as f:
        out = f.read().replace("\r\n", "\n")
    with open(stderr_path, encoding="utf-8", errors="replace") as f:
        err = f.read().replace("\r\n", "\n")
    try:
        check(schema, text, out, err, exit_code, sys.argv[6:])
    except Mismatch as e:
        print(e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
