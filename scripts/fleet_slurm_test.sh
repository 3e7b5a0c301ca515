#!/bin/sh
# A real fleet run: a throw-away Slurm cluster of two nodes on this host (munged,
# slurmctld and one slurmd per node, all from a scratch folder), a zelvo-fleet
# submit of a one-second run on both nodes, and its report and plot checked.
# Needs root (munge and slurmd run as root here) and the packages of
# `scripts/deps.sh test`. Every daemon is stopped on the way out.
# Usage: scripts/fleet_slurm_test.sh [zelvo program]   (default build/native/zelvo)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
zelvo=$(realpath "${1:-$root/build/native/zelvo}")
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

# Short path: the munge socket's name must fit a socket address.
scratch=$(mktemp -d /tmp/zelvo-slurm.XXXXXX)
pids=""
show_logs() {
  for log in "$scratch"/*.log "$scratch"/results/slurm-*.out "$scratch"/results/*/*.log; do
    [ -f "$log" ] || continue
    echo "--- $log" >&2
    tail -n 30 "$log" >&2
  done
}
stop_daemons() {
  status=$?
  trap - EXIT INT TERM
  [ "$status" -eq 0 ] || show_logs
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
  for pid in $alive; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
  exit "$status"
}
trap stop_daemons EXIT
trap 'exit 130' INT TERM

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  limit=$(($1 * 5))
  shift
  i=0
  until "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ "$i" -lt "$limit" ] || return 1
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
munged --foreground --force --socket="$scratch/munge.socket" --key-file="$scratch/munge.key" \
  --pid-file="$scratch/munged.pid" --seed-file="$scratch/munged.seed" \
  --log-file="$scratch/munged.log" </dev/null >"$scratch/munged.out" 2>&1 &
pids="$! $pids"
wait_for 10 test -S "$scratch/munge.socket" || fail "munged did not start"

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
MessageTimeout=20
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
wait_for 30 scontrol ping || fail "slurmctld did not answer within 30 s"
for node in $nodes; do
  slurmd -D -N "$node" -f "$SLURM_CONF" </dev/null >"$scratch/slurmd-$node.out" 2>&1 &
  pids="$! $pids"
done
# "idle" without the "*" of a node that has not answered yet.
nodes_idle() {
  [ "$(sinfo -h -N -o '%N %t' | grep -c ' idle$')" -eq "$(echo $nodes | wc -w)" ]
}
wait_for 30 nodes_idle || fail "the nodes did not come up: $(sinfo -N 2>&1 | tr '\n' ' ')"

# The fleet run: one result file per node, named by the Slurm node.
timeout 180 "$fleet" submit --nodes 2 --wait --out "$scratch/results" --zelvo "$zelvo" \
  -- -d 1 -s 64 >"$scratch/submit.out" || fail "submit failed: $(cat "$scratch/submit.out")"
cat "$scratch/submit.out"
folder=$(sed -n 's/^folder //p' "$scratch/submit.out")
[ -d "$folder" ] || fail "submit named no result folder"

# Exit code 0 (nothing flagged), one valid row per node, and a PNG. Both nodes
# share this host's cores with whatever else runs, so their scores differ by
# chance: the tolerance is wide here (the unit tests check the 5 % gate).
report_rc=0
"$fleet" report "$folder" --tolerance 50 --plot "$scratch/fleet.png" >"$scratch/report.out" ||
  report_rc=$?
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
