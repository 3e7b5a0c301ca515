#!/bin/sh
# A write error that shows only when standard output is closed must not pass
# for success: one line on standard error and exit code 1.
# Usage: close_error.sh <program> <preload library that makes close(1) fail>
set -u
program=$1
shim=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
expected="zelvo: write error on standard output: Input/output error"
for args in "--help" "-d 1 -s 64 -n 1"; do
  # shellcheck disable=SC2086
  LD_PRELOAD=$shim "$program" $args </dev/null >"$tmp/out" 2>"$tmp/err"
  rc=$?
  last=$(tail -n 1 "$tmp/err")
  if [ "$rc" -ne 1 ] || [ "$last" != "$expected" ] || [ ! -s "$tmp/out" ]; then
    echo "FAIL: zelvo $args with a failing close: exit $rc, standard error:" >&2
    cat "$tmp/err" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
