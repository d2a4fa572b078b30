#!/usr/bin/env bash
# The shipped examples/cluster job-array script and its merge job, submitted to
# a one-node Slurm cluster that this test starts (munged, slurmctld, slurmd,
# every file in a scratch folder) and always stops. The merged outputs must be
# the bytes of one machine's run of the same list, a failed site included.
#   slurm_test.sh KELMAR_CLI SOURCE_DIR SCRATCH_PARENT
set -euo pipefail
KELMAR_CLI=$1
SOURCE_DIR=$2
mkdir -p "$3"
SCRATCH=$(mktemp -d "$3/slurm.XXXXXX")
source "$SOURCE_DIR/tests/cli/launchers/common.sh"
for program in munged slurmctld slurmd sbatch sinfo scancel python3; do
  command -v "$program" > /dev/null ||
    fail "no $program: install munge, slurm-wlm and python3 (scripts/install-deps.sh)"
done
[[ $(id -u) -eq 0 ]] || fail "the one-node cluster runs its daemons as root (SlurmUser=root); run as root"

state=$SCRATCH/cluster
mkdir -p "$state/spool" "$state/ctld" "$state/munge" "$state/socket"
# munged wants its socket's folders open to all to enter, its key's to no one.
chmod 755 "$SCRATCH" "$state" "$state/socket"
chmod 700 "$state/munge"

# Stops the three daemons by the ids in their pid files; on failure shows
# their logs. Runs however the script ends.
job_ids=()
stop_cluster() {
  local status=$? name pid i
  trap - EXIT
  for job in "${job_ids[@]}"; do timeout 10 scancel "$job" 2> /dev/null || true; done
  for name in slurmd slurmctld munged; do
    [[ -s $state/$name.pid ]] || continue
    pid=$(cat "$state/$name.pid")
    kill "$pid" 2> /dev/null || continue
    for ((i = 0; i < 100; i++)); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2> /dev/null; then
      echo "$name ($pid) did not stop within 10 s; killing it" >&2
      kill -9 "$pid" 2> /dev/null || true
    fi
  done
  if [[ $status -ne 0 ]]; then
    for log in "$state"/*.log "$SCRATCH"/work/*.log; do
      [[ -f $log ]] && { echo "==== $log"; tail -n 60 "$log"; }
    done
    echo "The scratch folder is kept: $SCRATCH" >&2
  else
    rm -rf "$SCRATCH"
  fi
  exit "$status"
}
trap stop_cluster EXIT

# munge with its own key, socket, pid, log and seed files.
dd if=/dev/urandom of="$state/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$state/munge/munge.key"
socket=$state/socket/munge.socket
munged --key-file="$state/munge/munge.key" --socket="$socket" --pid-file="$state/munged.pid" \
  --log-file="$state/munged.log" --seed-file="$state/munge/munged.seed" ||
  fail "munged did not start"

# Two free ports on the loopback address for the controller and the node.
read -r ctld_port node_port < <(python3 -c '
import socket
held = [socket.socket() for _ in range(2)]
for s in held: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))')
node=$(hostname -s)
cpus=$(nproc)
memory=$(($(awk '/^MemTotal:/ {print $2}' /proc/meminfo) / 1024 / 2))  # MB, half the machine's

export SLURM_CONF=$state/slurm.conf
cat > "$SLURM_CONF" <<CONF
ClusterName=kelmartest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
MailProg=/bin/true
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/slurmctld.log
SlurmdLogFile=$state/slurmd.log
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF

slurmctld -c || fail "slurmctld did not start"
slurmd || fail "slurmd did not start"

# The node idle within a bounded wait.
idle=
for ((i = 0; i < 60; i++)); do
  if [[ $(timeout 10 sinfo -h -n "$node" -o '%T' 2> /dev/null) == idle ]]; then idle=yes; break; fi
  sleep 1
done
[[ $idle ]] || { timeout 10 sinfo -N -l || true; fail "the node $node was not idle within 60 s"; }

make_site_list one-failing
one_machine_run

# The shipped scripts as they are, given their paths through the variables
# they read; each task on one core so that the four share this machine.
mkdir "$SCRATCH/work"
cd "$SCRATCH/work"
export KELMAR_CLI KELMAR_SITES=$SCRATCH/sites.csv KELMAR_OUT=$SCRATCH/work/out KELMAR_SEED=7
examples=$SOURCE_DIR/examples/cluster

started=$SECONDS
status=0
array=$(timeout 300 sbatch --parsable --array=0-3 --cpus-per-task=1 --wait "$examples/batch-array.sh") ||
  status=$?
array=${array%%;*}
[[ $array =~ ^[0-9]+$ ]] || fail "sbatch of the array gave no job id (exit $status)"
job_ids+=("$array")
# The task holding the failed site ends with 1; so does the array.
[[ $status -eq 1 ]] || fail "the array ended with $status, not 1 for the task with the failed site"
for ((task = 0; task < 4; task++)); do
  [[ -f kelmar-${array}_$task.log ]] || fail "task $task left no log"
done
[[ ! -e out/monthly.csv ]] || fail "a task wrote the joined outputs before the merge"
check_shards out 4

status=0
merge=$(timeout 120 sbatch --parsable --dependency=afterany:"$array" --wait "$examples/merge.sh") || status=$?
merge=${merge%%;*}
job_ids+=("$merge")
[[ $status -eq 1 ]] || fail "the merge job ended with $status, not 1 for the failed site"
grep -q "1 of $SITE_COUNT sites failed" "kelmar-merge-$merge.log" || fail "the merge job did not report the failed site"
compare_outputs out
echo "Slurm: array of 4 and merge job in $((SECONDS - started)) s, the one-machine bytes"
