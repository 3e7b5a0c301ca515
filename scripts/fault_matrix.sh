#!/bin/bash
# Runs the program under bad input, scarce memory and limits, one line per case:
#   case | exit code | seconds | standard error (folded) | score line
# Figures only, nothing asserted; the end-to-end tests hold the checks.
# Usage: scripts/fault_matrix.sh [path to zelvo]   (default build/native/zelvo)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
z=${1:-$root/build/native/zelvo}
[ -x "$z" ] || { echo "fault_matrix.sh: $z not found; build it with scripts/run.sh --help" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

run() {
  label=$1
  shift
  t0=$(date +%s.%N)
  (eval "$@") </dev/null >"$tmp/out" 2>"$tmp/err"
  rc=$?
  t1=$(date +%s.%N)
  err=$(head -c 2000 "$tmp/err" | tr '\n' '|' | cut -c1-120)
  score=$(tr '\r' '\n' <"$tmp/out" | grep -a -E "final score" | tail -n 1)
  printf '%s | %d | %.1f | %s | %s\n' "$label" "$rc" "$(echo "$t1 - $t0" | bc)" "$err" "$score"
}

run "-n 2 -s 640" "'$z' -n 2 -s 640 -d 1"
run "-n 40 -s 256" "'$z' -n 40 -s 256 -d 1"
run "-n 1 -s 2048" "'$z' -n 1 -s 2048 -d 1"
run "-n 4 -s 1024" "'$z' -n 4 -s 1024 -d 1"
run "-n 100000 -s 64" "'$z' -n 100000 -s 64 -d 1"
run "-n 100000" "'$z' -n 100000 -d 1"
run "ulimit -v 4000000; -n 1 -s 640" "ulimit -v 4000000; '$z' -n 1 -s 640 -d 1"
run "ulimit -v 1000000; -n 100000 -s 64" "ulimit -v 1000000; '$z' -n 100000 -s 64 -d 1"
run "ulimit -v 1000000; -n 100 -s 64" "ulimit -v 1000000; '$z' -n 100 -s 64 -d 1"
run "-n 1 -s 1024 --large-pages" "'$z' -n 1 -s 1024 -d 1 --large-pages"
run "-n 16 -s 64 -d 2" "'$z' -n 16 -s 64 -d 2"
run "-n 200 -s 64 -d 1" "'$z' -n 200 -s 64 -d 1"
run "-n 2 -s 64 -d 1" "'$z' -n 2 -s 64 -d 1"

# A forced instruction set the processor lacks, on emulated older processors.
if command -v qemu-x86_64 >/dev/null 2>&1; then
  sandy="SandyBridge,-x2apic,-tsc-deadline"  # without what TCG cannot provide (it warns)
  run "qemu Nehalem --isa avx" "qemu-x86_64 -cpu Nehalem '$z' --isa avx -d 1 -s 64 -n 1"
  run "qemu SandyBridge --isa fma" "qemu-x86_64 -cpu $sandy '$z' --isa fma -d 1 -s 64 -n 1"
  run "qemu Nehalem --isa avx -n 2 soft_gaussian" \
    "qemu-x86_64 -cpu Nehalem '$z' --isa avx -d 1 -s 64 -n 2 --workload soft_gaussian"
  run "qemu core2duo --isa fma --strict-isa-check" \
    "qemu-x86_64 -cpu core2duo '$z' --isa fma -d 1 -s 64 -n 1 --strict-isa-check"
  run "qemu SandyBridge --isa avx2 (avx kernels)" "qemu-x86_64 -cpu $sandy '$z' --isa avx2 -d 1 -s 64 -n 1"
else
  echo "qemu-x86_64 not found: the emulated-processor rows are left out" >&2
fi

# Both streams in one file, as a user sees them: the last lines, folded.
run_merged() {
  label=$1
  shift
  t0=$(date +%s.%N)
  (eval "$@") </dev/null >"$tmp/out" 2>&1
  rc=$?
  t1=$(date +%s.%N)
  tail=$(tr '\r' '\n' <"$tmp/out" | grep -a -v '^$' | tail -n 8 | tr '\n' '|' | cut -c1-200)
  printf '%s | %d | %.1f | %s\n' "$label" "$rc" "$(echo "$t1 - $t0" | bc)" "$tail"
}

# Automatic thread count against the memory check, with 6 GiB available: a
# fake /proc/meminfo in a private mount namespace (needs the right to mount).
printf 'MemTotal:       16777216 kB\nMemFree:         6291456 kB\nMemAvailable:    6291456 kB\nHugepagesize:       2048 kB\n' >"$tmp/meminfo"
if unshare -m true 2>/dev/null; then
  fake_meminfo="unshare -m sh -c 'mount --bind $tmp/meminfo /proc/meminfo && exec \"\$0\" \"\$@\"'"
  run "MemAvailable 6 GiB; -s 448 (automatic count)" "$fake_meminfo '$z' -s 448 -d 1"
  run_merged "MemAvailable 6 GiB; -s 640 -n 1 2>&1 (refused up front)" "$fake_meminfo '$z' -s 640 -n 1 -d 1"
  # Two sets of fields fit in what the margin leaves only without H's 1 KiB
  # lead: the automatic count must plan with the whole request.
  printf 'MemTotal:       16777216 kB\nMemFree:          298082 kB\nMemAvailable:     298082 kB\nHugepagesize:       2048 kB\n' >"$tmp/meminfo"
  run_merged "MemAvailable 298082 kB; -s 64 (automatic count)" "$fake_meminfo '$z' -s 64 -d 1"
else
  echo "MemAvailable 6 GiB rows skipped: no private mount namespace here"
fi
run "-n 4000000000 -s 64" "'$z' -n 4000000000 -s 64 -d 1"
run "-n 4000000000 -s 64 --large-pages" "'$z' -n 4000000000 -s 64 -d 1 --large-pages"
run "ulimit -v 3000000 -s 600000; -n 8 -s 64 (threads refused)" "ulimit -v 3000000; ulimit -s 600000; '$z' -n 8 -s 64 -d 1"
run "-n 1 -s 64 >/dev/full" "'$z' -n 1 -s 64 -d 1 >/dev/full"
run "-n 1 -s 64 >&-" "'$z' -n 1 -s 64 -d 1 >&-"
run "--help >/dev/full" "'$z' --help >/dev/full"
run "--topo-debug >&-" "'$z' --topo-debug >&-"
run "-n 1 -s 64 | head -1 (exit of zelvo)" "'$z' -n 1 -s 64 -d 1 | head -1 >/dev/null; exit \${PIPESTATUS[0]}"
