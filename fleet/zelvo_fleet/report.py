"""The report: nodes grouped by processor and options, each compared with its
group's median; as text, as JSON and as a plot."""

import dataclasses
import math
import os
import shlex
import statistics

from .text import natural_key, shown

FLAG_INVALID = "invalid"
FLAG_SLOW = "slow"
FLAG_FAILED = "failed"


def build_report(results, failures, tolerance_pct):
    """Groups the nodes by processor and options, compares each node with its
    group's median score and flags the invalid, slow and failed ones. Groups
    are never compared with each other."""
    by_key = {}
    for r in results:
        by_key.setdefault((r.processor, r.options), []).append(r)

    groups = []
    counts = {"passed": 0, FLAG_INVALID: 0, FLAG_SLOW: 0, FLAG_FAILED: len(failures)}
    for members in by_key.values():
        members.sort(key=lambda r: natural_key(r.node))
    # Groups in the order of their first node's name.
    for (processor, options), members in sorted(by_key.items(),
                                                key=lambda kv: natural_key(kv[1][0].node)):
        # Only a valid score counts: an invalid run's figure is not trusted.
        scores = [r.score_mgups for r in members if r.valid]
        median = statistics.median(scores) if scores else None
        # (100 - PCT) / 100 rather than 1 - PCT / 100: exactly PCT % below stays unflagged.
        limit = median * (100 - tolerance_pct) / 100 if median else None
        rows = []
        for r in members:
            deviation = None
            if median and r.score_mgups is not None:
                deviation = (r.score_mgups / median - 1) * 100
                # Against a median of a few denormals the ratio overflows: no figure.
                if not math.isfinite(deviation):
                    deviation = None
            if not r.valid:
                flag = FLAG_INVALID
            elif limit is not None and r.score_mgups < limit:
                flag = FLAG_SLOW
            else:
                flag = None
            counts[flag or "passed"] += 1
            row = dataclasses.asdict(r)
            del row["options"]  # the group's
            row["deviation_pct"] = deviation
            row["flag"] = flag
            rows.append(row)
        groups.append({
            "processor": processor,
            "options": list(options),
            "median_mgups": median,
            "slow_below_mgups": limit,
            "nodes": rows,
        })

    flagged = counts[FLAG_INVALID] + counts[FLAG_SLOW] + counts[FLAG_FAILED]
    nodes = len(results) + len(failures)
    return {
        "tolerance_pct": tolerance_pct,
        "groups": groups,
        "failed": failures,
        "summary": {
            "nodes": nodes,
            "groups": len(groups),
            "passed": counts["passed"],
            "invalid": counts[FLAG_INVALID],
            "slow": counts[FLAG_SLOW],
            "failed": counts[FLAG_FAILED],
            "flagged": flagged,
        },
        # An empty folder passes nothing: a gate must not accept it.
        "pass": flagged == 0 and nodes > 0,
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
    if s["failed"]:
        parts.append(f"{s['failed']} failed (no usable result file)")
    verdict = "none flagged" if s["flagged"] == 0 else f"{s['flagged']} flagged"
    if s["nodes"] == 0:
        verdict = "no result files"
    return f"{nodes} in {groups}: {', '.join(parts)}; {verdict}"


def format_report(report):
    out = []
    header = ["node", "processor", "threads", "isa", "workload", "size", "score", "valid",
              "deviation", "flag"]
    for index, g in enumerate(report["groups"], 1):
        median = "-" if g["median_mgups"] is None else f"{g['median_mgups']:.2f} MGups"
        out.append(shown(f"group {index}: {g['processor']}, zelvo {_fmt_options(g['options'])}"))
        count = len(g["nodes"])
        out.append(f"  {count} node{'' if count == 1 else 's'}, median {median}, "
                   f"slow below {_fmt_score(g['slow_below_mgups'])} MGups")
        rows = []
        for n in g["nodes"]:
            threads = f"{n['threads']}{' auto' if n['threads_automatic'] else ''}"
            flag = ""
            if n["flag"] == FLAG_INVALID:
                # The reason as printed can take several lines; a row takes one.
                lines = (n["reason"] or "").splitlines()
                reason = " / ".join(shown(line.strip()) for line in lines if line.strip())
                flag = "INVALID" + (f": {reason}" if reason else "")
            elif n["flag"] == FLAG_SLOW:
                flag = "SLOW"
            rows.append([shown(n["node"]), shown(n["processor"]), threads, n["isa"],
                         n["workload"], n["size"],
                         _fmt_score(n["score_mgups"]), "yes" if n["valid"] else "no",
                         _fmt_deviation(n["deviation_pct"]), flag])
        out.extend("  " + line for line in _table(header, rows, right={2, 5, 6, 8}))
        out.append("")
    if report["failed"]:
        out.append(f"failed nodes ({len(report['failed'])}):")
        rows = [[shown(f["node"]), shown(os.path.basename(f["file"])) if f["file"] else "-",
                 shown(f["error"])] for f in report["failed"]]
        out.extend("  " + line for line in _table(["node", "file", "error"], rows, right=set()))
        out.append("")
    out.append(summary_line(report))
    return "\n".join(out) + "\n"


def plot_report(report, path):
    """Draws each group's scores sorted, with the median and the tolerance band.
    Raises OSError or ValueError when the file cannot be written."""
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
              FLAG_INVALID: ("tab:red", "invalid")}
    for ax, g in zip(axes, groups):
        rows = sorted((n for n in g["nodes"] if n["score_mgups"] is not None),
                      key=lambda n: n["score_mgups"])
        if g["slow_below_mgups"] is not None:
            ax.axhspan(g["slow_below_mgups"], g["median_mgups"], color="tab:green", alpha=0.15,
                       label=f"tolerance ({report['tolerance_pct']:g} % below the median)")
            ax.axhline(g["median_mgups"], color="tab:green",
                       label=f"median {g['median_mgups']:.2f} MGups")
        # Points rather than bars: the axis then spans the scores, not zero to
        # the top, and a few per cent stay visible.
        for flag, (colour, label) in styles.items():
            points = [(i, n["score_mgups"]) for i, n in enumerate(rows) if n["flag"] == flag]
            if points:
                ax.scatter(*zip(*points), color=colour, label=label, zorder=3)
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
                      + (f" ({unscored} invalid without a score)" if unscored else ""))
        ax.set_ylabel("MGups")
        ax.set_title(f"{shown(g['processor'])}\nzelvo {shown(_fmt_options(g['options']))}",
                     fontsize="medium", parse_math=False)
    fig.savefig(path)

