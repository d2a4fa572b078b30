#!/bin/bash
# One share of the site list per array task. Submit from the folder that holds
# the list (sites.csv), with KELMAR_CLI set to the built kelmar-cli unless it
# is on the PATH (sbatch passes the environment on), then the merge, to start
# once every task has ended:
#
#   export KELMAR_CLI=/path/to/build/src/cli/kelmar-cli
#   jobid=$(sbatch --parsable /path/to/examples/cluster/batch-array.sh)
#   sbatch --dependency=afterany:$jobid /path/to/examples/cluster/merge.sh
#
# afterany, not afterok: a task with a failed site exits with 1, and the merge
# still joins every part; it refuses, naming them, when chunks are missing.
# Edit the lines marked EDIT, or set the KELMAR_ variables below.
#
# No core count is asked for, so a task fits on any node: it takes the one
# core Slurm gives by default, or the cores of the node it may use where the
# cluster does not confine tasks. For more, remove one "#" from the line
# below; ask for no more cores than a node of the partition has: more are
# refused, or leave the tasks waiting for a node that never comes.
#
#SBATCH --job-name=kelmar-batch
#SBATCH --array=0-3              # EDIT: the number of shares (tasks 0..N-1)
##SBATCH --cpus-per-task=4       # EDIT: cores per task; the batch uses them all
#SBATCH --time=02:00:00          # EDIT: a task killed at its limit goes on with --resume
#SBATCH --output=kelmar-%A_%a.log

set -euo pipefail
KELMAR_CLI=${KELMAR_CLI:-kelmar-cli}   # EDIT: the path of kelmar-cli
SITES=${KELMAR_SITES:-sites.csv}       # EDIT: the site list
OUT=${KELMAR_OUT:-out}                 # EDIT: a folder every node sees
SEED=${KELMAR_SEED:-1}                 # EDIT: the base seed, the same for every task

if ! command -v "$KELMAR_CLI" > /dev/null; then
  echo "kelmar-batch: \"$KELMAR_CLI\" is no program this node can run (not on its PATH, nor at that path)." >&2
  echo "Set KELMAR_CLI to the built program's full path before sbatch, e.g." >&2
  echo "  export KELMAR_CLI=/home/me/kelmar/build/src/cli/kelmar-cli" >&2
  exit 2
fi

# Threads: the cores asked for, else every core the task may use (the
# program's default follows the cores Slurm binds the task to).
jobs=()
[[ -z ${SLURM_CPUS_PER_TASK:-} ]] || jobs=(--jobs "$SLURM_CPUS_PER_TASK")

# Each task takes its share from SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT.
# --resume lets a task that is started again skip the chunks it finished.
exec "$KELMAR_CLI" batch --sites "$SITES" --out "$OUT" --seed "$SEED" "${jobs[@]}" --resume
