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
        poll = mock.patch.object(slurm, "WAIT_FIRST_POLL_S", 0.01)
        poll.start()
        self.addCleanup(poll.stop)
        env = mock.patch.dict(os.environ, {"PATH": b + os.pathsep + os.environ["PATH"]})
        env.start()
        self.addCleanup(env.stop)

    def answers(self, *lines):
        for name in ("calls", "scancel.args"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(self.bin, name))
        with open(os.path.join(self.bin, "answers"), "w") as f:
            f.writelines(("" if line in ("forgotten", "interrupt") else "JobName=zelvo-fleet ")
                         + line + "\n"
                         for line in lines)

    def cancelled(self):
        with contextlib.suppress(FileNotFoundError), \
                open(os.path.join(self.bin, "scancel.args")) as f:
            return f.read()
        return ""


def _no_end(signum, frame):
    raise AssertionError("submit --wait did not end")


class WaitTest(SlurmStandIns):
    def submit(self, *extra):
        # A wait that never ends fails the case instead of hanging the test.
        previous = signal.signal(signal.SIGALRM, _no_end)
        signal.alarm(30)
        try:
            return run_main(["submit", "--nodes", "2", "--out", self.out, "--zelvo", self.zelvo,
                             *extra])
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, previous)

    def test_wait_ends_with_the_job_and_counts_its_result_files(self):
        folder = os.path.join(self.out, JOB)
        done = f"job {JOB} done: zelvo-fleet report {folder}\n"
        log = os.path.join(self.out, f"slurm-{JOB}.out")
        running, completed = "JobState=RUNNING NodeList=node[1-2]", "JobState=COMPLETED"
        # (answers, environment, exit code, last lines of standard output, standard error)
        cases = [
            ((running, completed), {}, 0, "2 of 2 nodes left a result file\n" + done, ""),
            # The controller may forget a job as soon as it has ended.
            ((running, "forgotten"), {}, 0, "2 of 2 nodes left a result file\n" + done, ""),
            # Pending reasons once per change, and the start that ends them.
            (("JobState=PENDING Reason=None", "JobState=PENDING Reason=Priority",
              "JobState=PENDING Reason=Priority", "JobState=PENDING Reason=Resources",
              running, running, completed), {}, 0, done,
             f"zelvo-fleet: job {JOB} is pending (Priority)\n"
             f"zelvo-fleet: job {JOB} is pending (Resources)\n"
             f"zelvo-fleet: job {JOB} has started\n"),
            # A reservation holds the nodes for a while: no reason to give up.
            (("JobState=PENDING Reason=ReqNodeNotAvail,_Reserved_for_maintenance", running,
              completed), {}, 0, done,
             f"zelvo-fleet: job {JOB} is pending (ReqNodeNotAvail,_Reserved_for_maintenance)\n"
             f"zelvo-fleet: job {JOB} has started\n"),
            # A node that ran no zelvo, or none that did: "done", yet not complete.
            ((running, completed), {"NO_RESULT": "node2"}, 1, done,
             "zelvo-fleet: 1 of 2 nodes left a result file; none from node2\n"),
            ((running, completed), {"NO_RESULT": "node1 node2"}, 1, done,
             "zelvo-fleet: 0 of 2 nodes left a result file; none from node1, node2\n"),
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
            (("JobState=PENDING Reason=Priority", "JobState=CANCELLED Reason=Priority"),
             {"RUN_JOB": "0"}, 1, f"folder {folder}\n",
             f"zelvo-fleet: job {JOB} is pending (Priority)\n"
             f"zelvo-fleet: job {JOB} ended CANCELLED, reason Priority; it left no log\n"),
        ]
        for answers, env, code, out_end, err in cases:
            with self.subTest(answers=answers, env=env), mock.patch.dict(os.environ, env):
                shutil.rmtree(folder, ignore_errors=True)
                with contextlib.suppress(FileNotFoundError):
                    os.remove(log)
                self.answers(*answers)
                got = self.submit("--wait")
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[1].endswith(out_end), got[1])
                self.assertEqual(got[2], err)
                self.assertEqual(self.cancelled(), "")

    def test_repeated_runs_are_counted_per_node(self):
        folder = os.path.join(self.out, JOB)
        done = f"job {JOB} done: zelvo-fleet report {folder}\n"
        running, completed = "JobState=RUNNING NodeList=node[1-2]", "JobState=COMPLETED"
        # (environment, exit code, standard output's end, standard error)
        cases = [
            ({}, 0, "2 of 2 nodes left a result file from each of their 2 runs\n" + done, ""),
            ({"HOSTNAMES_EXIT": "1"}, 1, done,
             "zelvo-fleet: 4 result files of 2 runs per node; the job left no node list "
             "(nodes.txt) to check them against\n"),
            # A run that left no file does not stop the node's next run.
            ({"NO_RESULT": "node1.1 node1.2 node2.1"}, 1, done,
             "zelvo-fleet: 0 of 2 nodes left a result file from each of their 2 runs; fewer "
             "from node1 (0 of 2), node2 (1 of 2)\n"),
        ]
        for env, code, out_end, err in cases:
            with self.subTest(env=env), mock.patch.dict(os.environ, env):
                shutil.rmtree(folder, ignore_errors=True)
                self.answers(running, completed if not env.get("HOSTNAMES_EXIT") else "forgotten")
                got = self.submit("--wait", "--repeat", "2")
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[1].endswith(out_end), got[1])
                self.assertEqual(got[2], err)
        self.assertEqual(sorted(os.listdir(folder)),
                         ["node1.1.log", "node1.2.log", "node2.1.log", "node2.2.json",
                          "node2.2.log", "nodes.txt"])
        with open(os.path.join(self.bin, "sbatch.args")) as f:
            self.assertIn("--comment=repeat=2\n", f.read())

    def test_a_job_that_cannot_start_is_cancelled(self):
        # Reasons that never clear as submitted, and some that do.
        never = ["PartitionConfig", "PartitionNodeLimit", "BadConstraints",
                 "ReqNodeNotAvail,_UnavailableNodes:node2", "QOSMaxNodePerJobLimit",
                 "AssocMaxWallDurationPerJobLimit", "QOSMinGRES", "InvalidAccount"]
        clears = ["Priority", "Resources", "ReqNodeNotAvail,_UnavailableNodes:",
                  "QOSGrpNodeLimit", "AssocMaxJobsLimit", "JobHeldUser", "PartitionDown"]
        for reason in never + clears:
            # RUN_JOB=0: no job runs, so a wait that goes on ends without result files.
            with self.subTest(reason=reason), mock.patch.dict(os.environ, {"RUN_JOB": "0"}):
                self.answers(f"JobState=PENDING Reason={reason}", "JobState=COMPLETED")
                code, _, err = self.submit("--wait")
                if reason in never:
                    self.assertEqual((code, self.cancelled()), (2, f"{JOB}\n"))
                    self.assertEqual(err, f"zelvo-fleet: job {JOB} cannot start as submitted "
                                          f"({reason}): cancelled it\n")
                else:
                    self.assertEqual((code, self.cancelled()), (1, ""), err)
                    self.assertIn("0 nodes left a result file", err)
        with mock.patch.dict(os.environ, {"SCANCEL_EXIT": "1"}):
            self.answers("JobState=PENDING Reason=PartitionConfig")
            code, _, err = self.submit("--wait")
        self.assertEqual(code, 2)
        self.assertTrue(err.endswith(": cancelling it failed (scancel exit code 1): "
                                     f"scancel {JOB}\n"), err)

    def test_a_bounded_or_interrupted_wait_leaves_the_job_and_says_how_to_cancel_it(self):
        self.answers("JobState=PENDING Reason=Priority")
        code, _, err = self.submit("--wait-timeout", "1")
        self.assertEqual(code, 2)
        self.assertTrue(err.endswith(f"zelvo-fleet: stopped waiting after 1 s: job {JOB} is "
                                     f"still queued (Priority); to cancel it: scancel {JOB}\n"),
                        err)
        self.answers("JobState=RUNNING", "interrupt")
        code, _, err = self.submit("--wait")
        self.assertEqual((code, err), (130, f"zelvo-fleet: stopped waiting: job {JOB} is still "
                                            f"running; to cancel it: scancel {JOB}\n"))
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
        job = os.path.join(d.path, JOB)
        os.mkdir(job)
        with open(os.path.join(job, "nodes.txt"), "w") as f:
            f.write("node1\nnode2\nnode3\n")
        for run in runs:
            with open(os.path.join(job, f"{run}.json"), "w") as f:
                f.write(json.dumps(result(run.partition(".")[0])))
        return d.path, job

    def test_a_job_that_has_not_ended_is_not_failed(self):
        root, job = self.job_folder()
        log = f"StdOut={root}/slurm-{JOB}.out"
        running = f"JobState=RUNNING NodeList=node[1-3] {log}"
        ended = (1, "1 failed (no usable result file); 1 flagged")
        # (answers, environment, exit code, the summary's end, standard error's end)
        cases = [
            ((running,), {}, 2, "2 passed; none flagged",
             f"zelvo-fleet: job {JOB} is still running: 1 node has not finished (node2); "
             "report again when it has ended\n"),
            ((f"JobState=COMPLETING {log}",), {}, 2, "2 passed; none flagged",
             f"zelvo-fleet: job {JOB} is still completing: 1 node has not finished (node2); "
             "report again when it has ended\n"),
            # As before once the job has ended, and for a folder that is not this job's.
            (("JobState=COMPLETED",), {}, *ended, ""),
            (("forgotten",), {}, *ended, ""),
            ((f"JobState=RUNNING StdOut=/elsewhere/slurm-{JOB}.out",), {}, *ended, ""),
            (("JobState=RUNNING",), {"PATH": "/nonexistent"}, *ended, ""),
        ]
        for answers, env, code, summary, err in cases:
            with self.subTest(answers=answers, env=env), mock.patch.dict(os.environ, env):
                self.answers(*answers)
                got = run_main(["report", job])
                self.assertEqual(got[0], code, got)
                self.assertTrue(got[1].endswith(summary + "\n"), got[1])
                self.assertEqual(got[2], err)
        # A job of another name with this number is not ours.
        with open(os.path.join(self.bin, "answers"), "w") as f:
            f.write(f"JobName=other {running}\n")
        self.assertEqual(run_main(["report", job])[0], 1)

        self.answers(running)
        code, out, _ = run_main(["report", "--json", job])
        report = json.loads(out)
        self.assertEqual((code, report["pass"], report["summary"]["failed"]), (2, False, 0))
        self.assertEqual(report["running"], {"job": JOB, "state": "RUNNING",
                                             "unfinished": ["node2"]})

        # A pending job has no folder yet.
        self.answers("JobState=PENDING Reason=Priority")
        os.rename(job, job + "-moved")
        code, out, err = run_main(["report", job])
        self.assertEqual((code, out), (2, ""))
        self.assertEqual(err, f"zelvo-fleet: job {JOB} is still queued (Priority): no node has "
                              "started; report on its folder when it has ended\n")

    def test_a_node_with_fewer_runs_than_the_job_makes_has_not_finished(self):
        root, job = self.job_folder(("node1.1", "node1.2", "node2.1"))
        # As scontrol writes it, with two spaces after the comment.
        self.answers(f"JobState=RUNNING NodeList=node[1-3] Comment=repeat=2  "
                     f"StdOut={root}/slurm-{JOB}.out")
        code, _, err = run_main(["report", job])
        self.assertEqual((code, err), (2, f"zelvo-fleet: job {JOB} is still running: 2 nodes "
                                          "have not finished (node2, node3); report again "
                                          "when it has ended\n"))
        code, out, _ = run_main(["report", "--json", job])
        report = json.loads(out)
        self.assertEqual(report["running"]["unfinished"], ["node2", "node3"])
        # The first run of node2 waits for its second.
        shown_nodes = [n["node"] for g in report["groups"] for n in g["nodes"]]
        shown_nodes += [f["node"] for f in report["failed"]]
        self.assertTrue(shown_nodes and all(n.startswith("node1") for n in shown_nodes),
                        shown_nodes)


class NodeListTest(unittest.TestCase):
    def test_a_node_list_that_is_no_regular_file_is_not_read(self):
        # A FIFO would block the count after the wait for ever, a link would read
        # any file: both fall back to the controller's list.
        target = scratch_folder(self)
        with open(os.path.join(target, "secret"), "w") as f:
            f.write("root\n")
        cases = [("fifo", lambda path: os.mkfifo(path)),
                 ("link", lambda path: os.symlink(os.path.join(target, "secret"), path)),
                 ("file", lambda path: open(path, "w").write("node7\nnode8\n"))]
        for name, make in cases:
            with self.subTest(name):
                folder = scratch_folder(self)
                make(os.path.join(folder, "nodes.txt"))
                previous = signal.signal(signal.SIGALRM, _no_end)
                signal.alarm(10)
                try:
                    nodes = slurm.listed_nodes(folder, None, None)
                finally:
                    signal.alarm(0)
                    signal.signal(signal.SIGALRM, previous)
                self.assertEqual(nodes, ["node7", "node8"] if name == "file" else None)


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
        for command, expected in cases:
            with self.subTest(command=command):
                with contextlib.suppress(FileNotFoundError):
                    os.remove(os.path.join(bin_dir, "job.sh"))
                answer = subprocess.run(
                    [sys.executable, command, "submit", "--out", os.path.join(base, "out")],
                    capture_output=True, text=True,
                    env=dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"]))
                if expected.startswith("this"):
                    self.assertEqual(answer.returncode, 2)
                    self.assertIn(expected, answer.stderr)
                    self.assertFalse(os.path.exists(os.path.join(bin_dir, "job.sh")))
                    continue
                self.assertEqual(answer.returncode, 0, answer.stderr)
                with open(os.path.join(bin_dir, "job.sh")) as f:
                    self.assertIn(f' zelvo-task "$dir" {shlex.quote(expected)}\n', f.read())


if __name__ == "__main__":
    unittest.main()
