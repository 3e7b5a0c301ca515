#!/bin/sh
# gtest_batch.sh over a stand-in test binary whose two shards pass, fail their
# case, fail at exit (a sanitizer's report) or crash: the run fails exactly when
# a shard failed outside its cases, names every such shard, and each case still
# reports its own verdict.
#   gtest_batch_test.sh GTEST_BATCH_SH WORK_DIR
set -u
batch=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
standin=$work/standin
# Shard N runs the case Batch.CaseN as the N-th word of STANDIN_SHARDS says:
# "ok" or "fail", "+exitK" for a report at exit and exit code K, or "crash".
cat >"$standin" <<'EOF'
#!/bin/sh
set -- $STANDIN_SHARDS
shift "$GTEST_SHARD_INDEX"
how=$1 name=Batch.Case$GTEST_SHARD_INDEX
echo "[ RUN      ] $name"
case $how in
  crash) echo "Segmentation fault"; exit 139 ;;
  fail*) echo "batch.cpp:1: Failure"; echo "[  FAILED  ] $name (0 ms)" ;;
  *) echo "[       OK ] $name (0 ms)" ;;
esac
code=0
case $how in fail*) echo "[  FAILED  ] 1 test, listed below:"; echo "[  FAILED  ] $name"; code=1 ;; esac
case $how in *+exit*) echo "WARNING: ThreadSanitizer: data race (at exit)"; code=${how#*+exit} ;; esac
exit "$code"
EOF
chmod +x "$standin"

status=0
# shards | run passes | shards named as failed outside their cases | verdicts of Case0 and Case1
while read -r shards passes named verdicts; do
  out=$(STANDIN_SHARDS=$(echo "$shards" | tr , ' ') ZELVO_GTEST_SHARDS=2 \
        sh "$batch" "$work/cases" -- "$standin" --run 2>&1)
  rc=$?
  problem=""
  if [ "$passes" = yes ] && [ "$rc" -ne 0 ]; then problem="run failed ($rc)"; fi
  if [ "$passes" = no ] && [ "$rc" -eq 0 ]; then problem="run passed"; fi
  for shard in 0 1; do
    said=no
    printf '%s\n' "$out" | grep -q "shard $shard of 2 failed outside its cases" && said=yes
    expected=no
    case ",$named," in *",$shard,"*) expected=yes ;; esac
    [ "$said" = "$expected" ] || problem="$problem; shard $shard named: $said"
  done
  got=""
  for case in 0 1; do
    sh "$batch" "$work/cases" -- "$standin" --gtest_filter=Batch.Case$case >/dev/null 2>&1
    got="$got${got:+,}$?"
  done
  [ "$got" = "$verdicts" ] || problem="$problem; case verdicts $got"
  if [ -n "$problem" ]; then
    echo "FAIL shards $shards: ${problem#; }"
    printf '%s\n' "$out" | sed 's/^/    /'
    status=1
  else
    echo "ok   shards $shards"
  fi
done <<'EOF'
ok,ok yes - 0,0
fail,ok yes - 1,0
fail,ok+exit1 no 1 1,0
fail,ok+exit66 no 1 1,0
ok+exit1,fail+exit66 no 0,1 0,1
ok,crash no 1 0,1
EOF
exit $status
