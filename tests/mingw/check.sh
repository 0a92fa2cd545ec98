#!/usr/bin/env bash
# The Windows files of platform/ built with Debian's mingw-w64 cross compiler,
# under the same warnings as the rest of our code (errors included):
#   - CodePage_windows.cpp, ProcessExit.cpp and ProcessExit_windows.cpp are
#     linked, with a small check program, into a static Windows executable
#     that must import the system calls they make;
#   - CodePage.cpp and the receive box's transcript (its store, with the
#     Windows slab mapping, and line index), which need Qt, are compiled
#     against Qt's headers (there is no Qt for Windows to link here).
# The executable runs only where .exe files run (wine is used if present).
#
#   check.sh PLATFORM_DIR OUT_DIR 'QT;INCLUDE;DIRS' COMPILE_FLAGS...
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
for source in "$platform/CodePage_windows.cpp" "$platform/ProcessExit.cpp" \
  "$platform/ProcessExit_windows.cpp" "$here/codepage_windows_check.cpp"; do
  object=$out/$(basename "$source" .cpp).o
  echo "compiling ${source##*/}"
  "${cxx[@]}" -c "$source" -o "$object"
  objects+=("$object")
done

qt_flags=()
for dir in "${qt_includes[@]}"; do
  [ -n "$dir" ] && qt_flags+=(-isystem "$dir")
done
for source in CodePage.cpp receivebox/ByteScan.cpp receivebox/ByteStore.cpp \
  receivebox/ChunkSlabs.cpp receivebox/ChunkSlabs_windows.cpp receivebox/LineIndex.cpp \
  receivebox/Transcript.cpp; do
  echo "compiling $source against Qt's headers"
  "${cxx[@]}" "${qt_flags[@]}" -I"$platform/receivebox" -c "$platform/$source" \
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

if command -v wine >/dev/null 2>&1; then
  echo "running it under wine"
  wine "$exe"
else
  echo "(not run: no wine here; it runs on Windows)"
fi
echo "PASS: the Windows files of platform/ build with $compiler"
