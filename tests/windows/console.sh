#!/usr/bin/env bash
# brisol.exe started from a console under wine, as a Windows user types it
# in cmd: although built for the GUI subsystem, --help and --version print in
# that console (the program attaches to it) and end with exit code 0. The
# console is wine's, on a pseudo-terminal that script(1) gives it, and what
# it shows is read back from there, its cursor movements made spaces again.
#
#   console.sh BRISOL_EXE VERSION
set -euo pipefail
exe=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine.sh"
trap wine_cleanup EXIT
wine_start_prefix
# No display: a window that opened would fail to, and show in the exit code.
unset DISPLAY WAYLAND_DISPLAY

fail() {
  echo "FAIL: $*"
  exit 1
}
# What the console showed, as text.
console() {
  local status=0
  (cd "$(dirname "$exe")" && script -qec "wine cmd /c ${exe##*/} $*" /dev/null) \
    >"$WINEPREFIX/console.raw" 2>&1 </dev/null || status=$?
  perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\e\][^\a]*\a//g; s/\r//g' \
    "$WINEPREFIX/console.raw"
  return "$status"
}
command -v script >/dev/null 2>&1 || { echo "SKIP: no script(1) for a console"; exit 77; }

help=$(console --help) || fail "brisol.exe --help exited with $?"
grep -q '^Uso: brisol \[OPCIÓN\]... \[EQUIPO \[PUERTO\]\]$' <<<"$help" ||
  fail "brisol.exe --help printed no usage line: $help"
grep -q '^  -h, --help  *Muestra esta ayuda y sale\.$' <<<"$help" ||
  fail "brisol.exe --help printed no -h line: $help"
echo "PASS: brisol.exe --help prints its help in the console"
shown=$(console --version) || fail "brisol.exe --version exited with $?"
[ "$shown" = "Brisol $version" ] || fail "brisol.exe --version printed '$shown'"
echo "PASS: brisol.exe --version prints \"Brisol $version\""
