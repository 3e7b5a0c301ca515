#!/bin/sh
# Installs what the tests need, builds every configuration and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh" test

if [ ! -f build/native/CMakeCache.txt ]; then
  cmake --preset native
fi
cmake --build --preset native
ctest --preset native

# The multi-thread tests (coordinator, barrier, short runs with 2 threads) under
# ThreadSanitizer; any report fails the test.
if [ ! -f build/tsan/CMakeCache.txt ]; then
  cmake --preset tsan
fi
cmake --build --preset tsan
ctest --preset tsan

# Unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the test.
if [ ! -f build/asan/CMakeCache.txt ]; then
  cmake --preset asan
fi
cmake --build --preset asan
ctest --preset asan

# The command-line fuzzer (clang 14 only) for 30 s, from a scratch copy of the seed
# corpus so the committed seeds stay as they are; a crash, hang or leak fails.
if command -v clang++-14 >/dev/null 2>&1; then
  if [ ! -f build/fuzz/CMakeCache.txt ]; then
    cmake --preset fuzz
  fi
  cmake --build --preset fuzz
  rm -rf build/fuzz/corpus-run build/fuzz/artifacts
  mkdir -p build/fuzz/corpus-run build/fuzz/artifacts
  cp fuzz/corpus/cmdline/* build/fuzz/corpus-run/
  if ! build/fuzz/fuzz/cmdline_fuzz -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus-run \
      >build/fuzz/cmdline_fuzz.log 2>&1; then
    tail -n 60 build/fuzz/cmdline_fuzz.log
    echo "cmdline_fuzz failed; the input is in build/fuzz/artifacts/" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' build/fuzz/cmdline_fuzz.log || true
else
  echo "clang++-14 not found: fuzz step skipped"
fi

# The Windows build, its tests run under Wine. No Wine server may outlive this
# script: a lingering one would hold the caller's output open.
stop_wine() {
  if [ -x build/windows/wine-run ]; then build/windows/wine-run --kill; fi
}
trap stop_wine EXIT
trap 'exit 130' INT TERM
if [ ! -f build/windows/CMakeCache.txt ]; then
  cmake --preset windows
fi
cmake --build --preset windows
ctest --preset windows
