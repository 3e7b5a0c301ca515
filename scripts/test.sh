#!/bin/sh
# Installs what the tests need, builds every configuration and runs every test.
#
# Lanes run side by side: the builder makes one configuration after the other
# (ninja at full width); each configuration's tests start as soon as it is built,
# beside the next build (most of their time is runs of fixed length, Wine's and
# qemu's start-up, and the animation's pauses, not computing); the package check
# and then the fuzzer (one core) have a lane of their own.
# Each phase writes its output to build/logs/<phase>.log; the console gets a
# line per phase, the log's end for the first phase that fails (which stops the
# others), and a table of the phases' times at the end.
#   test.sh                 everything
#   test.sh --phase NAME    one phase alone, output to the console
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/test.sh"
cd "$root"
logs=build/logs

# ------------------------------------------------------------------ the phases
# A new phase is a function phase_<name>, a title in title(), and its name in a
# lane below.

title() {
  case $1 in
    deps) echo "Debian packages" ;;
    native_build) echo "native build" ;;
    native_test) echo "native ctest" ;;
    fleet) echo "zelvo-fleet on a throw-away Slurm cluster" ;;
    package) echo "package, lintian, packaged run, manual page" ;;
    fuzz_build) echo "fuzz build (clang)" ;;
    fuzz) echo "fuzzing" ;;
    tsan_build) echo "ThreadSanitizer build" ;;
    tsan_test) echo "ThreadSanitizer ctest" ;;
    asan_build) echo "AddressSanitizer + UBSan build" ;;
    asan_test) echo "AddressSanitizer + UBSan ctest" ;;
    windows_build) echo "Windows configure + build" ;;
    windows_test) echo "Windows ctest under Wine" ;;
    *) echo "$1" ;;
  esac
}

phase_deps() { "$root/scripts/deps.sh" test; }

# Configures a preset once, and again when its cache predates a package it looks
# for (help2man, dpkg-dev and ccache arrive with deps.sh).
configure() {
  cache=build/$1/CMakeCache.txt
  if [ ! -f "$cache" ] ||
      grep -q -E '^ZELVO_(HELP2MAN|GROFF|COL|DPKG_SHLIBDEPS|CCACHE):FILEPATH=.*NOTFOUND' "$cache"; then
    cmake --preset "$1"
  fi
}
build() { configure "$1" && cmake --build --preset "$1"; }

phase_native_build() { build native; }
phase_native_test() { ctest --preset native; }
phase_fleet() { "$root/scripts/fleet_slurm_test.sh" build/native/zelvo; }

# zelvo-fleet as installed: the Debian package's (its Python package in
# /usr/share/zelvo) and the tarball's (its package beside it) print the source
# tree's help and its report on the packaged run, and write no byte code.
check_fleet() {
  cpack --preset native -G TGZ
  tarball=build/native/package/zelvo-${version}-linux-x86_64.tar.gz
  rm -rf build/native/tgz-check build/native/fleet-check
  mkdir -p build/native/tgz-check build/native/fleet-check
  tar -xzf "$tarball" -C build/native/tgz-check
  cp build/native/deb-check.json build/native/fleet-check/node1.json
  fleet/zelvo-fleet --help >build/native/fleet-check.help
  # A one-second run on a busy machine may be flagged unsteady (exit 1): the
  # installed copies must agree with the source tree, and nothing may fail (2).
  source_rc=0
  fleet/zelvo-fleet report build/native/fleet-check >build/native/fleet-check.report 2>&1 ||
    source_rc=$?
  if [ "$source_rc" -gt 1 ]; then
    cat build/native/fleet-check.report
    echo "zelvo-fleet failed its report on the packaged run (exit code $source_rc)" >&2
    return 1
  fi
  # Python's own switch off: the script has to keep the byte code out by itself.
  for fleet in build/native/deb-check/usr/bin/zelvo-fleet \
      "build/native/tgz-check/zelvo-${version}-linux-x86_64/zelvo-fleet"; do
    env -u PYTHONDONTWRITEBYTECODE "$fleet" --help | diff -u build/native/fleet-check.help -
    rc=0
    env -u PYTHONDONTWRITEBYTECODE "$fleet" report build/native/fleet-check \
      >build/native/fleet-check.log 2>&1 || rc=$?
    if [ "$rc" -ne "$source_rc" ]; then
      cat build/native/fleet-check.log
      echo "$fleet: exit code $rc on the packaged run, the source tree's $source_rc" >&2
      return 1
    fi
    diff -u build/native/fleet-check.report build/native/fleet-check.log
  done
  cached=$(find build/native/deb-check build/native/tgz-check -name __pycache__)
  if [ -n "$cached" ] || tar -tzf "$tarball" | grep -q __pycache__; then
    echo "byte code in the packages: $cached" >&2
    return 1
  fi
}

# The Debian package: no lintian error or warning; unpacked into a scratch folder,
# its program prints the help the tests expect and completes a one-second run, and
# zelvo-fleet works as installed (check_fleet); its manual page renders without a
# warning.
phase_package() {
  cpack --preset native -G DEB
  # One version: the changelog's newest entry, the package's and the program's own
  # version line must agree.
  version=$(sed -n '1s/^zelvo (\([^)]*\)).*/\1/p' packaging/changelog)
  deb=build/native/package/zelvo_${version}_amd64.deb
  if [ ! -f "$deb" ] || [ "$(dpkg-deb -f "$deb" Version)" != "$version" ]; then
    echo "no Debian package of version $version (the newest packaging/changelog entry); see CMakeLists.txt" >&2
    return 1
  fi
  lintian --fail-on error,warning "$deb"
  rm -rf build/native/deb-check
  dpkg-deb -x "$deb" build/native/deb-check
  build/native/deb-check/usr/bin/zelvo --help | diff -u tests/e2e/help.txt -
  if ! build/native/deb-check/usr/bin/zelvo -d 1 -s 64 -n 1 --json build/native/deb-check.json \
      </dev/null >build/native/deb-check.log 2>&1; then
    cat build/native/deb-check.log
    echo "the packaged zelvo failed its one-second run" >&2
    return 1
  fi
  python3 -c 'import json, sys, jsonschema; jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))' \
    build/native/deb-check/usr/share/zelvo/zelvo-result.schema.json build/native/deb-check.json
  if ! grep -q "^zelvo v$version " build/native/deb-check.log; then
    cat build/native/deb-check.log
    echo "the packaged zelvo does not call itself version $version" >&2
    return 1
  fi
  check_fleet
  man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l build/native/deb-check/usr/share/man/man1/zelvo.1.gz 2>&1 >/dev/null)
  if [ -n "$man_warnings" ]; then
    echo "$man_warnings" >&2
    return 1
  fi
  echo "package ok: $deb"
}

# The multi-thread tests (coordinator, barrier, short runs with 2 threads) under
# ThreadSanitizer; any report fails the test.
phase_tsan_build() { build tsan; }
phase_tsan_test() { ctest --preset tsan; }

# Unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the test.
phase_asan_build() { build asan; }
phase_asan_test() { ctest --preset asan; }

# The command-line fuzzer (clang 14 only) for 30 s, from a scratch copy of the seed
# corpus so the committed seeds stay as they are; a crash, hang or leak fails.
have_clang() { command -v clang++-14 >/dev/null 2>&1; }
phase_fuzz_build() {
  if have_clang; then build fuzz; else echo "clang++-14 not found: no fuzz build"; fi
}
phase_fuzz() {
  if ! have_clang; then
    echo "clang++-14 not found: fuzz step skipped"
    return 0
  fi
  rm -rf build/fuzz/corpus-run build/fuzz/artifacts
  mkdir -p build/fuzz/corpus-run build/fuzz/artifacts
  cp fuzz/corpus/cmdline/* build/fuzz/corpus-run/
  if ! build/fuzz/fuzz/cmdline_fuzz -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus-run \
      >build/fuzz/cmdline_fuzz.log 2>&1; then
    tail -n 60 build/fuzz/cmdline_fuzz.log
    echo "cmdline_fuzz failed; the input is in build/fuzz/artifacts/" >&2
    return 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' build/fuzz/cmdline_fuzz.log || true
}

# The Windows build, its tests run under Wine. One Wine server serves the whole
# run (the build's configure starts it) and is stopped at the end.
phase_windows_build() { build windows; }
phase_windows_test() { ctest --preset windows; }
export ZELVO_WINE_LINGER_S=3600

# ------------------------------------------------------------------ machinery
now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100)); }

# What a phase's log says it did: the test count of a ctest run, the runs of the fuzzer.
counts() {
  log=$logs/$1.log
  [ -f "$log" ] || return 0
  n=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  [ -z "$n" ] || { printf '%s tests' "$n"; return 0; }
  n=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' build/fuzz/cmdline_fuzz.log 2>/dev/null | tail -n 1)
  if [ "$1" = fuzz ] && [ -n "$n" ]; then printf '%s runs' "$n"; fi
}

# run_phase NAME: runs phase_NAME with its output in its log and records how it went.
run_phase() {
  start=$(now_ms)
  echo "$start" >"$logs/$1.start"
  echo "  ..  $(title "$1")"
  # A shell of its own: inside an "if" a function would run without set -e.
  if "$self" --phase "$1" >"$logs/$1.log" 2>&1 </dev/null; then status=ok; else status=FAIL; fi
  ms=$(($(now_ms) - start))
  printf '  %-4s %-46s %6s s  %s\n' "$status" "$(title "$1")" "$(seconds "$ms")" "$(counts "$1")"
  # The first failure is the one reported.
  if [ "$status" = FAIL ] && mkdir "$logs/failed" 2>/dev/null; then echo "$1" >"$logs/failed/phase"; fi
  # Last: the lanes waiting for this phase go on when they see it.
  echo "$status $ms" >"$logs/$1.result"
  [ "$status" = ok ]
}

# after NAME: waits until phase NAME (another lane's) has ended; false unless it passed.
after() {
  until [ -f "$logs/$1.result" ]; do
    [ ! -d "$logs/failed" ] || return 1
    sleep 0.2
  done
  [ "$(cut -d' ' -f1 "$logs/$1.result")" = ok ]
}

# A lane: its phases one after the other; "after:NAME" waits for another lane's phase.
lane() {
  for step; do
    case $step in
      after:*) after "${step#after:}" || return 1 ;;
      *) run_phase "$step" || return 1 ;;
    esac
  done
}

case "${1:-}" in
  --phase) "phase_$2"; exit ;;
  --lane) shift; lane "$@"; exit ;;
  "") ;;
  *) echo "usage: test.sh [--phase NAME]" >&2; exit 2 ;;
esac

# ------------------------------------------------------------------ the run
rm -rf "$logs"
mkdir -p "$logs"
run_start=$(now_ms)

lanes=""
stop_lanes() {
  # procps' kill: the shell's own takes no process group.
  for pid in $lanes; do env kill -s TERM -- "-$pid" 2>/dev/null || true; done
  for pid in $lanes; do wait "$pid" 2>/dev/null || true; done
  lanes=""
}
# No Wine server may outlive this script: a lingering one would hold the caller's
# output open.
stop_wine() {
  if [ -x build/windows/wine-run ]; then build/windows/wine-run --kill; fi
}
trap 'stop_lanes; stop_wine' EXIT
trap 'exit 130' INT TERM

table() {
  printf '\n%-46s %7s %7s  %-4s %s\n' phase start s result counts
  for log in "$logs"/*.start; do
    [ -f "$log" ] || continue
    name=$(basename "$log" .start)
    start=$(($(cat "$log") - run_start))
    if [ -f "$logs/$name.result" ]; then
      set -- $(cat "$logs/$name.result")
    else
      set -- stopped $(($(now_ms) - $(cat "$log")))
    fi
    printf '%s %-46s %7s %7s  %-4s %s\n' "$start" "$(title "$name")" "$(seconds "$start")" \
      "$(seconds "$2")" "$1" "$(counts "$name")"
  done | sort -n | cut -d' ' -f2-
  printf '%-46s %7s %7s\n' "total" "" "$(seconds $(($(now_ms) - run_start)))"
}

# The packages first: every lane needs them.
lane deps || { tail -n 60 "$logs/deps.log"; exit 1; }

# Each lane in its own process group, so a failure elsewhere can stop all of it.
start_lane() {
  setsid "$self" --lane "$@" &
  lanes="$lanes $!"
}
start_lane native_build fuzz_build tsan_build asan_build windows_build
start_lane after:native_build native_test
start_lane after:native_build fleet
start_lane after:native_build package after:fuzz_build fuzz
start_lane after:tsan_build tsan_test
start_lane after:asan_build asan_test
start_lane after:windows_build windows_test

# Until every lane has ended, or one phase has failed.
while [ -n "$lanes" ] && [ ! -f "$logs/failed/phase" ]; do
  sleep 0.3
  for pid in $lanes; do
    kill -0 "$pid" 2>/dev/null && continue
    lanes=$(echo $lanes | tr ' ' '\n' | grep -v -x "$pid" || true)
    # A lane that ended badly without a failed phase broke itself.
    if ! wait "$pid" && mkdir "$logs/failed" 2>/dev/null; then echo lane >"$logs/failed/phase"; fi
  done
done
stop_lanes

if [ -f "$logs/failed/phase" ]; then
  failed=$(cat "$logs/failed/phase")
  printf '\n%s failed; the end of %s:\n' "$(title "$failed")" "$logs/$failed.log"
  tail -n 60 "$logs/$failed.log" 2>/dev/null || true
  table
  echo "FAILED: $(title "$failed") (full output: $logs/$failed.log)"
  exit 1
fi
table
echo "all tests passed"
