"""The command line: the parser, and each command's run."""

import argparse
import json
import math
import os
import sys

from .constants import DEFAULT_OUT, DEFAULT_TOLERANCE_PCT, EXIT_ERROR, EXIT_FLAGGED, \
    EXIT_INTERRUPTED, EXIT_OK
from .constants import DEFAULT_SPREAD_PCT, DEFAULT_THROTTLE_PCT
from .errors import UsageError
from .local import run_local
from .report import build_report, format_report, plot_report
from .compare import compare, format_compare
from .trace import build_trace, format_trace, plot_trace
from .slurm import read_job_folder, run_submit, say_running
from .text import shown


def _positive_int(text):
    if not (text.isascii() and text.isdigit()) or int(text) < 1:
        raise argparse.ArgumentTypeError(f"not a positive whole number: '{text}'")
    return int(text)


def _tolerance(text):
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or not 0 <= value < 100:
        raise argparse.ArgumentTypeError(f"not a percentage from 0 to below 100: '{text}'")
    return value


def make_parser():
    parser = argparse.ArgumentParser(
        prog="zelvo-fleet",
        description="Runs zelvo on many nodes through Slurm and reports the results.")
    commands = parser.add_subparsers(dest="command", required=True,
                                     metavar="{submit,report,run,compare,trace}")

    submit = commands.add_parser(
        "submit", usage="zelvo-fleet submit [options] -- [zelvo options]",
        help="submit one Slurm job that runs zelvo once (or N times) on every node",
        description="Submits one Slurm job with one task per node on exclusive nodes; each "
                    "task runs zelvo --json DIR/<job>/<node>.json <zelvo options> (with "
                    "--repeat N, N runs in a row into <node>.1.json to <node>.N.json). "
                    "Everything after -- goes to zelvo.")
    which = submit.add_mutually_exclusive_group()
    which.add_argument("--nodes", type=_positive_int, metavar="N", help="run on N nodes")
    which.add_argument("--nodelist", metavar="LIST", help="run on these nodes (Slurm's node list)")
    submit.add_argument("--partition", metavar="P", help="the Slurm partition")
    submit.add_argument("--out", default=DEFAULT_OUT, metavar="DIR",
                        help=f"folder for the results, seen by every node [default: {DEFAULT_OUT}]")
    submit.add_argument("--zelvo", metavar="PATH",
                        help="the zelvo program on the nodes [default: in a source tree "
                             "the tree's build/native/zelvo, else the one beside zelvo-fleet, "
                             "else zelvo on the PATH]")
    submit.add_argument("--wait", action="store_true",
                        help="wait until the job has ended; cancel it when it cannot start as "
                             "submitted")
    submit.add_argument("--wait-timeout", type=_positive_int, metavar="SECONDS",
                        help="wait as --wait does, at most SECONDS")
    submit.add_argument("--repeat", type=_repeat, metavar="N",
                        help="run zelvo N times in a row on every node: <node>.1.json to "
                             "<node>.N.json")

    report = commands.add_parser(
        "report", help="compare the nodes of a job and flag the invalid, slow, unsteady and "
                       "throttled ones",
        description="Reads every result file of a job folder (<node>.json, or <node>.<k>.json for "
                    "repeated runs) and prints one row per node, its score the median of its "
                    "runs. Nodes with the same processor and the same zelvo options form a "
                    "group; a node is flagged when a run is invalid or its file unusable, its "
                    "score is more than PCT % below its group's median, its runs spread or a "
                    "run varies too much, or a run slows down. Exit code 1 when any node is "
                    "flagged.")
    report.add_argument("folder", metavar="DIR", help="a job's folder (as submit printed it)")
    report.add_argument("--tolerance", type=_tolerance, default=DEFAULT_TOLERANCE_PCT,
                        metavar="PCT",
                        help=f"flag nodes more than PCT %% below their group's median "
                             f"[default: {DEFAULT_TOLERANCE_PCT:g}]")
    report.add_argument("--json", action="store_true", help="print the report as JSON")
    report.add_argument("--plot", metavar="FILE",
                        help="draw each group's scores into FILE (.png, .svg, .pdf; needs "
                             "matplotlib)")
    add_run_command(commands)
    _add_steadiness(report)
    _add_compare_and_trace(commands)
    return parser


# ---------------------------------------------------------------------------
# run: zelvo on this machine, into a folder laid out like a job's

# A thousand runs of the shortest benchmark take hours; more is a typing error.
MAX_REPEAT = 1000


def _repeat(text):
    # The length first: int() refuses thousands of digits with its own error.
    if not (text.isascii() and text.isdigit() and len(text) <= 6) or \
            not 1 <= int(text) <= MAX_REPEAT:
        raise argparse.ArgumentTypeError(f"not a whole number from 1 to {MAX_REPEAT}: '{text}'")
    return int(text)


def add_run_command(commands):
    run_parser = commands.add_parser(
        "run", usage="zelvo-fleet run [options] -- [zelvo options]",
        help="run zelvo on this machine, N times in a row",
        description="Runs zelvo on this machine into a new folder DIR/local-<UTC time> laid out "
                    "like a job's: nodes.txt names this host, and each run writes "
                    "<host>.<k>.json and <host>.<k>.log (<host>.json and <host>.log without "
                    "--repeat). Everything after -- goes to zelvo.")
    run_parser.add_argument("--repeat", type=_repeat, metavar="N",
                            help=f"run zelvo N times in a row (1 to {MAX_REPEAT}) "
                                 "[default: once, named as a job's single run]")
    run_parser.add_argument("--out", default=DEFAULT_OUT, metavar="DIR",
                            help=f"folder in which the run's folder is made "
                                 f"[default: {DEFAULT_OUT}]")
    run_parser.add_argument("--zelvo", metavar="PATH",
                            help="the zelvo program [default: as submit's]")


def split_zelvo_options(argv):
    """(zelvo-fleet's arguments, zelvo's): everything after -- goes to zelvo."""
    if argv[:1] in (["submit"], ["run"]) and "--" in argv:
        cut = argv.index("--")
        return argv[:cut], argv[cut + 1:]
    return argv, []

# ---------------------------------------------------------------------------


# --- compare and trace, and the steadiness options they share with report ---

def _add_steadiness(parser):
    parser.add_argument("--spread", type=_tolerance, default=DEFAULT_SPREAD_PCT, metavar="PCT",
                        help="flag a node whose runs spread more than PCT %% of their median, "
                             "or a run whose rate per tenth varies more than that "
                             f"[default: {DEFAULT_SPREAD_PCT:g}]")
    parser.add_argument("--throttle", type=_tolerance, default=DEFAULT_THROTTLE_PCT,
                        metavar="PCT",
                        help="flag a run whose rate over its last third is more than PCT %% "
                             f"below its first [default: {DEFAULT_THROTTLE_PCT:g}]")


def _add_compare_and_trace(commands):
    compare = commands.add_parser(
        "compare", help="compare two sets of runs: faster, slower or no significant difference",
        description="Compares the runs of NEW with those of BASE (each a result file or a "
                    "folder of runs): the ratio of their median scores with a 95 % bootstrap "
                    "interval, and one verdict. Both must have the same processor and zelvo "
                    "options; every run must be valid.")
    compare.add_argument("base", metavar="BASE", help="a result file or a folder of runs")
    compare.add_argument("new", metavar="NEW", help="a result file or a folder of runs")
    compare.add_argument("--fail-below", type=_tolerance, metavar="PCT",
                         help="exit with 1 when NEW is slower than BASE by more than PCT %% "
                              "with 95 %% confidence")
    compare.add_argument("--json", action="store_true", help="print the comparison as JSON")

    trace = commands.add_parser(
        "trace", help="show one run's rate over time and judge its steadiness",
        description="Prints each thread's rate per tenth of the run from a result file's "
                    "progress trace, the run's variation and its last third against its first, "
                    "and the verdict. Exit code 1 when the run is invalid, unsteady or "
                    "throttled.")
    trace.add_argument("file", metavar="FILE", help="a result file (zelvo --json)")
    _add_steadiness(trace)
    trace.add_argument("--json", action="store_true", help="print the trace as JSON")
    trace.add_argument("--plot", metavar="OUT",
                       help="draw every thread's rate and their sum over time into OUT (.png, "
                            ".svg, .pdf; needs matplotlib)")


def _print_json(doc):
    # Strict and ASCII: no NaN or Infinity, and every control character escaped.
    json.dump(doc, sys.stdout, indent=2, allow_nan=False, ensure_ascii=True)
    sys.stdout.write("\n")


def _need_matplotlib():
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise UsageError("--plot needs matplotlib: install the Debian package "
                         "python3-matplotlib") from None


def _run_compare(args):
    result = compare(args.base, args.new, args.fail_below)
    if args.json:
        _print_json(result)
    else:
        sys.stdout.write(format_compare(result))
    return EXIT_FLAGGED if result["pass"] is False else EXIT_OK


def _run_trace(args):
    if args.plot:
        _need_matplotlib()
    trace = build_trace(args.file, args.spread, args.throttle)
    if args.json:
        _print_json({k: v for k, v in trace.items() if not k.startswith("_")})
    else:
        sys.stdout.write(format_trace(trace))
    sys.stdout.flush()
    if args.plot:
        try:
            plot_trace(trace, args.plot)
        except (OSError, ValueError) as e:
            print(shown(f"zelvo-fleet: cannot draw the plot {args.plot}: "
                        f"{getattr(e, 'strerror', None) or e}"), file=sys.stderr)
    return EXIT_FLAGGED if trace["flags"] else EXIT_OK

# --- end of compare and trace ---


# Where submit looks for its zelvo when the caller does not say: the package's
# own folder, which is the script's in a source tree and in the tarball.
_PACKAGE_HOME = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))


def main(argv=None, home=_PACKAGE_HOME):
    """The command on argv; its exit code. home is the folder of the zelvo-fleet
    script (the Debian package keeps the script and the package apart)."""
    argv = sys.argv[1:] if argv is None else list(argv)
    argv, zelvo_options = split_zelvo_options(argv)
    args = make_parser().parse_args(argv)
    try:
        if args.command == "submit":
            return run_submit(args, zelvo_options, home)
        if args.command == "run":
            return run_local(args, zelvo_options, home)
        if args.command == "compare":
            return _run_compare(args)
        if args.command == "trace":
            return _run_trace(args)
        if args.plot:
            try:
                import matplotlib  # noqa: F401
            except ImportError:
                raise UsageError("--plot needs matplotlib: install the Debian package "
                                 "python3-matplotlib") from None
        results, failures, running = read_job_folder(args.folder)
        report = build_report(results, failures, args.tolerance, args.spread, args.throttle)
        if running:
            report.update({"pass": False, "running": running})
        if not results and not failures and not running:
            print(f"zelvo-fleet: no result files in {shown(args.folder)} (a job's folder holds "
                  "one <node>.json per node)", file=sys.stderr)
        if args.json:
            _print_json(report)
        else:
            sys.stdout.write(format_report(report))
        sys.stdout.flush()
        verdict = EXIT_OK if report["pass"] else EXIT_FLAGGED
        if args.plot:
            try:
                plot_report(report, args.plot)
            except (OSError, ValueError) as e:
                # The report stands: a gate keeps its verdict, the plot says its own error.
                print(shown(f"zelvo-fleet: cannot write the plot {args.plot}: "
                            f"{getattr(e, 'strerror', None) or e}"), file=sys.stderr)
        if running:
            say_running(running)
            return EXIT_ERROR
        return verdict
    except UsageError as e:
        print(f"zelvo-fleet: {e}", file=sys.stderr)
        return EXIT_ERROR



def run(home):
    """Runs the command of the zelvo-fleet script in the folder home and exits."""
    try:
        sys.exit(main(home=home))
    except KeyboardInterrupt:
        sys.exit(EXIT_INTERRUPTED)
    except BrokenPipeError:
        # A reader such as head closed the pipe: nothing more to say.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(EXIT_ERROR)
