#!/usr/bin/env bash
# kelmar-cli batch started by Open MPI's mpirun as three processes, each taking
# its share from OMPI_COMM_WORLD_RANK/SIZE, then merged: the same bytes as one
# machine's run of the same list. mpirun keeps its session files in the
# system's temporary folder, not in the build tree, so where the clone lies
# does not matter to it.
#   mpirun_test.sh KELMAR_CLI SOURCE_DIR SCRATCH_PARENT
set -euo pipefail
KELMAR_CLI=$1
SOURCE_DIR=$2
mkdir -p "$3"
SCRATCH=$(mktemp -d "$3/mpirun.XXXXXX")
source "$SOURCE_DIR/tests/cli/launchers/common.sh"
trap keep_scratch_on_failure EXIT
command -v mpirun > /dev/null || fail "no mpirun: install openmpi-bin (scripts/install-deps.sh)"

make_site_list
one_machine_run

# Every site runs: a process with a failed site exits with 1, and mpirun then
# stops the processes still running (the Slurm test carries a failed site).
status=0
timeout 300 mpirun --allow-run-as-root --oversubscribe -n 3 \
  "$KELMAR_CLI" batch --sites "$SCRATCH/sites.csv" --out "$SCRATCH/mpi" --seed "$SEED" --quiet \
  > "$SCRATCH/mpirun.log" 2>&1 || status=$?
cat "$SCRATCH/mpirun.log"
[[ $status -ne 124 ]] || fail "mpirun did not end within 300 s"
[[ $status -eq 0 ]] || fail "mpirun exited with $status"
[[ ! -e $SCRATCH/mpi/monthly.csv ]] || fail "a share wrote the joined outputs before the merge"
check_shards "$SCRATCH/mpi" 3

"$KELMAR_CLI" merge "$SCRATCH/mpi" || fail "the merge exited with $?"
compare_outputs "$SCRATCH/mpi"
[[ ! -e $SCRATCH/mpi/parts ]] || fail "the merge left the parts behind: $(ls "$SCRATCH/mpi/parts" | head -5)"
echo "mpirun: 3 shares merged into the one-machine bytes"
