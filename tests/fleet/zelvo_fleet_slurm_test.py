#!/usr/bin/python3
"""Tests of zelvo-fleet against Slurm's answers: submit --wait over a job that
runs, pends, cannot start, fails to launch or is interrupted; report on a job
that has not ended; and which zelvo a submit runs by default. Stand-ins for
sbatch, srun, scontrol and scancel play the cluster."""

import contextlib
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from zelvo_fleet_test import (PACKAGE, SCRIPT, Folder, _write_program, result,  # noqa: E402
                              run_main, scratch_folder, slurm)

JOB = "4242"


class SlurmStandIns(unittest.TestCase):
    """sbatch keeps its arguments and runs the job script at once (RUN_JOB=0:
    the job never starts and leaves no log); scontrol answers `show job` with
    the lines of the file `answers` in turn, the last one for ever ("forgotten":
    the controller no longer knows the job; "interrupt": Ctrl-C while asking);
    scancel records its job."""

    def setUp(self):
        self.bin = scratch_folder(self)
        self.out = scratch_folder(self)
        b = self.bin
        _write_program(b, "sbatch", f"""#!/bin/sh
printf '%s\\n' "$@" >"{b}/sbatch.args"
cat >"{b}/job.sh"
for a in "$@"; do
  case $a in --output=*) log=$(echo "${{a#--output=}}" | sed s/%j/{JOB}/) ;; esac
done
if [ "${{RUN_JOB:-1}}" = 1 ]; then
  SLURM_JOB_ID={JOB} SLURM_JOB_NODELIST='node[1-2]' sh "{b}/job.sh" >"$log" 2>&1
fi
echo {JOB}
""")
        _write_program(b, "srun", """#!/bin/sh
while [ "${1#--}" != "$1" ]; do shift; done
for node in node1 node2; do SLURMD_NODENAME=$node "$@"; done
""")
        _write_program(b, "scontrol", f"""#!/bin/sh
case "$2" in
  hostnames) [ -z "$HOSTNAMES_EXIT" ] || exit "$HOSTNAMES_EXIT"; printf 'node1\\nnode2\\n' ;;
  job)
    n=$(($(cat "{b}/calls" 2>/dev/null || echo 0) + 1))
    echo "$n" >"{b}/calls"
    last=$(wc -l <"{b}/answers")
    [ "$n" -le "$last" ] || n=$last
    line=$(sed -n "${{n}}p" "{b}/answers")
    case $line in
      forgotten) echo "slurm_load_jobs error: Invalid job id specified" >&2; exit 1 ;;
      interrupt) kill -INT "$PPID"; exit 1 ;;
    esac
    echo "JobId=$4 $line" ;;
esac
""")
        _write_program(b, "scancel", f"""#!/bin/sh
echo "$@" >>"{b}/scancel.args"
exit "${{SCANCEL_EXIT:-0}}"
""")
        # The task's zelvo: a result file, except on the nodes and runs (node2.1)
        # in $NO_RESULT.
        self.zelvo = _write_program(b, "zelvo", """#!/bin/sh
case " $NO_RESULT " in *" $SLURMD_NODENAME "*|*" $(basename "$2" .json) "*)
  echo "field allocation failed"; exit 1 ;;
esac
echo '{}' >"$2"
""")
        self.enterContext(mock.patch.object(slurm, "WAIT_FIRST_POLL_S", 0.01))
        self.enterContext(mock.patch.dict(os.environ,
                                          {"PATH": b + os.pathsep + os.environ["PATH"]}))

    def answers(self, *lines):
        for name in ("calls", "scancel.args"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(self.bin, name))
        with open(os.path.join(self.bin, "answers"), "w") as f:
            f.writelines(("" if line in ("forgotten", "interrupt") or line.startswith("JobName=")
                          else "JobName=zelvo-fleet ")
                         + line + "\n"
                         for line in lines)

    def cancelled(self):
        with contextlib.suppress(FileNotFoundError), \
                open(os.path.join(self.bin, "scancel.args")) as f:
            return f.read()
        return ""


@contextlib.contextmanager
def deadline(seconds):
    """A wait that never ends fails the case instead of hanging the test."""
    def no_end(signum, frame):
        raise AssertionError(f"did not end within {seconds} s")
    previous = signal.signal(signal.SIGALRM, no_end)
    signal.alarm(seconds)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


class WaitTest(SlurmStandIns):
    def submit(self, *extra):
        with deadline(30):
            return run_main(["submit", "--nodes", "2", "--out", self.out, "--zelvo", self.zelvo,
                             *extra])

    def test_wait_ends_with_the_job_and_counts_its_result_files(self):
        folder = os.path.join(self.out, JOB)
        done = f"job {JOB} done: zelvo-fleet report {folder}\n"
        log = os.path.join(self.out, f"slurm-{JOB}.out")
        running, completed = "JobState=RUNNING NodeList=node[1-2]", "JobState=COMPLETED"
        # (answers, environment, exit code, last lines of standard output, standard error);
        # after them the same with --repeat 2.
        cases = [
            # The controller may forget a job as soon as it has ended.
            *[((running, end), {}, 0, "2 of 2 nodes left a result file\n" + done, "")
              for end in (completed, "forgotten")],
            # Pending reasons once per change, and the start that ends them.
            (("JobState=PENDING Reason=None", "JobState=PENDING Reason=Priority",
              "JobState=PENDING Reason=Priority", "JobState=PENDING Reason=Resources",
              running, running, completed), {}, 0, done,
             f"zelvo-fleet: job {JOB} is pending (Priority)\n"
             f"zelvo-fleet: job {JOB} is pending (Resources)\n"
             f"zelvo-fleet: job {JOB} has started\n"),
            # A node that ran no zelvo: "done", yet not complete.
            ((running, completed), {"NO_RESULT": "node2"}, 1, done,
             "zelvo-fleet: 1 of 2 nodes left a result file; none from node2\n"),
            # No nodes.txt and no node list from the controller: nothing to count against.
            ((running, "forgotten"), {"HOSTNAMES_EXIT": "1"}, 1, done,
             "zelvo-fleet: 2 nodes left a result file; the job left no node list (nodes.txt) "
             "to check them against\n"),
            # Ended otherwise: the log where there is one, else the controller's reason.
            ((running, "JobState=TIMEOUT Reason=TimeLimit"), {"NO_RESULT": "node1"}, 1,
             f"folder {folder}\n",
             f"zelvo-fleet: job {JOB} ended TIMEOUT, reason TimeLimit; see {log}\n"
             "zelvo-fleet: 1 of 2 nodes left a result file; none from node1\n"),
            (("JobState=PENDING Reason=Resources", "JobState=FAILED Reason=JobLaunchFailure"),
             {"RUN_JOB": "0"}, 1, f"folder {folder}\n",
             f"zelvo-fleet: job {JOB} is pending (Resources)\n"
             f"zelvo-fleet: job {JOB} ended FAILED, reason JobLaunchFailure; it left no log\n"),
        ]
        repeated = [
            ((running, completed), {}, 0,
             "2 of 2 nodes left a result file from each of their 2 runs\n" + done, ""),
            ((running, "forgotten"), {"HOSTNAMES_EXIT": "1"}, 1, done,
             "zelvo-fleet: 4 result files of 2 runs per node; the job left no node list "
             "(nodes.txt) to check them against\n"),
            # A run that left no file does not stop the node's next run; names listed.
            ((running, completed), {"NO_RESULT": "node1.1 node1.2 node2.1"}, 1, done,
             "zelvo-fleet: 0 of 2 nodes left a result file from each of their 2 runs; fewer "
             "from node1 (0 of 2), node2 (1 of 2)\n"),
        ]
        for repeat, (answers, env, code, out_end, err) in [((), c) for c in cases] + \
                [(("--repeat", "2"), c) for c in repeated]:
            with self.subTest(answers=answers, env=env, repeat=repeat), \
                    mock.patch.dict(os.environ, env):
                shutil.rmtree(self.out)  # the job's folder and log
                self.answers(*answers)
                got = self.submit("--wait", *repeat)
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[1].endswith(out_end), got[1])
                self.assertEqual(got[2], err)
                self.assertEqual(self.cancelled(), "")
        # The last case's runs, each with its log; the count goes to the controller.
        self.assertEqual(sorted(os.listdir(folder)),
                         ["node1.1.log", "node1.2.log", "node2.1.log", "node2.2.json",
                          "node2.2.log", "nodes.txt"])
        with open(os.path.join(self.bin, "sbatch.args")) as f:
            self.assertIn("--comment=repeat=2\n", f.read())

    def test_a_job_that_cannot_start_is_cancelled(self):
        # Reasons that never clear as submitted, and some that do (a reservation
        # holds the nodes for a while; the wait over such reasons:
        # test_wait_ends_with_the_job_and_counts_its_result_files).
        never = ["PartitionConfig", "PartitionNodeLimit", "BadConstraints",
                 "ReqNodeNotAvail,_UnavailableNodes:node2", "QOSMaxNodePerJobLimit",
                 "AssocMaxWallDurationPerJobLimit", "QOSMinGRES", "InvalidAccount"]
        clears = ["Priority", "Resources", "ReqNodeNotAvail,_UnavailableNodes:",
                  "ReqNodeNotAvail,_Reserved_for_maintenance", "QOSGrpNodeLimit",
                  "AssocMaxJobsLimit", "JobHeldUser", "PartitionDown"]
        for reason in never + clears:
            with self.subTest(reason=reason):
                self.assertEqual(slurm.cannot_start(reason), reason in never)
        # (scancel's exit code, the end of standard error)
        for scancel_exit, err_end in [
                ("0", "cancelled it\n"),
                ("1", f"cancelling it failed (scancel exit code 1): scancel {JOB}\n")]:
            with self.subTest(scancel_exit=scancel_exit), \
                    mock.patch.dict(os.environ, {"SCANCEL_EXIT": scancel_exit, "RUN_JOB": "0"}):
                self.answers("JobState=PENDING Reason=QOSMinGRES", "JobState=COMPLETED")
                self.assertEqual(self.submit("--wait")[::2] + (self.cancelled(),), (
                    2, f"zelvo-fleet: job {JOB} cannot start as submitted (QOSMinGRES): "
                       + err_end, f"{JOB}\n"))

    def test_a_bounded_or_interrupted_wait_leaves_the_job_and_says_how_to_cancel_it(self):
        # (answers, options, exit code, standard error's end)
        for answers, options, code, err_end in [
                (("JobState=PENDING Reason=Priority",), ("--wait-timeout", "1"), 2,
                 f"stopped waiting after 1 s: job {JOB} is still queued (Priority)"),
                (("JobState=RUNNING", "interrupt"), ("--wait",), 130,
                 f"stopped waiting: job {JOB} is still running")]:
            with self.subTest(options=options):
                self.answers(*answers)
                got = self.submit(*options)
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[2].endswith(f"zelvo-fleet: {err_end}; to cancel it: "
                                                f"scancel {JOB}\n"), got[2])
                self.assertEqual(self.cancelled(), "")
        for bad in ("0", "-5", "1.5", "soon", "²"):
            code, _, err = self.submit("--wait-timeout", bad)
            self.assertEqual(code, 2, bad)
            self.assertIn("not a positive whole number", err)


class RunningReportTest(SlurmStandIns):
    def job_folder(self, runs=("node1", "node3")):
        """A job of node1 to node3 whose folder holds result files of `runs`
        (<node> or <node>.<k>)."""
        d = Folder(self)
        os.mkdir(os.path.join(d.path, JOB))
        d.write(f"{JOB}/nodes.txt", "node1\nnode2\nnode3\n")
        for run in runs:
            d.write(f"{JOB}/{run}.json", result(run.partition(".")[0]))
        return d.path, os.path.join(d.path, JOB)

    def test_a_job_that_has_not_ended_is_not_failed(self):
        root, job = self.job_folder()
        log = f"StdOut={root}/slurm-{JOB}.out"
        running = f"JobState=RUNNING NodeList=node[1-3] {log}"
        ended = (1, "1 failed (no usable result file); 1 flagged\n")
        still = (f"zelvo-fleet: job {JOB} is still {{}}: 1 node has not finished (node2); "
                 "report again when it has ended\n")
        # (answers, environment, the folder, exit code, standard output's end,
        # standard error)
        cases = [
            ((running,), {}, job, 2, "2 passed; none flagged\n", still.format("running")),
            ((f"JobState=COMPLETING {log}",), {}, job, 2, "2 passed; none flagged\n",
             still.format("completing")),
            # As before once the job has ended, and for a folder that is not this
            # job's: its log elsewhere, another job's name, no Slurm client.
            (("JobState=COMPLETED",), {}, job, *ended, ""),
            (("forgotten",), {}, job, *ended, ""),
            ((f"JobState=RUNNING StdOut=/elsewhere/slurm-{JOB}.out",), {}, job, *ended, ""),
            ((f"JobName=other {running}",), {}, job, *ended, ""),
            (("JobState=RUNNING",), {"PATH": "/nonexistent"}, job, *ended, ""),
            # A pending job has no folder yet.
            (("JobState=PENDING Reason=Priority",), {}, os.path.join(root, "new", JOB), 2, "",
             f"zelvo-fleet: job {JOB} is still queued (Priority): no node has started; "
             "report on its folder when it has ended\n"),
        ]
        for answers, env, folder, code, out_end, err in cases:
            with self.subTest(answers=answers, env=env), mock.patch.dict(os.environ, env):
                self.answers(*answers)
                got = run_main(["report", folder])
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[1].endswith(out_end) and (out_end or not got[1]), got[1])
                self.assertEqual(got[2], err)

        self.answers(running)
        code, out, _ = run_main(["report", "--json", job])
        report = json.loads(out)
        self.assertEqual((code, report["pass"], report["summary"]["failed"]), (2, False, 0))
        self.assertEqual(report["running"], {"job": JOB, "state": "RUNNING",
                                             "unfinished": ["node2"]})

    def test_a_node_with_fewer_runs_than_the_job_makes_has_not_finished(self):
        root, job = self.job_folder(("node1.1", "node1.2", "node2.1"))
        # As scontrol writes it, with two spaces after the comment.
        self.answers(f"JobState=RUNNING NodeList=node[1-3] Comment=repeat=2  "
                     f"StdOut={root}/slurm-{JOB}.out")
        code, _, err = run_main(["report", job])
        self.assertEqual((code, err), (2, f"zelvo-fleet: job {JOB} is still running: 2 nodes "
                                          "have not finished (node2, node3); report again "
                                          "when it has ended\n"))
        # The first run of node2 waits for its second: only node1's runs are shown.
        report = json.loads(run_main(["report", "--json", job])[1])
        shown_nodes = [n["node"] for g in report["groups"] for n in g["nodes"]]
        shown_nodes += [f["node"] for f in report["failed"]]
        self.assertTrue(shown_nodes and all(n.startswith("node1") for n in shown_nodes),
                        shown_nodes)


class NodeListTest(unittest.TestCase):
    def test_a_node_list_that_is_no_regular_file_is_not_read(self):
        # A FIFO would block the count after the wait for ever, a link would read
        # any file: both fall back to the controller's list.
        lines = os.path.join(scratch_folder(self), "lines")
        with open(lines, "w") as f:
            f.write("node7\nnode8\n")
        for name, make, nodes in [("fifo", os.mkfifo, None),
                                  ("link", lambda path: os.symlink(lines, path), None),
                                  ("file", lambda path: shutil.copy(lines, path),
                                   ["node7", "node8"])]:
            with self.subTest(name):
                folder = scratch_folder(self)
                make(os.path.join(folder, "nodes.txt"))
                with deadline(10):
                    self.assertEqual(slurm.listed_nodes(folder, None, None), nodes)


class DefaultZelvoTest(unittest.TestCase):
    def test_the_default_zelvo_is_the_one_of_this_tree_or_installation(self):
        bin_dir = scratch_folder(self)
        _write_program(bin_dir, "sbatch", f"""#!/bin/sh
cat >"{bin_dir}/job.sh"
echo {JOB}
""")
        base = scratch_folder(self)

        def place(*parts, program=False, package=None):
            # The script with its package beside it (a source tree, the tarball)
            # or in the folder `package` (the Debian package's share/zelvo).
            path = os.path.join(base, *parts)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if program:
                _write_program(os.path.dirname(path), os.path.basename(path), "#!/bin/sh\n")
            else:
                shutil.copy(SCRIPT, path)
                shutil.copytree(PACKAGE,
                                os.path.join(base, *(package or parts[:-1]), "zelvo_fleet"),
                                ignore=shutil.ignore_patterns("__pycache__"))
            return path

        tree_script = place("tree", "fleet", "zelvo-fleet")
        place("tree", "CMakePresets.json")
        built = place("tree", "build", "native", "zelvo", program=True)
        bare_tree_script = place("bare", "fleet", "zelvo-fleet")
        place("bare", "CMakePresets.json")
        linked = os.path.join(base, "linked")
        os.symlink(tree_script, linked)
        installed = place("usr", "bin", "zelvo-fleet", package=("usr", "share", "zelvo"))
        beside = place("usr", "bin", "zelvo", program=True)
        alone = place("alone", "zelvo-fleet")
        # (the command, the zelvo its job runs or the error)
        cases = [(tree_script, built), (linked, built), (installed, beside), (alone, "zelvo"),
                 (bare_tree_script, "this source tree has not built zelvo (no "
                                    f"{base}/bare/build/native/zelvo)")]
        job_script = os.path.join(bin_dir, "job.sh")
        for command, expected in cases:
            with self.subTest(command=command):
                with contextlib.suppress(FileNotFoundError):
                    os.remove(job_script)
                answer = subprocess.run(
                    [sys.executable, command, "submit", "--out", os.path.join(base, "out")],
                    capture_output=True, text=True,
                    env=dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"]))
                if expected.startswith("this"):
                    self.assertEqual((answer.returncode, os.path.exists(job_script)), (2, False))
                    self.assertIn(expected, answer.stderr)
                else:
                    self.assertEqual(answer.returncode, 0, answer.stderr)
                    with open(job_script) as f:
                        self.assertIn(f' zelvo-task "$dir" {shlex.quote(expected)}\n', f.read())


if __name__ == "__main__":
    unittest.main()
