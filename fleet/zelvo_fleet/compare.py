"""compare: two sets of runs of the same settings, the ratio of their medians
with a bootstrap interval, and one verdict."""

import math
import os
import shlex
import statistics

from . import stats
from .constants import DEFAULT_TOLERANCE_PCT
from .errors import ResultFileError, UsageError
from .results import read_folder, read_result_file
from .text import shown

FASTER = "faster"
SLOWER = "slower"
SAME = "no significant difference"


def _options(options):
    return shlex.join(options) if options else "(defaults)"


def read_side(label, path):
    """The runs of one side: a result file, or every run of a folder (any
    layout, any node). UsageError when the side cannot be compared as a whole:
    a file that cannot be used, a run that is invalid or missing (the figures
    would hide it), no run, or runs of more than one processor or option set."""
    if os.path.isdir(path):
        results, failures = read_folder(path)
        if failures:
            f = failures[0]
            where = shown(os.path.basename(f["file"]) if f["file"] else f["node"])
            more = f" (and {len(failures) - 1} more)" if len(failures) > 1 else ""
            raise UsageError(f"{label} {shown(path)}: {where}: {shown(f['error'])}{more}")
    else:
        try:
            results = [read_result_file(path)]
        except ResultFileError as e:
            raise UsageError(f"{label} {shown(path)}: {e}") from None
    if not results:
        raise UsageError(f"{label} {shown(path)}: no result files")
    for r in results:
        if not r.valid:
            reason = " / ".join(line.strip() for line in (r.reason or "").splitlines()
                                if line.strip())
            raise UsageError(shown(f"{label} {path}: {os.path.basename(r.file)} is an invalid run "
                                   f"({reason}); compare takes valid runs only"))
    kinds = sorted({(r.processor, r.options) for r in results})
    if len(kinds) > 1:
        named = "; ".join(f"{p}, zelvo {_options(o)}" for p, o in kinds[:2])
        raise UsageError(shown(f"{label} {path} holds runs of {len(kinds)} settings ({named}); "
                               "compare takes one"))
    return results


def _side(path, results):
    scores = sorted(r.score_mgups for r in results)
    return {"path": path, "runs": len(scores), "median_mgups": statistics.median(scores),
            "min_mgups": scores[0], "max_mgups": scores[-1], "scores_mgups": scores}


def compare(base_path, new_path, fail_below_pct=None):
    """Compares the runs of NEW with those of BASE.

    Both sides must share the processor brand and the zelvo options as given
    (UsageError naming the difference). ratio is median(NEW) / median(BASE).
    With at least two runs a side, interval is its percentile bootstrap interval
    (stats.bootstrap_ratio) and the verdict is faster when the interval lies
    above 1, slower when it lies below 1, else no significant difference; the
    gate (fail_below_pct) fails when the interval's upper end is below
    1 - PCT/100. With one run on a side there is no interval: the verdict and
    the gate compare the ratio itself with 1 -/+ PCT/100, PCT being
    fail_below_pct or, without it, the report's default tolerance."""
    base_runs = read_side("BASE", base_path)
    new_runs = read_side("NEW", new_path)
    (base_cpu, base_options), (new_cpu, new_options) = \
        ((r.processor, r.options) for r in (base_runs[0], new_runs[0]))
    if base_cpu != new_cpu:
        raise UsageError(shown(f"BASE and NEW differ in processor: \"{base_cpu}\" and "
                               f"\"{new_cpu}\""))
    if base_options != new_options:
        raise UsageError(shown(f"BASE and NEW differ in zelvo options: "
                               f"\"{_options(base_options)}\" and \"{_options(new_options)}\""))
    base, new = _side(base_path, base_runs), _side(new_path, new_runs)
    # Every resampled median lies between a side's lowest and highest score.
    if base["min_mgups"] <= 0 or not math.isfinite(new["max_mgups"] / base["min_mgups"]):
        raise UsageError("BASE has a score too close to 0 to divide by")
    ratio = new["median_mgups"] / base["median_mgups"]
    pct = DEFAULT_TOLERANCE_PCT if fail_below_pct is None else fail_below_pct
    limit = (100 - pct) / 100
    if base["runs"] >= 2 and new["runs"] >= 2:
        low, high = stats.bootstrap_ratio(base["scores_mgups"], new["scores_mgups"])
        interval = [low, high]
        verdict = FASTER if low > 1 else SLOWER if high < 1 else SAME
        fails = high < limit
    else:
        interval = None
        verdict = SLOWER if ratio < limit else FASTER if ratio > (100 + pct) / 100 else SAME
        fails = ratio < limit
    return {
        "processor": base_cpu,
        "options": list(base_options),
        "base": base,
        "new": new,
        "ratio": ratio,
        "confidence": stats.CONFIDENCE,
        "interval": interval,
        "resamples": stats.RESAMPLES if interval else None,
        "seed": stats.SEED if interval else None,
        "compared_with_pct": None if interval else pct,
        "verdict": verdict,
        "fail_below_pct": fail_below_pct,
        "pass": None if fail_below_pct is None else not fails,
    }


def _fmt_ratio(ratio):
    return f"{ratio:.3f} ({(ratio - 1) * 100:+.1f} %)"


def format_compare(c):
    out = [shown(f"{c['processor']}, zelvo {_options(c['options'])}")]
    rows = [["", "runs", "median", "min-max", "from"]]
    for label in ("base", "new"):
        s = c[label]
        rows.append([label, str(s["runs"]), f"{s['median_mgups']:.2f}",
                     f"{s['min_mgups']:.2f}-{s['max_mgups']:.2f}", shown(s["path"])])
    widths = [max(len(r[i]) for r in rows) for i in range(5)]
    for r in rows:
        cells = [r[0].ljust(widths[0])] + [r[i].rjust(widths[i]) for i in (1, 2, 3)] + [r[4]]
        out.append("  " + "  ".join(cells).rstrip())
    line = f"new / base: {_fmt_ratio(c['ratio'])}"
    if c["interval"]:
        low, high = c["interval"]
        line += (f", {c['confidence'] * 100:g} % interval {low:.3f} to {high:.3f} "
                 f"(bootstrap over the runs, {c['resamples']} resamples)")
    else:
        line += (f"; one run on a side gives no interval: the ratio is compared with "
                 f"{c['compared_with_pct']:g} %")
    out.append(line)
    out.append(f"verdict: {c['verdict']}")
    if c["fail_below_pct"] is not None:
        pct = f"{c['fail_below_pct']:g} %"
        how = (f"{c['confidence'] * 100:g} % confidence" if c["interval"]
               else "one run on a side: the ratio itself")
        out.append(f"gate passed: new is not shown to be more than {pct} slower ({how})"
                   if c["pass"] else f"gate failed: new is more than {pct} slower ({how})")
    return "\n".join(out) + "\n"
