#!/usr/bin/env bash
# The Windows files of platform/ built with Debian's mingw-w64 cross compiler,
# under the same warnings as the rest of our code (errors included):
#   - CodePage_windows.cpp, ProcessExit.cpp and ProcessExit_windows.cpp are
#     linked, with a small check program, into a static Windows executable
#     that must import the system calls they make;
#   - CodePage.cpp and the receive box's transcript (its store, with the
#     Windows slab mapping, its byte search, with the Windows byte finder,
#     and line index) and the socket descriptor calls
#     (Winsock), which need Qt, are compiled
#     against Qt's headers (there is no Qt for Windows to link here).
# The executable then runs under Debian's wine64, twice: in the default locale
# (wine's code pages 1252 and 437) and in a Spanish one (1252 and 850, those
# of Brisol's users). Its checks must pass, and its table of every byte
# 0..255 (ANSI character, OEM byte) must match that of the same check
# program built natively with the POSIX files ($BRISOL_POSIX_CHECK), on the
# ANSI page always and on the OEM page where both are 850 (where the POSIX
# files give '?' for want of an equivalent, Windows' conversion may give a
# best-fit byte: those are listed, not failed). Where wine or the
# Spanish locale is missing, or wine cannot start here, the check ends with
# SKIP and the reason (exit code 77).
#
#   BRISOL_POSIX_CHECK=NATIVE_CHECK check.sh PLATFORM_DIR OUT_DIR 'QT;INCLUDE;DIRS' COMPILE_FLAGS...
set -euo pipefail
platform=$1
out=$2
IFS=';' read -r -a qt_includes <<<"$3"
shift 3
flags=("$@")
here=$(cd "$(dirname "$0")" && pwd)

compiler=
for candidate in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++; do
  if command -v "$candidate" >/dev/null 2>&1; then
    compiler=$candidate
    break
  fi
done
if [ -z "$compiler" ]; then
  echo "SKIP: no mingw-w64 cross compiler (scripts/setup installs g++-mingw-w64-x86-64-posix)"
  exit 77
fi
objdump=x86_64-w64-mingw32-objdump

rm -rf "$out"
mkdir -p "$out"
cxx=("$compiler" -std=c++20 -O1 "${flags[@]}" -I"$platform")

objects=()
for source in "$platform/system/CodePage_windows.cpp" "$platform/system/ProcessExit.cpp" \
  "$platform/system/ProcessExit_windows.cpp" "$here/codepage_windows_check.cpp"; do
  object=$out/$(basename "$source" .cpp).o
  echo "compiling ${source##*/}"
  "${cxx[@]}" -c "$source" -o "$object"
  objects+=("$object")
done

qt_flags=()
for dir in "${qt_includes[@]}"; do
  [ -n "$dir" ] && qt_flags+=(-isystem "$dir")
done
transcript=transcript
for source in system/CodePage.cpp system/SocketIo_windows.cpp $transcript/ByteScan.cpp \
  $transcript/ByteScan_windows.cpp $transcript/ByteSearch.cpp $transcript/ByteStore.cpp \
  $transcript/ChunkSlabs.cpp $transcript/ChunkSlabs_windows.cpp $transcript/LineIndex.cpp \
  $transcript/Transcript.cpp; do
  echo "compiling $source against Qt's headers"
  "${cxx[@]}" "${qt_flags[@]}" -c "$platform/$source" \
    -o "$out/$(basename "$source" .cpp).o"
done

exe=$out/codepage_windows_check.exe
echo "linking ${exe##*/}"
"${cxx[@]}" -static "${objects[@]}" -o "$exe"

format=$("$objdump" -f "$exe" | sed -n 's/.*file format //p')
[ "$format" = pei-x86-64 ] || { echo "FAIL: ${exe##*/} is '$format', not a 64-bit Windows executable"; exit 1; }
imports=$("$objdump" -p "$exe")
for call in MultiByteToWideChar CharToOemBuffA ExitProcess GetACP GetOEMCP; do
  grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$call\$" <<<"$imports" ||
    { echo "FAIL: ${exe##*/} does not import $call"; exit 1; }
done
echo "${exe##*/}: $format, imports MultiByteToWideChar, CharToOemBuffA, ExitProcess"

echo "built: the Windows files of platform/ build with $compiler"

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

# The reference: the same checks and table from the POSIX files.
posix_check=${BRISOL_POSIX_CHECK:?the native check program}
"$posix_check" >"$out/posix.txt" || { cat "$out/posix.txt"; fail "the POSIX files fail their own checks"; }

wine=
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$(command -v "$candidate")
    break
  fi
done
[ -n "$wine" ] || skip "${exe##*/} was not run: no wine (scripts/setup installs Debian's wine64)"
wineserver=
for candidate in "$(dirname "$wine")/wineserver64" "$(dirname "$wine")/wineserver" wineserver; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wineserver=$(command -v "$candidate")
    break
  fi
done

# Each run gets a fresh prefix, made by wine on its first start (the slow
# part), and leaves nothing behind.
prefixes=()
trap 'for p in "${prefixes[@]}"; do rm -rf "$p"; done' EXIT
run_under_wine() {
  local name=$1 locale=$2 prefix status=0
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/brisol-wine.XXXXXX")
  prefixes+=("$prefix")
  echo "== under wine, $name locale${locale:+ ($locale)}"
  env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES='mscoree,mshtml=' ${locale:+LANG=$locale LC_ALL=$locale} \
    timeout 240 "$wine" "$exe" >"$out/wine-$name.raw" 2>"$out/wine-$name.err" || status=$?
  [ -z "$wineserver" ] || WINEPREFIX=$prefix "$wineserver" -w || true
  tr -d '\r' <"$out/wine-$name.raw" >"$out/wine-$name.txt"
  if ! grep -q '^code pages: ' "$out/wine-$name.txt"; then
    cat "$out/wine-$name.err"
    skip "wine cannot run ${exe##*/} here (exit code $status; the program printed nothing)"
  fi
  grep -v '^table ' "$out/wine-$name.txt"
  [ "$status" -eq 0 ] || fail "${exe##*/} exited with $status under wine"
}

# Compares a run's table with the POSIX files': the ANSI characters always,
# the OEM bytes when the run's OEM page is 850 as theirs. A byte whose
# character has no 850 equivalent is '?' in the POSIX files; Windows'
# conversion may give a best-fit byte for it instead, listed here; any other
# difference fails.
compare_with_posix() {
  local name=$1 ansi_page oem_page
  read -r ansi_page oem_page < <(sed -n 's/^code pages: ANSI \([0-9]*\), OEM \([0-9]*\)$/\1 \2/p' \
    "$out/wine-$name.txt")
  [ "$ansi_page" = 1252 ] || fail "wine's ANSI code page is $ansi_page, not 1252"
  local rows
  rows=$(paste -d ' ' <(sed -n 's/^table //p' "$out/posix.txt") \
    <(sed -n 's/^table //p' "$out/wine-$name.txt"))
  [ "$(awk '$1 == $4' <<<"$rows" | wc -l)" -eq 256 ] ||
    fail "the tables do not both list the bytes 00 to FF in order"
  local byte posix_char posix_oem wine_char wine_oem best_fit=() differ=()
  while read -r byte posix_char posix_oem _ wine_char wine_oem; do
    [ "$posix_char" = "$wine_char" ] ||
      differ+=("byte $byte: U+$posix_char in the POSIX files, U+$wine_char under wine")
    [ "$oem_page" = 850 ] || continue
    if [ "$posix_oem" != "$wine_oem" ]; then
      if [ "$posix_oem" = 3F ]; then
        best_fit+=("$byte>$wine_oem")
      else
        differ+=("byte $byte: OEM $posix_oem in the POSIX files, $wine_oem under wine")
      fi
    fi
  done <<<"$rows"
  if [ ${#differ[@]} -gt 0 ]; then
    printf '  %s\n' "${differ[@]}"
    fail "${#differ[@]} bytes convert otherwise than in the POSIX files ($name locale)"
  fi
  echo "ANSI 1252: the 256 characters are those of the POSIX files"
  if [ "$oem_page" = 850 ]; then
    echo "OEM 850: $((256 - ${#best_fit[@]})) of the 256 bytes are those of the POSIX files"
    [ ${#best_fit[@]} -eq 0 ] ||
      echo "  the other ${#best_fit[@]}, '?' (3F) in the POSIX files, are Windows' best fit: ${best_fit[*]}"
  else
    echo "OEM $oem_page: not the POSIX files' 850; the general checks above apply"
  fi
}

# The C locale, in which wine chooses 1252 and 437.
run_under_wine default C
compare_with_posix default

spanish=$(locale -a 2>/dev/null | grep -ix 'es_ES\.utf-\?8' | head -n 1) || true
[ -n "$spanish" ] || skip "no es_ES.UTF-8 locale for wine's Spanish code pages (scripts/setup makes it)"
run_under_wine Spanish "$spanish"
grep -qx 'code pages: ANSI 1252, OEM 850' "$out/wine-Spanish.txt" ||
  fail "under $spanish wine should take the code pages 1252 and 850"
compare_with_posix Spanish
echo "PASS: ${exe##*/} passes its checks under wine, its tables those of the POSIX files"
