#!/bin/sh
# Performance report: kernel-only throughput next to the memory-bandwidth bound,
# then the whole program on the same settings. Prints figures, asserts nothing.
#
# Usage: scripts/perf.sh [--all] [--spread] [--large-pages] [--versus] [--init] [--cycles]
#   (default)      cycles per cell (below); kernel table for every isa, n in 64 128 192 256, 1 thread and
#                  all cores; the kernels against plain reference loops, n in 64
#                  128 192 256 384 512; whole-program rows (zelvo -d 10, both
#                  workloads) at n = 64 one thread and n = 192 all cores.
#                  About 25 to 35 minutes on a two-core machine.
#   --versus       only the kernels against the plain reference loops (about 18 minutes;
#                  n = 512 with one thread per core needs about 9 GB per thread).
#   --init         only the set-up table: "initialization took" of both workloads,
#                  one thread, n in 192 384 640 (5 paired runs, medians; n = 640 needs
#                  about 17 GB), and the set-up phases at n = 384 (about 3 minutes).
#   --cycles       only the cycles-per-cell table: one thread, n in 16 32 64 192 384 512,
#                  the step as two sweeps (before) and as the one fused sweep the program
#                  runs (after), the plain reference loops and the bound (about 5 minutes;
#                  n = 512 needs about 9 GB). ZELVO_CYCLES_PERF names another build's
#                  zelvo_cycles_perf to measure, so that two builds' tables share one model.
#   --all          whole-program rows for every n and thread count (about 12 minutes).
#   --spread       adds five consecutive 10 s runs (standing_wave, sse2, n = 192,
#                  all cores) and their spread.
#   --large-pages  adds the whole-program rows once more with --large-pages, after
#                  reserving explicit huge pages (root only; vm.nr_hugepages is
#                  restored afterwards).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

all=0 spread=0 large=0 versus=0 init=0 cycles=0
for arg in "$@"; do
  case "$arg" in
    --all) all=1 ;;
    --versus) versus=1 ;;
    --init) init=1 ;;
    --cycles) cycles=1 ;;
    --spread) spread=1 ;;
    --large-pages) large=1 ;;
    *) echo "perf.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

"$root/scripts/deps.sh" perf

build=build/perf-report
# Build chatter goes to stderr so that stdout carries only the report.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >&2
fi
cmake --build "$build" --target zelvo zelvo_perf zelvo_setup_perf zelvo_cycles_perf zelvo_pipes_perf -j2 >&2
zelvo=$build/zelvo
kperf=$build/perf/zelvo_perf
setup_perf=$build/perf/zelvo_setup_perf
cycles_perf=${ZELVO_CYCLES_PERF:-$build/perf/zelvo_cycles_perf}
pipes_perf=$build/perf/zelvo_pipes_perf

tmp=$(mktemp -d)
hugepages_saved=""
cleanup() {
  if [ -n "$hugepages_saved" ]; then
    echo "$hugepages_saved" > /proc/sys/vm/nr_hugepages || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "zelvo performance report, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -n)"
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /cpu: /' || true
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# The kernels against the plain reference loops, from "versus" rows.
versus_table() {
  echo "kernels (the program's fused step) against plain reference loops (two sweeps, same arithmetic and"
  echo "order, no prefetch hints, -O2; scalar per target, vector with the same lane assembly for fma), both on"
  echo "the same grids in each round, the"
  echo "order alternating; ratio = program / plain, median of the rounds' own ratios (${1:-the} rounds)"
  awk 'BEGIN {printf "%-5s %5s %7s %10s %10s %7s\n", "isa", "n", "threads", "program", "plain", "ratio"}
       {printf "%-5s %5d %7d %10.1f %10.1f %7.3f\n", $2, $3, $4, $5, $6, $7}' "$2"
  echo
  echo "innermost loops of the scalar kernels and of the plain loops, instructions per cell, from the object"
  echo "code (perf/inner_loops.sh): equal loops on the same grids differ only by the machine's noise"
  "$root/perf/inner_loops.sh" "$build" || true
  echo
}

# ---- cycles per cell ------------------------------------------------------------
# The issue limit of a kernel's arithmetic on this core, cycles per update, from
# its operations per update and the pipes that run them. Scalar: 12 adds or
# subtracts and 3 multiplies; fma: 3 blends, 1 in-lane shuffle, 2 lane permutes,
# 3 subtracts and 1 FMA. Intel since Golden Cove runs all of them on ports 0, 1
# and 5 (scalar 15 / 3, fma 10 / 3). AMD Zen 5, measured by zelvo_pipes_perf:
# scalar adds 2 per cycle (12 / 2); blends, FMAs, permutes and vector subtracts
# 2 per cycle each, shuffles 4, any mix of them at most 4 (fma 10 / 4), blends
# and FMAs on the same two pipes.
# A step updates (n - 1)^3 cells of each field but counts n^3 (the score's
# convention), so the limit per counted cell is the limit per update times
# ((n - 1) / n)^3: 0.82 at n = 16, 0.91 at n = 32.
cycles_table() {
  vendor=$(sed -n 's/^vendor_id[^:]*: *//p' /proc/cpuinfo | head -n 1)
  case "$vendor" in
    AuthenticAMD)
      scalar_limit=6.0 scalar_why="12 adds/subtracts on the 2 add pipes"
      fma_limit=2.5 fma_why="10 vector operations on the 4 vector pipes" ;;
    *)
      scalar_limit=5.0 scalar_why="12 adds/subtracts + 3 multiplies on ports 0, 1, 5"
      fma_limit=3.33 fma_why="3 blends, 1 shuffle, 2 permutes, 3 subtracts, 1 FMA on ports 0, 1, 5" ;;
  esac
  rounds=7
  "$cycles_perf" --rounds=$rounds 16 32 64 192 384 512 > "$tmp/cycles.txt"
  grep 'not supported' "$tmp/cycles.txt" || true
  clock=$(awk '$1 == "clock" {printf "%.2f GHz (rounds %.2f to %.2f)", $2, $3, $4}' "$tmp/cycles.txt")
  echo "cycles per cell, one thread, medians over $rounds rounds. cycles = processor time x the core clock"
  echo "(processor time, so that time other programs hold the core does not count); the clock, $clock,"
  echo "is timed in every round from a chain of dependent register adds, one per cycle (a virtual machine"
  echo "shows no cycle counter). A cell is one of the 2 n^3 updates a step counts (H or E alone: n^3)."
  echo "before = update_h then update_e, two sweeps; after = the fused step the program runs; spreads are"
  echo "min-max over the rounds; plain = the plain reference loops, two sweeps; probe = reading and"
  echo "writing both arrays once, no arithmetic; bound = the larger of the probe and the issue limit"
  echo "($vendor: scalar $scalar_limit, $scalar_why; fma $fma_limit, $fma_why;"
  echo "per update, times ((n - 1) / n)^3: a step updates (n - 1)^3 cells of each field and counts n^3);"
  echo "x = / bound. Command: $cycles_perf --rounds=$rounds 16 32 64 192 384 512"
  awk -v fl="$fma_limit" -v sl="$scalar_limit" '
    $1 == "spread" {blo[$2 " " $3] = $4; bhi[$2 " " $3] = $5; lo[$2 " " $3] = $6; hi[$2 " " $3] = $7}
    $1 == "cycles" {row[++c] = $0}
    END {
      printf "%-5s %4s %6s %6s %7s %13s %6s %13s %6s %6s %6s %7s %6s\n", "isa", "n", "H", "E", "before", "before spread", "after", "after spread", "plain", "probe", "bound", "before x", "after x"
      for (i = 1; i <= c; i++) {
        split(row[i], f, " ")
        share = ((f[3] - 1) / f[3]) ^ 3
        limit = ((f[2] == "fma") ? fl : sl) * share
        b = (f[9] > limit) ? f[9] : limit
        k = f[2] " " f[3]
        printf "%-5s %4d %6.2f %6.2f %7.2f %13s %6.2f %13s %6.2f %6.2f %6.2f %7.2f %6.2f\n", f[2], f[3], f[4], f[5], f[6],
               sprintf("%.2f-%.2f", blo[k], bhi[k]), f[7], sprintf("%.2f-%.2f", lo[k], hi[k]), f[8], f[9], b, f[6] / b, f[7] / b
      }
    }' "$tmp/cycles.txt"
  echo
  echo "issue rates behind the limits: cycles per pass of independent instructions and instructions per"
  echo "cycle, best of five (Command: $pipes_perf)"
  "$pipes_perf" | awk '$1 == "clock" {printf "clock %s GHz\n", $2; next} {$1 = ""; sub(/^ /, ""); print}'
  echo
}
if [ "$cycles" -eq 1 ]; then
  cycles_table
  exit 0
fi

# ---- set-up: the program's own "initialization took" line ---------------------
# Paired runs of both workloads (the order alternating), one thread, -d 1; the
# figures are medians over the pairs, the ratio the median of the pairs' ratios.
init_ms() {
  "$zelvo" -d 1 -n 1 -s "$1" --workload "$2" < /dev/null 2>&1 | tr '\r' '\n' |
    sed -n 's/^initialization took \([0-9]*\)ms.*/\1/p' | head -n 1
}
if [ "$init" -eq 1 ]; then
  pairs=5
  echo "set-up time, zelvo -d 1 -n 1 -s n, \"initialization took\" (allocate and initialize of one worker);"
  echo "medians over $pairs paired runs, ratio = standing wave / soft Gaussian (median of the pairs' ratios)"
  printf "%5s %18s %18s %7s\n" "n" "standing_wave ms" "soft_gaussian ms" "ratio"
  for n in 192 384 640; do
    : > "$tmp/init.txt"
    i=0
    while [ "$i" -lt "$pairs" ]; do
      if [ $((i % 2)) -eq 0 ]; then
        w=$(init_ms "$n" standing_wave); g=$(init_ms "$n" soft_gaussian)
      else
        g=$(init_ms "$n" soft_gaussian); w=$(init_ms "$n" standing_wave)
      fi
      echo "${w:-0} ${g:-0}" >> "$tmp/init.txt"
      i=$((i + 1))
    done
    awk -v n="$n" 'function med(a, c,   i, j, t) {for (i = 2; i <= c; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) {t = a[j]; a[j] = a[j - 1]; a[j - 1] = t}
                                              return (c % 2) ? a[(c + 1) / 2] : (a[c / 2] + a[c / 2 + 1]) / 2}
         $1 > 0 && $2 > 0 {c++; w[c] = $1; g[c] = $2; r[c] = $1 / $2}
         END {if (c) printf "%5d %18.0f %18.0f %7.2f\n", n, med(w, c), med(g, c), med(r, c); else printf "%5d %18s %18s %7s\n", n, "-", "-", "-"}' \
      "$tmp/init.txt"
  done
  echo
  echo "set-up phases at n = 384, one thread, ms, medians over 5 rounds: allocate = both arrays obtained and"
  echo "zero-filled; soft / wave = allocate + initialize of each workload (the standing wave's arrays skip the"
  echo "zero-fill: its initialize writes every cell, running the fill, the zeroing of H, update_h and the"
  echo "energy sum together, row by row); update_h, total_energy and the node energies each timed alone as one"
  echo "whole pass"
  printf "%-5s %9s %9s %9s %9s %13s %7s\n" "isa" "allocate" "soft" "wave" "update_h" "total_energy" "nodes"
  for isa in sse2 fma; do
    "$setup_perf" --rounds=5 --isa="$isa" 384 2>/dev/null |
      awk '$1 == "setup" {printf "%-5s %9.0f %9.0f %9.0f %9.0f %13.0f %7.2f\n", $3, $4, $5, $6, $7, $8, $9}'
  done
  echo
fi
if [ "$versus" -eq 1 ]; then
  "$kperf" --versus --rows > "$tmp/versus.txt" 2>&1
  grep 'not supported\|do not reproduce' "$tmp/versus.txt" || true
  grep '^versus ' "$tmp/versus.txt" > "$tmp/versus_rows.txt" || true
  versus_table "$(sed -n 's/.*medians over \([0-9]*\)$/\1/p' "$tmp/versus.txt" | head -n 1)" "$tmp/versus_rows.txt"
fi
if [ "$init" -eq 1 ] || [ "$versus" -eq 1 ]; then exit 0; fi

cycles_table

# ---- kernel-only table ------------------------------------------------------
# Every grid benchmark runs rounds of bandwidth probe and kernel on all its
# threads; its ratio is the median of the rounds' own ratios, so a machine whose
# bandwidth drifts does not skew it.
"$kperf" --rows > "$tmp/kernels.txt" 2>&1
grep '^row ' "$tmp/kernels.txt" > "$tmp/rows.txt" || true
grep '^energy ' "$tmp/kernels.txt" > "$tmp/energy.txt" || true
grep '^iteration ' "$tmp/kernels.txt" > "$tmp/iterations.txt" || true
grep '^versus ' "$tmp/kernels.txt" > "$tmp/versus_rows.txt" || true
if [ ! -s "$tmp/rows.txt" ]; then
  echo "perf.sh: the kernel benchmark printed no figures:" >&2
  cat "$tmp/kernels.txt" >&2
  exit 1
fi
grep 'not supported\|do not reproduce' "$tmp/kernels.txt" || true
isas=$(awk '{print $2}' "$tmp/rows.txt" | awk '!seen[$0]++' | tr '\n' ' ')
cores=$(awk '$4 > m {m = $4} END {print m}' "$tmp/rows.txt")
rounds=$(sed -n 's/^medians over \([0-9]*\) rounds.*/\1/p' "$tmp/kernels.txt" | head -n 1)

if [ -s "$tmp/energy.txt" ]; then
  echo "energy pass alone (total_energy, 64 bytes per cell), share of the triad bandwidth and of a"
  echo "plain read of both fields (the least the pass must move, with no arithmetic); each round runs"
  echo "probe, read and pass one after another, figures are medians over ${rounds:-the} rounds"
  awk 'BEGIN {printf "%-5s %5s %7s %10s %10s %6s %10s %6s\n", "isa", "n", "threads", "GB/s", "triad", "ratio", "read", "ratio"}
         {printf "%-5s %5d %7d %10.2f %10.2f %6.2f %10.2f %6.2f\n", $2, $3, $4, $5, $6, $8, $7, $9}' \
    "$tmp/energy.txt"
  echo
fi
echo "kernel only, bound = triad bandwidth / 96 bytes per update; medians over ${rounds:-the} rounds of"
echo "probe then kernel, the ratio is the median of the rounds' own MGups / bound"
awk 'BEGIN {printf "%-5s %5s %7s %10s %10s %10s %6s\n", "isa", "n", "threads", "MGups", "GB/s", "bound", "ratio"}
     {printf "%-5s %5d %7d %10.1f %10.2f %10.1f %6.2f\n", $2, $3, $4, $5, $6, $6 * 1e3 / 96, $7}' \
  "$tmp/rows.txt"
grep '^in cache' "$tmp/kernels.txt" || true
echo

if [ -s "$tmp/versus_rows.txt" ]; then
  versus_table "$(sed -n 's/.*medians over \([0-9]*\)$/\1/p' "$tmp/kernels.txt" | head -n 1)" "$tmp/versus_rows.txt"
fi

if [ -s "$tmp/iterations.txt" ]; then
  echo "whole iterations against the kernels, paired: each round times the kernels alone on one grid and"
  echo "as many of the program's iterations (pre_step, step, verify_step, progress counters, the progress"
  echo "line formatted but not written, timer) on a real solver's grid, on every thread; share = kernels'"
  echo "time / iterations' time; for soft_gaussian expect = kernels / (kernels + energy pass), both timed"
  echo "in the same round, and of expect = share / expect (1.00: no cost beyond the two passes); medians"
  echo "over ${rounds:-the} rounds"
  awk 'BEGIN {printf "%-5s %5s %7s  %-14s %10s %10s %6s %6s %9s\n", "isa", "n", "threads", "workload", "kernels", "iteration", "share", "expect", "of expect"}
       {e = ($2 == "soft_gaussian") ? sprintf("%.3f", $9) : "-"
        o = ($2 == "soft_gaussian") ? sprintf("%.3f", $10) : "-"
        printf "%-5s %5d %7d  %-14s %10.1f %10.1f %6.3f %6s %9s\n", $3, $4, $5, $2, $6, $7, $8, e, o}' \
    "$tmp/iterations.txt"
  echo
fi

# ---- whole program ------------------------------------------------------------
if [ "$all" -eq 1 ]; then
  configs="64:1 64:$cores 128:1 128:$cores 192:1 192:$cores 256:1 256:$cores"
else
  configs="64:1 192:$cores"
fi
[ "$cores" -eq 1 ] && configs=$(echo "$configs" | tr ' ' '\n' | awk '!seen[$0]++' | tr '\n' ' ')

# Kernel-only MGups of one configuration, measured right before the program runs
# on it so that the ratio compares figures taken together.
kernel_now() {
  "$kperf" --rows --rounds=5 \
    --benchmark_filter="^step/$1/$2/iterations:[0-9]+/real_time/threads:$3\$" 2>/dev/null |
    awk -v isa="$1" -v n="$2" -v t="$3" '$1 == "row" && $2 == isa && $3 == n && $4 == t {print $5}'
}

# The program's score, or "-" (with the exit code) when it printed none.
program_score() {
  set +e
  "$zelvo" "$@" > "$tmp/run.txt" 2>&1
  rc=$?
  set -e
  score=$(tr '\r' '\n' < "$tmp/run.txt" | sed -n 's/^final score: \([0-9.e+]*\) MGups.*/\1/p' | tail -n 1)
  if [ -n "$score" ]; then echo "$score"; else echo "- (exit $rc)"; fi
}

# One row: the program's score against the mean of the kernel-only figures taken
# just before and just after it, so a drift of the machine's share of memory
# bandwidth during the run shows (drift = after / before) instead of skewing the ratio.
program_row() {
  isa=$1 n=$2 t=$3 workload=$4 before=$5 extra=$6
  # shellcheck disable=SC2086 # $extra is empty or one option
  score=$(program_score -d 10 -s "$n" -n "$t" --isa "$isa" --workload "$workload" $extra)
  after=$(kernel_now "$isa" "$n" "$t")
  [ -n "$after" ] || after=0
  # The fma solvers use the avx energy pass.
  energy_isa=$isa
  [ "$isa" = fma ] && energy_isa=avx
  energy=$(awk -v i="$energy_isa" -v n="$n" -v t="$t" '$2 == i && $3 == n && $4 == t {print $5}' "$tmp/energy.txt")
  awk -v isa="$isa" -v n="$n" -v t="$t" -v b="$before" -v a="$after" -v w="$workload" -v s="$score" \
    -v eg="${energy:-0}" \
    'BEGIN {k = (b + a) / 2
            r = (s + 0 > 0 && k > 0) ? sprintf("%.3f", s / k) : "-"
            d = (b > 0) ? sprintf("%.2f", a / b) : "-"
            # Microseconds per step of the kernels (2 n^3 updates) and of the pass (64 (n-1)^3 bytes).
            x = "-"
            if (w == "soft_gaussian" && k > 0 && eg > 0) {
              tk = 2 * n ^ 3 / k
              te = 64 * (n - 1) ^ 3 / (eg * 1e3)
              x = sprintf("%.3f", tk / (tk + te))
            }
            printf "%-5s %5d %7d %10.1f %10.1f %6s  %-14s %10s %6s %6s\n", isa, n, t, b, a, d, w, s, r, x}'
}

whole_program_rows() {
  extra=$1
  printf "%-5s %5s %7s %10s %10s %6s  %-14s %10s %6s %6s\n" "isa" "n" "threads" "before" "after" "drift" "workload" "score" "ratio" "expect"
  for config in $configs; do
    n=${config%:*}
    t=${config#*:}
    for isa in $isas; do
      before=$(kernel_now "$isa" "$n" "$t")
      [ -n "$before" ] || before=0
      for workload in standing_wave soft_gaussian; do
        program_row "$isa" "$n" "$t" "$workload" "$before" "$extra"
        # The figure after one run (set by program_row) is the figure before the next.
        before=$after
      done
    done
  done
}

echo "whole program, zelvo -d 10; before/after = kernel-only MGups of the same isa, n and threads"
echo "measured just before and just after the run; ratio = score / mean(before, after); expect (soft_gaussian)"
echo "= the share of a step left to the kernels when its energy pass runs at the speed measured above"
whole_program_rows ""
echo

# ---- run-to-run spread --------------------------------------------------------------
if [ "$spread" -eq 1 ]; then
  first_isa=${isas%% *}
  echo "spread: 5 consecutive runs, zelvo -d 10 -s 192 -n $cores --isa $first_isa (standing_wave)"
  : > "$tmp/spread.txt"
  : > "$tmp/spread_kernel.txt"
  for i in 1 2 3 4 5; do
    score=$(program_score -d 10 -s 192 -n "$cores" --isa "$first_isa")
    kernel=$(kernel_now "$first_isa" 192 "$cores")
    echo "$score" >> "$tmp/spread.txt"
    echo "${kernel:-0}" >> "$tmp/spread_kernel.txt"
    echo "  run $i: $score   (kernel-only right after: ${kernel:-none})"
  done
  # The kernel-only figures show how much of the spread is the machine's own.
  for f in spread spread_kernel; do
    label=score
    [ "$f" = spread_kernel ] && label=kernel-only
    awk -v label="$label" '$1 + 0 > 0 {v[++c] = $1; s += $1; if (c == 1 || $1 < lo) lo = $1; if ($1 > hi) hi = $1}
         END {if (c) printf "  %-11s mean %.2f, min %.2f, max %.2f, spread (max - min) / mean = %.1f %%\n", label, s / c, lo, hi, 100 * (hi - lo) / (s / c)}' \
      "$tmp/$f.txt"
  done
  echo
fi

# ---- large pages --------------------------------------------------------------------
if [ "$large" -eq 1 ]; then
  hp=/proc/sys/vm/nr_hugepages
  largest_n=$(echo "$configs" | tr ' ' '\n' | awk -F: '$1 * $2 > m {m = $1 * $2; n = $1; t = $2} END {print n ":" t}')
  n=${largest_n%:*}
  t=${largest_n#*:}
  page_kib=$(awk '/^Hugepagesize:/ {print $2}' /proc/meminfo)
  # Both arrays of every thread, each rounded up to whole pages, plus a few spare.
  need=$(awk -v n="$n" -v t="$t" -v p="${page_kib:-2048}" \
    'BEGIN {b = 32 * (n + 2) ^ 3; pages = int((b + p * 1024 - 1) / (p * 1024)); print 2 * t * pages + 8}')
  if [ "$(id -u)" -ne 0 ] || [ ! -w "$hp" ]; then
    echo "large pages: skipped (reserving explicit huge pages needs root and a writable $hp)"
  else
    saved=$(cat "$hp")
    if [ "$saved" -lt "$need" ] && ! echo "$need" > "$hp" 2>/dev/null; then
      echo "large pages: skipped (could not set $hp)"
    else
      [ "$saved" -lt "$need" ] && hugepages_saved=$saved
      got=$(cat "$hp")
      if [ "$got" -lt "$need" ]; then
        echo "large pages: skipped (only $got of $need huge pages could be reserved)"
      else
        echo "large pages: $got huge pages of $page_kib KiB reserved (was $saved); zelvo -d 10 --large-pages"
        whole_program_rows --large-pages
      fi
    fi
  fi
fi
