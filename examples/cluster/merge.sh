#!/bin/bash
# Joins the parts of every task of batch-array.sh into out/monthly.csv,
# out/annual.csv and out/errors.csv. Submit it from the folder batch-array.sh
# was submitted from, with the same KELMAR_ variables, after the array:
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

if ! command -v "$KELMAR_CLI" > /dev/null; then
  echo "kelmar-merge: \"$KELMAR_CLI\" is no program this node can run (not on its PATH, nor at that path)." >&2
  echo "Set KELMAR_CLI to the built program's full path before sbatch, e.g." >&2
  echo "  export KELMAR_CLI=/home/me/kelmar/build/src/cli/kelmar-cli" >&2
  exit 2
fi
exec "$KELMAR_CLI" merge "$OUT"
