#!/usr/bin/env bash
# The end-to-end receive rate of build/app/brisol with Orca listening and the
# focus in the receive box, beside the rate with no screen reader: see
# bench/e2e_rate_orca.py. Skips (exit 77) where Orca is not installed.
#
#   bench/e2e_rate_orca.sh [--mib N] [--repeat R]
#
# $BRISOL_BUILD_DIR names another build directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BRISOL_BUILD_DIR:-$top/build}
binary=$build/app/brisol
[ -x "$binary" ] || { echo "FAIL: $binary is missing: build it first (scripts/build brisol)" >&2; exit 1; }
exec bash "$top/tests/e2e/with_xsession.sh" python3 "$top/bench/e2e_rate_orca.py" "$binary" "$@"
