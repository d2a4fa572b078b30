# Shared by the install tests: their arguments, the installation's folders
# from the environment (see the callers' headers) and the messages.
# Sourced with the test's arguments BUILD_DIR WORK_DIR.
build=$1
work=$2
: "${KELMAR_BINDIR:?}" "${KELMAR_MODULEDIR:?}" "${KELMAR_DOCDIR:?}" "${KELMAR_DATADIR:?}" "${KELMAR_MANDIR:?}"
: "${KELMAR_GUI:?}" "${KELMAR_SANITIZED:?}" "${KELMAR_APP_ID:?}" "${KELMAR_VERSION:?}"
python_dir=${KELMAR_PYTHONDIR-}
export LC_ALL=C.UTF-8

step() { printf '== %s\n' "$*"; }
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}
# The file's contents on standard error, for a failure's message.
show() { sed 's/^/  | /' "$1" >&2; }
