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

# The pattern that matches exactly the given window title, for find_window.
exact_title() {
  local title=$1 pattern= c i
  for ((i = 0; i < ${#title}; i++)); do
    c=${title:i:1}
    [[ '.[]{}()*+?^$|\' == *"$c"* ]] && pattern+='\'
    pattern+=$c
  done
  printf '^%s$' "$pattern"
}

# Prints the id of a visible window whose name matches the pattern, waiting
# up to 60 s for one. A search can fail when a window vanishes while it walks
# the tree (the frame of a program just closed); it is simply made again.
find_window() {
  local pattern=$1 deadline=$((SECONDS + 60)) found
  while [ "$SECONDS" -lt "$deadline" ]; do
    found=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null) || true
    if [ -n "$found" ]; then
      echo "${found%%$'\n'*}"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# Starts Xvfb on a free display and openbox on it, and exports DISPLAY. When
# servers start and stop side by side, a window manager may fail to open a
# display its server has just announced; the pair is then started afresh.
start_xsession() {
  local attempt
  for attempt in 1 2 3 4 5; do
    xsession_try_start && return 0
    echo "the X session did not come up (attempt $attempt); starting it afresh"
    tail -n 5 "$xsession_dir/xvfb.log" "$xsession_dir/openbox.log" 2>/dev/null || true
  done
  echo "FAIL: no X session with a window manager after 5 attempts"
  exit 1
}

# One attempt: true once the window manager answers; else both are stopped.
xsession_try_start() {
  rm -f "$xsession_dir/displayfd"
  mkfifo "$xsession_dir/displayfd"
  Xvfb -displayfd 3 -screen 0 "${XSESSION_SCREEN:-1024x768x24}" -nolisten tcp 3>"$xsession_dir/displayfd" \
    >"$xsession_dir/xvfb.log" 2>&1 &
  local xvfb=$!
  xsession_pids+=("$xvfb")
  local number=
  read -r -t 60 number <"$xsession_dir/displayfd" || true
  if [ -z "$number" ]; then
    xsession_stop "$xvfb"
    return 1
  fi
  export DISPLAY=":$number"
  openbox --sm-disable >"$xsession_dir/openbox.log" 2>&1 &
  local openbox=$!
  xsession_pids+=("$openbox")
  # A first start on a fresh machine may build font caches before the
  # window manager announces itself; one that has exited never will.
  local deadline=$((SECONDS + 60))
  until wmctrl -m >/dev/null 2>&1; do
    if ! kill -0 "$openbox" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      xsession_stop "$openbox" "$xvfb"
      return 1
    fi
    sleep 0.05
  done
}

xsession_stop() {
  kill "$@" 2>/dev/null || true
  wait "$@" 2>/dev/null || true
}
