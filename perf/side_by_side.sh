#!/bin/sh
# Two builds of the program side by side: runs A and B alternately (A first in
# odd rounds, B first in even ones) with the same options and prints each
# run's score, the best of each build and the ratio best B / best A. On a shared
# machine interference only slows a run down, so the best of several runs is
# the figure that compares. A_OPTIONS and B_OPTIONS, when set, are added to
# one build's options only (split at blanks), so that one run can set, say,
# today's build at one grid size against a new build at another:
#   perf/side_by_side.sh ZELVO_A ZELVO_B ROUNDS [zelvo options...]
#   A_OPTIONS="-s 192" B_OPTIONS="-s 512" perf/side_by_side.sh A B 3 -d 4 -n 1
# RUN_PREFIX, when set, goes before each run's command line (split at blanks),
# so that both builds run pinned while zelvo_memory_load loads the other cores:
#   taskset -c 1 build/native/perf/zelvo_memory_load 200 & RUN_PREFIX="taskset -c 0" perf/side_by_side.sh A B 5 -d 4 -n 1
set -eu
[ $# -ge 3 ] || { echo "usage: $0 ZELVO_A ZELVO_B ROUNDS [zelvo options...]" >&2; exit 2; }
a=$1 b=$2 rounds=$3
shift 3
for bin in "$a" "$b"; do
  [ -x "$bin" ] || { echo "$0: '$bin' is not an executable" >&2; exit 2; }
done
case $rounds in '' | *[!0-9]*) echo "$0: ROUNDS must be a whole number" >&2; exit 2 ;; esac

# The score of one run, or 0 (with the run's output on stderr) when it printed none.
score() {
  out=$("$@" < /dev/null 2>&1 | tr '\r' '\n') || true
  s=$(printf '%s\n' "$out" | sed -n 's/^final score: \([0-9.e+]*\) MGups.*/\1/p' | tail -n 1)
  if [ -n "$s" ]; then echo "$s"; else printf '%s\n' "$out" >&2; echo 0; fi
}

# One run of each build, with its own options and the common prefix (both split at blanks).
run_a() { score ${RUN_PREFIX:-} "$a" "$@" ${A_OPTIONS:-}; }
run_b() { score ${RUN_PREFIX:-} "$b" "$@" ${B_OPTIONS:-}; }
best_a=0 best_b=0 i=1
scores_a="" scores_b=""
while [ "$i" -le "$rounds" ]; do
  if [ $((i % 2)) -eq 1 ]; then
    sa=$(run_a "$@"); sb=$(run_b "$@")
  else
    sb=$(run_b "$@"); sa=$(run_a "$@")
  fi
  scores_a="$scores_a $sa" scores_b="$scores_b $sb"
  best_a=$(awk -v x="$best_a" -v y="$sa" 'BEGIN {print (y + 0 > x + 0) ? y : x}')
  best_b=$(awk -v x="$best_b" -v y="$sb" 'BEGIN {print (y + 0 > x + 0) ? y : x}')
  i=$((i + 1))
done
echo "options: $*${A_OPTIONS:+; A also $A_OPTIONS}${B_OPTIONS:+; B also $B_OPTIONS}${RUN_PREFIX:+; each run after $RUN_PREFIX}"
echo "A runs:$scores_a"
echo "B runs:$scores_b"
awk -v a="$best_a" -v b="$best_b" \
  'BEGIN {printf "best A %.2f, best B %.2f MGups, B / A = %s\n", a, b, (a > 0) ? sprintf("%.3f", b / a) : "-"}'
