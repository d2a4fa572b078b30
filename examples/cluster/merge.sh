#!/bin/bash
# Joins the parts of every task of batch-array.sh into out/monthly.csv,
# out/annual.csv and out/errors.csv. Start it after the array:
#   sbatch --dependency=afterany:<array job id> merge.sh
# It exits with 1 when sites failed (their messages are in errors.csv) or when
# chunks are missing (named in its log; run the array again, it resumes).
#
#SBATCH --job-name=kelmar-merge
#SBATCH --time=00:30:00
#SBATCH --output=kelmar-merge-%j.log

set -euo pipefail
KELMAR_CLI=${KELMAR_CLI:-kelmar-cli}   # EDIT: the path of kelmar-cli
OUT=${KELMAR_OUT:-out}                 # EDIT: the folder of batch-array.sh
exec "$KELMAR_CLI" merge "$OUT"
