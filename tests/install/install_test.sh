#!/usr/bin/env bash
# KELMAR installed as a user installs it: `cmake --install BUILD --prefix P`
# into a prefix with a blank in its name, then run from a copy of that
# prefix outside the build tree, in a working folder outside it too, so
# that the programs can reach nothing of the build tree:
# - no RPATH/RUNPATH and no library that ldd resolves lies in the build tree,
# - kelmar-cli check loads its figure module from the copy (LD_DEBUG=files
#   shows the file the loader opened) and draws check.png,
# - kelmar-cli simulate gives the bytes of the build tree's program, batch
#   runs a small site list, and with --format netcdf loads the netCDF
#   module of the copy (which kelmar-cli itself does not link), the Python package imports from the copy and
#   simulates, kelmar --help needs no display and the window starts,
# - the manual pages render and the bash completion completes.
# Then the faults: a copy without the figure module still checks and says
# where it looked; a copy without the netCDF module refuses a netCDF batch
# naming where it looked; an install into a prefix that cannot be made fails
# naming the path; one that fails on the way leaves no program behind.
#
#   install_test.sh BUILD_DIR WORK_DIR
# with the installation's folders, relative to the prefix, in KELMAR_BINDIR,
# KELMAR_MODULEDIR, KELMAR_PYTHONDIR (empty: no Python module built),
# KELMAR_DOCDIR, KELMAR_DATADIR, KELMAR_MANDIR; KELMAR_GUI (ON/OFF),
# KELMAR_SANITIZED (ON/OFF), KELMAR_APP_ID and KELMAR_VERSION.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
gui=false
[[ $KELMAR_GUI == ON ]] && gui=true

# Whether the message in file $1 names $2; CMake wraps its messages at
# blanks, so every run of blanks and line ends counts as one blank.
names() {
  local text needle
  text=$(tr -s ' \n' '  ' <"$1")
  needle=$(printf '%s' "$2" | tr -s ' ' ' ')
  [[ $text == *"$needle"* ]]
}

if [[ $KELMAR_SANITIZED == ON ]]; then
  # The leak checker's tracer crashes now and then at exit while it stops
  # the threads Qt leaves running (as in tests/cli); the address and
  # undefined-behaviour checks stay on.
  export ASAN_OPTIONS=detect_leaks=0
fi
# No display anywhere: what needs none must not use one.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

build=$(cd "$build" && pwd -P)
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd -P)
outside=$(mktemp -d "${TMPDIR:-/tmp}/kelmar-install-test.XXXXXX")
trap 'rm -rf "$outside"' EXIT
case $outside/ in "$build"/*) fail "the temporary folder $outside lies in the build tree" ;; esac

step "cmake --install into a prefix with a blank"
prefix="$work/prefix with blank"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  show "$work/install.log"
  fail "cmake --install $build --prefix $prefix failed"
}

# The copy the programs run from: outside the build tree, under another name
# than the prefix installed to (a blank and a letter beyond ASCII in it).
root="$outside/kelmar kopia ö"
cp -a "$prefix" "$root"
bin="$root/$KELMAR_BINDIR"
doc="$root/$KELMAR_DOCDIR"
run="$outside/run"
mkdir -p "$run"
cp "$doc/examples/soil.sit" "$doc/examples/climat.cld" "$doc/examples/weather.wed" "$run/"
cd "$run"

step "what was installed"
expected=("$bin/kelmar-cli" "$root/$KELMAR_MODULEDIR/kelmar-netcdf.so" "$doc/README.md" "$doc/copyright" "$doc/changelog.Debian.gz"
  "$doc/examples/soil.sit" "$doc/examples/region/sites.csv" "$doc/examples/python/site_plot.py"
  "$root/$KELMAR_DATADIR/bash-completion/completions/kelmar-cli")
if [[ -n ${KELMAR_HELP2MAN_FOUND-} ]]; then expected+=("$root/$KELMAR_MANDIR/man1/kelmar-cli.1.gz"); fi
if $gui; then
  expected+=("$bin/kelmar" "$root/$KELMAR_MODULEDIR/kelmar-check-figure.so" "$root/$KELMAR_MODULEDIR/kelmar-region-map.so"
    "$root/$KELMAR_DATADIR/applications/$KELMAR_APP_ID.desktop"
    "$root/$KELMAR_DATADIR/metainfo/$KELMAR_APP_ID.metainfo.xml"
    "$root/$KELMAR_DATADIR/icons/hicolor/scalable/apps/$KELMAR_APP_ID.svg")
  if [[ -n ${KELMAR_HELP2MAN_FOUND-} ]]; then expected+=("$root/$KELMAR_MANDIR/man1/kelmar.1.gz"); fi
fi
if [[ -n $python_dir ]]; then
  expected+=("$root/$python_dir/kelmar/__init__.py" "$root/$python_dir/kelmar/_cf.py" "$root/$python_dir/kelmar/dask.py"
    "$root/$python_dir/kelmar/_kelmar.pyi" "$root/$python_dir/kelmar/_build.py")
  [[ -f $root/$python_dir/kelmar/py.typed ]] || fail "not installed: $python_dir/kelmar/py.typed"
  compgen -G "$root/$python_dir/kelmar/_kelmar*.so" >/dev/null || fail "no extension _kelmar in $root/$python_dir/kelmar"
fi
for file in "${expected[@]}"; do
  [[ -s $file ]] || fail "not installed: ${file#"$root/"}"
done
[[ ! -x $doc/examples/cluster/merge.sh ]] || fail "an example is installed executable"

step "nothing installed leads into the build tree"
elves=("$bin/kelmar-cli" "$root/$KELMAR_MODULEDIR/kelmar-netcdf.so")
$gui && elves+=("$bin/kelmar" "$root/$KELMAR_MODULEDIR/kelmar-check-figure.so" "$root/$KELMAR_MODULEDIR/kelmar-region-map.so")
[[ -n $python_dir ]] && elves+=("$root/$python_dir"/kelmar/_kelmar*.so)
for elf in "${elves[@]}"; do
  readelf -d "$elf" >"$work/dynamic.txt"
  if grep -E 'R(UN)?PATH' "$work/dynamic.txt" | grep -F "$build" >&2; then
    fail "${elf#"$root/"} has a library path into the build tree"
  fi
  ldd "$elf" >"$work/ldd.txt" 2>&1 || true
  if grep -q 'not found' "$work/ldd.txt" || grep -qF "$build" "$work/ldd.txt"; then
    show "$work/ldd.txt"
    fail "ldd ${elf#"$root/"}: a library is missing or in the build tree"
  fi
done
# Text files installed (Python, completion, desktop entry, metadata) name no build path.
if grep -rlIF "$build" "$root" >"$work/mentions.txt"; then
  show "$work/mentions.txt"
  fail "installed files name the build tree"
fi

step "kelmar-cli --version, --help"
[[ $("$bin/kelmar-cli" --version) == "kelmar-cli $KELMAR_VERSION" ]] || fail "kelmar-cli --version"
"$bin/kelmar-cli" --help >help.out || fail "kelmar-cli --help exited with $?"
grep -q '^Usage:' help.out || fail "kelmar-cli --help: $(head -n 1 help.out)"

step "kelmar-cli simulate on the installed examples"
"$bin/kelmar-cli" simulate --site "$doc/examples/soil.sit" --climate "$doc/examples/climat.cld" --seed 1 \
  --results installed.csv --table installed-table.csv >simulate.out
"$build/src/cli/kelmar-cli" simulate --site soil.sit --climate climat.cld --seed 1 \
  --results built.csv --table built-table.csv >/dev/null
cmp installed.csv built.csv || fail "the installed kelmar-cli gives other results than the built one"
cmp installed-table.csv built-table.csv || fail "the installed kelmar-cli gives another table than the built one"
[[ $(wc -l <installed-table.csv) -gt 6000 ]] || fail "simulate wrote a short table"

step "kelmar-cli batch on a small site list"
mkdir region
head -n 4 "$doc/examples/region/sites.csv" >region/sites.csv  # three sites; their climate is ../climat.cld
"$bin/kelmar-cli" batch --sites region/sites.csv --out batch --seed 1 --jobs 2 --quiet >batch.out 2>&1 || {
  show batch.out
  fail "kelmar-cli batch failed"
}
for table in monthly.csv annual.csv errors.csv; do
  [[ -f batch/$table ]] || fail "batch wrote no $table"
done
[[ $(wc -l <batch/annual.csv) -eq $((1 + 3 * 500)) ]] || fail "batch/annual.csv has $(wc -l <batch/annual.csv) lines"
[[ $(wc -l <batch/errors.csv) -eq 1 ]] || {
  show batch/errors.csv
  fail "batch failed sites"
}

step "kelmar-cli links no netCDF; a netCDF batch loads the module of the copy"
ldd "$bin/kelmar-cli" >ldd-cli.txt
if grep -E 'libnetcdf|libhdf5' ldd-cli.txt >&2; then fail "kelmar-cli links the netCDF libraries"; fi
netcdf_module="$root/$KELMAR_MODULEDIR/kelmar-netcdf.so"
LD_DEBUG=files "$bin/kelmar-cli" batch --sites region/sites.csv --out batch-nc --seed 1 --jobs 2 --quiet \
  --format netcdf >batch-nc.out 2>batch-nc.err || {
  grep -v '^ *[0-9]*:' batch-nc.err >&2 || true
  fail "kelmar-cli batch --format netcdf failed"
}
for file in results.nc results_annual.nc; do
  [[ $(head -c 4 "batch-nc/$file" | od -An -tx1 | tr -d ' \n') == 89484446 ]] || fail "batch-nc/$file is no netCDF-4 file"
done
grep -qF "file=$netcdf_module " batch-nc.err || fail "the netCDF module was not loaded from $netcdf_module"
if grep -F 'file=' batch-nc.err | grep -F "$build" >&2; then fail "the netCDF batch loaded a file of the build tree"; fi

step "a copy without the netCDF module: a netCDF batch fails naming where it looked"
bare_nc="$outside/no netcdf"
cp -a "$root" "$bare_nc"
rm "$bare_nc/$KELMAR_MODULEDIR/kelmar-netcdf.so"
status=0
"$bare_nc/$KELMAR_BINDIR/kelmar-cli" batch --sites region/sites.csv --out bare-nc --seed 1 --quiet \
  --format netcdf >bare-nc.out 2>bare-nc.err || status=$?
[[ $status -ne 0 ]] || fail "a netCDF batch without the module succeeded"
for looked in "$bare_nc/$KELMAR_MODULEDIR/kelmar-netcdf.so" "$bare_nc/$KELMAR_BINDIR/kelmar-netcdf.so"; do
  grep -qF "$looked" bare-nc.err || {
    show bare-nc.err
    fail "a netCDF batch without the module does not name $looked"
  }
done
[[ ! -e bare-nc/results.nc ]] || fail "a netCDF batch without the module wrote results.nc"
"$bare_nc/$KELMAR_BINDIR/kelmar-cli" batch --sites region/sites.csv --out bare-csv --seed 1 --quiet \
  >bare-csv.out 2>&1 || {
  show bare-csv.out
  fail "a CSV batch needs the netCDF module"
}

if $gui; then
  step "kelmar-cli check draws check.png with the module of the copy"
  module="$root/$KELMAR_MODULEDIR/kelmar-check-figure.so"
  LD_DEBUG=files "$bin/kelmar-cli" check --weather weather.wed --years 50 --seed 1 --out check \
    >check.out 2>check.err || {
    show check.err
    fail "kelmar-cli check failed"
  }
  [[ $(head -c 8 check/check.png | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "check.png is no PNG"
  grep -q '^<svg\|<svg ' check/check.svg || fail "check.svg is no SVG"
  [[ -s check/check.csv ]] || fail "no check.csv"
  grep -qF "file=$module " check.err || {
    grep 'file=' check.err >&2 || true
    fail "the figure module was not loaded from $module"
  }
  if grep -F 'file=' check.err | grep -F "$build" >&2; then
    fail "check loaded a file of the build tree"
  fi
  grep -qv '^ *[0-9]*:' check.err && {
    grep -v '^ *[0-9]*:' check.err >&2
    fail "check printed a note or an error"
  }

  step "a copy without the figure module: check writes the table and says where it looked"
  bare="$outside/no module"
  cp -a "$root" "$bare"
  rm "$bare/$KELMAR_MODULEDIR/kelmar-check-figure.so"
  status=0
  "$bare/$KELMAR_BINDIR/kelmar-cli" check --weather weather.wed --years 20 --seed 1 --out bare \
    >bare.out 2>bare.err || status=$?
  [[ $status -eq 0 ]] || {
    show bare.err
    fail "check without its module exited with $status"
  }
  [[ -s bare/check.csv && ! -e bare/check.png && ! -e bare/check.svg ]] || fail "check without its module: files"
  for looked in "$bare/$KELMAR_MODULEDIR/kelmar-check-figure.so" "$bare/$KELMAR_BINDIR/kelmar-check-figure.so"; do
    grep -qF "$looked" bare.err || {
      show bare.err
      fail "check without its module does not name $looked"
    }
  done
  grep -q 'only the table was written' bare.err || fail "check without its module does not say the table was written"

  step "kelmar --help and --version without a display; the window starts"
  "$bin/kelmar" --help >help.out || fail "kelmar --help exited with $?"
  [[ $(head -n 1 help.out) == "Usage: kelmar "* ]] || fail "kelmar --help: $(head -n 1 help.out)"
  grep -q -- '--seed N' help.out || fail "kelmar --help does not name --seed"
  [[ $("$bin/kelmar" --version) == "kelmar $KELMAR_VERSION" ]] || fail "kelmar --version"
  status=0
  QT_QPA_PLATFORM=offscreen timeout 5 "$bin/kelmar" >window.out 2>&1 || status=$?
  [[ $status -eq 124 ]] || {
    show window.out
    fail "the window did not keep running (exit status $status)"
  }
fi

if [[ -n $python_dir ]]; then
  step "the Python package from the copy: import and a small simulate"
  PYTHONPATH="$root/$python_dir" /usr/bin/python3 - "$root" >python.out 2>&1 <<'EOF' || {
import os, sys
import kelmar
root = sys.argv[1]
for module in (kelmar, kelmar._kelmar):
    assert os.path.realpath(module.__file__).startswith(os.path.realpath(root) + os.sep), module.__file__
result = kelmar.simulate("soil.sit", climate="climat.cld", seed=1)
assert len(result.monthly) == 500 * 12, len(result.monthly)
print("imported", kelmar.__file__, "and simulated", len(result.monthly), "months")
EOF
    show python.out
    fail "the installed Python package"
  }
  cat python.out
fi

if [[ -n ${KELMAR_HELP2MAN_FOUND-} ]]; then
  step "the manual pages render"
  pages=(kelmar-cli)
  $gui && pages+=(kelmar)
  for page in "${pages[@]}"; do
    # Read from standard input: man, run as root, may read files as another user.
    gzip -dc "$root/$KELMAR_MANDIR/man1/$page.1.gz" | MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man -l - >man.out 2>man.err || {
      show man.err
      fail "man -l $page.1.gz"
    }
    grep -q 'SYNOPSIS' man.out && grep -q 'OPTIONS' man.out && grep -q -- '--help' man.out ||
      fail "the manual page of $page lacks its synopsis or options"
  done
fi

step "bash completion of kelmar-cli"
completion="$root/$KELMAR_DATADIR/bash-completion/completions/kelmar-cli"
complete_line() {  # the words proposed for the line "$@", the last word being completed
  bash --norc --noprofile -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _kelmar_cli; printf "%s\n" "${COMPREPLY[@]}"' completion "$completion" kelmar-cli "$@"
}
[[ $(complete_line ba) == batch ]] || fail "completion of 'ba': $(complete_line ba)"
[[ $(complete_line "" | wc -l) -eq 9 ]] || fail "completion of the commands: $(complete_line "")"
[[ $(complete_line batch --fo) == --format ]] || fail "completion of 'batch --fo'"
[[ $(complete_line batch --format "" | tr '\n' ' ') == "csv netcdf both " ]] || fail "completion of --format's values"
[[ $(complete_line simulate --site so) == soil.sit ]] || fail "completion of a file name"
# --reference, not --results or --rng, which estimate refuses.
proposed=$(complete_line estimate --r)
[[ $proposed == --reference ]] || fail "estimate proposes options it refuses: $proposed"
proposed=$(complete_line check --)
[[ $'\n'$proposed$'\n' == *$'\n--weather\n'* ]] || fail "check's options: $proposed"

# cmake --install into prefix $1 must fail, its message (kept in $2) naming
# the folder $3 that could not be made.
install_fails_naming() {
  local status=0
  cmake --install "$build" --prefix "$1" >"$2" 2>&1 || status=$?
  [[ $status -ne 0 ]] || fail "cmake --install into $1 succeeded"
  names "$2" "$3" || {
    show "$2"
    fail "the error does not name $3"
  }
}

step "an install into a prefix that cannot be made fails naming it"
touch "$work/a file"
install_fails_naming "$work/a file/prefix" bad.log "$work/a file/prefix/"
[[ -f "$work/a file" && ! -s "$work/a file" ]] || fail "the file under the prefix changed"

if $gui; then
  step "an install that fails on the way leaves no program"
  half="$work/half way"
  mkdir -p "$half"
  blocked=${KELMAR_MODULEDIR%%/*}
  touch "$half/$blocked"  # the modules' folder cannot be made: they are installed before the programs
  install_fails_naming "$half" half.log "$half/$blocked/"
  [[ ! -e $half/$KELMAR_BINDIR/kelmar-cli && ! -e $half/$KELMAR_BINDIR/kelmar ]] ||
    fail "a failed install left a program in $half/$KELMAR_BINDIR"
fi

echo "install test passed"
