"""Slurm: the job script, submit and its wait, and the job behind a folder
that has not ended."""

import contextlib
import os
import re
import shlex
import shutil
import subprocess
import time

from .constants import EXIT_ERROR, EXIT_FLAGGED, EXIT_INTERRUPTED, EXIT_OK, NODE_LIST_FILE
from .errors import ResultFileError, UsageError
from .results import read_folder, read_small_file
from .text import natural_key, note, shown

JOB_NAME = "zelvo-fleet"
# The job's comment that says how many runs each node makes.
REPEAT_COMMENT = "repeat="


def default_zelvo(here):
    """The zelvo that belongs to the zelvo-fleet command in the folder `here`: in
    a source tree the one the tree built (build/native/zelvo), else the one
    installed beside it (the package and the tarball put them together), else
    whichever zelvo the nodes find on their PATH. UsageError for a source tree
    that has not built it yet."""
    tree = os.path.dirname(here)
    in_tree = os.path.isfile(os.path.join(tree, "CMakePresets.json"))
    if os.path.basename(here) == "fleet" and in_tree:
        built = os.path.join(tree, "build", "native", "zelvo")
        if not os.access(built, os.X_OK):
            raise UsageError(f"this source tree has not built zelvo (no {built}): build it "
                             "(cmake --preset native && cmake --build --preset native) or name "
                             "the program with --zelvo")
        return built
    beside = os.path.join(here, "zelvo")
    return beside if os.access(beside, os.X_OK) else "zelvo"


def run_file_stem(node, k, repeat):
    """The name of a node's k-th run without .json or .log: <node>.<k> when the
    runs were repeated (--repeat, even once), else <node> as a single run's."""
    return node if repeat is None else f"{node}.{k}"


def refuse_json_option(zelvo_options, why):
    for arg in zelvo_options:
        if arg == "--json" or arg.startswith("--json="):
            raise UsageError(f"leave --json out of the zelvo options: {why}")


def batch_script(out_root, zelvo, zelvo_options, repeat=None):
    """The job script: one task per node runs zelvo (`repeat` times in a row,
    once without it) with its result file and its console output named after
    the Slurm node (nodes of one host and containers share a host name)."""
    node = 'n=${SLURMD_NODENAME:-$(hostname)}; '
    if repeat is None:
        task = ('d=$1; z=$2; shift 2; ' + node +
                'exec "$z" --json "$d/$n.json" "$@" </dev/null >"$d/$n.log" 2>&1')
        before, what = "", "one zelvo run"
    else:
        # One run after the other, whatever each one's exit code: the report
        # judges the runs.
        task = ('d=$1; r=$2; z=$3; shift 3; ' + node + 'k=1; while [ "$k" -le "$r" ]; do '
                '"$z" --json "$d/$n.$k.json" "$@" </dev/null >"$d/$n.$k.log" 2>&1; '
                'k=$((k + 1)); done')
        before, what = f"{repeat} ", f"{repeat} zelvo runs"
    args = " ".join(shlex.quote(a) for a in [zelvo, *zelvo_options])
    return f"""#!/bin/sh
# zelvo-fleet: {what} per node of this job.
dir={shlex.quote(out_root)}/"$SLURM_JOB_ID"
mkdir -p "$dir" || exit 1
list="$dir/{NODE_LIST_FILE}"
scontrol show hostnames "$SLURM_JOB_NODELIST" >"$list" || rm -f "$list"
srun --ntasks-per-node=1 --kill-on-bad-exit=0 \\
  /bin/sh -c {shlex.quote(task)} zelvo-task "$dir" {before}{args}
echo "srun exit code $?"
# An invalid or failed run is the report's business, not the scheduler's.
exit 0
"""


def sbatch_command(sbatch, args, out_root):
    cmd = [sbatch, "--parsable", f"--job-name={JOB_NAME}", "--exclusive", "--ntasks-per-node=1",
           f"--output={out_root}/slurm-%j.out"]
    if args.nodes is not None:
        cmd.append(f"--nodes={args.nodes}")
    if args.nodelist is not None:
        cmd.append(f"--nodelist={args.nodelist}")
    if args.partition is not None:
        cmd.append(f"--partition={args.partition}")
    if args.repeat is not None:
        # The controller keeps the count for a report on the job while it runs.
        cmd.append(f"--comment={REPEAT_COMMENT}{args.repeat}")
    return cmd


# Job states in which a job may still run or write its files.
_ACTIVE_STATES = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "RESIZING",
                  "REQUEUED", "REQUEUE_HOLD", "REQUEUE_FED", "RESV_DEL_HOLD", "SIGNALING",
                  "STAGE_OUT", "STOPPED", "SPECIAL_EXIT"}
# Pending reasons of a job that cannot start as submitted: it asks for more than
# its partition, its account or its QOS allow per job, for features no node has,
# or for a node that is down or drained (see cannot_start). Any other reason
# (Priority, Resources, a reservation, a hold) may clear by itself.
_NEVER_REASONS = {"PartitionConfig", "PartitionNodeLimit", "PartitionTimeLimit", "BadConstraints",
                  "DependencyNeverSatisfied", "InvalidAccount", "InvalidQOS",
                  "AccountNotAllowed", "QOSNotAllowed"}
_NEVER_REASON_PATTERN = re.compile(r"(QOS|Assoc)Max\w*PerJob(Limit)?|QOSMin\w+")
WAIT_FIRST_POLL_S = 1.0
WAIT_LONGEST_POLL_S = 10.0
WAIT_QUERY_FAILURES = 30
QUERY_TIMEOUT_S = 60
# A report must not hang on a controller that does not answer.
REPORT_QUERY_TIMEOUT_S = 15




def _names(nodes, most=10):
    listed = ", ".join(shown(n) for n in nodes[:most])
    return listed + (f" and {len(nodes) - most} more" if len(nodes) > most else "")


def _job_fields(line):
    # Fields are "Key=Value" apart by one space; a value may hold spaces (a path),
    # so a field starts only where a space is followed by a key and "=".
    fields = {}
    for item in re.split(r" (?=[\w/:]+=)", line.strip()):
        key, _, value = item.partition("=")
        fields[key] = value
    return fields


def job_info(scontrol, job, timeout_s=QUERY_TIMEOUT_S):
    """The controller's fields of the job (JobState, Reason, NodeList, StdOut,
    ...), {} when the controller no longer knows the job (it forgets ended jobs
    after a while), None when the query failed."""
    try:
        answer = subprocess.run([scontrol, "show", "job", "-o", job], capture_output=True,
                                text=True, errors="replace", timeout=timeout_s)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if answer.returncode != 0:
        return {} if "Invalid job id" in answer.stderr else None
    for line in answer.stdout.splitlines():
        fields = _job_fields(line)
        if fields.get("JobId") == job and fields.get("JobState"):
            return fields
    return None


def expand_node_list(scontrol, node_list):
    """Slurm's node list ("node[1-2]") as names; None when it cannot be expanded."""
    if not node_list or node_list == "(null)":
        return None
    try:
        answer = subprocess.run([scontrol, "show", "hostnames", node_list], capture_output=True,
                                text=True, errors="replace", timeout=QUERY_TIMEOUT_S)
    except (OSError, subprocess.TimeoutExpired):
        return None
    names = answer.stdout.split()
    return names if answer.returncode == 0 and names else None


def cannot_start(reason):
    """Whether a pending job with this reason cannot start as submitted."""
    if reason in _NEVER_REASONS or _NEVER_REASON_PATTERN.fullmatch(reason):
        return True
    # "ReqNodeNotAvail,_UnavailableNodes:node2" names nodes that are down or
    # drained; without names ("ReqNodeNotAvail,_Reserved_for_maintenance") a
    # reservation holds the nodes, and it ends by itself.
    nodes = reason.partition("UnavailableNodes:")[2]
    return reason.startswith("ReqNodeNotAvail") and bool(nodes.strip("_ "))


def _still(job, fields):
    state = fields.get("JobState", "")
    if state == "PENDING":
        reason = fields.get("Reason", "None")
        return f"job {job} is still queued" + ("" if reason == "None" else f" ({shown(reason)})")
    if state in _ACTIVE_STATES:
        return f"job {job} is still {state.lower()}"
    return f"job {job} may still be queued or running"


class JobWait:
    """Polls the controller until a job has ended; `fields` holds its last
    answer and `node_list` the nodes it ran on, once known."""

    def __init__(self, scontrol, job):
        self.scontrol, self.job = scontrol, job
        self.fields, self.node_list = {}, None

    def run(self, timeout_s=None):
        """"ended", "never" (pending and it cannot start as submitted) or
        "timeout". Says on standard error why the job is pending, once per
        change of the reason, and when a job shown pending has started."""
        deadline = None if timeout_s is None else time.monotonic() + timeout_s
        # sbatch --wait would do this too, but sleeps up to half a minute between
        # looks; a short first interval that grows keeps short runs short.
        poll_s, failures, said = WAIT_FIRST_POLL_S, 0, None
        while True:
            left_s = None if deadline is None else deadline - time.monotonic()
            query_s = QUERY_TIMEOUT_S if left_s is None else min(QUERY_TIMEOUT_S, max(5, left_s))
            fields = job_info(self.scontrol, self.job, query_s)
            if fields is None:
                failures += 1
                if failures >= WAIT_QUERY_FAILURES:
                    raise UsageError(f"cannot ask the Slurm controller about job {self.job}")
            else:
                failures = 0
                if fields.get("NodeList") not in (None, "", "(null)"):
                    self.node_list = fields["NodeList"]
                if not fields or fields["JobState"] not in _ACTIVE_STATES:
                    # A forgotten job keeps its last answer.
                    self.fields = fields or dict(self.fields, JobState="")
                    return "ended"
                self.fields = fields
                reason = fields.get("Reason", "None")
                if fields["JobState"] == "PENDING":
                    if cannot_start(reason):
                        return "never"
                    text = None if reason == "None" else f"is pending ({shown(reason)})"
                else:
                    # Only to close a pending story: a job that starts at once stays quiet.
                    text = "has started" if said else None
                if text and text != said:
                    note(f"job {self.job} {text}")
                    said = text
            if left_s is not None:
                left_s = deadline - time.monotonic()
                if left_s <= 0:
                    return "timeout"
            time.sleep(poll_s if left_s is None else min(poll_s, left_s))
            poll_s = min(WAIT_LONGEST_POLL_S, poll_s * 1.5)


def cancel_job(job):
    """Cancels a job; what happened, in words for the end of a sentence."""
    scancel = shutil.which("scancel")
    if scancel is None:
        return f"scancel not found: cancel it with scancel {job}"
    try:
        answer = subprocess.run([scancel, job], capture_output=True, text=True,
                                timeout=QUERY_TIMEOUT_S)
    except (OSError, subprocess.TimeoutExpired):
        return f"cancelling it failed: scancel {job}"
    if answer.returncode != 0:
        return f"cancelling it failed (scancel exit code {answer.returncode}): scancel {job}"
    return "cancelled it"


def listed_nodes(folder, scontrol, node_list):
    """The nodes of a job: its folder's node list, else the controller's
    (expanded); None when neither is known."""
    path = os.path.join(folder, NODE_LIST_FILE)
    # As the report reads it: never through a link, never blocking on a FIFO.
    try:
        text = read_small_file(path, follow_link=False).decode("utf-8", "replace")
        nodes = [line.strip() for line in text.split("\n") if line.strip()]
    except (OSError, ResultFileError):
        nodes = None
    return nodes or (expand_node_list(scontrol, node_list) if scontrol else None)


def _runs_with_result(folder, node, repeat):
    # A name from a file never reaches outside the job's folder.
    if "/" in node or node in (".", ".."):
        return 0
    return sum(1 for k in range(1, (repeat or 1) + 1)
               if os.path.isfile(os.path.join(folder, run_file_stem(node, k, repeat) + ".json")))


def count_results(folder, nodes, repeat=None):
    """Says how many of the job's nodes left a result file (with `repeat`: one
    from each of their runs, and how many the others left); True when all did."""
    runs = repeat or 1
    if nodes is None:
        found = 0
        with contextlib.suppress(OSError):
            found = sum(1 for name in os.listdir(folder)
                        if name.endswith(".json") and not name.startswith("."))
        left = (f"{found} node{'' if found == 1 else 's'} left a result file" if repeat is None
                else f"{found} result file{'' if found == 1 else 's'} of {repeat} runs per node")
        note(f"{left}; the job left no node list ({NODE_LIST_FILE}) to check them against")
        return False
    counts = {n: _runs_with_result(folder, n, repeat) for n in nodes}
    missing = [n for n in nodes if counts[n] < runs]
    line = f"{len(nodes) - len(missing)} of {len(nodes)} nodes left a result file"
    if repeat is not None:
        line += f" from each of their {repeat} run{'' if repeat == 1 else 's'}"
    if missing:
        if repeat is None:
            note(f"{line}; none from {_names(missing)}")
        else:
            note(f"{line}; fewer from " +
                  _names([f"{n} ({counts[n]} of {repeat})" for n in missing]))
        return False
    print(line)
    return True


def run_submit(args, zelvo_options, home):
    refuse_json_option(zelvo_options, "every node writes its own result file")
    sbatch = shutil.which("sbatch")
    if sbatch is None:
        raise UsageError("sbatch not found: submit needs the Slurm client commands "
                         "(Debian package slurm-client)")
    wait = args.wait or args.wait_timeout is not None
    scontrol = shutil.which("scontrol")
    if wait and scontrol is None:
        raise UsageError("scontrol not found: --wait needs the Slurm client commands")
    zelvo = args.zelvo or default_zelvo(home)
    out_root = os.path.abspath(args.out)
    try:
        os.makedirs(out_root, exist_ok=True)
    except OSError as e:
        raise UsageError(f"cannot create the folder {out_root}: {e.strerror}") from None

    answer = subprocess.run(sbatch_command(sbatch, args, out_root), stdout=subprocess.PIPE,
                            input=batch_script(out_root, zelvo, zelvo_options, args.repeat),
                            text=True)
    # --parsable: "<job>" or "<job>;<cluster>".
    job = answer.stdout.strip().split(";")[0]
    if answer.returncode != 0 or not job.isdigit():
        raise UsageError(f"sbatch failed (exit code {answer.returncode})")
    folder = os.path.join(out_root, job)
    print(f"job {job}")
    print(f"folder {folder}", flush=True)
    if not wait:
        return EXIT_OK

    watch = JobWait(scontrol, job)
    try:
        outcome = watch.run(args.wait_timeout)
    except KeyboardInterrupt:
        note(f"stopped waiting: {_still(job, watch.fields)}; to cancel it: scancel {job}")
        return EXIT_INTERRUPTED
    if outcome == "timeout":
        note(f"stopped waiting after {args.wait_timeout} s: {_still(job, watch.fields)}; "
              f"to cancel it: scancel {job}")
        return EXIT_ERROR
    if outcome == "never":
        note(f"job {job} cannot start as submitted ({shown(watch.fields['Reason'])}): "
              f"{cancel_job(job)}")
        return EXIT_ERROR

    state = watch.fields.get("JobState", "")
    ran = os.path.isdir(folder)
    if state not in ("COMPLETED", ""):
        reason = watch.fields.get("Reason", "None")
        log = os.path.join(out_root, f"slurm-{job}.out")
        # A job that failed to launch or was cancelled before it started has
        # left no log: then the controller's reason is all there is.
        because = "" if reason == "None" else f", reason {shown(reason)}"
        note(f"job {job} ended {state}{because}"
              + (f"; see {log}" if os.path.isfile(log) else "; it left no log"))
        if ran:
            count_results(folder, listed_nodes(folder, scontrol, watch.node_list), args.repeat)
        return EXIT_FLAGGED
    complete = count_results(folder, listed_nodes(folder, scontrol, watch.node_list),
                             args.repeat)
    print(f"job {job} done: zelvo-fleet report {shlex.quote(folder)}")
    return EXIT_OK if complete else EXIT_FLAGGED


# ---------------------------------------------------------------------------
# A job that has not ended

def active_job(folder):
    """The controller's fields of the job that writes this folder, while it has
    not ended: the folder is named after the job (DIR/<job>) and the job is
    zelvo-fleet's, its log in DIR. None without the Slurm client, when the
    controller does not know the job or does not answer, and once it has ended."""
    job = os.path.basename(os.path.normpath(folder))
    scontrol = shutil.which("scontrol")
    if not job.isdigit() or scontrol is None:
        return None
    fields = job_info(scontrol, job, REPORT_QUERY_TIMEOUT_S)
    if not fields or fields["JobState"] not in _ACTIVE_STATES or \
            fields.get("JobName") != JOB_NAME:
        return None
    log = fields.get("StdOut")
    root = os.path.dirname(os.path.abspath(folder))
    if log and os.path.realpath(os.path.dirname(log)) != os.path.realpath(root):
        return None
    return fields


def read_job_folder(folder):
    """read_folder for a job that may not have ended: (results, failures,
    running). running is None for an ended job; else it names the job, its
    state and the listed nodes without a result file, which are unfinished,
    not failed. UsageError for a pending job that has no folder yet."""
    fields = active_job(folder)
    if fields is None:
        return (*read_folder(folder), None)
    job = fields["JobId"]
    if not os.path.isdir(folder):
        raise UsageError(f"{_still(job, fields)}: no node has started; report on its folder "
                         "when it has ended")
    results, failures = read_folder(folder)
    job_nodes = expand_node_list(shutil.which("scontrol"), fields.get("NodeList")) or []
    repeat = job_repeat(fields)
    if repeat is None:
        finished = {r.node for r in results} | {f["node"] for f in failures if f["file"]}
        nodes = [f["node"] for f in failures if not f["file"]] + job_nodes
        unfinished = sorted({n for n in nodes if n not in finished}, key=natural_key)
        failures = [f for f in failures if f["node"] not in unfinished]
    else:
        # A node has finished once it has a result file from each of its runs;
        # what a node that has not left so far waits with it.
        nodes = set((listed_nodes(folder, None, None) or []) + job_nodes)
        unfinished = sorted((n for n in nodes if _runs_with_result(folder, n, repeat) < repeat),
                            key=natural_key)
        waiting = set(unfinished)
        results = [r for r in results
                   if _run_of(r.node, waiting) is None
                   and _run_of(os.path.basename(r.file)[:-len(".json")], waiting) is None]
        failures = [f for f in failures if _run_of(f["node"], waiting) is None and
                    (not f["file"] or
                     _run_of(os.path.basename(f["file"])[:-len(".json")], waiting) is None)]
    return results, failures, {"job": job, "state": fields["JobState"], "unfinished": unfinished}


def job_repeat(fields):
    """How many runs each node of a job makes when it was submitted with
    --repeat (the job's comment); None for a job of single runs."""
    # scontrol ends the comment with a second space.
    comment = fields.get("Comment", "").strip()
    count = comment[len(REPEAT_COMMENT):] if comment.startswith(REPEAT_COMMENT) else ""
    if not (count.isascii() and count.isdigit()) or len(count) > 6:
        return None
    return int(count) or None


def _run_of(name, nodes):
    """The node of `nodes` whose run the name <node> or <node>.<k> is, or None."""
    if name in nodes:
        return name
    node, _, k = name.rpartition(".")
    return node if node in nodes and k.isascii() and k.isdigit() else None


def say_running(running):
    """The line that ends a report on a job that has not ended."""
    state = "queued" if running["state"] == "PENDING" else running["state"].lower()
    nodes = running["unfinished"]
    which = (f": {len(nodes)} node{' has' if len(nodes) == 1 else 's have'} not finished "
             f"({_names(nodes)})") if nodes else ""
    note(f"job {running['job']} is still {state}{which}; report again when it has ended")

