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

# A step that fails under `set -e` would otherwise end the script without a
# word; name it, and show what the display and window manager said.
xsession_report() {
  local status=$1 line=$2 command=$3
  echo "FAIL: line $line: '$command' exited with $status"
  for log in "$xsession_dir"/xvfb.log "$xsession_dir"/openbox.log; do
    [ -s "$log" ] && { echo "--- ${log##*/}"; tail -n 20 "$log"; }
  done
  return 0
}
set -E
trap 'xsession_report $? $LINENO "$BASH_COMMAND"' ERR

# Waits for a command to succeed, trying every 50 ms up to a number of
# tries, and for at least that many times 50 ms of the clock: on a loaded
# machine each try itself may take long.
wait_until() {
  local tries=$1; shift
  local deadline=$((SECONDS + (tries + 19) / 20))
  until "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

start_xsession() {
  mkfifo "$xsession_dir/displayfd"
  Xvfb -displayfd 3 -screen 0 "${XSESSION_SCREEN:-1024x768x24}" -nolisten tcp 3>"$xsession_dir/displayfd" \
    >"$xsession_dir/xvfb.log" 2>&1 &
  xsession_pids+=($!)
  local number=
  read -r -t 60 number <"$xsession_dir/displayfd" || true
  if [ -z "$number" ]; then
    echo "FAIL: Xvfb gave no display number"
    tail -n 20 "$xsession_dir/xvfb.log"
    exit 1
  fi
  export DISPLAY=":$number"
  openbox --sm-disable >"$xsession_dir/openbox.log" 2>&1 &
  xsession_pids+=($!)
  # A first start on a fresh machine may build font caches before the
  # window manager announces itself.
  if ! wait_until 1200 wmctrl -m; then
    echo "FAIL: no window manager on $DISPLAY after 60 s"
    tail -n 20 "$xsession_dir/openbox.log"
    exit 1
  fi
}
