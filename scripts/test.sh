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
