#!/usr/bin/env bash
# The installer as a Windows user meets it, under wine on a private X
# display: a silent install (/S) into a fresh prefix puts the program into
# Program Files with its Start menu entry and its entry in "Aplicaciones";
# the installed program starts and shows its window, and closing it ends it
# with exit code 0; the silent uninstall then leaves no file, shortcut or
# registry key behind.
#
#   installer.sh SETUP_EXE TITLE
set -euo pipefail
setup=$1
title=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/xsession.sh"
. "$here/wine.sh"
trap 'wine_cleanup; xsession_cleanup' EXIT
start_xsession
wine_start_prefix

fail() {
  echo "FAIL: $*"
  exit 1
}
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisol'
drive=$WINEPREFIX/drive_c
# What the prefix holds, less what wine itself changes as it runs.
files() {
  (cd "$drive" && find . -path ./windows -prune -o -path './users/*/Temp' -prune -o -print |
    sort)
}
files >"$xsession_dir/before.txt"

wine_run "$setup" /S
wineserver -w
installed=$drive/'Program Files'/Brisol
for file in brisol.exe desinstalar.exe Qt6Core.dll platforms/qwindows.dll \
  styles/qwindowsvistastyle.dll translations/qtbase_es.qm LICENSE.txt; do
  [ -f "$installed/$file" ] || fail "the install has no $file"
done
shortcut=$(find "$drive" -name Brisol.lnk -path '*Start Menu*' | head -n 1)
[ -n "$shortcut" ] || fail "no Start menu entry Brisol"
wine_run reg query "$key" /v DisplayName 2>/dev/null | grep -q Brisol ||
  fail "no entry for Brisol in the installed programs"
wine_run reg query "$key" /v UninstallString >/dev/null 2>&1 || fail "no uninstaller registered"
echo "PASS: installed into C:\\Program Files\\Brisol, with its Start menu entry and uninstaller"

wine_run "$installed/brisol.exe" >"$xsession_dir/brisol.log" 2>&1 &
brisol=$!
window=$(find_window "$(exact_title "$title")") || fail "the installed program showed no window"
wmctrl -i -c "$window"
status=0
wait "$brisol" || status=$?
[ "$status" -eq 0 ] || fail "the installed program exited with $status"
echo "PASS: the installed program shows \"$title\" and exits with 0 when closed"

wine_run "$installed/desinstalar.exe" /S
# The uninstaller runs on from a copy of itself; wait for it.
wineserver -w
[ ! -e "$installed" ] || fail "the uninstall left $(cd "$installed" && find . | head -n 5 | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the uninstall left the Start menu entry"
! wine_run reg query "$key" >/dev/null 2>&1 || fail "the uninstall left the registry key"
files >"$xsession_dir/after.txt"
if ! diff "$xsession_dir/before.txt" "$xsession_dir/after.txt" >"$xsession_dir/diff.txt"; then
  cat "$xsession_dir/diff.txt"
  fail "the prefix holds other files after the uninstall than before the install"
fi
echo "PASS: the silent uninstall leaves nothing behind"
