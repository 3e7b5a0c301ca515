#!/bin/sh
# The result file where a table of cases cannot reach: a folder the user may not
# write, another user's file in a sticky folder, a write that fails half-way
# over an existing file, an existing file replaced, links written through, a
# name near the system's limit, pipes (written in place; one without a reader,
# one whose reader leaves) and console output lost before the file is written.
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
# refused <label> <path> <reason> [<command in front>]: the run does not start,
# one line says why, exit code 1.
refused() {
  label=$1 path=$2 reason=$3
  shift 3
  timeout 60 "$@" $runner "$program" -d 1 -s 64 -n 1 --json "$path" </dev/null >"$tmp/out" 2>"$tmp/err"
  rc=$?
  expected="cannot write the result file $path: $reason"
  [ "$rc" -eq 1 ] || say "$label: exit code $rc, expected 1"
  [ "$(err_text)" = "$expected" ] || say "$label: stderr [$(err_text)], expected [$expected]"
  [ -s "$tmp/out" ] && say "$label: the run started: $(head -c 200 "$tmp/out")"
}

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
  refused "read-only folder" "$tmp/ro/r.json" "Permission denied" $as_user
  [ -z "$(ls -A "$tmp/ro")" ] || say "read-only folder: files left: $(ls -A "$tmp/ro")"
fi

# Another user's file in a sticky folder (as /tmp) cannot be replaced: refused
# before the run, the file untouched.
if [ -n "$as_user" ]; then
  mkdir "$tmp/sticky"
  chmod 1777 "$tmp/sticky"
  echo '{"old": true}' >"$tmp/sticky/r.json"
  refused "sticky folder" "$tmp/sticky/r.json" "Permission denied" $as_user
  [ "$(cat "$tmp/sticky/r.json")" = '{"old": true}' ] || say "sticky folder: the file was changed"
elif [ "$(id -u)" -eq 0 ]; then
  echo "sticky folder: skipped (no other user to run as)"
else
  echo "sticky folder: skipped (another user's file needs root to make)"
fi

# An existing file is replaced by the complete new one.
echo '{"old": true}' >"$tmp/r.json"
$runner "$program" -d 1 -s 64 -n 1 --json "$tmp/r.json" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" -eq 0 ] || say "replace: exit code $rc: $(err_text)"
# shellcheck disable=SC2086
$check "$tmp/r.json" "$tmp/out" "$tmp/err" "$rc" -d 1 -s 64 -n 1 --json "$tmp/r.json" || say "replace: the new file fails its check"
ls -A "$tmp" | grep -q '\.tmp$' && say "replace: temporary files left: $(ls -A "$tmp")"

# The rest needs Linux itself: a file-size limit, links, long names, named pipes
# and /dev/full.
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

# A named pipe is written in place and stays a pipe, also when its reader is
# still starting as the program opens it. The reader is bounded: a refused
# pipe would leave it waiting for a writer.
mkfifo "$tmp/pipe"
(sleep 0.3; exec timeout 60 cat "$tmp/pipe" >"$tmp/piped.json") &
reader=$!
"$program" -d 1 -s 64 -n 1 --json "$tmp/pipe" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
wait "$reader"
[ "$rc" -eq 0 ] || say "pipe: exit code $rc: $(err_text)"
[ -p "$tmp/pipe" ] || say "pipe: the pipe was replaced"
# shellcheck disable=SC2086
$check "$tmp/piped.json" "$tmp/out" "$tmp/err" "$rc" -d 1 -s 64 -n 1 --json "$tmp/pipe" || say "pipe: what came through fails its check"

# A symbolic link is written through and stays a link, also when its target
# does not exist yet or lies in another folder.
mkdir "$tmp/links"
echo old >"$tmp/links/real.txt"
ln -s real.txt "$tmp/links/link.json"
ln -s links/new.json "$tmp/dangling.json"
ln -s /proc/self/fd/1 "$tmp/links/stdout"
for link in links/link.json dangling.json; do
  "$program" -d 1 -s 64 -n 1 --json "$tmp/$link" </dev/null >"$tmp/out" 2>"$tmp/err"
  rc=$?
  [ "$rc" -eq 0 ] || say "$link: exit code $rc: $(err_text)"
  [ -L "$tmp/$link" ] || say "$link: the link was replaced by a file"
done
grep -q '"schema"' "$tmp/links/real.txt" || say "link: its target holds no result"
grep -q '"schema"' "$tmp/links/new.json" 2>/dev/null || say "dangling link: its target was not made"
# A link to standard output that goes to a file, and that file named itself:
# the result follows the console's text in it, which stays whole, and the link
# stays.
for name in links/stdout links/console.txt; do
  "$program" -d 1 -s 64 -n 1 --json "$tmp/$name" </dev/null >"$tmp/links/console.txt" 2>"$tmp/err"
  rc=$?
  [ "$rc" -eq 0 ] || say "$name as standard output: exit code $rc: $(err_text)"
  [ -L "$tmp/links/stdout" ] || say "$name as standard output: the link was replaced"
  # The score, then the result file, then the closing prompt.
  order=$(grep -n -E '^final score: |^  "schema": |^press enter to exit$' "$tmp/links/console.txt" |
    cut -d: -f2 | cut -c1-8 | tr '\n' '|')
  [ "$order" = 'final sc|  "schem|press en|' ] ||
    say "$name as standard output: the file holds [$order], expected the score, the result, the prompt"
done
ls -A "$tmp/links" | grep -q '\.tmp$' && say "links: temporary files left: $(ls -A "$tmp/links")"

# A name of 250 characters, which the system allows, takes a temporary name
# that fits too.
long=$(printf '%0250d' 0)
"$program" -d 1 -s 64 -n 1 --json "$tmp/$long" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" -eq 0 ] || say "long name: exit code $rc: $(err_text)"
[ -s "$tmp/$long" ] || say "long name: no file"
rm -f "$tmp/$long"

# A named pipe nobody reads is refused at once, before the run, rather than
# waited on after it.
mkfifo "$tmp/lonely"
refused "pipe without reader" "$tmp/lonely" "No such device or address"

# A reader that leaves during the run: a write error with its line, not a
# silent death by SIGPIPE. This shell holds the pipe's reading end until the run
# has printed its first line.
mkfifo "$tmp/leaving"
exec 5<>"$tmp/leaving"
timeout 60 "$program" -d 1 -s 64 -n 1 --json "$tmp/leaving" </dev/null >"$tmp/out" 2>"$tmp/err" 5<&- &
run=$!
waited=0
while [ ! -s "$tmp/out" ] && [ "$waited" -lt 600 ]; do sleep 0.05; waited=$((waited + 1)); done
exec 5<&-
wait "$run"
rc=$?
expected="cannot write the result file $tmp/leaving: Broken pipe"
[ "$rc" -eq 1 ] || say "reader left: exit code $rc, expected 1"
[ "$(err_text)" = "$expected" ] || say "reader left: stderr [$(err_text)], expected [$expected]"
tail -n 1 "$tmp/out" | grep -q "^press enter to exit$" || say "reader left: the console result is incomplete"

# A pipe with a reader behind a /dev/fd name, as "--json >(jq .result)" gives.
"$program" -d 1 -s 64 -n 1 --json /dev/fd/3 </dev/null 3>&1 >"$tmp/out" 2>"$tmp/err" | cat >"$tmp/fd.json"
grep -q '"schema"' "$tmp/fd.json" || say "/dev/fd pipe: nothing came through: $(err_text)"

# Console output lost before the file is written: the file holds the exit code
# the process returns and the line that says why.
"$program" -d 1 -s 64 -n 1 --json "$tmp/lost.json" </dev/null >/dev/full 2>"$tmp/err"
rc=$?
[ "$rc" -eq 1 ] || say "lost output: exit code $rc, expected 1"
grep -q '"exit_code": 1' "$tmp/lost.json" || say "lost output: the file does not say exit code 1"
grep -q '"reason": "zelvo: write error on standard output: No space left on device"' "$tmp/lost.json" ||
  say "lost output: the file does not give the reason"

[ "$failures" -eq 0 ] || exit 1
