#!/bin/sh
# Builds the optimised native binary (incrementally) and runs it with the given options.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh" build

# Build chatter goes to stderr so that stdout carries only the benchmark's output.
if [ ! -f build/native/CMakeCache.txt ]; then
  cmake --preset native >&2
fi
cmake --build --preset native --target zelvo >&2

exec "$root/build/native/zelvo" "$@"
