#!/bin/sh
# A real fleet run: a throw-away Slurm cluster of two nodes on this host (munged,
# slurmctld and one slurmd per node, all from a scratch folder), a zelvo-fleet
# submit of a one-second run on both nodes, and its report and plot checked,
# and of two such runs in a row on each node; then the jobs that go wrong: one that cannot start (too many nodes, a drained
# node), nodes that run no zelvo, a job that fails to launch, a wait that is
# bounded, interrupted or ended by scancel, and a report on a job still running.
# Needs root (munge and slurmd run as root here) and the packages of
# `scripts/deps.sh test`. Every daemon is stopped on the way out.
# Usage: scripts/fleet_slurm_test.sh [zelvo program]   (default build/native/zelvo)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
zelvo=$(realpath -m "${1:-$root/build/native/zelvo}")
fleet=$root/fleet/zelvo-fleet
nodes="node1 node2"

fail() {
  echo "fleet_slurm_test: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root (munged and slurmd run as root)"
[ -x "$zelvo" ] || fail "no program $zelvo"
for tool in munged mungekey slurmctld slurmd sbatch scontrol sinfo python3; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool not found: run scripts/deps.sh test"
done

# Short path: the munge socket's name must fit a socket address. munged wants
# its socket's folder open to all.
scratch=$(mktemp -d /tmp/zelvo-slurm.XXXXXX)
chmod 755 "$scratch"
pids=""
child=""
children=""
show_logs() {
  for log in "$scratch"/*.log "$scratch"/results/slurm-*.out "$scratch"/results/*/*.log; do
    [ -f "$log" ] || continue
    echo "--- $log" >&2
    tail -n 30 "$log" >&2
  done
}
# The processes that hold a file of the scratch folder open: job steps (they
# outlive their slurmd) and the tasks they started.
scratch_users() {
  find /proc/[0-9]*/fd /proc/[0-9]*/cwd -maxdepth 1 -lname "$scratch/*" 2>/dev/null |
    cut -d / -f 3 | sort -u
}
stop_daemons() {
  status=$?
  trap - EXIT INT TERM
  [ "$status" -eq 0 ] || show_logs
  for pid in $child $children; do kill -TERM "$pid" 2>/dev/null || true; done
  # A job still running is cancelled while the controller can still do it.
  if [ -n "${SLURM_CONF:-}" ]; then
    jobs=$(timeout 5 squeue -h -o %i 2>/dev/null || true)
    if [ -n "$jobs" ]; then
      timeout 5 scancel $jobs >/dev/null 2>&1 || true
      i=0
      while [ "$i" -lt 50 ] && [ -n "$(timeout 5 squeue -h -o %i 2>/dev/null)" ]; do
        sleep 0.2
        i=$((i + 1))
      done
    fi
  fi
  alive=""
  for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
  for _ in $(seq 50); do
    alive=""
    for pid in $pids; do
      if kill -0 "$pid" 2>/dev/null; then alive="$alive $pid"; fi
    done
    [ -z "$alive" ] && break
    sleep 0.2
  done
  for pid in $alive $(scratch_users); do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
  exit "$status"
}
trap stop_daemons EXIT
trap 'exit 130' INT TERM

# wait_for SECONDS PID WHAT COMMAND...: waits until COMMAND succeeds (each try
# limited to 5 s); fails at once when the daemon PID has died, or after SECONDS.
wait_for() {
  deadline=$(($(date +%s) + $1))
  pid=$2
  what=$3
  shift 3
  until timeout 5 "$@" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || fail "$what died"
    [ "$(date +%s)" -lt "$deadline" ] || fail "$what: no answer within $1 s"
    sleep 0.2
  done
}

# Free ports for the controller and each node's slurmd.
set -- $(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))
')
ctld_port=$1

mkdir -p "$scratch/state" "$scratch/results"
for node in $nodes; do mkdir -p "$scratch/spool/$node"; done
mungekey --create --keyfile="$scratch/munge.key" >/dev/null
chmod 600 "$scratch/munge.key"
# Foreground daemons started here with their output in files: their ids are ours
# to stop, and none of them holds the caller's output open.
munged --foreground --socket="$scratch/munge.socket" --key-file="$scratch/munge.key" \
  --pid-file="$scratch/munged.pid" --seed-file="$scratch/munged.seed" \
  --log-file="$scratch/munged.log" </dev/null >"$scratch/munged.out" 2>&1 &
pids="$! $pids"
wait_for 10 "$!" munged test -S "$scratch/munge.socket"

host=$(hostname -s)
cpus=$(nproc)
{
  cat <<EOF
ClusterName=zelvotest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$scratch/munge.socket
CredType=cred/munge
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool/%n
SlurmdPidFile=$scratch/slurmd-%n.pid
SlurmdLogFile=$scratch/slurmd-%n.log
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmctldLogFile=$scratch/slurmctld.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
MpiDefault=none
ReturnToService=2
EOF
  port=2
  for node in $nodes; do
    eval "node_port=\$$port"
    echo "NodeName=$node NodeAddr=127.0.0.1 Port=$node_port CPUs=$cpus State=UNKNOWN"
    port=$((port + 1))
  done
  echo "PartitionName=fleet Nodes=$(echo $nodes | tr ' ' ',') Default=YES MaxTime=10 State=UP"
} >"$scratch/slurm.conf"
export SLURM_CONF="$scratch/slurm.conf"

slurmctld -D -f "$SLURM_CONF" </dev/null >"$scratch/slurmctld.out" 2>&1 &
pids="$! $pids"
wait_for 30 "$!" slurmctld scontrol ping
for node in $nodes; do
  slurmd -D -N "$node" -f "$SLURM_CONF" </dev/null >"$scratch/slurmd-$node.out" 2>&1 &
  pids="$! $pids"
  last_slurmd=$!
done
# Every node "idle", without the "*" of a node that has not answered yet.
wait_for 30 "$last_slurmd" "the nodes" sh -c \
  '[ "$(sinfo -h -N -o "%N %t" | grep -c " idle$")" -eq "$1" ]' nodes_idle "$(echo $nodes | wc -w)"

# The fleet run: one result file per node, named by the Slurm node.
# In the background, so that INT and TERM stop the script at once.
timeout 180 "$fleet" submit --nodes 2 --wait --out "$scratch/results" --zelvo "$zelvo" \
  -- -d 1 -s 64 >"$scratch/submit.out" &
child=$!
wait "$child" || fail "submit failed: $(cat "$scratch/submit.out")"
child=""
cat "$scratch/submit.out"
folder=$(sed -n 's/^folder //p' "$scratch/submit.out")
[ -d "$folder" ] || fail "submit named no result folder"

# Exit code 0 (nothing flagged), one valid row per node, and a PNG. Both nodes
# share this host's cores with whatever else runs, so their scores and their
# rates within a run vary by chance: the gates are wide here (the unit tests
# check the 5 % ones).
report_rc=0
timeout 120 "$fleet" report "$folder" --tolerance 50 --spread 90 --throttle 90 \
  --plot "$scratch/fleet.png" \
  >"$scratch/report.out" || report_rc=$?
cat "$scratch/report.out"
[ "$report_rc" -eq 0 ] || fail "the report flagged the fleet run (exit code $report_rc)"
for node in $nodes; do
  [ -f "$folder/$node.json" ] || fail "no result file from $node"
  [ "$(grep -c -E "^  $node  .*  yes  " "$scratch/report.out")" -eq 1 ] ||
    fail "the report has no valid row for $node"
done
grep -q -x '2 nodes in 1 group: 2 passed; none flagged' "$scratch/report.out" ||
  fail "unexpected summary"
[ "$(head -c 8 "$scratch/fleet.png" | od -A n -t x1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "--plot wrote no PNG"
grep -q -x '2 of 2 nodes left a result file' "$scratch/submit.out" ||
  fail "submit did not count the result files"

# Repeated runs: two in a row on each node, each with its own result file that
# holds to the schema.
timeout 180 "$fleet" submit --nodes 2 --repeat 2 --wait --out "$scratch/results" \
  --zelvo "$zelvo" -- -d 1 -s 64 >"$scratch/repeat.out" &
child=$!
wait "$child" || fail "submit --repeat failed: $(cat "$scratch/repeat.out")"
child=""
cat "$scratch/repeat.out"
grep -q -x '2 of 2 nodes left a result file from each of their 2 runs' "$scratch/repeat.out" ||
  fail "submit --repeat did not count the result files"
repeated=$(sed -n 's/^folder //p' "$scratch/repeat.out")
python3 - "$root/packaging/zelvo-result.schema.json" "$repeated" $nodes <<'EOF_CHECK' ||
import json, os, sys
import jsonschema
schema, folder, nodes = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(schema) as f:
    validator = jsonschema.Draft202012Validator(json.load(f))
names = sorted(os.listdir(folder))
want = sorted(["nodes.txt"] + [f"{n}.{k}.{e}" for n in nodes for k in (1, 2)
                               for e in ("json", "log")])
if names != want:
    sys.exit(f"files {names}, not {want}")
for name in names:
    if name.endswith(".json"):
        with open(os.path.join(folder, name)) as f:
            errors = list(validator.iter_errors(json.load(f)))
        if errors:
            sys.exit(f"{name}: {errors[0].message}")
EOF_CHECK
  fail "submit --repeat left other files than one valid result and one log per run"
# The report judges each node by its two runs. Two nodes on one shared host may
# well differ by more than any sane gate, so a flag (exit 1) is accepted here;
# a node row without its two runs, or a read error (exit 2), is not.
report_rc=0
timeout 120 "$fleet" report "$repeated" --tolerance 50 >"$scratch/repeat-report.out" ||
  report_rc=$?
cat "$scratch/repeat-report.out"
[ "$report_rc" -le 1 ] || fail "the report on the repeated runs failed (exit code $report_rc)"
for node in $nodes; do
  grep -q -E "^  $node  .*  2  " "$scratch/repeat-report.out" ||
    fail "the report has no row of two runs for $node"
done

# The jobs that go wrong. Each zelvo-fleet NAME ... writes NAME.out and NAME.err.
# run NAME CODE ARGS...: zelvo-fleet ARGS, which must exit with CODE.
run() {
  name=$1
  want=$2
  shift 2
  timeout 120 "$fleet" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" &
  child=$!
  rc=0
  wait "$child" || rc=$?
  child=""
  [ "$rc" -eq "$want" ] || fail "$name: exit code $rc, not $want: $(cat "$scratch/$name.out" "$scratch/$name.err")"
}
# start NAME ARGS...: zelvo-fleet ARGS in the background, with Ctrl-C's signal
# at its default (a shell's background job ignores it); its id in $started.
start() {
  name=$1
  shift
  env --default-signal=INT "$fleet" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" &
  started=$!
  children="$children $started"
}
# finish NAME PID CODE: waits (at most 60 s) for the zelvo-fleet started as NAME.
finish() {
  i=0
  while kill -0 "$2" 2>/dev/null; do
    [ "$i" -lt 300 ] || fail "$1: still running after 60 s"
    sleep 0.2
    i=$((i + 1))
  done
  rc=0
  wait "$2" || rc=$?
  [ "$rc" -eq "$3" ] || fail "$1: exit code $rc, not $3: $(cat "$scratch/$1.out" "$scratch/$1.err")"
}
# has NAME REGEX / lacks NAME REGEX: a line of NAME's output matches REGEX, or none does.
has() {
  grep -q -E "$2" "$scratch/$1.out" "$scratch/$1.err" ||
    fail "$1: no line like '$2' in: $(cat "$scratch/$1.out" "$scratch/$1.err")"
}
lacks() {
  ! grep -q -E "$2" "$scratch/$1.out" "$scratch/$1.err" ||
    fail "$1: a line like '$2' in: $(cat "$scratch/$1.out" "$scratch/$1.err")"
}
# shows NAME PID REGEX: waits (at most 30 s) until the running NAME has printed REGEX.
shows() {
  wait_for 30 "$2" "$1" grep -q -E "$3" "$scratch/$1.out" "$scratch/$1.err"
}
job_of() {
  sed -n 's/^job \([0-9][0-9]*\)$/\1/p' "$scratch/$1.out"
}
state_of() {
  scontrol show job -o "$1" | sed -n 's/.* JobState=\([^ ]*\).*/\1/p'
}
nodes_idle() {
  wait_for 30 "$last_slurmd" "the nodes" sh -c \
    '[ "$(sinfo -h -N -o "%N %t" | grep -c " idle$")" -eq 2 ]'
}
results=$scratch/results

# Nodes that run no zelvo: the job completes, yet no node left a result file.
run no-zelvo 1 submit --nodes 2 --wait --out "$results" --zelvo /nonexistent/zelvo -- -d 1
has no-zelvo '^zelvo-fleet: 0 of 2 nodes left a result file; none from node1, node2$'

# More nodes than the partition has: queued (EnforcePartLimits=NO), never started.
run too-many 2 submit --nodes 5 --wait --out "$results" --zelvo "$zelvo" -- -d 1 -s 64
has too-many '^zelvo-fleet: job [0-9]+ cannot start as submitted \((PartitionConfig|PartitionNodeLimit)\): cancelled it$'
[ "$(state_of "$(job_of too-many)")" = CANCELLED ] || fail "too-many: the job was not cancelled"

# A drained node in the node list.
scontrol update nodename=node2 state=drain reason=zelvo-fleet-test
run drained 2 submit --nodelist node1,node2 --wait --out "$results" --zelvo "$zelvo" -- -d 1
has drained 'cannot start as submitted \(ReqNodeNotAvail.*node2\): cancelled it$'
scontrol update nodename=node2 state=resume
nodes_idle

# A job that is still running holds both nodes (its "zelvo" sleeps, the first of
# two runs): a report on it says so, counting each node once, and the jobs
# behind it pend.
printf '#!/bin/sh\nexec sleep 60\n' >"$scratch/sleeper"
chmod +x "$scratch/sleeper"
run sleeper 0 submit --nodes 2 --repeat 2 --out "$results" --zelvo "$scratch/sleeper"
sleeper=$(job_of sleeper)
wait_for 30 "$last_slurmd" "the running job" sh -c \
  '[ "$(scontrol show job -o "$1" | grep -c " JobState=RUNNING ")" -eq 1 ] && [ -s "$2" ]' \
  running "$sleeper" "$results/$sleeper/nodes.txt"
run running-report 2 report "$results/$sleeper"
has running-report "^zelvo-fleet: job $sleeper is still running: 2 nodes have not finished \(node1, node2\); report again when it has ended$"
lacks running-report 'failed'

# A bounded wait leaves the job queued; a report on it says it is queued.
run bounded 2 submit --nodes 2 --wait-timeout 3 --out "$results" --zelvo "$zelvo" -- -d 1
bounded=$(job_of bounded)
has bounded "^zelvo-fleet: job $bounded is pending \("
has bounded "^zelvo-fleet: stopped waiting after 3 s: job $bounded is still queued \(.*\); to cancel it: scancel $bounded$"
[ "$(state_of "$bounded")" = PENDING ] || fail "bounded: the job is no longer queued"
run pending-report 2 report "$results/$bounded"
has pending-report "^zelvo-fleet: job $bounded is still queued \(.*\): no node has started"
scancel "$bounded"

# Interrupted, cancelled while pending, and failed to launch (its output folder
# is gone when it starts): all wait behind the sleeper at once.
start interrupted submit --nodes 2 --wait --out "$results" --zelvo "$zelvo" -- -d 1
interrupted=$started
start cancelled submit --nodes 2 --wait --out "$results" --zelvo "$zelvo" -- -d 1
cancelled=$started
start no-launch submit --nodes 2 --wait --out "$scratch/gone" --zelvo "$zelvo" -- -d 1
no_launch=$started
shows interrupted "$interrupted" 'is pending \('
shows cancelled "$cancelled" 'is pending \('
shows no-launch "$no_launch" 'is pending \('
kill -INT "$interrupted"
finish interrupted "$interrupted" 130
has interrupted "^zelvo-fleet: stopped waiting: job $(job_of interrupted) is still queued \(.*\); to cancel it: scancel $(job_of interrupted)$"
[ "$(state_of "$(job_of interrupted)")" = PENDING ] || fail "interrupted: the job is no longer queued"
scancel "$(job_of interrupted)" "$(job_of cancelled)"
finish cancelled "$cancelled" 1
has cancelled "^zelvo-fleet: job $(job_of cancelled) ended CANCELLED(, reason .*)?; it left no log$"
rm -rf "$scratch/gone"
scancel "$sleeper"
finish no-launch "$no_launch" 1
has no-launch "^zelvo-fleet: job $(job_of no-launch) ended FAILED, reason JobLaunchFailure; it left no log$"
for name in no-zelvo too-many drained running-report bounded pending-report interrupted \
  cancelled no-launch; do
  echo "--- zelvo-fleet $name:"
  cat "$scratch/$name.out" "$scratch/$name.err"
done
echo "fleet_slurm_test: passed"
