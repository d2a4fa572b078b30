#!/bin/bash
# Joins the parts of every task of batch-array.sh into out/monthly.csv,
# out/annual.csv and out/errors.csv. Start it after the array:
#   sbatch --dependency=afterok:<array job id> merge.sh
#
#SBATCH --job-name=kelmar-merge
#SBATCH --time=00:30:00
#SBATCH --output=kelmar-merge-%j.log

set -euo pipefail
KELMAR_CLI=${KELMAR_CLI:-kelmar-cli}   # EDIT: the path of kelmar-cli
OUT=out                                # EDIT: the folder of batch-array.sh
exec "$KELMAR_CLI" merge "$OUT"
