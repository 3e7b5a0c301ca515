#!/bin/sh
# The result file where a table of cases cannot reach: a folder the user may not
# write, a write that fails half-way over an existing file, an existing file
# replaced, and a pipe as the target (written in place).
# Usage: result_file.sh <program> <check command>... -- [<emulator> <arguments>...]
#        (paths without blanks; the check command is check_result.py with its schema)
set -u
program=$1
shift
check=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do check="$check $1"; shift; done
[ $# -gt 0 ] && shift
runner="$*"
tmp=$(mktemp -d)
chmod 755 "$tmp"
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
failures=0

say() { echo "$*"; failures=$((failures + 1)); }
# Standard error without the text-mode carriage returns of Windows.
err_text() { tr -d '\r' <"$tmp/err"; }

# A folder without write permission: the run does not start. Root may write
# anywhere, so as root the program runs as nobody; Wine refuses a prefix that
# belongs to someone else, so under Wine that is left out.
mkdir "$tmp/ro"
chmod 555 "$tmp/ro"
as_user=""
if [ "$(id -u)" -eq 0 ]; then
  if [ -z "$runner" ] && command -v setpriv >/dev/null 2>&1; then
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
  else
    echo "read-only folder: skipped (running as root, and the program cannot run as another user here)"
  fi
fi
if [ "$(id -u)" -ne 0 ] || [ -n "$as_user" ]; then
  $as_user $runner "$program" -d 1 -s 64 -n 1 --json "$tmp/ro/r.json" </dev/null >"$tmp/out" 2>"$tmp/err"
  rc=$?
  expected="cannot write the result file $tmp/ro/r.json: Permission denied"
  [ "$rc" -eq 1 ] || say "read-only folder: exit code $rc, expected 1"
  [ "$(err_text)" = "$expected" ] || say "read-only folder: stderr [$(err_text)], expected [$expected]"
  [ -s "$tmp/out" ] && say "read-only folder: the run started: $(head -c 200 "$tmp/out")"
  [ -z "$(ls -A "$tmp/ro")" ] || say "read-only folder: files left: $(ls -A "$tmp/ro")"
fi

# An existing file is replaced by the complete new one.
echo '{"old": true}' >"$tmp/r.json"
$runner "$program" -d 1 -s 64 -n 1 --json "$tmp/r.json" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" -eq 0 ] || say "replace: exit code $rc: $(err_text)"
# shellcheck disable=SC2086
$check "$tmp/r.json" "$tmp/out" "$tmp/err" "$rc" -d 1 -s 64 -n 1 --json "$tmp/r.json" || say "replace: the new file fails its check"
ls -A "$tmp" | grep -q '\.tmp$' && say "replace: temporary files left: $(ls -A "$tmp")"

# The rest needs Linux itself: a file-size limit and a named pipe.
if [ -n "$runner" ]; then
  [ "$failures" -eq 0 ] || exit 1
  exit 0
fi

# A write that fails half-way (the file-size limit, its signal ignored so the
# write reports it): the old file stays whole, no temporary file stays, and the
# console result was printed in full. The streams go through pipes, which the
# limit does not cover.
echo '{"old": true}' >"$tmp/keep.json"
cp "$tmp/keep.json" "$tmp/keep.orig"
{ (trap '' XFSZ; ulimit -f 2; exec "$program" -d 1 -s 64 -n 1 --json "$tmp/keep.json" </dev/null 2>&3)
  echo $? >"$tmp/rc"; } 3>&1 | cat >"$tmp/out.all"
rc=$(cat "$tmp/rc")
[ "$rc" -eq 1 ] || say "half-way failure: exit code $rc, expected 1"
# The line comes after the report, before the closing prompt.
tail=$(tail -n 2 "$tmp/out.all" | tr '\n' '|')
[ "$tail" = "cannot write the result file $tmp/keep.json: File too large|press enter to exit|" ] ||
  say "half-way failure: the output ends [$tail]"
grep -q "^final score: .* MGups$" "$tmp/out.all" || say "half-way failure: no score on the console"
cmp -s "$tmp/keep.json" "$tmp/keep.orig" || say "half-way failure: the old file was changed"
ls -A "$tmp" | grep -q '\.tmp$' && say "half-way failure: temporary files left: $(ls -A "$tmp")"

# A named pipe is written in place and stays a pipe.
mkfifo "$tmp/pipe"
cat "$tmp/pipe" >"$tmp/piped.json" &
reader=$!
"$program" -d 1 -s 64 -n 1 --json "$tmp/pipe" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
wait "$reader"
[ "$rc" -eq 0 ] || say "pipe: exit code $rc: $(err_text)"
[ -p "$tmp/pipe" ] || say "pipe: the pipe was replaced"
# shellcheck disable=SC2086
$check "$tmp/piped.json" "$tmp/out" "$tmp/err" "$rc" -d 1 -s 64 -n 1 --json "$tmp/pipe" || say "pipe: what came through fails its check"

[ "$failures" -eq 0 ] || exit 1
