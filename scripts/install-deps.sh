#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, when
# any of them is missing. Works as root or through sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # compilers; clang for the sanitizer and fuzz build
  libgtest-dev libbenchmark-dev                    # unit tests and benchmarks
  libtbb-dev libcli11-dev                          # batch runs on all cores; the command line
  libpcg-cpp-dev                                   # the 64-bit random generator of large ensembles
  qt6-base-dev qt6-charts-dev qt6-svg-dev libgl-dev   # the window; SVG pictures of the chart
  xvfb xauth libwmf-bin                            # headless window runs, metafile reader for tests
  poppler-utils imagemagick python3                # PDF, PNG and SVG readers for the chart picture tests
  libnetcdf-dev                                    # the netCDF results writer
  libxxhash-dev                                    # the batch's checksums of its parts and inputs
  python3-xarray python3-netcdf4 python3-cftime    # the independent reader of the netCDF tests
  cdo nco netcdf-bin r-cran-ncdf4                  # the tools whose reading of the batch's netCDF files the tests check
  r-base-core r-cran-data.table                    # R's readers (read.csv, fread) of the batch's errors.csv in its test
  pybind11-dev python3-dev python3-numpy python3-pandas   # the Python module kelmar
  python3-distributed python3-pytest python3-matplotlib   # its Dask runs, its tests, the plotting example
  mypy                                             # the type check of the module's annotations and stub
  python3-nbclient python3-ipykernel               # the region notebook run by the tests
  openmpi-bin slurm-wlm munge                      # real launchers for the batch shard tests
  help2man librsvg2-bin gzip                       # the manual pages and PNG icons made at build time
  dpkg-dev file fakeroot binutils                  # the Debian package (cpack -G DEB: dpkg-shlibdeps, file)
  lintian desktop-file-utils appstream man-db      # the package's checks (tests/install)
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
