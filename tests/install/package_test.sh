#!/usr/bin/env bash
# The Debian package: built by CPack from the build folder, its control
# data and contents listed and checked, then judged by Debian's own tools:
# lintian (no error, no warning), desktop-file-validate on the desktop
# entry, appstreamcli on the AppStream metadata, man on the manual pages.
#
#   package_test.sh BUILD_DIR WORK_DIR
# with KELMAR_BINDIR, KELMAR_MODULEDIR, KELMAR_PYTHONDIR (empty: no Python
# module built), KELMAR_DOCDIR, KELMAR_DATADIR, KELMAR_MANDIR (relative to
# the prefix), KELMAR_GUI, KELMAR_SANITIZED, KELMAR_APP_ID, KELMAR_VERSION.
# Exits 77 (skipped) in the sanitizer build, which is no build to ship.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ $KELMAR_SANITIZED == ON ]]; then
  echo "skipped: the sanitizer build's programs need its runtime and are not packaged; the release build is"
  exit 77
fi
if [[ $KELMAR_GUI != ON || -z $python_dir ]]; then
  echo "skipped: the package holds the window and the Python module; this build has not both"
  exit 77
fi


rm -rf "$work"
mkdir -p "$work"
cd "$work"

step "without the tools it needs, cpack stops naming the Debian packages to install"
# The check cpack reads first, run where no program can be found.
status=0
PATH=/nonexistent "$(command -v cmake)" -DCPACK_GENERATOR=DEB -P "$build/packaging/CPackChecks.cmake" \
  >missing.txt 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "the package's check passed without dpkg-shlibdeps and file"
for package in dpkg-dev "Debian package file"; do
  grep -qF "$package" missing.txt || {
    show missing.txt
    fail "the message does not name $package"
  }
done

step "cpack -G DEB"
start=$SECONDS
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >cpack.log 2>&1 || {
  show cpack.log
  fail "cpack failed"
}
debs=("$work"/out/kelmar_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single kelmar_*.deb: ${debs[*]}"
deb=${debs[0]}
echo "built $(basename "$deb") in $((SECONDS - start)) s"

step "control data"
dpkg-deb -I "$deb" >info.txt
cat info.txt
field() { sed -n "s/^ $1: //p" info.txt; }
[[ $(field Package) == kelmar ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$KELMAR_VERSION-"* ]] || fail "Version: $(field Version)"
depends=$(field Depends)
for needed in libc6 libstdc++6 libqt6widgets6 libqt6charts6 libnetcdf libtbb python3-numpy python3-pandas \
  'python3 (>= 3.'; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
[[ $(field Recommends) == *python3-xarray* ]] || fail "Recommends: $(field Recommends)"
[[ $(field Suggests) == *python3-distributed* ]] || fail "Suggests: $(field Suggests)"

step "contents"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >contents.txt
wanted=(/usr/$KELMAR_BINDIR/kelmar /usr/$KELMAR_BINDIR/kelmar-cli /usr/$KELMAR_MODULEDIR/kelmar-check-figure.so
  /usr/$KELMAR_MODULEDIR/kelmar-region-map.so
  /usr/$KELMAR_MODULEDIR/kelmar-netcdf.so
  /usr/$python_dir/kelmar/__init__.py /usr/$python_dir/kelmar/_cf.py /usr/$python_dir/kelmar/dask.py
  /usr/$python_dir/kelmar/_kelmar.pyi /usr/$python_dir/kelmar/py.typed /usr/$python_dir/kelmar/_build.py
  /usr/$KELMAR_DATADIR/applications/$KELMAR_APP_ID.desktop
  /usr/$KELMAR_DATADIR/metainfo/$KELMAR_APP_ID.metainfo.xml
  /usr/$KELMAR_DATADIR/icons/hicolor/scalable/apps/$KELMAR_APP_ID.svg
  /usr/$KELMAR_DATADIR/icons/hicolor/48x48/apps/$KELMAR_APP_ID.png
  /usr/$KELMAR_DATADIR/icons/hicolor/256x256/apps/$KELMAR_APP_ID.png
  /usr/$KELMAR_MANDIR/man1/kelmar.1.gz /usr/$KELMAR_MANDIR/man1/kelmar-cli.1.gz
  /usr/$KELMAR_DATADIR/bash-completion/completions/kelmar-cli
  /usr/$KELMAR_DOCDIR/README.md /usr/$KELMAR_DOCDIR/copyright /usr/$KELMAR_DOCDIR/changelog.Debian.gz
  /usr/$KELMAR_DOCDIR/examples/soil.sit /usr/$KELMAR_DOCDIR/examples/climat.cld /usr/$KELMAR_DOCDIR/examples/weather.wed)
for path in "${wanted[@]}"; do
  grep -qxF "$path" contents.txt || fail "the package lacks $path"
done
grep -q "^/usr/$python_dir/kelmar/_kelmar.*\.so$" contents.txt || fail "the package lacks the extension _kelmar"
if grep -E '__pycache__|\.pyc$|/build' contents.txt; then fail "the package holds files of a build"; fi
echo "$(wc -l <contents.txt) entries, all expected ones there"

step "lintian"
# --fail-on: errors and warnings fail; infos and pedantic tags are shown.
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb" >lintian.txt 2>&1 || {
  show lintian.txt
  fail "lintian found errors or warnings"
}
cat lintian.txt

step "desktop-file-validate, appstreamcli, man"
dpkg-deb -x "$deb" root
desktop-file-validate "root/usr/$KELMAR_DATADIR/applications/$KELMAR_APP_ID.desktop" >desktop.txt 2>&1 || {
  show desktop.txt
  fail "desktop-file-validate"
}
[[ ! -s desktop.txt ]] || {
  show desktop.txt
  fail "desktop-file-validate has remarks"
}
appstreamcli validate --no-net --pedantic "root/usr/$KELMAR_DATADIR/metainfo/$KELMAR_APP_ID.metainfo.xml" \
  >appstream.txt 2>&1 || {
  show appstream.txt
  fail "appstreamcli validate"
}
cat appstream.txt
for page in kelmar kelmar-cli; do
  gzip -dc "root/usr/$KELMAR_MANDIR/man1/$page.1.gz" |
    MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man --warnings -E UTF-8 -l - >man.txt 2>man-warnings.txt || {
    show man-warnings.txt
    fail "man -l $page.1.gz"
  }
  [[ ! -s man-warnings.txt ]] || {
    show man-warnings.txt
    fail "man warns about $page.1.gz"
  }
  grep -q SYNOPSIS man.txt || fail "$page.1.gz renders without a synopsis"
done

echo "package test passed: $(basename "$deb")"
