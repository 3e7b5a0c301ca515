#!/bin/sh
# Installs what the tests need, builds every configuration and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh" test

# A tree configured before help2man and dpkg-dev were installed has no manual
# page and no Debian package: configure it again.
if [ ! -f build/native/CMakeCache.txt ] ||
    grep -q -E '^ZELVO_(HELP2MAN|GROFF|COL|DPKG_SHLIBDEPS):FILEPATH=.*NOTFOUND' build/native/CMakeCache.txt; then
  cmake --preset native
fi
cmake --build --preset native
ctest --preset native
"$root/scripts/fleet_slurm_test.sh" build/native/zelvo

# The Debian package: no lintian error or warning; unpacked into a scratch folder,
# its program prints the help the tests expect and completes a one-second run;
# its manual page renders without a warning.
cpack --preset native -G DEB
# One version: the changelog's newest entry, the package's and the program's own
# version line must agree.
version=$(sed -n '1s/^zelvo (\([^)]*\)).*/\1/p' packaging/changelog)
deb=build/native/package/zelvo_${version}_amd64.deb
if [ ! -f "$deb" ] || [ "$(dpkg-deb -f "$deb" Version)" != "$version" ]; then
  echo "no Debian package of version $version (the newest packaging/changelog entry); see CMakeLists.txt" >&2
  exit 1
fi
lintian --fail-on error,warning "$deb"
rm -rf build/native/deb-check
dpkg-deb -x "$deb" build/native/deb-check
build/native/deb-check/usr/bin/zelvo --help | diff -u tests/e2e/help.txt -
if ! build/native/deb-check/usr/bin/zelvo -d 1 -s 64 -n 1 --json build/native/deb-check.json \
    </dev/null >build/native/deb-check.log 2>&1; then
  cat build/native/deb-check.log
  echo "the packaged zelvo failed its one-second run" >&2
  exit 1
fi
python3 -c 'import json, sys, jsonschema; jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))' \
  build/native/deb-check/usr/share/zelvo/zelvo-result.schema.json build/native/deb-check.json
if ! grep -q "^zelvo v$version " build/native/deb-check.log; then
  cat build/native/deb-check.log
  echo "the packaged zelvo does not call itself version $version" >&2
  exit 1
fi
man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l build/native/deb-check/usr/share/man/man1/zelvo.1.gz 2>&1 >/dev/null)
if [ -n "$man_warnings" ]; then
  echo "$man_warnings" >&2
  exit 1
fi

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
