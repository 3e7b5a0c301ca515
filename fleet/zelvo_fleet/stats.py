"""Statistics over runs and over a run's trace: plain functions on numbers.

A run's trace is one (index, points) per thread; points are the thread's
(seconds, updates) pairs, cumulative grid-cell updates against the seconds on
the thread's own timer since its timed loop began, in order.
"""

import bisect
import dataclasses
import math
import operator
import random
import statistics

# The first tenth of a run is its warm-up (caches, clocks ramping up): the
# steadiness figures leave it out.
WARM_UP_FRACTION = 0.1
# The windows of a trace: tenths of the run.
WINDOWS = 10
# A thread with fewer points cannot resolve tenths: a straight line between
# two far-apart points would hide any change between them.
MIN_TRACE_POINTS = 20
# A trace shorter than this gives no rates worth judging.
MIN_TRACE_SECONDS = 1e-3

CONFIDENCE = 0.95
RESAMPLES = 10_000
# Fixed, so that the same files always print the same interval.
SEED = 20_261_210


def spread(scores):
    """(max - min) / median of the scores, as a fraction; None for fewer than
    two scores or a median of 0."""
    if len(scores) < 2:
        return None
    median = statistics.median(scores)
    if median <= 0:
        return None
    value = (max(scores) - min(scores)) / median
    return value if math.isfinite(value) else None


def coefficient_of_variation(values):
    """The sample standard deviation (n - 1) over the mean, as a fraction; None
    for fewer than two values or a mean of 0."""
    if len(values) < 2:
        return None
    mean = statistics.fmean(values)
    if mean <= 0:
        return None
    value = statistics.stdev(values) / mean
    return value if math.isfinite(value) else None


def updates_at(points, t):
    """A thread's cumulative updates at time t, linear between its points; the
    trace starts at (0, 0), when the timed loop began. Past the last point: the
    last point's updates."""
    i = bisect.bisect_left(points, t, key=operator.itemgetter(0))
    if i == len(points):
        return float(points[-1][1])
    s1, u1 = points[i]
    if s1 == t:
        return float(u1)
    s0, u0 = points[i - 1] if i else (0.0, 0)
    return u0 + (u1 - u0) * (t - s0) / (s1 - s0)


def rate(points, start, end):
    """A thread's rate from start to end in updates per second: the updates in
    between (updates_at) over the time."""
    return (updates_at(points, end) - updates_at(points, start)) / (end - start)


def trace_span(trace):
    """The time every thread of the trace covers: the shortest thread's last
    point, in seconds (0 for an empty trace). All windows lie within it, on the
    one time grid of every thread (their timed loops begin together)."""
    return min((points[-1][0] for _, points in trace), default=0.0)


def why_no_verdict(trace):
    """Why the trace cannot be judged, or None: it needs a thread, at least
    MIN_TRACE_POINTS points in each and MIN_TRACE_SECONDS of span."""
    if trace is None:
        return "the file has no trace (zelvo-result/1)"
    if not trace:
        return "no thread finished"
    if min(len(points) for _, points in trace) < MIN_TRACE_POINTS:
        return f"a thread's trace has fewer than {MIN_TRACE_POINTS} points"
    if trace_span(trace) < MIN_TRACE_SECONDS:
        return "the trace spans less than a millisecond"
    return None


def window_rates(trace, windows=WINDOWS):
    """(per_thread, total): each thread's rate in each of `windows` equal
    windows of the trace's span, in updates per second, and their sum per
    window (the run's rate in that window)."""
    span = trace_span(trace)
    edges = [span * i / windows for i in range(windows + 1)]
    per_thread = [[rate(points, a, b) for a, b in zip(edges, edges[1:])] for _, points in trace]
    total = [math.fsum(column) for column in zip(*per_thread)]
    return per_thread, total


@dataclasses.dataclass(frozen=True)
class Steadiness:
    """A run's steadiness; both figures None when no_verdict says why not."""
    cv: float | None
    change: float | None
    no_verdict: str | None


def steadiness(trace):
    """How steady a run was within itself, after its warm-up (the first tenth):

    cv      the coefficient of variation of the run's rate over the windows
            (tenths) 2 to 10, the rate of a window being the sum of every
            thread's rate in it;
    change  the run's rate over the last third of the span relative to its rate
            over the first third without the warm-up (from 1/10 to 1/3 of the
            span), minus 1: -0.08 is a run 8 % slower at its end.
    """
    why = why_no_verdict(trace)
    if why is not None:
        return Steadiness(None, None, why)
    _, total = window_rates(trace)
    skip = round(WINDOWS * WARM_UP_FRACTION)
    cv = coefficient_of_variation(total[skip:])
    span = trace_span(trace)
    first = math.fsum(rate(p, span * WARM_UP_FRACTION, span / 3) for _, p in trace)
    last = math.fsum(rate(p, span * 2 / 3, span) for _, p in trace)
    change = last / first - 1 if first > 0 else None
    if cv is None or change is None or not math.isfinite(change):
        return Steadiness(None, None, "the run made no progress after its warm-up")
    return Steadiness(cv, change, None)


def _quantile_pair(values, confidence):
    # statistics.quantiles' inclusive method: the 2.5th and 97.5th percentiles of
    # the values themselves, interpolated, never outside their range.
    cuts = statistics.quantiles(values, n=round(2 / (1 - confidence)), method="inclusive")
    return cuts[0], cuts[-1]


def bootstrap_ratio(base, new, confidence=CONFIDENCE, resamples=RESAMPLES, seed=SEED):
    """The percentile bootstrap interval of median(new) / median(base): draws
    each side's runs with replacement, as many as it has, `resamples` times
    with random.Random(seed), and returns the (1 - confidence) / 2 and
    (1 + confidence) / 2 quantiles of the ratios of the medians. The scores are
    sorted first, so the order of the files does not matter. Needs two scores a
    side and positive scores in base."""
    if len(base) < 2 or len(new) < 2:
        raise ValueError("the bootstrap needs two runs a side")
    base, new = sorted(base), sorted(new)
    rng = random.Random(seed)
    ratios = []
    for _ in range(resamples):
        b = statistics.median(rng.choices(base, k=len(base)))
        n = statistics.median(rng.choices(new, k=len(new)))
        if b <= 0:
            raise ValueError("a median of 0 on the base side")
        ratios.append(n / b)
    return _quantile_pair(ratios, confidence)
