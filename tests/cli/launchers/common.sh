# Shared by the launcher tests: the site list, the one-machine reference run
# and the checks of a sharded run against it. Sourced with KELMAR_CLI,
# SOURCE_DIR and SCRATCH set.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# For an EXIT trap: removes SCRATCH after a pass, keeps it after a failure
# and says where it is.
keep_scratch_on_failure() {
  local status=$?
  trap - EXIT
  if [[ $status -eq 0 ]]; then
    rm -rf "$SCRATCH"
  else
    echo "The scratch folder is kept: $SCRATCH" >&2
  fi
  exit "$status"
}

# The example region's 290 sites (five chunks of up to 64) with the
# climatology's path made absolute. With "one-failing", the site on line 101
# (chunk 1) is given a climatology that does not exist, so that errors.csv has
# a row to carry through the shares.
make_site_list() {
  local example=$SOURCE_DIR/examples/region/sites.csv
  [[ -f $example ]] || fail "no $example"
  {
    head -n 1 "$example"
    tail -n +2 "$example" | sed "s|,\.\./climat\.cld,|,$SOURCE_DIR/examples/climat.cld,|"
  } > "$SCRATCH/sites.csv"
  SITE_COUNT=$(($(wc -l < "$SCRATCH/sites.csv") - 1))
  CHUNKS=$(((SITE_COUNT + 63) / 64))
  FAILING=0
  if [[ ${1:-} == one-failing ]]; then
    sed -i '101s|/climat\.cld,|/missing-climatology.cld,|' "$SCRATCH/sites.csv"
    [[ $(grep -c missing-climatology "$SCRATCH/sites.csv") -eq 1 ]] || fail "the failing site was not placed"
    FAILING=1
  fi
}

# The base seed of every run here: the job scripts' default.
SEED=1

# The reference: the same list on one machine, no launcher variables, run
# in the list's folder as the job scripts are (a failed site's message names
# the list as it was given).
one_machine_run() {
  local status=0 wanted=$((FAILING > 0))
  (cd "$SCRATCH" && env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_COUNT -u SLURM_PROCID -u SLURM_NTASKS \
      -u OMPI_COMM_WORLD_RANK -u OMPI_COMM_WORLD_SIZE -u PMI_RANK -u PMI_SIZE \
      "$KELMAR_CLI" batch --sites sites.csv --out one --seed "$SEED" --quiet) \
      2> "$SCRATCH/one.err" || status=$?
  [[ $status -eq $wanted ]] || { cat "$SCRATCH/one.err" >&2; fail "the one-machine run exited with $status, not $wanted"; }
  [[ $(tail -n +2 "$SCRATCH/one/errors.csv" | grep -c '^lat') -eq $FAILING ]] ||
    fail "the one-machine errors.csv does not hold $FAILING failed sites"
  [[ $(tail -n +2 "$SCRATCH/one/annual.csv" | cut -d, -f1 | sort -u | wc -l) -eq $((SITE_COUNT - FAILING)) ]] ||
    fail "the one-machine annual.csv does not hold the $((SITE_COUNT - FAILING)) sites that ran"
}

# Every chunk was written by the share it belongs to: chunk c by c mod N of N.
check_shards() {
  local dir=$1 count=$2 c record
  for ((c = 0; c < CHUNKS; c++)); do
    record=$dir/parts/$(printf 'chunk-%06d.done' "$c")
    [[ -f $record ]] || fail "chunk $c has no record in $dir/parts"
    grep -qx "shard=$((c % count))/$count" "$record" ||
      fail "chunk $c was not written by shard $((c % count))/$count: $(grep '^shard=' "$record")"
  done
}

# The merged outputs are the one-machine run's, byte for byte.
compare_outputs() {
  local dir=$1 name
  for name in monthly.csv annual.csv errors.csv; do
    [[ -f $dir/$name ]] || fail "the merge wrote no $name"
    cmp "$SCRATCH/one/$name" "$dir/$name" || fail "$name differs from the one-machine run"
  done
}
