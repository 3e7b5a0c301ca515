#!/usr/bin/env python3
"""The result checker against one real run's file and edited copies of it: it
must pass the file, its "zelvo-result/1" twin, and catch every kind of broken
progress trace.

Usage: check_result_test.py ZELVO SCHEMA [unittest options]
"""
import copy
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_result  # noqa: E402

ZELVO, SCHEMA = (sys.argv.pop(1), sys.argv.pop(1)) if __name__ == "__main__" else (None, None)
ARGS = ["-d", "1", "-s", "64", "-n", "1"]


class CheckResultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(SCHEMA, encoding="utf-8") as f:
            cls.schema = json.load(f)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "r.json")
            args = ["--json", path, *ARGS]
            run = subprocess.run([ZELVO, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                 timeout=60)
            with open(path, encoding="utf-8") as f:
                cls.doc = json.load(f)
        cls.printed = (run.stdout, run.stderr, str(run.returncode), args)

    def test_the_file_passes_and_broken_copies_do_not(self):
        thread = self.doc["threads"][0]
        s, u = thread["seconds"], thread["grid_updates"]
        self.assertGreater(s, 0.6)  # the traces below fit into a one-second run
        end, v2 = [s, u], "zelvo-result/2"
        cases = [  # (schema, thread 0's progress (None: no thread has one), what the checker says; None: passes)
            (self.doc["schema"], thread["progress"], None),  # the file as written
            # its earlier twin has no traces; a /2 file must carry them
            ("zelvo-result/1", None, None),
            (v2, None, "'progress' is a required property"),
            (v2, [[0.5, 1], end], None),
            (v2, [[0.01, 1], [0.6, 2], end], None),
            (v2, [[0.005, 1], end], "has not passed hundredth 1"),
            (v2, [[0.01, 1], [0.015, 2], end], "has not passed hundredth 2"),
            (v2, [[0.5, 1], [0.6, 1], end], "does not follow"),
            (v2, [[0.6, 2], [0.5, 3], end], "does not follow"),
            (v2, [[0.5, 1], [s, u - 1]], "ends at"),
            (v2, [[0.5, 1]], "ends at"),
            (v2, [[i / 100, i] for i in range(1, 102)] + [end], "is too long"),
        ]
        for schema, progress, said in cases:
            with self.subTest(schema=schema, progress=progress and progress[:3]):
                doc = copy.deepcopy(self.doc)
                doc["schema"] = schema
                if progress is None:
                    for t in doc["threads"]:
                        del t["progress"]
                else:
                    doc["threads"][0]["progress"] = progress
                try:
                    check_result.check(self.schema, json.dumps(doc), *self.printed)
                    verdict = None
                except check_result.Mismatch as e:
                    verdict = str(e)
                if said is None:
                    self.assertIsNone(verdict)
                else:
                    self.assertIn(said, verdict or "passed")


if __name__ == "__main__":
    unittest.main()
