#!/usr/bin/env bash
# The Debian package as a user gets it: CPack builds it from the build tree,
# its control fields and files are checked, lintian checks it as a
# distribution would (no error, no warning), it is unpacked into a scratch
# root, and the program is started from there on a private X display; closing
# its window must end it with exit code 0.
#
#   deb.sh BUILD_DIR PACKAGE VERSION APP_ID TITLE
#
# Runs as root only, as in CI; elsewhere it is skipped (exit code 77).
set -euo pipefail
build=$1
name=$2
version=$3
app_id=$4
title=$5

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the package check runs as root only, as in CI (dpkg, scratch root)"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
# Also exits 77 where Xvfb or openbox is missing; cleans up on exit.
. "$here/../../tests/e2e/xsession.sh"

fail() {
  echo "FAIL: $*"
  exit 1
}

arch=$(dpkg --print-architecture)
out=$xsession_dir/out
deb=$out/${name}_${version}_${arch}.deb
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$xsession_dir/cpack.log" 2>&1; then
  cat "$xsession_dir/cpack.log"
  fail "cpack could not build the package"
fi
[ -f "$deb" ] || fail "no ${deb##*/}; made: $(cd "$out" && ls -- *.deb 2>/dev/null)"
echo "built ${deb##*/} ($(stat -c %s "$deb") bytes)"

# Control fields: name, version, architecture, and dependencies read from the
# binary plus Qt's translations.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
depended=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
  qt6-translations-l10n; do
  grep -Fxq "$needed" <<<"$depended" || fail "Depends lacks $needed"
done

# Files: the binary, its manual page, copyright and changelog, the desktop
# entry, the metainfo, the icon at every size.
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
expected=(
  ./usr/bin/brisol
  ./usr/share/man/man1/brisol.1.gz
  "./usr/share/doc/$name/copyright"
  "./usr/share/doc/$name/changelog.gz"
  "./usr/share/applications/$app_id.desktop"
  "./usr/share/metainfo/$app_id.metainfo.xml"
  "./usr/share/icons/hicolor/scalable/apps/$app_id.svg"
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for file in "${expected[@]}"; do
  grep -Fxq "$file" <<<"$contents" || fail "the package lacks $file"
done
# What a distribution's packager runs first. Overrides, if ever needed, go in
# the package with their reason beside them.
command -v lintian >/dev/null 2>&1 || fail "no lintian (scripts/setup installs it)"
status=0
lintian --fail-on error,warning "$deb" >"$xsession_dir/lintian.log" 2>"$xsession_dir/lintian.err" ||
  status=$?
if [ "$status" -ne 0 ] || grep -q '^[EW]:' "$xsession_dir/lintian.log"; then
  cat "$xsession_dir/lintian.log" "$xsession_dir/lintian.err"
  fail "lintian reports errors or warnings (exit code $status)"
fi
echo "lintian: no error, no warning"

# Unpacked into a scratch root: every library the binary needs is on this
# machine, every dependency is installed, and the installed tree validates.
root=$xsession_dir/root
dpkg -x "$deb" "$root"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "the metainfo's release is not $version"
# A PNG's signature and, in its IHDR, its width and height (big-endian).
png_size() {
  local bytes
  bytes=$(od -An -v -tu1 -N24 "$1" | tr -s ' \n' '  ')
  read -r -a b <<<"$bytes"
  [ "${b[*]:0:8}" = "137 80 78 71 13 10 26 10" ] || { echo "not a PNG"; return; }
  echo "$(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))x$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))"
}
for size in 16 256; do
  png=$(png_size "$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
  [ "$png" = "${size}x${size}" ] || fail "the ${size}px icon is $png"
done
if ldd "$root/usr/bin/brisol" | grep -q 'not found'; then
  ldd "$root/usr/bin/brisol"
  fail "libraries missing"
fi
if ! dpkg --dry-run --install "$deb" >"$xsession_dir/dpkg.log" 2>&1; then
  cat "$xsession_dir/dpkg.log"
  fail "dpkg would not install the package here"
fi
if ! appstreamcli validate-tree --no-net --no-color "$root" >"$xsession_dir/tree.log" 2>&1; then
  cat "$xsession_dir/tree.log"
  fail "the installed tree does not validate"
fi
desktop-file-validate "$root/usr/share/applications/$app_id.desktop" ||
  fail "the installed desktop entry does not validate"

# The installed program, as the desktop entry starts it (Exec has no
# arguments), finds its icon in the installed icon theme.
start_xsession
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$app_id.desktop")
[ "$exec_line" = brisol ] || fail "Exec is '$exec_line'"
XDG_DATA_DIRS="$root/usr/share:/usr/share" QT_QPA_PLATFORM=xcb "$root/usr/bin/$exec_line" \
  >"$xsession_dir/brisol.log" 2>&1 &
brisol=$!
window=$(find_window "$(exact_title "$title")") || true
[ -n "$window" ] || { cat "$xsession_dir/brisol.log"; fail "the installed program showed no window"; }
echo "the installed program's window is up"
# The icon property may follow the window's mapping by a moment.
wait_until 200 sh -c "xprop -id $window _NET_WM_ICON | grep -q '^_NET_WM_ICON(CARDINAL) = '" ||
  fail "the window has no icon"
wait_until 200 sh -c 'wmctrl -l | grep -qF -- "$1"' sh "$title" ||
  fail "the window manager does not list the window"
wmctrl -i -c "$window"
if ! wait_until 400 sh -c "! kill -0 $brisol"; then
  kill "$brisol"
  fail "the installed program did not end when its window was closed"
fi
status=0
wait "$brisol" || status=$?
[ "$status" -eq 0 ] || { cat "$xsession_dir/brisol.log"; fail "it exited with $status"; }
echo "PASS: ${deb##*/} builds, installs into a scratch root, starts, and exits 0 when closed"
