"""trace: one run's progress, each thread's rate per tenth of the run, its
steadiness and the verdict; as text, as JSON and as a plot."""

import shlex

from . import stats
from .errors import ResultFileError, UsageError
from .report import judge_run
from .results import read_result_file
from .text import shown

# The plot's resolution: hundredths of the run, as zelvo records them.
PLOT_WINDOWS = 100


def build_trace(path, spread_pct, throttle_pct):
    """The trace of the result file at path: the rates per tenth (MGups) of
    every thread and their sum, the steadiness figures and the flags of
    report.judge_run. UsageError when the file cannot be used."""
    try:
        r = read_result_file(path)
    except ResultFileError as e:
        raise UsageError(f"{shown(path)}: {e}") from None
    judged = judge_run(r, spread_pct, throttle_pct)
    tenths = None
    if stats.why_no_verdict(r.trace) is None:
        per_thread, total = stats.window_rates(r.trace)
        tenths = {"seconds_each": stats.trace_span(r.trace) / stats.WINDOWS,
                  "threads": [{"index": index, "mgups": [v / 1e6 for v in rates]}
                              for (index, _), rates in zip(r.trace, per_thread)],
                  "sum_mgups": [v / 1e6 for v in total]}
    flags = [name for name, on in (("invalid", not r.valid), ("unsteady", judged["unsteady"]),
                                   ("throttled", judged["throttled"])) if on]
    return {"file": path, "processor": r.processor, "options": list(r.options),
            "threads": r.threads, "score_mgups": r.score_mgups, "valid": r.valid,
            "reason": r.reason, "spread_pct": spread_pct, "throttle_pct": throttle_pct,
            "cv_pct": judged["cv_pct"], "change_pct": judged["change_pct"],
            "no_verdict": judged["no_verdict"], "tenths": tenths, "flags": flags,
            "_trace": r.trace}


def format_trace(t):
    options = shlex.join(t["options"]) if t["options"] else "(defaults)"
    score = "-" if t["score_mgups"] is None else f"{t['score_mgups']:.2f} MGups"
    out = [shown(f"{t['file']}: {t['processor']}, zelvo {options}, {t['threads']} "
                 f"thread{'' if t['threads'] == 1 else 's'}, "
                 f"{'valid' if t['valid'] else 'invalid'}, {score}")]
    tenths = t["tenths"]
    if tenths:
        out.append(f"rate per tenth of the run in MGups ({tenths['seconds_each']:.3f} s each; "
                   "the first is the warm-up):")
        rows = [["thread", *map(str, range(1, stats.WINDOWS + 1))]]
        rows += [[str(th["index"]), *(f"{v:.2f}" for v in th["mgups"])]
                 for th in tenths["threads"]]
        rows.append(["sum", *(f"{v:.2f}" for v in tenths["sum_mgups"])])
        widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
        out += ["  " + "  ".join(c.rjust(w) for c, w in zip(r, widths)) for r in rows]
    if t["cv_pct"] is not None:
        out.append(f"in-run variation: {t['cv_pct']:.1f} % (coefficient of variation of tenths "
                   f"2 to {stats.WINDOWS}; unsteady above {t['spread_pct']:g} %)")
        out.append(f"last third against first: {t['change_pct']:+.1f} % (the rate over the last "
                   f"third against 1/10 to 1/3 of the run; throttled below "
                   f"-{t['throttle_pct']:g} %)")
    words = [f.upper() for f in t["flags"] if f != "invalid"]
    if not t["valid"]:
        lines = (t["reason"] or "").splitlines()
        reason = " / ".join(shown(line.strip()) for line in lines if line.strip())
        words.append("INVALID" + (f": {reason}" if reason else ""))
    if t["no_verdict"] and t["valid"]:
        words.append(f"no in-run verdict: {t['no_verdict']}")
    out.append(f"verdict: {', '.join(words) or 'steady'}")
    return "\n".join(out) + "\n"


def plot_trace(t, path):
    """Draws the run's rate (the sum over its threads) and every thread's rate
    over time, per hundredth of the run. Raises ValueError when the file has
    no trace to draw, OSError or ValueError when the file cannot be written."""
    trace = t["_trace"]
    if not trace:
        raise ValueError("the file has no trace to draw" if trace is None else
                         "no thread finished")
    from matplotlib.figure import Figure

    windows = max(1, min(PLOT_WINDOWS, min(len(points) for _, points in trace)))
    span = stats.trace_span(trace)
    if span <= 0:
        raise ValueError("the trace spans no time")
    per_thread, total = stats.window_rates(trace, windows)
    times = [span * (i + 0.5) / windows for i in range(windows)]
    fig = Figure(figsize=(9, 6), layout="constrained")
    top, bottom = fig.subplots(2, 1, sharex=True)
    top.plot(times, [v / 1e6 for v in total], color="black", label="sum of the threads")
    top.axvspan(0, span * stats.WARM_UP_FRACTION, color="tab:gray", alpha=0.15,
                label="warm-up")
    top.set_ylabel("MGups")
    top.legend(loc="best", fontsize="small")
    top.set_title(shown(f"{t['file']}: {t['processor']}"), fontsize="medium", parse_math=False)
    for (index, _), rates in zip(trace, per_thread):
        bottom.plot(times, [v / 1e6 for v in rates], label=f"thread {index}", linewidth=0.8)
    if len(trace) <= 16:
        bottom.legend(loc="best", fontsize="small", ncols=min(4, len(trace)))
    bottom.set_xlabel(f"seconds (rates per {span / windows * 1000:.0f} ms)")
    bottom.set_ylabel("MGups per thread")
    fig.savefig(path)
