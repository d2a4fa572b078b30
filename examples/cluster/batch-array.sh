#!/bin/bash
# One share of the site list per array task; edit the lines marked EDIT, or
# set the KELMAR_ variables in the environment of sbatch (it passes them on).
# Submit from the folder that holds the list, the merge to start once every
# task has ended:
#
#   jobid=$(sbatch --parsable batch-array.sh)
#   sbatch --dependency=afterany:$jobid merge.sh
#
# afterany, not afterok: a task with a failed site exits with 1, and the merge
# still joins every part; it refuses, naming them, when chunks are missing.
#
#SBATCH --job-name=kelmar-batch
#SBATCH --array=0-3              # EDIT: the number of shares (tasks 0..N-1)
#SBATCH --cpus-per-task=8        # EDIT: cores per task; the batch uses them all
#SBATCH --time=02:00:00          # EDIT: a task killed at its limit goes on with --resume
#SBATCH --output=kelmar-%A_%a.log

set -euo pipefail
KELMAR_CLI=${KELMAR_CLI:-kelmar-cli}   # EDIT: the path of kelmar-cli
SITES=${KELMAR_SITES:-sites.csv}       # EDIT: the site list
OUT=${KELMAR_OUT:-out}                 # EDIT: a folder every node sees
SEED=${KELMAR_SEED:-1}                 # EDIT: the base seed, the same for every task

# Each task takes its share from SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT.
# --resume lets a task that is started again skip the chunks it finished.
exec "$KELMAR_CLI" batch --sites "$SITES" --out "$OUT" --seed "$SEED" \
    --jobs "${SLURM_CPUS_PER_TASK:-1}" --resume
