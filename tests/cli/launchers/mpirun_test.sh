#!/usr/bin/env bash
# kelmar-cli batch started by Open MPI's mpirun as three processes, each taking
# its share from OMPI_COMM_WORLD_RANK/SIZE, then merged: the same bytes as one
# machine's run of the same list.
#   mpirun_test.sh KELMAR_CLI SOURCE_DIR SCRATCH_PARENT
set -euo pipefail
KELMAR_CLI=$1
SOURCE_DIR=$2
mkdir -p "$3"
SCRATCH=$(mktemp -d "$3/mpirun.XXXXXX")
source "$SOURCE_DIR/tests/cli/launchers/common.sh"
command -v mpirun > /dev/null || fail "no mpirun: install openmpi-bin (scripts/install-deps.sh)"

make_site_list
one_machine_run

# Every site runs: a process with a failed site exits with 1, and mpirun then
# stops the processes still running (the Slurm test carries a failed site).
status=0
mpirun --allow-run-as-root --oversubscribe -n 3 \
  "$KELMAR_CLI" batch --sites "$SCRATCH/sites.csv" --out "$SCRATCH/mpi" --seed 7 --quiet \
  > "$SCRATCH/mpirun.log" 2>&1 || status=$?
cat "$SCRATCH/mpirun.log"
[[ $status -eq 0 ]] || fail "mpirun exited with $status"
[[ ! -e $SCRATCH/mpi/monthly.csv ]] || fail "a share wrote the joined outputs before the merge"
check_shards "$SCRATCH/mpi" 3

"$KELMAR_CLI" merge "$SCRATCH/mpi" || fail "the merge exited with $?"
compare_outputs "$SCRATCH/mpi"

rm -rf "$SCRATCH"
echo "mpirun: 3 shares merged into the one-machine bytes"
