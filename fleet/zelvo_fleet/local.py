"""Runs on this machine: zelvo N times in a row into a new folder laid out like
a Slurm job's, so that report and compare read it as they read a job's."""

import contextlib
import datetime
import os
import shlex
import shutil
import signal
import socket
import subprocess

from .constants import EXIT_FLAGGED, EXIT_INTERRUPTED, EXIT_OK, NODE_LIST_FILE
from .errors import UsageError
from .slurm import default_zelvo, refuse_json_option, run_file_stem
from .text import note, shown

# How long a stopped zelvo gets to end before it is killed.
STOP_GRACE_S = 10
# Enough for any number of runs started within one second.
MAX_FOLDER_TRIES = 1000


def this_node():
    """The name of this machine as a node: its short host name, which is also a
    file name ("localhost" when it is none)."""
    name = socket.gethostname().split(".")[0]
    return name if name and "/" not in name and "\0" not in name else "localhost"


def program(zelvo):
    """The path of the zelvo to run; UsageError when there is none to start."""
    path = zelvo if "/" in zelvo else shutil.which(zelvo)
    if path is None:
        raise UsageError(f"{shown(zelvo)} not found on the PATH: name the program with --zelvo")
    if not os.path.isfile(path) or not os.access(path, os.X_OK):
        raise UsageError(f"cannot run {shown(path)}: not an executable file")
    return path


def new_folder(out_root, now=None):
    """A folder of its own under out_root, named after the time (UTC) with a
    number added when that name is taken: created here, so an earlier folder
    is never written into."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    stem = os.path.join(out_root, now.strftime("local-%Y%m%d-%H%M%S"))
    try:
        os.makedirs(out_root, exist_ok=True)
    except FileExistsError:
        raise UsageError(f"cannot create a folder in {shown(out_root)}: it is no folder") from None
    except OSError as e:
        raise UsageError(f"cannot create a folder in {shown(out_root)}: {e.strerror}") from None
    try:
        for attempt in range(1, MAX_FOLDER_TRIES + 1):
            folder = stem if attempt == 1 else f"{stem}-{attempt}"
            try:
                os.mkdir(folder)
                return folder
            except FileExistsError:
                continue
    except OSError as e:
        raise UsageError(f"cannot create a folder in {shown(out_root)}: {e.strerror}") from None
    raise UsageError(f"cannot create a folder in {shown(out_root)}: {stem} to "
                     f"{stem}-{MAX_FOLDER_TRIES} are all taken")


def _ended(code):
    return f"exit code {code}" if code >= 0 else f"killed by signal {-code}"


def _stop(process):
    process.terminate()
    try:
        process.wait(STOP_GRACE_S)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def _interrupt(signum, frame):
    raise KeyboardInterrupt


_STOP_SIGNALS = {signal.SIGINT, signal.SIGTERM}


@contextlib.contextmanager
def _stop_signals_held():
    """Ctrl-C and TERM wait until the block has ended, and arrive then. Around
    a zelvo's start: one that came while it was starting (a zelvo can be that
    quick) would otherwise end the loop with no process to stop, and leave that
    zelvo running. Yields the mask to give the zelvo, the one this tool had."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, _STOP_SIGNALS)
    try:
        yield previous
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def _finished(count, with_file):
    if count == 0:
        return "no run finished"
    if count == 1:
        return "run 1 finished and left " + ("a" if with_file else "no") + " result file"
    return f"runs 1 to {count} finished, {with_file} of them with a result file"


def run_local(args, zelvo_options, home):
    """zelvo `args.repeat` times (once without it) on this machine; each run's
    result file is <node>.<k>.json and its console output <node>.<k>.log, one
    run is <node>.json and <node>.log as a job's. EXIT_OK when every run left
    a result file, EXIT_FLAGGED when one did not, EXIT_INTERRUPTED on Ctrl-C."""
    refuse_json_option(zelvo_options, "every run writes its own result file")
    zelvo = program(args.zelvo or default_zelvo(home))
    node = this_node()
    folder = new_folder(os.path.abspath(args.out))
    with _written(os.path.join(folder, NODE_LIST_FILE)) as f:
        f.write(node.encode() + b"\n")
    print(f"folder {shown(folder)}", flush=True)

    runs = args.repeat or 1
    stems = [os.path.join(folder, run_file_stem(node, k, args.repeat))
             for k in range(1, runs + 1)]
    missing, done, process = [], 0, None
    # A TERM (a timeout, a job's end) stops the run in progress as Ctrl-C does,
    # rather than leaving its zelvo running on.
    previous_term = signal.signal(signal.SIGTERM, _interrupt)
    try:
        for k, stem in enumerate(stems, 1):
            with _written(stem + ".log") as log:
                try:
                    with _stop_signals_held() as mask:
                        process = subprocess.Popen(
                            [zelvo, "--json", stem + ".json", *zelvo_options],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_SETMASK, mask))
                except OSError as e:
                    raise UsageError(f"cannot start {shown(zelvo)}: {e.strerror}") from None
                code = process.wait()
                process, done = None, k
            if os.path.isfile(stem + ".json"):
                print(f"run {k} of {runs}: {_ended(code)}", flush=True)
            else:
                missing.append(k)
                note(f"run {k} of {runs}: {_ended(code)}, no result file; see its log "
                      f"{shown(stem)}.log")
    except KeyboardInterrupt:
        if process:
            _stop(process)
            where = f"run {done + 1} of {runs} stopped"
            if os.path.isfile(stems[done] + ".json"):
                # It had got as far as its result file.
                where += " (it left a result file)"
        else:
            where = f"stopped after run {done} of {runs}" if done else "stopped before run 1"
        with_file = sum(1 for stem in stems[:done] if os.path.isfile(stem + ".json"))
        note(f"interrupted: {where}; {_finished(done, with_file)}")
        return EXIT_INTERRUPTED
    finally:
        signal.signal(signal.SIGTERM, previous_term)

    line = f"{runs - len(missing)} of {runs} run{'' if runs == 1 else 's'} left a result file"
    if missing:
        listed = ", ".join(map(str, missing[:10]))
        more = f" and {len(missing) - 10} more" if len(missing) > 10 else ""
        note(f"{line}; none from run{'' if len(missing) == 1 else 's'} {listed}{more}")
    else:
        print(line)
    print(f"done: zelvo-fleet report {shlex.quote(shown(folder))}")
    return EXIT_FLAGGED if missing else EXIT_OK


def _written(path):
    try:
        return open(path, "xb")
    except OSError as e:
        raise UsageError(f"cannot write {shown(path)}: {e.strerror}") from None


