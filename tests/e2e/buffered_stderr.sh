#!/bin/sh
# Standard error fully buffered, as the Windows C runtime has it when it is a
# pipe or a file (natively the runner makes it so, through stdbuf): an error
# line written before the closing prompt must come out before it, with both
# streams in one pipe, and not only when the program exits.
# Usage: buffered_stderr.sh <program> <runner> [<arguments>...]   (paths without blanks)
set -u
program=$1
shift
runner="$*"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A full device as the result file: the write fails after the report.
$runner "$program" -d 1 -s 64 -n 1 --json /dev/full </dev/null 2>&1 | tr -d '\r' >"$tmp/all"
tail=$(tail -n 2 "$tmp/all" | tr '\n' '|')
expected="cannot write the result file /dev/full: No space left on device|press enter to exit|"
if [ "$tail" != "$expected" ]; then
  echo "FAIL: the output ends [$tail], expected [$expected]" >&2
  tail -n 5 "$tmp/all" >&2
  exit 1
fi
