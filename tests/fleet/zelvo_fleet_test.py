#!/usr/bin/python3
"""Tests of zelvo-fleet: the report over synthetic result files, and submit
against stand-ins for sbatch, srun and scontrol."""

import contextlib
import importlib.util
import io
import json
import math
import os
import re
import stat
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
FLEET = os.path.join(HERE, "..", "..", "fleet")
SCRIPT = os.path.join(FLEET, "zelvo-fleet")
PACKAGE = os.path.join(FLEET, "zelvo_fleet")
sys.path.insert(0, FLEET)
from zelvo_fleet import main as cli, slurm  # noqa: E402
from zelvo_fleet import results, stats  # noqa: E402
from zelvo_fleet.report import build_report  # noqa: E402
from zelvo_fleet.results import given_options, read_folder  # noqa: E402

EPYC = "AMD EPYC 7B13 64-Core Processor"
# A thread's rate per hundredth of a run, in updates per second.
STEADY = [25e6] * 100
WARM = [10e6] * 10 + [25e6] * 90
# 7.7 % slower over its last third than over its first, and its tenths vary by 3.6 %.
SLOPE = [25e6 - 3e6 * i / 99 for i in range(100)]
# Tenths alternating between two rates: unsteady, no trend.
WOBBLE = [25e6 if i // 10 % 2 == 0 else 20e6 for i in range(100)]
ANTI_WOBBLE = [45e6 - r for r in WOBBLE]
XEON = "Intel(R) Xeon(R) Platinum 8375C CPU @ 2.90GHz"


def progress(rates, seconds=1.0):
    """A thread's trace: its rate in updates per second over each equal part of
    the run, one point at the end of each part."""
    points, total = [], 0
    for i, r in enumerate(rates, 1):
        total += round(r * seconds / len(rates))
        points.append([seconds * i / len(rates), total])
    return points


def result(node, brand=EPYC, options=("-d", "1", "-s", "64"), threads=2, automatic=True,
           valid=True, score=50.0, reason=None, trace=None):
    """A result file as zelvo writes it, cut down to what the report reads; with
    a trace (a list of rates per thread, see progress), a zelvo-result/2 file."""
    threads_out = []
    for index, rates in enumerate(trace or []):
        points = progress(rates)
        threads_out.append({"index": index, "seconds": points[-1][0],
                            "grid_updates": points[-1][1], "progress": points})
    return {
        "schema": "zelvo-result/2" if trace else "zelvo-result/1",
        "zelvo": {"version": "1.2.0", "target_os": "linux"},
        "run": {"command_line": ["zelvo", "--json", f"/results/7/{node}.json", *options],
                "options": {"threads": threads, "threads_automatic": automatic, "duration_s": 1,
                            "size": int(options[options.index("-s") + 1]),
                            "workload": "standing_wave", "isa": "sse2", "threading": "os"}},
        "machine": {"host_name": "host", "cpu": {"brand": brand, "vendor": "AuthenticAMD"}},
        "threads": threads_out,
        "result": {"valid": valid, "reason": reason, "score_mgups": score,
                   "exit_code": 0 if valid else 1},
    }


def scratch_folder(test):
    folder = tempfile.TemporaryDirectory()
    test.addCleanup(folder.cleanup)
    return folder.name


class Folder:
    """A scratch job folder filled with result files."""

    def __init__(self, test):
        self.path = scratch_folder(test)

    def write(self, name, content):
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(os.path.join(self.path, name), mode) as f:
            f.write(content if isinstance(content, (str, bytes)) else json.dumps(content))


def skip_without_matplotlib(test):
    if importlib.util.find_spec("matplotlib") is None:
        test.skipTest("the plot needs matplotlib")


def assert_png(test, path):
    with open(path, "rb") as f:
        test.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


def refused(test, argv, message):
    """Runs argv, which must stop at once with exit code 2, print nothing and name
    message on standard error; returns standard error."""
    code, out, err = run_main(argv)
    test.assertEqual((code, out), (2, ""), argv)
    test.assertIn(message, err)
    return err


def run_main(argv):
    # Streams as a UTF-8 terminal has them: text that cannot be encoded raises.
    out, err = (io.TextIOWrapper(io.BytesIO(), encoding="utf-8") for _ in range(2))
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = cli.main(argv)
        except SystemExit as e:
            code = e.code
    out.flush()
    err.flush()
    return code, out.buffer.getvalue().decode(), err.buffer.getvalue().decode()


class ReportTest(unittest.TestCase):
    def fleet_with_faults(self):
        d = Folder(self)
        # Group 1 (EPYC, -d 1 -s 64): median of the valid scores 50, 49 and 46 is 49.
        d.write("node1.json", result("node1", score=50.0))
        # Either format of the result file reads.
        d.write("node2.json", {**result("node2", score=49.0), "schema": "zelvo-result/2"})
        # Fewer automatic threads (less memory): slower as configured, same group.
        d.write("node3.json", result("node3", threads=1, score=46.0))
        d.write("node4.json", result("node4", score=48.9, valid=False, reason="timer disagreement"))
        # Group 2: the same processor with other options is never compared with group 1.
        d.write("node10.json", result("node10", options=("-d", "1", "-s", "128"), score=20.0))
        d.write("node11.json", result("node11", options=("-d", "1", "-s", "128"), score=21.0))
        # Group 3: another processor with the options of group 1.
        d.write("node20.json", result("node20", brand=XEON, score=80.0))
        d.write("node5.json", '{"schema": "zelvo-result/1", "run": {"comm')
        d.write("node6.json", {"name": "some other tool", "score": 50})
        d.write("notes.txt", "not a result file")
        # A write in progress: hidden until renamed.
        d.write(".node8.json.4711.tmp", '{"schema": "zelvo-re')
        d.write(".node8.json", '{"schema": "zelvo-re')
        d.write("nodes.txt", "node1\nnode2\nnode3\nnode4\nnode5\nnode6\nnode7\n"
                             "node10\nnode11\nnode20\n")
        d.write("node7.log", "allocating fields....\nbenchmarking... 1/1s  12 MGups\r"
                             "field allocation failed\n")
        return d

    def test_groups_flags_and_summary(self):
        d = self.fleet_with_faults()
        code, out, err = run_main(["report", d.path])
        self.assertEqual(code, 1)
        self.assertEqual(err, "")
        report = build_report(*read_folder(d.path), 5.0)
        by_node = {n["node"]: (g["processor"], tuple(g["options"]), n["flag"])
                   for g in report["groups"] for n in g["nodes"]}
        s64, s128 = ("-d", "1", "-s", "64"), ("-d", "1", "-s", "128")
        self.assertEqual(by_node, {
            "node1": (EPYC, s64, None), "node2": (EPYC, s64, None),
            "node3": (EPYC, s64, "slow"), "node4": (EPYC, s64, "invalid"),
            "node10": (EPYC, s128, None), "node11": (EPYC, s128, None),
            "node20": (XEON, s64, None)})
        medians = [g["median_mgups"] for g in report["groups"]]
        self.assertEqual(medians, [49.0, 20.5, 80.0])
        failed = {f["node"]: f["error"] for f in report["failed"]}
        self.assertEqual(sorted(failed), ["node5", "node6", "node7"])
        self.assertIn("corrupt or partial JSON", failed["node5"])
        self.assertIn("not a zelvo result file", failed["node6"])
        self.assertEqual(failed["node7"],
                         "no result file; its log ends with: field allocation failed")
        self.assertEqual(report["summary"], {"nodes": 10, "groups": 3, "runs": 7, "passed": 5,
                                             "invalid": 1, "slow": 1, "unsteady": 0,
                                             "throttled": 0, "failed": 3, "flagged": 5,
                                             "runs_without_in_run_verdict": 6})
        # The text: one row per node, every failed node named, the summary last.
        for node in ("node1", "node2", "node3", "node4", "node10", "node11", "node20"):
            self.assertRegex(out, rf"\n  {node} +(AMD|Intel)")
        self.assertRegex(out, r"node3 +AMD EPYC .* +1 auto +sse2 .* 46\.00 +yes +-6\.1 % +SLOW")
        self.assertTrue(out.endswith(
            "10 nodes in 3 groups: 5 passed, 1 invalid, 1 slow (more than 5 % below their "
            "group's median), 3 failed (no usable result file); 5 flagged\n"), out)

        code, out, _ = run_main(["report", "--json", d.path])
        self.assertEqual((code, json.loads(out)["summary"]), (1, report["summary"]))

    def test_tolerance_edges(self):
        d = Folder(self)
        for node, score in (("a", 100.0), ("b", 100.0), ("c", 100.0), ("d", 95.0), ("e", 94.99)):
            d.write(f"{node}.json", result(node, score=score))
        # 5 % below the median of 100 is exactly 95: not flagged; 94.99 is.
        self.assertEqual(run_main(["report", d.path])[0], 1)
        report = build_report(*read_folder(d.path), 5.0)
        self.assertEqual([n["flag"] for n in report["groups"][0]["nodes"]],
                         [None, None, None, None, "slow"])
        code, out, _ = run_main(["report", "--tolerance", "5.01", d.path])
        self.assertEqual(code, 0)
        self.assertTrue(out.endswith("5 nodes in 1 group: 5 passed; none flagged\n"))
        # The help's "%" is a percent sign, not the escape of one.
        code, out, _ = run_main(["report", "--help"])
        self.assertEqual((code, "%%" in out), (0, False))
        for bad in ("-1", "100", "nan", "inf", "five"):
            refused(self, ["report", "--tolerance", bad, d.path], "not a percentage")

    def test_a_group_without_valid_node_has_no_median(self):
        d = Folder(self)
        d.write("a.json", result("a", valid=False, score=None, reason="not all threads produced "
                                                                      "a result"))
        code, out, _ = run_main(["report", d.path])
        self.assertEqual(code, 1)
        self.assertIn("median -", out)
        self.assertRegex(out, r"a +AMD .* - +no +- +INVALID: not all threads")

    def test_empty_and_missing_folders(self):
        d = Folder(self)
        code, out, err = run_main(["report", d.path])
        self.assertEqual(code, 1)
        self.assertTrue(out.endswith("0 nodes in 0 groups: 0 passed; no result files\n"))
        self.assertIn("no result files in", err)
        missing = os.path.join(d.path, "missing")
        self.assertTrue(refused(self, ["report", missing], "").startswith(
            f"zelvo-fleet: cannot read the folder {missing}: No such file"))

    def test_given_options(self):
        cases = [(["zelvo", "--json", "r.json", "-d", "1"], ("-d", "1")),
                 (["zelvo", "-d", "1", "--json=r.json"], ("-d", "1")),
                 (["/usr/bin/zelvo"], ()),
                 (["zelvo", "-s", "64", "--json"], ("-s", "64"))]
        for argv, expected in cases:
            self.assertEqual(given_options(argv), expected, argv)

    def test_plot(self):
        d = self.fleet_with_faults()
        bad_target = os.path.join(d.path, "no-such-folder", "fleet.png")
        # Without matplotlib: the package to install is named, nothing is read.
        with mock.patch.dict(sys.modules, {"matplotlib": None}):
            self.assertEqual(refused(self, ["report", "--plot", bad_target, d.path], ""),
                             "zelvo-fleet: --plot needs matplotlib: install the Debian package "
                             "python3-matplotlib\n")
        skip_without_matplotlib(self)
        png = os.path.join(d.path, "fleet.png")
        code, _, err = run_main(["report", "--plot", png, d.path])
        self.assertEqual((code, err), (1, ""))
        assert_png(self, png)
        # A plot that cannot be written is its own line; the verdict keeps its code.
        good = Folder(self)
        good.write("n1.json", result("n1"))
        for folder, verdict in ((d.path, 1), (good.path, 0)):
            code, out, err = run_main(["report", "--plot", bad_target, folder])
            self.assertEqual(code, verdict)
            self.assertIn(" none flagged\n" if verdict == 0 else " flagged\n", out)
            self.assertEqual(err, f"zelvo-fleet: cannot write the plot {bad_target}: "
                                  "No such file or directory\n")


def strict_json(text):
    def refuse(name):
        raise ValueError(f"{name} is not JSON")
    return json.loads(text, parse_constant=refuse)


def spoilt(*keys, value):
    """A good result file with one value replaced."""
    doc = result("x")
    leaf = doc
    for k in keys[:-1]:
        leaf = leaf[k]
    leaf[keys[-1]] = value
    return json.dumps(doc)


def spoilt_trace(**values):
    """A good zelvo-result/2 file with values of its first thread replaced."""
    doc = result("x", trace=[STEADY])
    thread = doc["threads"][0]
    for key, value in values.items():
        if value is None:
            del thread[key]
        else:
            thread[key] = value(thread[key]) if callable(value) else value
    return json.dumps(doc)


def edited(old, new):
    return json.dumps(result("x")).replace(old, new)


class HostileFolderTest(unittest.TestCase):
    """Whoever can write into a results folder: no file or name of theirs may stop
    the report, hide a node, reach outside the folder or drive the terminal."""

    def test_each_unusable_entry_is_one_failed_node(self):
        score, good = '"score_mgups": 50.0', "n1\nn2\nn3\n"
        # (what the result file of a fourth node, x, holds; its reason as shown)
        files = [
            ("", "empty file"),
            (b"\xff\xfe\x00garbage", "not UTF-8"),
            ("[1, 2]", "not a zelvo result file"),
            ('{"schema": "zelvo-result/3"}', 'schema "zelvo-result/3"'),
            ("[" * 100000 + "]" * 100000, "corrupt"),
            (spoilt("result", "score_mgups", value=None), "without a score"),
            (spoilt("run", "options", "threads", value="2"), "threads is"),
            (spoilt("result", "score_mgups", value=True), "score_mgups is"),
            (spoilt("run", "command_line", value=[]), "run.command_line is"),
            (spoilt("run", "options", value="x"), "no run.options.threads"),
            (edited(score, '"score_mgups": ' + "9" * 400),
             "not a zelvo result file (an integer of 400 digits)"),
            # Numbers in a field the report does not read.
            (edited('"threads": []', f'"threads": [{"7" * 5000}]'), "an integer of 5000 digits"),
            (edited('"duration_s": 1', '"duration_s": 1e400'), "a number out of range: 1e400"),
            (spoilt("machine", "cores", value=math.nan), "NaN is not a JSON"),
            (edited(score, '"score_mgups": 1.7e308'),
             "out of range: result.score_mgups is 1.7e+308"),
            (edited(score, '"score_mgups": -5'), "score_mgups is -5.0"),
            (spoilt("run", "options", "threads", value=0), "threads is 0"),
            (spoilt("run", "options", "size", value=100), "size is 100"),
            # The trace of a zelvo-result/2 file.
            (spoilt_trace(progress=None), "no threads[0].progress"),
            (spoilt_trace(progress=[]), "threads[0].progress is []"),
            (spoilt_trace(progress=lambda p: [[0.5, 1, 2]] + p),
             "threads[0].progress[0] is [0.5, 1, 2] (a pair [seconds, updates])"),
            (spoilt_trace(progress=lambda p: [[0.5, True]] + p),
             "threads[0].progress[0] is [0.5, true]"),
            (spoilt_trace(progress=lambda p: [[-0.5, 1]] + p),
             "out of range: threads[0].progress[0] is [-0.5, 1]"),
            (spoilt_trace(progress=lambda p: p[:1] + [[0.005, 10]] + p[1:]),
             "out of order: threads[0].progress[1] is [0.005, 10], after [0.01, 250000]"),
            (spoilt_trace(grid_updates=lambda u: u + 1),
             "inconsistent: threads[0].progress ends with [1.0, 25000000], the thread's seconds "
             "and grid_updates are [1.0, 25000001]"),
            (spoilt_trace(seconds=None), "no threads[0].seconds"),
            (json.dumps(result("x")) + " " * (results.MAX_FILE_BYTES + 1), "too large: "),
            (None, "not a regular file"),
        ]
        # (entries added to a folder of three good nodes, the failed node as shown, its reason)
        cases = [({"x.json": content}, "x", reason) for content, reason in files] + [
            ({"a1\u00b2.json": "{"}, "a1\u00b2", "corrupt or partial JSON"),
            # b1³ has a log only: two failed nodes to sort.
            ({"nodes.txt": good + "a1\u00b2\n", "b1\u00b3.log": ""}, "a1\u00b2", "no result file"),
            ({b"n\xff.json": "{"}, "n\\xff", "corrupt or partial JSON"),
            ({"nodes.txt": good + "../outside\n"}, "../outside",
             "line 4 of nodes.txt is not a node name (a path); nothing opened"),
            ({"nodes.txt": good + "{outside}\n"}, "{outside}", "not a node name (a path)"),
            ({"nodes.txt": good + "..\n"}, "..", "not a node name (a folder)"),
            ({"nodes.txt": good + "n\0x\n"}, "n\\x00x", "not a node name (it holds a NUL)"),
        ]
        parent = scratch_folder(self)
        outside = os.path.join(parent, "outside")
        with open(outside + ".log", "w") as f:
            f.write("a line from outside the folder\n")
        for entries, node, reason in cases:
            with self.subTest(reason=reason):
                folder = tempfile.mkdtemp(dir=parent)
                for name, content in [(f"n{i}.json", json.dumps(result(f"n{i}")))
                                      for i in (1, 2, 3)] + list(entries.items()):
                    path = os.path.join(os.fsencode(folder), os.fsencode(name))
                    if content is None:
                        os.mkfifo(path)
                        continue
                    with open(path, "wb") as f:
                        f.write(content if isinstance(content, bytes)
                                else content.replace("{outside}", outside).encode())
                node = node.replace("{outside}", outside)
                code, out, err = run_main(["report", folder])
                self.assertEqual((code, err), (1, ""))
                self.assertRegex(out, r"n1 .* yes.*\n  n2 .* yes.*\n  n3 .* yes")
                self.assertRegex(out, rf"\n  {re.escape(node)} +\S+ +.*{re.escape(reason)}")
                self.assertNotIn("outside the folder", out)
                failed = len(entries)  # each entry makes one failed node
                self.assertTrue(out.endswith(f"{3 + failed} nodes in 1 group: 3 passed, {failed} "
                                             "failed (no usable result file); "
                                             f"{failed} flagged\n"), out)
                code, out, err = run_main(["report", "--json", folder])
                self.assertEqual((code, err), (1, ""))
                self.assertIn(reason, strict_json(out)["failed"][0]["error"])
        # A node list that is a link would print another file's lines.
        d = Folder(self)
        d.write("n1.json", result("n1"))
        os.symlink(os.path.join(d.path, "n1.json"), os.path.join(d.path, "nodes.txt"))
        self.assertEqual(run_main(["report", d.path]), (2, "", f"zelvo-fleet: cannot read "
                                                         f"{d.path}/nodes.txt: a symbolic link\n"))

    def test_text_from_the_folder_is_shown_escaped(self):
        d = Folder(self)
        # Sets the terminal's title, colours the report, turns the text around; the
        # dollars would be matplotlib's math and fail the plot.
        brand = "\x1b]0;pwned\x07\x1b[31mRED \u202eevil $\\x$"
        d.write("n1.json", result("n1", brand=brand))
        d.write("n2.json", result("n2", brand=brand, valid=False, score=None,
                                  reason="bad\x1b[2J\nsecond line\n"))
        d.write("n3\x1b[1m.json", "{")
        d.write("n4.log", "boom\x1b]0;x\x07\n")
        d.write("nodes.txt", "n1\nn2\nn5\u202e\n")
        code, out, err = run_main(["report", d.path])
        self.assertEqual((code, err), (1, ""))
        self.assertTrue(out.replace("\n", "").isprintable(), ascii(out))
        shown_brand = "\\x1b]0;pwned\\x07\\x1b[31mRED \\u202eevil $\\x$"
        for text in (f"group 1: {shown_brand}, zelvo", f"n1    {shown_brand}",
                     "INVALID: bad\\x1b[2J / second line\n", "n3\\x1b[1m.json",
                     "its log ends with: boom\\x1b]0;x\\x07", "\n  n5\\u202e "):
            self.assertIn(text, out)
        # JSON keeps the data as it was and escapes it itself.
        code, out, _ = run_main(["report", "--json", d.path])
        self.assertTrue(out.isascii())
        self.assertEqual(strict_json(out)["groups"][0]["processor"], brand)
        refused(self, ["report", os.path.join(d.path, "gone\x1b[31m")],
                "gone\\x1b[31m: No such file")
        skip_without_matplotlib(self)
        from matplotlib.figure import Figure
        figures, save = [], Figure.savefig
        with mock.patch.object(Figure, "savefig", lambda fig, *a: figures.append(fig) or
                               save(fig, *a)):
            code, _, err = run_main(["report", "--plot", os.path.join(d.path, "f.png"), d.path])
        self.assertEqual((code, err), (1, ""))
        labels = [line for ax in figures[0].axes
                  for text in [ax.get_title(), *(t.get_text() for t in ax.get_xticklabels())]
                  for line in text.split("\n")]
        self.assertIn(shown_brand, labels)
        self.assertTrue(all(label.isprintable() for label in labels), labels)

    def test_json_is_strict_when_a_ratio_overflows(self):
        d = Folder(self)
        # A median of denormals: the third node's deviation is beyond any float.
        for node, score in (("a", 5e-324), ("b", 5e-324), ("c", 1e12)):
            d.write(f"{node}.json", result(node, score=score))
        code, out, err = run_main(["report", "--json", d.path])
        self.assertEqual((code, err), (0, ""))
        nodes = strict_json(out)["groups"][0]["nodes"]
        self.assertEqual([n["deviation_pct"] for n in nodes], [0.0, 0.0, None])


def trace_of(*threads):
    return tuple((i, tuple((float(s), u) for s, u in progress(rates)))
                 for i, rates in enumerate(threads))


class StatisticsTest(unittest.TestCase):
    def test_steadiness_of_hand_made_traces(self):
        # (case, trace, CV %, last third against first %, why no verdict)
        cases = [
            ("steady", trace_of(STEADY, STEADY), 0.0, 0.0, None),
            ("a slow first tenth is warm-up", trace_of(WARM, STEADY), 0.0, 0.0, None),
            ("throttling", trace_of(SLOPE, SLOPE), 3.6, -7.7, None),
            ("one thread wobbles", trace_of(WOBBLE, STEADY), 5.6, -0.3, None),
            ("threads out of step add up to a steady run", trace_of(WOBBLE, ANTI_WOBBLE),
             0.0, 0.0, None),
            ("too few points", trace_of([25e6] * 19, [25e6] * 100), None, None,
             "a thread's trace has fewer than 20 points"),
            ("no progress after the warm-up", trace_of([25e6] * 10 + [0] * 90), None, None,
             "the run made no progress after its warm-up"),
            ("no thread", (), None, None, "no thread finished"),
            ("a zelvo-result/1 file", None, None, None, "the file has no trace (zelvo-result/1)"),
        ]
        for case, trace, cv, change, why in cases:
            with self.subTest(case):
                steady = stats.steadiness(trace)
                percents = [None if v is None else round(v * 100, 1)
                            for v in (steady.cv, steady.change)]
                self.assertEqual([steady.no_verdict, *percents], [why, cv, change])

    def test_spread_and_bootstrap(self):
        self.assertEqual([stats.spread(s) for s in ([100.0], [90.0, 100.0, 110.0], [0.0, 0.0])],
                         [None, 0.2, None])
        base, new = [100.0, 101.0, 99.0, 100.5], [95.0, 96.0, 94.5, 95.5]
        low, high = stats.bootstrap_ratio(base, new)
        self.assertTrue(low < 0.955 < high < 1, (low, high))
        # The seed is fixed and the order of the runs does not matter.
        self.assertEqual(stats.bootstrap_ratio(base[::-1], new[::-1]), (low, high))
        self.assertEqual(stats.bootstrap_ratio([50.0, 50.0], [50.0, 50.0]), (1.0, 1.0))


class RepeatedRunsTest(unittest.TestCase):
    def repeated_fleet(self):
        d = Folder(self)

        def runs(node, scores, traces=(), schema2=True):
            for k, score in enumerate(scores, 1):
                trace = dict(traces).get(k, [STEADY, STEADY]) if schema2 else None
                d.write(f"{node}.{k}.json", result(node, score=score, trace=trace))
        runs("n1", [100.0, 101.0, 99.0])
        runs("n2", [100.0, 100.5, 99.5])
        runs("n3", [101.0, 100.0, 102.0])
        # Slow beyond its noise: 9.5 % below the group, its runs within 1.1 %.
        runs("slow", [90.0, 91.0, 90.5])
        # Noisy but not slow: its median is the group's, its runs 16 % apart.
        runs("noisy", [92.0, 100.0, 108.0])
        runs("throttle", [100.0, 100.0, 100.0], traces={2: [SLOPE, SLOPE]})
        runs("wobble", [100.0, 100.0, 100.0], traces={3: [WOBBLE, STEADY]})
        # Run 2 missing, with its log.
        d.write("gap.1.json", result("gap", score=100.0, trace=[STEADY]))
        d.write("gap.2.log", "allocating fields....\nfield allocation failed\n")
        d.write("gap.3.json", result("gap", score=100.0, trace=[STEADY]))
        runs("old", [100.0, 100.0, 100.0], schema2=False)
        # Stray names: no run of this layout.
        d.write("lone.json", result("lone"))
        d.write("n1.01.json", result("n1"))
        d.write("nodes.txt", "n1\nn2\nn3\nslow\nnoisy\nthrottle\nwobble\ngap\nold\nabsent\n")
        return d

    def test_each_node_judged_by_its_runs(self):
        d = self.repeated_fleet()
        code, out, err = run_main(["report", d.path])
        self.assertEqual((code, err), (1, ""))
        report = build_report(*read_folder(d.path), 5.0)
        group, = report["groups"]
        self.assertEqual(group["median_mgups"], 100.0)
        self.assertEqual({n["node"]: n["flags"] for n in group["nodes"]}, {
            "n1": [], "n2": [], "n3": [], "slow": ["slow"], "noisy": ["unsteady"],
            "throttle": ["throttled"], "wobble": ["unsteady"], "gap": ["invalid"], "old": []})
        stray = ("not a run's name in a folder of repeated runs (<node>.<k>.json, k = 1, 2, ...); "
                 "not read")
        self.assertEqual({f["node"]: f["error"] for f in report["failed"]},
                         {"absent": "no result file", "lone": stray, "n1.01": stray})
        self.assertEqual(report["summary"], {
            "nodes": 12, "groups": 1, "runs": 26, "passed": 4, "invalid": 1, "slow": 1,
            "unsteady": 2, "throttled": 1, "failed": 3, "flagged": 8,
            "runs_without_in_run_verdict": 3})
        for row in [r"slow +AMD .* 2 auto +sse2 +standing_wave +64 +3 +90\.50 +90\.00-91\.00 "
                    r"+1\.1 % +yes +-9\.5 % +SLOW\n",
                    r"noisy +.* 3 +100\.00 +92\.00-108\.00 +16\.0 % +yes +\+0\.0 % +UNSTEADY\n",
                    r"throttle +.* 100\.00-100\.00 +0\.0 % +yes +\+0\.0 % +THROTTLED: run 2 ends "
                    r"7\.7 % slower\n",
                    r"wobble +.* yes +\+0\.0 % +UNSTEADY: run 3 varies 5\.6 %\n",
                    r"gap +.* 2 +100\.00 .* no +\+0\.0 % +INVALID: run 2: no result file; its "
                    r"log ends with: field allocation failed\n"]:
            self.assertRegex(out, row)
        self.assertIn("\nno in-run verdict for 3 runs: the file has no trace (zelvo-result/1)\n",
                      out)
        self.assertTrue(out.endswith(
            "12 nodes in 1 group: 4 passed, 1 invalid, 1 slow (more than 5 % below their group's "
            "median), 2 unsteady (a spread or an in-run variation above 5 %), 1 throttled (a "
            "run's last third more than 5 % below its first), 3 failed (no usable result file); "
            "8 flagged\n"), out)
        # Looser gates pass the noisy and the throttling node; JSON says the same.
        code, out, _ = run_main(["report", "--json", "--spread", "20", "--throttle", "10", d.path])
        self.assertEqual(code, 1)
        summary = strict_json(out)["summary"]
        self.assertEqual((summary["unsteady"], summary["throttled"]), (0, 0))

    def test_single_runs_of_both_schemas(self):
        d = Folder(self)
        for i in (1, 2, 3):
            d.write(f"s{i}.json", result(f"s{i}", trace=[STEADY, STEADY]))
        d.write("s4.json", result("s4", trace=[SLOPE, SLOPE]))
        d.write("s5.json", result("s5"))
        code, out, err = run_main(["report", d.path])
        self.assertEqual((code, err), (1, ""))
        # The table of single runs: one score a node, as without traces.
        self.assertRegex(out, r"\n  node +processor +threads +isa +workload +size +score +valid "
                              r"+deviation +flag\n")
        self.assertRegex(out, r"s4 +AMD .* 50\.00 +yes +\+0\.0 % +THROTTLED: ends 7\.7 % slower\n")
        self.assertIn("\nno in-run verdict for 1 run: the file has no trace (zelvo-result/1)\n"
                      "5 nodes in 1 group: 4 passed, 1 throttled", out)


class CompareTest(unittest.TestCase):
    def side(self, scores, brand=EPYC, options=("-d", "1", "-s", "64"), valid=True):
        d = Folder(self)
        for k, score in enumerate(scores, 1):
            d.write(f"node1.{k}.json", result("node1", brand=brand, options=options,
                                              score=score, valid=valid, reason=None if valid
                                              else "timer disagreement"))
        return d.path

    def test_verdicts_and_gate(self):
        base = self.side([100.0, 101.0, 99.0, 100.5, 99.5])
        # (case, NEW's scores, --fail-below, verdict, exit code)
        cases = [
            ("slower", [95.0, 96.0, 94.0, 95.5, 94.5], None, "slower", 0),
            ("slower beyond the gate", [95.0, 96.0, 94.0, 95.5, 94.5], "3", "slower", 1),
            ("slower, within the gate", [95.0, 96.0, 94.0, 95.5, 94.5], "10", "slower", 0),
            ("the same within the noise", [100.5, 99.0, 101.5, 98.5], "3",
             "no significant difference", 0),
            ("a lower median in the noise", [92.0, 99.0, 108.0, 96.0], "1",
             "no significant difference", 0),
            ("faster", [110.0, 111.0, 109.0], "3", "faster", 0),
        ]
        for case, scores, fail_below, verdict, code in cases:
            with self.subTest(case):
                argv = ["compare", base, self.side(scores)]
                argv += ["--fail-below", fail_below] if fail_below else []
                got, out, err = run_main(argv)
                self.assertEqual((got, err), (code, ""))
                self.assertIn(f"\nverdict: {verdict}\n", out)
                self.assertEqual(run_main(argv)[1], out)
                data = strict_json(run_main(argv + ["--json"])[1])
                self.assertEqual(data["verdict"], verdict)
                low, high = data["interval"]
                self.assertTrue(low <= data["ratio"] <= high)

    def test_one_run_and_the_printed_lines(self):
        new = self.side([96.0, 97.0, 95.0])
        one = os.path.join(self.side([100.0]), "node1.1.json")
        code, out, err = run_main(["compare", one, new, "--fail-below", "3"])
        self.assertEqual((code, err), (1, ""))
        self.assertEqual(out.split("\n")[1:], [
            "        runs  median        min-max  from",
            f"  base     1  100.00  100.00-100.00  {one}",
            f"  new      3   96.00    95.00-97.00  {new}",
            "new / base: 0.960 (-4.0 %); one run on a side gives no interval: the ratio is "
            "compared with 3 %",
            "verdict: slower",
            "gate failed: new is more than 3 % slower (one run on a side: the ratio itself)", ""])
        # Against the default 5 %: within.
        code, out, _ = run_main(["compare", one, new])
        self.assertEqual(code, 0)
        self.assertIn("verdict: no significant difference\n", out)

    def test_what_cannot_be_compared(self):
        base = self.side([100.0, 101.0])
        cases = [
            (self.side([100.0], brand=XEON),
             f'BASE and NEW differ in processor: "{EPYC}" and "{XEON}"'),
            (self.side([100.0], options=("-d", "1", "-s", "128")),
             'BASE and NEW differ in zelvo options: "-d 1 -s 64" and "-d 1 -s 128"'),
            (self.side([None], valid=False), "node1.1.json is an invalid run (timer "
                                             "disagreement); compare takes valid runs only"),
            (os.path.join(base, "missing.json"), "missing.json: cannot read: No such file"),
            (scratch_folder(self), "no result files"),
            # A ratio beyond any float, as BASE and NEW swapped.
            (self.side([5e-324, 100.0]), "BASE has a score too close to 0 to divide by"),
        ]
        for new, message in cases:
            with self.subTest(message):
                sides = (new, base) if "BASE has" in message else (base, new)
                self.assertEqual(refused(self, ["compare", *sides], message).count("\n"), 1)


class TraceTest(unittest.TestCase):
    def test_trace_verdicts(self):
        d = Folder(self)
        d.write("throttled.json", result("t", trace=[SLOPE, SLOPE]))
        d.write("steady.json", result("s", trace=[WARM, STEADY]))
        d.write("old.json", result("o"))
        path = os.path.join(d.path, "throttled.json")
        code, out, err = run_main(["trace", path])
        self.assertEqual((code, err), (1, ""))
        lines = out.split("\n")
        self.assertEqual(lines[2].split(), ["thread", *map(str, range(1, 11))])
        self.assertEqual(lines[3].split()[:3], ["0", "24.86", "24.56"])
        self.assertEqual(lines[5].split()[:2], ["sum", "49.73"])
        self.assertEqual(lines[6:], [
            "in-run variation: 3.6 % (coefficient of variation of tenths 2 to 10; unsteady "
            "above 5 %)",
            "last third against first: -7.7 % (the rate over the last third against 1/10 to "
            "1/3 of the run; throttled below -5 %)",
            "verdict: THROTTLED", ""])
        self.assertEqual(run_main(["trace", "--throttle", "8", path])[0], 0)
        for name, verdict in (("steady.json", "verdict: steady\n"),
                              ("old.json", "verdict: no in-run verdict: the file has no trace "
                                           "(zelvo-result/1)\n")):
            code, out, _ = run_main(["trace", os.path.join(d.path, name)])
            self.assertEqual(code, 0)
            self.assertTrue(out.endswith(verdict), out)
        self.assertEqual(strict_json(run_main(["trace", "--json", path])[1])["flags"],
                         ["throttled"])
        refused(self, ["trace", os.path.join(d.path, "none.json")],
                "none.json: cannot read: No such file")
        skip_without_matplotlib(self)
        png = os.path.join(d.path, "t.png")
        self.assertEqual(run_main(["trace", "--plot", png, path])[0], 1)
        assert_png(self, png)
        code, _, err = run_main(["trace", "--plot", png, os.path.join(d.path, "old.json")])
        self.assertEqual((code, err), (0, f"zelvo-fleet: cannot draw the plot {png}: the file "
                                          "has no trace to draw\n"))


def _write_program(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


class SubmitTest(unittest.TestCase):
    """submit against stand-ins: sbatch keeps its arguments and script, srun runs
    the task once per node of a two-node job, and a stand-in zelvo writes a result
    file from its own command line."""

    def setUp(self):
        self.bin = scratch_folder(self)
        self.out = scratch_folder(self)
        _write_program(self.bin, "sbatch", f"""#!/bin/sh
printf '%s\\n' "$@" >"{self.bin}/sbatch.args"
cat >"{self.bin}/job.sh"
echo "${{SBATCH_ANSWER-4242}}"
exit "${{SBATCH_EXIT:-0}}"
""")
        _write_program(self.bin, "srun", """#!/bin/sh
while [ "${1#--}" != "$1" ]; do shift; done
for node in node1 node2; do SLURMD_NODENAME=$node "$@" || exit 1; done
""")
        # Hostnames for the job script; for --wait, the job runs at the first look
        # and then ends in $JOB_END (a job the controller forgot when empty).
        _write_program(self.bin, "scontrol", f"""#!/bin/sh
case "$2" in
  hostnames) printf 'node1\\nnode2\\n' ;;
  job)
    echo "$*" >>"{self.bin}/scontrol.args"
    if [ ! -f "{self.bin}/ran" ]; then touch "{self.bin}/ran"; echo "JobId=$4 JobState=RUNNING"
    elif [ -n "${{JOB_END-COMPLETED}}" ]; then echo "JobId=$4 JobState=${{JOB_END-COMPLETED}}"
    else echo "slurm_load_jobs error: Invalid job id specified" >&2; exit 1
    fi ;;
esac
""")
        self.enterContext(mock.patch.object(slurm, "WAIT_FIRST_POLL_S", 0.01))
        self.zelvo = _write_program(self.bin, "zelvo", f"""#!{sys.executable}
import json, os, sys
sys.path.insert(0, {HERE!r})
from zelvo_fleet_test import result
assert sys.argv[1] == "--json" and sys.stdin.read() == ""
node = os.environ["SLURMD_NODENAME"]
doc = result(node)
doc["run"]["command_line"] = sys.argv
json.dump(doc, open(sys.argv[2], "w"))
print("final score: 50.00 MGups")
""")
        self.enterContext(mock.patch.dict(os.environ,
                                          {"PATH": self.bin + os.pathsep + os.environ["PATH"]}))

    def test_submit_runs_one_task_per_node_and_the_report_reads_it(self):
        options = ["-d", "1", "-s", "64", "--threading", "it's os"]
        code, out, err = run_main(["submit", "--nodes", "2", "--partition", "batch", "--out",
                                   self.out, "--zelvo", self.zelvo, "--", *options])
        self.assertEqual((code, err), (0, ""))
        folder = os.path.join(self.out, "4242")
        self.assertEqual(out, f"job 4242\nfolder {folder}\n")
        with open(os.path.join(self.bin, "sbatch.args")) as f:
            self.assertEqual(f.read().split("\n")[:-1], [
                "--parsable", "--job-name=zelvo-fleet", "--exclusive", "--ntasks-per-node=1",
                f"--output={self.out}/slurm-%j.out", "--nodes=2", "--partition=batch"])
        subprocess.run(["sh", os.path.join(self.bin, "job.sh")], check=True,
                       env=dict(os.environ, SLURM_JOB_ID="4242", SLURM_JOB_NODELIST="node[1-2]"),
                       stdout=subprocess.DEVNULL)
        self.assertEqual(sorted(os.listdir(folder)),
                         ["node1.json", "node1.log", "node2.json", "node2.log", "nodes.txt"])
        with open(os.path.join(folder, "node2.log")) as f:
            self.assertEqual(f.read(), "final score: 50.00 MGups\n")
        report = build_report(*read_folder(folder), 5.0)
        self.assertTrue(report["pass"])
        self.assertEqual([g["options"] for g in report["groups"]], [options])

    def test_submit_fails_cleanly(self):
        cases = [
            ({"SBATCH_ANSWER": "", "SBATCH_EXIT": "1"}, [], "sbatch failed (exit code 1)"),
            ({"SBATCH_ANSWER": "4242", "SBATCH_EXIT": "1"}, [], "sbatch failed (exit code 1)"),
            ({"PATH": os.path.join(self.bin, "empty")}, [], "sbatch not found"),
            ({}, ["--", "-d", "1", "--json=x.json"], "leave --json out of the zelvo options"),
            ({}, ["--nodes", "0"], "not a positive whole number: '0'"),
            ({}, ["--repeat", "1001"], "not a whole number from 1 to 1000: '1001'"),
            ({}, ["--nodes", "2", "--nodelist", "a"], "not allowed with argument"),
        ]
        for env, extra, message in cases:
            with self.subTest(message=message), mock.patch.dict(os.environ, env):
                refused(self, ["submit", "--out", self.out, "--zelvo", self.zelvo, *extra], message)

if __name__ == "__main__":
    unittest.main()
