#!/bin/sh
# Installs the Debian packages a command needs, or says how to.
# Usage: scripts/deps.sh build|test|perf
set -eu

# ccache keeps compiled objects outside the tree for every build and clone.
build_pkgs="cmake ninja-build g++ libfmt-dev nlohmann-json3-dev ccache"
# The Windows build is cross-compiled with MinGW-w64 and tested under Wine.
test_pkgs="$build_pkgs libgtest-dev googletest g++-mingw-w64-x86-64-posix wine64"
# The Debian package and its manual page: help2man makes the page, groff and col
# render it, dpkg-shlibdeps finds the run-time dependencies, lintian and man check.
test_pkgs="$test_pkgs help2man groff-base bsdextrautils man-db dpkg-dev lintian"
# Every result file the tests write is checked against its JSON Schema.
test_pkgs="$test_pkgs python3 python3-jsonschema"
# The end-to-end cases on older processors run the native program under qemu-user.
test_pkgs="$test_pkgs qemu-user"
# zelvo-fleet: its plots, and a real fleet run on a throw-away Slurm cluster.
test_pkgs="$test_pkgs python3-matplotlib slurm-wlm munge"
# test.sh stops the other lanes of a failed run with procps' kill.
test_pkgs="$test_pkgs procps"
# The fuzz step runs where clang 14 is installed; libFuzzer and clang's sanitizer
# runtimes come in their own package.
if command -v clang++-14 >/dev/null 2>&1; then
  test_pkgs="$test_pkgs libclang-rt-14-dev"
fi

case "${1:-build}" in
  build) wanted=$build_pkgs ;;
  test) wanted=$test_pkgs ;;
  perf) wanted="$build_pkgs libbenchmark-dev" ;;
  *) echo "deps.sh: unknown package set '$1'" >&2; exit 2 ;;
esac

missing=""
for p in $wanted; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $p" ;;
  esac
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages; install them with:" >&2
  echo "  sudo apt-get install -y$missing" >&2
  exit 1
fi

echo "installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
# A fresh image has empty package lists; refresh them only when an install needs it.
# Another install may hold the package lock for a while: wait for it.
apt_get() { apt-get -o DPkg::Lock::Timeout=300 "$@" >&2; }
if ! apt_get install -y -q --no-install-recommends $missing; then
  apt_get update -q
  apt_get install -y -q --no-install-recommends $missing
fi
