#!/usr/bin/env bash
# Runs a command inside a private X display with a window manager.
set -euo pipefail
. "$(dirname "$0")/xsession.sh"
start_xsession
"$@"
