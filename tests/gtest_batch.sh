#!/bin/sh
# All the cases of a GoogleTest binary in one process (under Wine one Wine start,
# under a sanitizer one runtime start, instead of one per case), while ctest
# still has one test per case that passes, fails or is skipped as that case did.
#
#   gtest_batch.sh DIR [EMULATOR...] -- BINARY --run
#       runs every case once; DIR gets the output and one file per case
#   gtest_batch.sh DIR [EMULATOR...] -- BINARY --gtest_filter=CASE ...
#       prints CASE's part of that output; its exit code is the case's verdict
#   gtest_batch.sh DIR [EMULATOR...] -- BINARY ARGS...
#       runs the binary (gtest_discover_tests lists the cases this way)
set -u
dir=$1
shift
runner=""
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  runner="$runner $1"
  shift
done
[ $# -ge 2 ] || { echo "usage: gtest_batch.sh DIR [EMULATOR...] -- BINARY ARGS..." >&2; exit 2; }
shift
binary=$1
shift

# A case's file name: its full name with the parameter separator made safe.
case_file() { printf '%s/cases/%s' "$dir" "$(printf '%s' "$1" | tr '/' '~')"; }

case "$1" in
  --run)
    rm -rf "$dir"
    mkdir -p "$dir/cases"
    # Two shards side by side (GoogleTest's own sharding): the cases that compute
    # use both cores.
    shards=${ZELVO_GTEST_SHARDS:-2}
    pids="" i=0
    while [ "$i" -lt "$shards" ]; do
      GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i \
        $runner "$binary" --gtest_color=no >"$dir/output.$i.txt" 2>&1 </dev/null &
      pids="$pids $!"
      i=$((i + 1))
    done
    codes=""
    for pid in $pids; do
      wait "$pid"
      codes="$codes $?"
    done
    # Each shard on its own: exit code 1 with exactly its failed cases listed is
    # explained by them (they report themselves). Anything else (a crash, a
    # sanitizer report, a leak found at exit, a failure outside every case) is
    # the run's own failure, told shard by shard, so that one shard's failed
    # cases cannot hide another's failure at exit.
    rc=0 i=0
    for code in $codes; do
      out=$dir/output.$i.txt
      # Split the output at the case markers; Wine writes "\r\n". Prints the
      # counts of failed and unfinished cases.
      counts=$(awk -v dir="$dir/cases" '
        { sub(/\r$/, "") }
        /^\[ RUN      \] / { name = substr($0, 14); gsub("/", "~", name); body = ""; open = 1 }
        open { body = body $0 "\n" }
        open && /^\[ +(OK|FAILED|SKIPPED) +\] / {
          verdict = $0 ~ /^\[ +OK +\]/ ? "ok" : ($0 ~ /SKIPPED/ ? "skipped" : "failed")
          if (verdict == "failed") failed++
          printf "%s", body > (dir "/" name "." verdict)
          close(dir "/" name "." verdict)
          open = 0
        }
        END {
          if (open) { printf "%s", body > (dir "/" name ".unfinished") }
          print failed + 0, open + 0
        }
      ' "$out")
      failed=${counts% *} unfinished=${counts#* }
      tr -d '\r' <"$out" | tee -a "$dir/output.txt"
      listed=$(tr -d '\r' <"$out" | sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p')
      listed=${listed:-0}
      explained=no
      if [ "$unfinished" -eq 0 ]; then
        [ "$code" -eq 0 ] && [ "$failed" -eq 0 ] && explained=yes
        [ "$code" -eq 1 ] && [ "$failed" -gt 0 ] && [ "$listed" -eq "$failed" ] && explained=yes
      fi
      if [ "$explained" = no ]; then
        echo "gtest_batch.sh: shard $i of $shards failed outside its cases (exit code $code, $failed failed" \
          "case(s); a crash, a report at exit or a case left unfinished): see $out" | tee -a "$dir/output.txt"
        [ "$code" -gt "$rc" ] && rc=$code
        [ "$rc" -ne 0 ] || rc=1
      fi
      i=$((i + 1))
    done
    exit "$rc"
    ;;
  --gtest_filter=*)
    name=${1#--gtest_filter=}
    file=$(case_file "$name")
    for verdict in ok skipped failed unfinished; do
      [ -f "$file.$verdict" ] || continue
      cat "$file.$verdict"
      case $verdict in
        ok|skipped) exit 0 ;;
        failed) exit 1 ;;
        unfinished)
          echo "--- the run ended inside this case; see $dir/output.txt"
          exit 1 ;;
      esac
    done
    echo "no result for $name: its run did not reach it (see $dir/output.txt)"
    exit 1
    ;;
  *)
    exec $runner "$binary" "$@"
    ;;
esac
