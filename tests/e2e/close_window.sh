#!/usr/bin/env bash
# The real binary: its window opens, and closing it through the window
# manager ends the process with exit code 0, also while the proxy settings
# window is open.
#
#   close_window.sh BINARY TITLE
set -euo pipefail
binary=$1
title=$2
. "$(dirname "$0")/xsession.sh"
start_xsession

close_and_expect_exit() {
  local with_proxy_window=$1
  QT_QPA_PLATFORM=xcb "$binary" >"$xsession_dir/brisol.log" 2>&1 &
  local brisol=$!
  local window
  window=$(find_window "$(exact_title "$title")") || true
  if [ -z "$window" ]; then
    echo "FAIL: the main window did not appear"; cat "$xsession_dir/brisol.log"; exit 1
  fi
  if ! wait_until 200 sh -c 'wmctrl -l | grep -qF -- "$1"' sh "$title"; then
    echo "FAIL: the window manager does not list the main window"; exit 1
  fi
  if [ "$with_proxy_window" = yes ]; then
    # Tick "Usar Proxy": the proxy settings window opens.
    local menu_height
    menu_height=$(( $(xdotool getwindowgeometry --shell "$window" | sed -n 's/^HEIGHT=//p') - 521 ))
    xdotool mousemove --window "$window" 354 $((menu_height + 16)) click 1
    find_window '^Configuración Proxy$' >/dev/null ||
      { echo "FAIL: the proxy settings window did not appear"; exit 1; }
  fi
  wmctrl -i -c "$window"
  if ! wait_until 200 sh -c "! kill -0 $brisol"; then
    kill "$brisol"
    echo "FAIL: brisol did not end when its window was closed (proxy window: $with_proxy_window)"
    exit 1
  fi
  local status=0
  wait "$brisol" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL: brisol exited with $status (proxy window: $with_proxy_window)"
    cat "$xsession_dir/brisol.log"
    exit 1
  fi
  echo "PASS: window closed (proxy settings window open: $with_proxy_window), exit code 0"
}

close_and_expect_exit no
close_and_expect_exit yes
