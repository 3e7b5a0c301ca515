#!/usr/bin/python3
"""Tests of zelvo-fleet run: repeated runs on this machine into a folder of their
own, against a stand-in zelvo for the runs that go wrong and, given the path of
a built zelvo as the argument, with the real program (every result file checked
against the result schema)."""

import datetime
import json
import os
import signal
import subprocess
import sys
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from zelvo_fleet_test import SCRIPT, _write_program, run_main, scratch_folder  # noqa: E402
from zelvo_fleet_slurm_test import deadline  # noqa: E402
from zelvo_fleet import local  # noqa: E402

SCHEMA = os.path.join(HERE, "..", "..", "packaging", "zelvo-result.schema.json")
# The built zelvo, when the command line names it.
ZELVO = None
if __name__ == "__main__" and len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
    ZELVO = os.path.abspath(sys.argv.pop(1))
NODE = local.this_node()


def fleet(*args, timeout=120):
    """zelvo-fleet as a user runs it."""
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                          timeout=timeout)


class StandInRunTest(unittest.TestCase):
    def test_runs_and_the_runs_that_go_wrong(self):
        bin_dir = scratch_folder(self)
        # Writes its result file except on the runs listed in $NO_RESULT (on
        # those in $EARLY before all else); on the run in $INTERRUPT it plays
        # Ctrl-C and then runs on until stopped.
        zelvo = _write_program(bin_dir, "zelvo", """#!/bin/sh
run=$(basename "$2" .json); run=${run##*.}
echo "zelvo $*"
case " $EARLY " in *" $run "*) echo '{}' >"$2" ;; esac
case " $INTERRUPT " in *" $run "*) kill -INT "$PPID"; exec sleep 60 ;; esac
case " $TERMINATE " in *" $run "*) kill -TERM "$PPID"; exec sleep 60 ;; esac
case " $NO_RESULT " in *" $run "*) echo "field allocation failed"; exit 1 ;; esac
read -r line && exit 3
echo '{}' >"$2"
""")
        not_executable = os.path.join(bin_dir, "plain")
        open(not_executable, "w").close()
        done = "done: zelvo-fleet report {folder}\n"

        def names(*runs):
            return [f"{NODE}.{run}" for run in runs]

        def ok(*runs, of=3):
            return "".join(f"run {k} of {of}: exit code 0\n" for k in runs)

        # (arguments, environment, exit code, standard output after the folder
        # line, standard error, the folder's files)
        cases = [
            (["--repeat", "3"], {}, 0, ok(1, 2, 3) + "3 of 3 runs left a result file\n" + done,
             "", names("1.json", "1.log", "2.json", "2.log", "3.json", "3.log")),
            # Without --repeat one run, named as a job's single run; with it even once numbered.
            *[(args, {}, 0, ok(1, of=1) + "1 of 1 run left a result file\n" + done, "", files)
              for args, files in [([], names("json", "log")),
                                  (["--repeat", "1"], names("1.json", "1.log"))]],
            # A run that leaves no file: the others still run, and the count says which.
            (["--repeat", "3"], {"NO_RESULT": "2"}, 1, ok(1, 3) + done,
             "zelvo-fleet: run 2 of 3: exit code 1, no result file; see its log "
             f"{{folder}}/{NODE}.2.log\n"
             "zelvo-fleet: 2 of 3 runs left a result file; none from run 2\n",
             names("1.json", "1.log", "2.log", "3.json", "3.log")),
            # Ctrl-C, or a TERM the same way, stops the run in progress (no zelvo
            # is left running) and says what has finished.
            *[(["--repeat", "3"], {stop: "2"}, 130, ok(1),
               "zelvo-fleet: interrupted: run 2 of 3 stopped; run 1 finished and left a "
               "result file\n", names("1.json", "1.log", "2.log"))
              for stop in ("INTERRUPT", "TERMINATE")],
            (["--repeat", "3"], {"INTERRUPT": "2", "EARLY": "2"}, 130, ok(1),
             "zelvo-fleet: interrupted: run 2 of 3 stopped (it left a result file); run 1 "
             "finished and left a result file\n", names("1.json", "1.log", "2.json", "2.log")),
            (["--repeat", "3"], {"INTERRUPT": "1"}, 130, "",
             "zelvo-fleet: interrupted: run 1 of 3 stopped; no run finished\n", names("1.log")),
            (["--repeat", "3"], {"INTERRUPT": "3", "NO_RESULT": "1"}, 130, ok(2),
             "zelvo-fleet: run 1 of 3: exit code 1, no result file; see its log "
             f"{{folder}}/{NODE}.1.log\n"
             "zelvo-fleet: interrupted: run 3 of 3 stopped; runs 1 to 2 finished, 1 of them "
             "with a result file\n", names("1.log", "2.json", "2.log", "3.log")),
        ]
        # Usage errors: nothing runs, no folder is made.
        usage = [
            (["--repeat", bad], "not a whole number from 1 to 1000: " + repr(bad))
            for bad in ("0", "1001", "-1", "²", "2.0", "three", "", "1" * 5000)
        ] + [
            (["--", "-d", "1", "--json", "x.json"], "leave --json out of the zelvo options"),
            (["--zelvo", "no-such-zelvo"], "no-such-zelvo not found on the PATH"),
            (["--zelvo", not_executable], f"cannot run {not_executable}: not an executable"),
        ]
        for args, env, code, out_end, err, files in cases:
            with self.subTest(args=args, env=env), mock.patch.dict(os.environ, env):
                out_root = scratch_folder(self)
                with deadline(30):
                    got = run_main(["run", "--out", out_root, "--zelvo", zelvo, *args,
                                    "--", "-d", "1"])
                [name] = os.listdir(out_root)
                folder = os.path.join(out_root, name)
                self.assertRegex(name, r"^local-[0-9]{8}-[0-9]{6}$")
                self.assertEqual(got, (code, f"folder {folder}\n" + out_end.format(folder=folder),
                                       err.format(folder=folder)))
                self.assertEqual(sorted(os.listdir(folder)), sorted(files + ["nodes.txt"]))
                with open(os.path.join(folder, "nodes.txt")) as f:
                    self.assertEqual(f.read(), NODE + "\n")
                first = next(name for name in files if name.endswith(".log"))[:-len(".log")]
                with open(os.path.join(folder, first + ".log")) as f:
                    # The run's own result file and options; stdin at its end (read fails).
                    self.assertEqual(f.readline(), f"zelvo --json {folder}/{first}.json -d 1\n")
        for args, message in usage:
            with self.subTest(args=args):
                out_root = scratch_folder(self)
                code, out, err = run_main(["run", "--out", out_root, "--zelvo", zelvo, *args])
                self.assertEqual((code, out, os.listdir(out_root)), (2, "", []))
                # One line of its own (argparse puts the usage before its errors).
                self.assertIn(message, err.splitlines()[-1])

    def test_ctrl_c_while_a_zelvo_starts_stops_that_zelvo(self):
        # The signal comes the moment the zelvo exists, before the tool holds it:
        # once it left the zelvo running and said "stopped before run 1".
        zelvo = _write_program(scratch_folder(self), "zelvo", "#!/bin/sh\nexec sleep 60\n")
        started = []
        real_popen = subprocess.Popen

        def popen_then_ctrl_c(*args, **kwargs):
            started.append(real_popen(*args, **kwargs))
            os.kill(os.getpid(), signal.SIGINT)
            return started[-1]

        out_root = scratch_folder(self)
        with mock.patch.object(local.subprocess, "Popen", popen_then_ctrl_c):
            code, _, err = run_main(["run", "--repeat", "3", "--out", out_root, "--zelvo", zelvo,
                                     "--", "-d", "1"])
        [child] = started
        self.addCleanup(child.kill)
        self.assertEqual((code, err), (130, "zelvo-fleet: interrupted: run 1 of 3 stopped; "
                                            "no run finished\n"))
        self.assertIsNotNone(child.poll(), "the zelvo is still running")

    def test_a_new_folder_never_reuses_an_earlier_one(self):
        out_root = scratch_folder(self)
        now = datetime.datetime(2026, 12, 10, 11, 45, 7, tzinfo=datetime.timezone.utc)
        stem = os.path.join(out_root, "local-20261210-114507")
        # Taken by a file, an earlier folder or a link: each is passed over.
        open(stem, "w").close()
        os.symlink(out_root, stem + "-3")
        made = [local.new_folder(out_root, now) for _ in range(3)]
        self.assertEqual(made, [stem + "-2", stem + "-4", stem + "-5"])
        blocked = os.path.join(out_root, "file")
        open(blocked, "w").close()
        with self.assertRaisesRegex(local.UsageError, "cannot create a folder in .*: it is no "
                                                      "folder"):
            local.new_folder(blocked, now)


@unittest.skipIf(ZELVO is None, "no zelvo program given")
class RealZelvoRunTest(unittest.TestCase):
    def test_three_short_runs_leave_three_valid_result_files(self):
        try:
            import jsonschema
        except ImportError:
            self.fail("python3-jsonschema is missing (scripts/deps.sh test installs it)")
        with open(SCHEMA, encoding="utf-8") as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
        out_root = scratch_folder(self)
        three_runs = ["run", "--repeat", "3", "--out", out_root, "--zelvo", ZELVO,
                      "--", "-d", "1", "-s", "64"]
        answer = fleet(*three_runs)
        self.assertEqual((answer.returncode, answer.stderr), (0, ""))
        [name] = os.listdir(out_root)
        folder = os.path.join(out_root, name)
        self.assertEqual(answer.stdout.split("\n"), [
            f"folder {folder}", "run 1 of 3: exit code 0", "run 2 of 3: exit code 0",
            "run 3 of 3: exit code 0", "3 of 3 runs left a result file",
            f"done: zelvo-fleet report {folder}", ""])
        for k in (1, 2, 3):
            with self.subTest(run=k):
                path = os.path.join(folder, f"{NODE}.{k}.json")
                with open(path, encoding="utf-8") as f:
                    doc = json.load(f)
                self.assertEqual(sorted(map(str, validator.iter_errors(doc))), [])
                self.assertEqual(doc["run"]["command_line"][1:],
                                 ["--json", path, "-d", "1", "-s", "64"])
                self.assertTrue(doc["result"]["valid"], doc["result"])
                with open(os.path.join(folder, f"{NODE}.{k}.log"), encoding="utf-8") as f:
                    self.assertIn("final score:", f.read())

        # The folder reads as one node of three runs, and a second such folder
        # compares with it: one verdict, exit 0 without a gate. On a shared
        # machine the report may flag noise (exit 1), never fail to read (2).
        report = fleet("report", folder, timeout=60)
        self.assertIn(report.returncode, (0, 1), report.stderr)
        self.assertRegex(report.stdout, rf"(?m)^  {NODE} .* 3 ")
        second = fleet(*three_runs)
        self.assertEqual((second.returncode, second.stderr), (0, ""))
        other = second.stdout.split("\n")[0].removeprefix("folder ")
        compared = fleet("compare", folder, other, timeout=60)
        self.assertEqual((compared.returncode, compared.stderr), (0, ""))
        verdicts = [line for line in compared.stdout.splitlines() if line.startswith("verdict: ")]
        self.assertIn(verdicts, [["verdict: faster"], ["verdict: slower"],
                                 ["verdict: no significant difference"]], compared.stdout)


if __name__ == "__main__":
    unittest.main()
