# A private X display with a window manager, for driving the real binary as
# a person would. Source it; it defines start_xsession and the DISPLAY it
# sets, and cleans up on exit. Exits 77 (skipped) where Xvfb is missing.
# XSESSION_SCREEN sets the screen's size and depth (default 1024x768x24).

if ! command -v Xvfb >/dev/null 2>&1 || ! command -v openbox >/dev/null 2>&1; then
  echo "SKIP: Xvfb or openbox is not installed (scripts/setup installs them)"
  exit 77
fi

xsession_dir=$(mktemp -d)
xsession_pids=()
xsession_cleanup() {
  for pid in "${xsession_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$xsession_dir"
}
trap xsession_cleanup EXIT

# Waits, up to a bound, for a command to succeed.
wait_until() {
  local tries=$1; shift
  until "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.05
  done
}

start_xsession() {
  mkfifo "$xsession_dir/displayfd"
  Xvfb -displayfd 3 -screen 0 "${XSESSION_SCREEN:-1024x768x24}" -nolisten tcp 3>"$xsession_dir/displayfd" \
    >"$xsession_dir/xvfb.log" 2>&1 &
  xsession_pids+=($!)
  local number
  read -r -t 30 number <"$xsession_dir/displayfd"
  export DISPLAY=":$number"
  openbox --sm-disable >"$xsession_dir/openbox.log" 2>&1 &
  xsession_pids+=($!)
  wait_until 200 wmctrl -m
}
