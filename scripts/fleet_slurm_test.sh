#!/bin/sh
# A real fleet run: a throw-away Slurm cluster of two nodes on this host (munged,
# slurmctld and one slurmd per node, all from a scratch folder), a zelvo-fleet
# submit of a one-second run on both nodes, and its report and plot checked.
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
  [ -z "$child" ] || kill -TERM "$child" 2>/dev/null || true
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
# share this host's cores with whatever else runs, so their scores differ by
# chance: the tolerance is wide here (the unit tests check the 5 % gate).
report_rc=0
timeout 120 "$fleet" report "$folder" --tolerance 50 --plot "$scratch/fleet.png" \
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
echo "fleet_slurm_test: passed"
