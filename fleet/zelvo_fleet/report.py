"""The report: each node judged by its runs, nodes grouped by processor and
options, each compared with its group; as text, as JSON and as a plot."""

import math
import os
import shlex
import statistics

from . import stats
from .text import natural_key, shown

FLAG_INVALID = "invalid"
FLAG_SLOW = "slow"
FLAG_UNSTEADY = "unsteady"
FLAG_THROTTLED = "throttled"
FLAG_FAILED = "failed"
# The order in which a node's flags are listed; the first is its "flag".
FLAGS = (FLAG_INVALID, FLAG_SLOW, FLAG_UNSTEADY, FLAG_THROTTLED)


def _percent(fraction):
    return None if fraction is None else fraction * 100


def judge_run(r, spread_pct, throttle_pct):
    """One run as the report shows it, with its steadiness (stats.steadiness)
    for a valid run. unsteady: the coefficient of variation of its tenths above
    spread_pct; throttled: its last third more than throttle_pct below its
    first."""
    steady = stats.steadiness(r.trace) if r.valid else \
        stats.Steadiness(None, None, "the run is invalid")
    cv, change = _percent(steady.cv), _percent(steady.change)
    return {
        "run": r.run, "file": r.file, "schema": r.schema, "score_mgups": r.score_mgups,
        "valid": r.valid, "reason": r.reason,
        "cv_pct": cv, "change_pct": change, "no_verdict": steady.no_verdict,
        "unsteady": cv is not None and cv > spread_pct,
        "throttled": change is not None and change < -throttle_pct,
    }


def _failed_reason(f):
    if f["error"].startswith("run"):
        return f["error"]
    if f["run"] is not None:
        return f"run {f['run']}: {f['error']}"
    return f"{os.path.basename(f['file'])}: {f['error']}" if f["file"] else f["error"]


def _node_row(node, runs, failed, spread_pct, throttle_pct):
    first = runs[0]
    judged = [judge_run(r, spread_pct, throttle_pct) for r in runs]
    valid = [r.score_mgups for r in runs if r.valid]
    # Only valid scores count; a node without one shows its invalid figures, as
    # information, never judged.
    scores = valid or [r.score_mgups for r in runs if r.score_mgups is not None]
    spread = _percent(stats.spread(valid))
    reasons = []
    for r in runs:
        if not r.valid:
            reasons.append((f"run {r.run}: " if r.run else "") + (r.reason or "invalid"))
    reasons += [_failed_reason(f) for f in failed]
    flags = set()
    if reasons:
        flags.add(FLAG_INVALID)
    if (spread is not None and spread > spread_pct) or any(j["unsteady"] for j in judged):
        flags.add(FLAG_UNSTEADY)
    if any(j["throttled"] for j in judged):
        flags.add(FLAG_THROTTLED)
    return {
        "node": node,
        "processor": first.processor,
        "threads": first.threads,
        "threads_automatic": first.threads_automatic,
        "isa": first.isa,
        "workload": first.workload,
        "size": first.size,
        "file": first.file if len(runs) == 1 else None,
        "runs": len(runs),
        "score_mgups": statistics.median(scores) if scores else None,
        "judged": bool(valid),
        "min_mgups": min(scores) if scores else None,
        "max_mgups": max(scores) if scores else None,
        "spread_pct": spread,
        "valid": not reasons,
        "reason": " / ".join(reasons) if reasons else None,
        "flags": [f for f in FLAGS if f in flags],
        "results": judged,
        "failed_runs": failed,
    }


def build_report(results, failures, tolerance_pct, spread_pct=5.0, throttle_pct=5.0):
    """Judges each node by its runs and each group's nodes against each other.

    A node's score is the median of its valid runs; its spread is (max - min) /
    median of them. A group is the nodes with the same processor and options;
    its median is the median of the scores of its nodes without an invalid run.
    A node is flagged
      invalid    when a run of it is invalid or left no usable file;
      slow       when its score is more than tolerance_pct % below its group's
                 median (exactly that much passes);
      unsteady   when its spread is above spread_pct %, or a valid run's
                 in-run variation (stats.steadiness) is;
      throttled  when a valid run's last third is more than throttle_pct %
                 below its first (stats.steadiness).
    A node may carry several flags. The nodes without any usable run are
    failed. Groups are never compared with each other."""
    by_key = {}
    for r in results:
        by_key.setdefault((r.processor, r.options), {}).setdefault(r.node, []).append(r)
    nodes_with_runs = {r.node for r in results}
    failed_runs, failed = {}, []
    for f in failures:
        if f["node"] in nodes_with_runs:
            failed_runs.setdefault(f["node"], []).append(f)
        else:
            failed.append(f)

    groups = []
    counts = dict.fromkeys(("passed", *FLAGS), 0)
    flagged = 0
    members = {key: [_node_row(node, sorted(runs, key=lambda r: r.run or 0),
                               failed_runs.get(node, []), spread_pct, throttle_pct)
                     for node, runs in sorted(nodes.items(), key=lambda kv: natural_key(kv[0]))]
               for key, nodes in by_key.items()}
    # Groups in the order of their first node's name.
    for (processor, options), rows in sorted(members.items(),
                                             key=lambda kv: natural_key(kv[1][0]["node"])):
        scores = [n["score_mgups"] for n in rows if n["valid"] and n["judged"]]
        median = statistics.median(scores) if scores else None
        # (100 - PCT) / 100 rather than 1 - PCT / 100: exactly PCT % below stays unflagged.
        limit = median * (100 - tolerance_pct) / 100 if median else None
        for n in rows:
            deviation = None
            if median and n["score_mgups"] is not None:
                deviation = (n["score_mgups"] / median - 1) * 100
                # Against a median of a few denormals the ratio overflows: no figure.
                if not math.isfinite(deviation):
                    deviation = None
            n["deviation_pct"] = deviation
            if limit is not None and n["judged"] and n["score_mgups"] < limit:
                n["flags"] = [f for f in FLAGS if f in n["flags"] or f == FLAG_SLOW]
            n["flag"] = n["flags"][0] if n["flags"] else None
            for flag in n["flags"]:
                counts[flag] += 1
            counts["passed"] += not n["flags"]
            flagged += bool(n["flags"])
        groups.append({
            "processor": processor,
            "options": list(options),
            "median_mgups": median,
            "slow_below_mgups": limit,
            "nodes": rows,
        })

    failed_nodes = len({f["node"] for f in failed})
    nodes = sum(len(g["nodes"]) for g in groups) + failed_nodes
    unjudged = sum(1 for g in groups for n in g["nodes"] for r in n["results"]
                   if r["no_verdict"] and r["valid"])
    return {
        "tolerance_pct": tolerance_pct,
        "spread_pct": spread_pct,
        "throttle_pct": throttle_pct,
        "groups": groups,
        "failed": failed,
        "summary": {
            "nodes": nodes,
            "groups": len(groups),
            "runs": len(results),
            "passed": counts["passed"],
            "invalid": counts[FLAG_INVALID],
            "slow": counts[FLAG_SLOW],
            "unsteady": counts[FLAG_UNSTEADY],
            "throttled": counts[FLAG_THROTTLED],
            "failed": failed_nodes,
            "flagged": flagged + failed_nodes,
            "runs_without_in_run_verdict": unjudged,
        },
        # An empty folder passes nothing: a gate must not accept it.
        "pass": flagged + failed_nodes == 0 and nodes > 0,
    }


def _fmt_score(value):
    return "-" if value is None else f"{value:.2f}"


def _fmt_deviation(value):
    return "-" if value is None else f"{value:+.1f} %"


def _fmt_options(options):
    return shlex.join(options) if options else "(defaults)"


def _table(header, rows, right):
    widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
    lines = []
    for row in [header] + rows:
        cells = [str(c).rjust(w) if i in right else str(c).ljust(w)
                 for i, (c, w) in enumerate(zip(row, widths))]
        lines.append("  ".join(cells).rstrip())
    return lines


def summary_line(report):
    s = report["summary"]
    groups = f"{s['groups']} group" + ("" if s["groups"] == 1 else "s")
    nodes = f"{s['nodes']} node" + ("" if s["nodes"] == 1 else "s")
    parts = [f"{s['passed']} passed"]
    if s["invalid"]:
        parts.append(f"{s['invalid']} invalid")
    if s["slow"]:
        parts.append(f"{s['slow']} slow (more than {report['tolerance_pct']:g} % below "
                     "their group's median)")
    if s["unsteady"]:
        parts.append(f"{s['unsteady']} unsteady (a spread or an in-run variation above "
                     f"{report['spread_pct']:g} %)")
    if s["throttled"]:
        parts.append(f"{s['throttled']} throttled (a run's last third more than "
                     f"{report['throttle_pct']:g} % below its first)")
    if s["failed"]:
        parts.append(f"{s['failed']} failed (no usable result file)")
    verdict = "none flagged" if s["flagged"] == 0 else f"{s['flagged']} flagged"
    if s["nodes"] == 0:
        verdict = "no result files"
    return f"{nodes} in {groups}: {', '.join(parts)}; {verdict}"


def flag_text(n):
    """A node's flags as its row shows them; the invalid one with its reasons."""
    words = []
    for flag, what, figure in ((FLAG_SLOW, None, None),
                               (FLAG_UNSTEADY, "unsteady", lambda r: f"varies {r['cv_pct']:.1f} %"),
                               (FLAG_THROTTLED, "throttled",
                                lambda r: f"ends {-r['change_pct']:.1f} % slower")):
        if flag not in n["flags"]:
            continue
        # The in-run verdicts name their worst run; a spread shows in its own column.
        runs = [r for r in n["results"] if what and r[what]]
        if runs:
            worst = max(runs, key=lambda r: r["cv_pct"] if what == "unsteady" else -r["change_pct"])
            which = f"run {worst['run']} " if worst["run"] else ""
            words.append(f"{flag.upper()}: {which}{figure(worst)}")
        else:
            words.append(flag.upper())
    if FLAG_INVALID in n["flags"]:
        # The reason as printed can take several lines; a row takes one.
        lines = (n["reason"] or "").splitlines()
        reason = " / ".join(shown(line.strip()) for line in lines if line.strip())
        words.append("INVALID" + (f": {reason}" if reason else ""))
    return ", ".join(words)


def _fmt_spread(value):
    return "-" if value is None else f"{value:.1f} %"


def _repeated(report):
    return any(n["runs"] > 1 or n["failed_runs"] for g in report["groups"] for n in g["nodes"])


def format_report(report):
    """The report as text: a folder of single runs shows each node's score; one
    of repeated runs each node's runs, median, min-max and spread."""
    out = []
    repeated = _repeated(report)
    if repeated:
        header = ["node", "processor", "threads", "isa", "workload", "size", "runs", "median",
                  "min-max", "spread", "valid", "deviation", "flags"]
        right = {2, 5, 6, 7, 8, 9, 11}
    else:
        header = ["node", "processor", "threads", "isa", "workload", "size", "score", "valid",
                  "deviation", "flag"]
        right = {2, 5, 6, 8}
    for index, g in enumerate(report["groups"], 1):
        median = "-" if g["median_mgups"] is None else f"{g['median_mgups']:.2f} MGups"
        out.append(shown(f"group {index}: {g['processor']}, zelvo {_fmt_options(g['options'])}"))
        count = len(g["nodes"])
        out.append(f"  {count} node{'' if count == 1 else 's'}, median {median}, "
                   f"slow below {_fmt_score(g['slow_below_mgups'])} MGups")
        rows = []
        for n in g["nodes"]:
            threads = f"{n['threads']}{' auto' if n['threads_automatic'] else ''}"
            row = [shown(n["node"]), shown(n["processor"]), threads, n["isa"], n["workload"],
                   n["size"]]
            if repeated:
                scored = n["min_mgups"] is not None
                row += [n["runs"], _fmt_score(n["score_mgups"]),
                        f"{n['min_mgups']:.2f}-{n['max_mgups']:.2f}" if scored else "-",
                        _fmt_spread(n["spread_pct"])]
            else:
                row.append(_fmt_score(n["score_mgups"]))
            row += ["yes" if n["valid"] else "no", _fmt_deviation(n["deviation_pct"]),
                    flag_text(n)]
            rows.append(row)
        out.extend("  " + line for line in _table(header, rows, right=right))
        out.append("")
    if report["failed"]:
        out.append(f"failed nodes ({report['summary']['failed']}):")
        rows = [[shown(f["node"]), shown(os.path.basename(f["file"])) if f["file"] else "-",
                 shown(f["error"])] for f in report["failed"]]
        out.extend("  " + line for line in _table(["node", "file", "error"], rows, right=set()))
        out.append("")
    unjudged = {}
    for g in report["groups"]:
        for n in g["nodes"]:
            for r in n["results"]:
                if r["valid"] and r["no_verdict"]:
                    unjudged[r["no_verdict"]] = unjudged.get(r["no_verdict"], 0) + 1
    for why, count in sorted(unjudged.items()):
        out.append(f"no in-run verdict for {count} run{'' if count == 1 else 's'}: {why}")
    out.append(summary_line(report))
    return "\n".join(out) + "\n"


def plot_report(report, path):
    """Draws each group's nodes sorted by score, with their min-max over the
    runs, the median and the tolerance band. Raises OSError or ValueError when
    the file cannot be written."""
    from matplotlib.figure import Figure

    groups = report["groups"]
    widest = max((len(g["nodes"]) for g in groups), default=1)
    fig = Figure(figsize=(min(20, max(6, 2 + 0.3 * widest)), 1 + 3.2 * max(1, len(groups))),
                 layout="constrained")
    if not groups:
        ax = fig.subplots()
        ax.text(0.5, 0.5, "no readable result files", ha="center", va="center")
        ax.set_axis_off()
    axes = fig.subplots(len(groups), 1, squeeze=False)[:, 0] if groups else []
    styles = {None: ("tab:blue", "passed"), FLAG_SLOW: ("tab:orange", "slow"),
              FLAG_UNSTEADY: ("tab:purple", "unsteady"),
              FLAG_THROTTLED: ("tab:brown", "throttled"), FLAG_INVALID: ("tab:red", "invalid")}
    for ax, g in zip(axes, groups):
        rows = sorted((n for n in g["nodes"] if n["score_mgups"] is not None),
                      key=lambda n: n["score_mgups"])
        if g["slow_below_mgups"] is not None:
            ax.axhspan(g["slow_below_mgups"], g["median_mgups"], color="tab:green", alpha=0.15,
                       label=f"tolerance ({report['tolerance_pct']:g} % below the median)")
            ax.axhline(g["median_mgups"], color="tab:green",
                       label=f"median {g['median_mgups']:.2f} MGups")
        # Points rather than bars: the axis then spans the scores, not zero to
        # the top, and a few per cent stay visible. A node's colour is its first
        # flag; a bar spans its runs' min-max.
        for flag, (colour, label) in styles.items():
            points = [(i, n) for i, n in enumerate(rows) if n["flag"] == flag]
            if not points:
                continue
            xs = [i for i, _ in points]
            ys = [n["score_mgups"] for _, n in points]
            ax.scatter(xs, ys, color=colour, label=label, zorder=3)
            if any(n["runs"] > 1 for _, n in points):
                ax.errorbar(xs, ys, yerr=[[n["score_mgups"] - n["min_mgups"] for _, n in points],
                                          [n["max_mgups"] - n["score_mgups"] for _, n in points]],
                            fmt="none", ecolor=colour, capsize=3, zorder=2)
        ax.legend(loc="best", fontsize="small")
        # Node names only while they stay readable; 500 points speak for themselves.
        # Text from the files: escaped, and never read as matplotlib's math ($...$).
        if len(rows) <= 40:
            ax.set_xticks(range(len(rows)), [shown(n["node"]) for n in rows],
                          rotation=90 if len(rows) > 8 else 0, fontsize="small",
                          parse_math=False)
        else:
            ax.set_xticks([])
        ax.set_xlim(-0.5, max(len(rows), 1) - 0.5)
        count, unscored = len(rows), len(g["nodes"]) - len(rows)
        ax.set_xlabel(f"{count} node{'' if count == 1 else 's'}, sorted by score"
                      + (" (median of the runs, bar: min-max)" if _repeated(report) else "")
                      + (f" ({unscored} invalid without a score)" if unscored else ""))
        ax.set_ylabel("MGups")
        ax.set_title(f"{shown(g['processor'])}\nzelvo {shown(_fmt_options(g['options']))}",
                     fontsize="medium", parse_math=False)
    fig.savefig(path)
