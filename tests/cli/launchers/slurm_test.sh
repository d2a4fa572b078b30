#!/usr/bin/env bash
# The shipped examples/cluster job-array script and its merge job, submitted as
# README.md's recipe does (from the site list's folder, with KELMAR_CLI set and
# nothing else) to a one-node Slurm cluster that this test starts (munged,
# slurmctld, slurmd) and always stops. The merged outputs must be the bytes of
# one machine's run of the same list, a failed site included.
#   slurm_test.sh KELMAR_CLI SOURCE_DIR SCRATCH_PARENT
set -euo pipefail
KELMAR_CLI=$1
SOURCE_DIR=$2
mkdir -p "$3"
SCRATCH=$(mktemp -d "$3/slurm.XXXXXX")
source "$SOURCE_DIR/tests/cli/launchers/common.sh"
examples=$SOURCE_DIR/examples/cluster

# The job scripts name the variable to set when kelmar-cli cannot be found,
# rather than failing with the shell's "not found" (no cluster needed).
mkdir "$SCRATCH/empty"
for script in batch-array.sh merge.sh; do
  status=0
  (cd "$SCRATCH" && env -u KELMAR_CLI PATH="$SCRATCH/empty" "$BASH" "$examples/$script") \
    > /dev/null 2> "$SCRATCH/no-program.err" || status=$?
  [[ $status -eq 2 ]] || fail "$script without kelmar-cli exited with $status, not 2"
  grep -q 'export KELMAR_CLI=' "$SCRATCH/no-program.err" ||
    fail "$script without kelmar-cli does not say to set KELMAR_CLI: $(cat "$SCRATCH/no-program.err")"
done

for program in munged slurmctld slurmd sbatch scontrol sinfo scancel python3; do
  command -v "$program" > /dev/null ||
    fail "no $program: install munge, slurm-wlm and python3 (scripts/install-deps.sh)"
done
[[ $(id -u) -eq 0 ]] || fail "the one-node cluster runs its daemons as root (SlurmUser=root); run as root"

# The daemons' sockets, key, state and logs live in a folder of their own
# under /tmp, not in the build tree: munged refuses a socket any of whose
# folders is not open to all to enter (a clone under a 0700 home or a mktemp
# folder), and slurm.conf takes no path with spaces.
state=$(mktemp -d /tmp/kelmar-slurm.XXXXXX)
chmod 755 "$state"                           # munged: every folder up to the socket open to all
mkdir -m 755 "$state/socket"
mkdir -m 700 "$state/munge"                  # munged: the key's folder open to no one else
mkdir "$state/spool" "$state/ctld"

# Stops the three daemons by the ids in their pid files and removes both
# folders; on failure shows the logs and keeps the folders, naming them.
# Runs however the script ends.
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
    for log in "$state"/*.log "$SCRATCH"/*.log; do
      [[ -f $log ]] && { echo "==== $log"; tail -n 60 "$log"; }
    done
    echo "The folders are kept: $SCRATCH (runs) and $state (the cluster's state)" >&2
  else
    rm -rf "$SCRATCH" "$state"
  fi
  exit "$status"
}
trap stop_cluster EXIT

# munge with its own key (1024 random bytes, readable by its owner only),
# socket, pid, log and seed files.
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

# EnforcePartLimits: a job asking for more than the partition has is refused
# when submitted instead of waiting for ever. MinJobAge (s) keeps ended jobs'
# states for the checks below.
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
EnforcePartLimits=ALL
MinJobAge=3600
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

# Waits until every task of job $1 has ended, at most $2 seconds; a task
# still pending for a reason that no waiting mends, or at the end of the
# wait, fails the test naming the reason. Leaves one line per task in
# $SCRATCH/job-$1.states: "JobState=... ExitCode=..." (task order as listed).
wait_for_job() {
  local job=$1 limit=$2 start=$SECONDS lines
  while :; do
    lines=$(timeout 10 scontrol -o show job "$job") || fail "scontrol knows no job $job"
    grep -oE 'JobState=[A-Z_]+ Reason=[^ ]+' <<< "$lines" > "$SCRATCH/job-$job.reasons"
    grep -oE 'JobState=[A-Z_]+|ExitCode=[0-9:]+' <<< "$lines" | paste -d ' ' - - > "$SCRATCH/job-$job.states"
    if ! grep -qE 'JobState=(PENDING|CONFIGURING|RUNNING|COMPLETING|SUSPENDED|REQUEUED|RESIZING)' \
        "$SCRATCH/job-$job.states"; then
      return 0
    fi
    if grep -E 'JobState=PENDING Reason=(PartitionConfig|PartitionNodeLimit|PartitionTimeLimit|BadConstraints|ReqNodeNotAvail|DependencyNeverSatisfied)' \
        "$SCRATCH/job-$job.reasons" > /dev/null; then
      fail "job $job cannot start: $(sort -u "$SCRATCH/job-$job.reasons" | tr '\n' ' ')"
    fi
    ((SECONDS - start < limit)) || fail "job $job has not ended within $limit s: $(sort -u "$SCRATCH/job-$job.reasons" | tr '\n' ' ')"
    sleep 1
  done
}

make_site_list one-failing
one_machine_run

# README.md's recipe: in the list's folder, with KELMAR_CLI exported and the
# scripts as shipped (their sbatch options, their defaults sites.csv, out and
# seed 1).
cd "$SCRATCH"
export KELMAR_CLI
unset KELMAR_SITES KELMAR_OUT KELMAR_SEED
started=$SECONDS
array=$(timeout 60 sbatch --parsable "$examples/batch-array.sh") || fail "sbatch refused the array job script"
array=${array%%;*}
[[ $array =~ ^[0-9]+$ ]] || fail "sbatch of the array gave no job id: $array"
job_ids+=("$array")
# Held until the shards' records are checked: the merge removes the parts.
submitted=$(timeout 60 sbatch --hold --dependency=afterany:"$array" "$examples/merge.sh") ||
  fail "sbatch refused the merge job script"
merge=${submitted##* }
[[ $merge =~ ^[0-9]+$ ]] || fail "sbatch of the merge gave no job id: $submitted"
job_ids+=("$merge")

wait_for_job "$array" 300
logs=(kelmar-"${array}"_*.log)
[[ ${#logs[@]} -eq 4 && -f ${logs[0]} ]] || fail "the array left ${#logs[@]} task logs, not 4: ${logs[*]}"
[[ $(wc -l < "job-$array.states") -eq 4 ]] || fail "the array has not 4 tasks: $(cat "job-$array.states")"
# Chunk 1, with the failed site, belongs to task 1 of 4: it alone ends with 1.
for ((task = 0; task < 4; task++)); do
  want="ExitCode=0:0"
  ((task == 1)) && want="ExitCode=1:0"
  grep -q "$want" <(timeout 10 scontrol -o show job "${array}_$task") ||
    fail "task $task did not end with $want: $(timeout 10 scontrol -o show job "${array}_$task" | grep -oE 'JobState=[^ ]+|ExitCode=[^ ]+' | tr '\n' ' ')"
done
check_shards out 4
timeout 10 scontrol release "$merge" || fail "scontrol could not release the merge job"

wait_for_job "$merge" 120
grep -qx 'JobState=FAILED ExitCode=1:0' "job-$merge.states" ||
  fail "the merge job did not end with 1 for the failed site: $(cat "job-$merge.states")"
grep -q "1 of $SITE_COUNT sites failed" "kelmar-merge-$merge.log" || fail "the merge job did not report the failed site"
compare_outputs out
[[ ! -e out/parts ]] || fail "the merge left the parts behind: $(ls out/parts | head -5)"
echo "Slurm: array of 4 and merge job in $((SECONDS - started)) s, the one-machine bytes"
