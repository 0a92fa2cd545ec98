#!/usr/bin/env bash
# brisol.exe under wine, as a binary of this system for the end-to-end tests
# (BRISOL_BINARY): the arguments pass through, and its exit code is the
# program's. BRISOL_WINDOWS_EXE names the exe in its portable folder; the
# prefix is the caller's WINEPREFIX.
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export LANG=es_ES.UTF-8 LC_ALL=es_ES.UTF-8
unset QT_QPA_PLATFORM
exec wine "${BRISOL_WINDOWS_EXE:?the exe under test}" "$@"
