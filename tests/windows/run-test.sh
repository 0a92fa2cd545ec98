#!/usr/bin/env bash
# CTest's emulator for the unit tests built for Windows
# (CMAKE_CROSSCOMPILING_EMULATOR): runs TEST.exe under wine with Qt's DLLs and
# plugins from the kit and the GCC runtime on wine's path, and gives back the
# test's exit code.
#
#   run-test.sh KIT PREFIX TEST.exe [ARGS...]
#
# KIT is the Qt kit the tests were built with. Every test of one build shares
# one wine prefix, PREFIX (made on first use, the slow part, under a lock
# since CTest runs tests side by side), so that a run never touches the
# user's ~/.wine. The locale is Spanish (wine's code pages 1252 and 850,
# those of Brisol's users) unless BRISOL_WINE_LOCALE names another (C: 1252
# and 437). The QT_* variables of CTest's environment (the offscreen
# platform, a scale factor) reach the test. Qt Test under wine writes its
# report to a file only (nothing reaches a pipe), so the report is asked for
# with -o FILE,txt and printed afterwards. Other programs (the fuzz targets'
# replays) run as they are.
set -uo pipefail
kit=${1:?the Qt kit}
prefix=${2:?the wine prefix}
exe=${3:?the test executable}
shift 3

# shellcheck source=tests/windows/find-wine.sh
. "$(dirname "$0")/find-wine.sh"
wine=$wine_binary

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
locale=${BRISOL_WINE_LOCALE:-es_ES.UTF-8}
export LANG=$locale LC_ALL=$locale
# No X display: the tests draw on Qt's offscreen platform, and wine needs none
# for that.
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
) 9>"$prefix.lock"
# The prefix's server outlives the test that starts it and serves the tests
# beside it. Started here, with none of the test's output, so that CTest
# does not wait for it as for the test (it stays 10 s after its last
# program; when one runs already, this ends at once).
wineserver -p10 </dev/null >/dev/null 2>&1 || true

# Unix paths as wine sees them: drive Z: is the root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$(windows_path "$kit/bin");$(windows_path "$runtime");$(windows_path "$pthread")"
export QT_PLUGIN_PATH=$(windows_path "$kit/plugins")
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# The offscreen platform reads its fonts from one folder: wine's own, the
# nearest there is to Windows' (Tahoma, Courier, Fixedsys among them).
export QT_QPA_FONTDIR=${QT_QPA_FONTDIR:-$(windows_path /usr/share/wine/fonts)}
# Wine keeps the Unix QT_* variables from Windows programs (they are meant
# for Qt on the Unix side) and hands WINEQT_* on as QT_*: without this the
# tests would take Qt's Windows platform, with no display to draw on, and
# wait for windows that never show.
while IFS='=' read -r name _; do
  export "WINE$name=${!name}"
done < <(env | grep -E '^QT_[A-Za-z0-9_]*=')

# Whatever wine starts beside the test (its services, when the prefix's
# server starts them) inherits the test's output and keeps it open while the
# server lives; CTest would wait for it as for the test. So the output goes
# to a file, printed once the test has ended.
report=$(mktemp "${TMPDIR:-/tmp}/brisol-test.XXXXXX")
output=$(mktemp "${TMPDIR:-/tmp}/brisol-output.XXXXXX")
trap 'rm -f "$report" "$output"' EXIT
status=0
if LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe" | grep 'DLL Name: Qt6Test.dll' >/dev/null; then
  "$wine" "$exe" "$@" -o "$(windows_path "$report"),txt" </dev/null >"$output" 2>&1 || status=$?
  tr -d '\r' <"$output"
  tr -d '\r' <"$report"
else
  "$wine" "$exe" "$@" </dev/null >"$output" 2>&1 || status=$?
  tr -d '\r' <"$output"
fi
exit "$status"
