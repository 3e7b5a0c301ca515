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
