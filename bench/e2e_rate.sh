#!/usr/bin/env bash
# The rate at which the real binary takes a stream, end to end: build/app/brisol
# on a private X display, driven as a person would with xdotool (host
# 127.0.0.1, the port, "Conectar"), against a loopback sender
# (build/bench/bench_sender) that lets the client settle for a second after
# its accept, writes N MiB and times from its first write to the moment the
# client has read the last byte, as the system's socket diagnostics show it;
# every client is timed alike, and none is charged for what it does after
# that (giving back what it kept, closing, exiting). Next to the binary, the
# same sender and the reference clients, the limits:
# `nc -N 127.0.0.1 PORT > /dev/null`, which keeps nothing, and
# build/bench/keepall, which keeps every byte it receives as the binary does
# and does nothing else with them (with a second thread making its memory
# present ahead of the reader; as keepall_one_thread without it; and as
# keepall_bounce with it, receiving into a small buffer that stays in the
# cache and copying on from there, as the binary does); each
# kept byte needs a byte of fresh memory, which nc never pays for.
# Two shapes of stream: 80-column CR LF lines, and text with no line break.
# Where python3-pyatspi and at-spi2-core are installed, the binary is also
# measured with an accessibility client listening for inserted text as a
# screen reader does (bench/e2e_rate_listener.py), on a private
# accessibility bus; the listener's events and characters are reported,
# and the rate at which it had been told of the end of the text.
# With --hex the binary is also measured with its receive box in the
# hexadecimal view (brisol_hex), switched with Ctrl+H in the box before it
# connects; after the stream a copy of the last byte must be a hex row, or
# the run fails. hex_SHAPE_vs_text is its rate over the text view's.
# With --log the binary is also measured with a session log open
# (brisol_log), opened with Ctrl+L in the box and its dialog before it
# connects, in the work directory on this machine's disk ($TMPDIR); after
# the window has closed the file must hold every byte, or the run fails.
# log_SHAPE_vs_text is its rate over the binary's without a log, and
# log_SHAPE_max_turn_ms the longest turn of the binary's event loop while
# the stream arrived with the log open (the longest wait for an answer to a
# clipboard request, asked again and again while the stream runs, by
# bench/e2e_rate_turns.py), text_SHAPE_max_turn_ms the same without a log.
#
#   bench/e2e_rate.sh [--mib N] [--repeat R] [--accessibility auto|yes|no] [--hex] [--log]
#   bench/e2e_rate.sh --actions [--mib N]
#
# With --actions it measures instead what the user's actions in the receive
# box cost once N MiB (default 1024) have arrived: Ctrl+A then Ctrl+C on
# 80-column lines (the time until the binary answers a clipboard request
# made right after the keys, its resident size before, while xclip reads the
# whole copy, and after), and a double click in the middle of one word of N
# MiB (the time until the binary answers, and what the click selected).
#
# Defaults: 512 MiB, 3 repeats, accessibility where available. The runs are
# interleaved (each repeat runs every case once), one at a time; one line per
# figure is printed on standard output (name, median, unit), then the
# binary's rates over each reference's (lines_vs_keepall: brisol over
# keepall on lines; a11y_lines_vs_keepall: the same with the listener);
# progress goes to standard error. A run whose byte count is wrong (keepall
# also reports its own, and its peak resident size must hold them all), or
# whose listener was never told of the end of the text, prints FAIL and the
# script exits 1.
# $BRISOL_BUILD_DIR names another build directory.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BRISOL_BUILD_DIR:-$top/build}
binary=$build/app/brisol
sender=$build/bench/bench_sender
keepall=$build/bench/keepall
listener_script=$top/bench/e2e_rate_listener.py
launcher=/usr/libexec/at-spi-bus-launcher

mib=
repeat=3
accessibility=auto
actions=no
hex=no
log=no

usage() {
  echo "usage: $0 [--mib N] [--repeat R] [--accessibility auto|yes|no] [--hex] [--log] | --actions [--mib N]"
}

while [ $# -gt 0 ]; do
  case $1 in
    --mib) mib=${2:-}; shift 2 || true ;;
    --repeat) repeat=${2:-}; shift 2 || true ;;
    --accessibility) accessibility=${2:-}; shift 2 || true ;;
    --actions) actions=yes; accessibility=no; shift ;;
    --hex) hex=yes; shift ;;
    --log) log=yes; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
if [ -z "$mib" ]; then
  mib=512
  [ "$actions" = no ] || mib=1024
fi
if ! [[ $mib =~ ^[1-9][0-9]*$ && $repeat =~ ^[1-9][0-9]*$ &&
  $accessibility =~ ^(auto|yes|no)$ && ! ($actions = yes && ($hex = yes || $log = yes)) ]]; then
  usage >&2
  exit 2
fi

die() {
  echo "FAIL: $*" >&2
  exit 1
}

progress() {
  echo "e2e_rate: $*" >&2
}

[ -x "$binary" ] || die "$binary is missing: build it first (scripts/build)"
[ -x "$sender" ] || die "$sender is missing: build it first (scripts/build)"
[ -x "$keepall" ] || die "$keepall is missing: build it first (scripts/build)"
for tool in nc xdotool wmctrl; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing: scripts/setup installs it"
done

# The accessibility stack: a Python that has pyatspi (a Python of one's own
# may come first in PATH without it), the bus launcher and dbus-daemon.
python=
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import pyatspi' >/dev/null 2>&1; then
    python=$candidate
    break
  fi
done
accessibility_missing=
[ -n "$python" ] || accessibility_missing="python3 with pyatspi (python3-pyatspi)"
[ -x "$launcher" ] || accessibility_missing="$launcher (at-spi2-core)"
command -v dbus-daemon >/dev/null 2>&1 || accessibility_missing="dbus-daemon"
command -v dbus-send >/dev/null 2>&1 || accessibility_missing="dbus-send"
if [ -n "$accessibility_missing" ]; then
  if [ "$accessibility" = yes ]; then
    die "no accessibility client: $accessibility_missing is missing (scripts/setup installs it)"
  elif [ "$accessibility" = auto ]; then
    progress "no accessibility client: $accessibility_missing is missing"
  fi
  accessibility=no
elif [ "$accessibility" = auto ]; then
  accessibility=yes
fi

# Every wait of the sender ends after this long; a slow machine with a
# listener takes the stream at a few MiB/s at worst.
sender_timeout=$((60 + mib / 2))
expected_bytes=$((mib * 1024 * 1024))

# The X display with a window manager; its EXIT trap is extended below.
# shellcheck source=tests/e2e/xsession.sh
. "$top/tests/e2e/xsession.sh"
work=$xsession_dir

# Processes this script started, stopped in reverse order on exit: first
# asked to end, then killed if they have not within 5 s.
bench_pids=()
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $state != Z* ]]
}
# shellcheck disable=SC2317 # run by the EXIT trap
bench_cleanup() {
  local i pid
  for ((i = ${#bench_pids[@]} - 1; i >= 0; i--)); do
    pid=${bench_pids[i]}
    alive "$pid" || continue
    kill "$pid" 2>/dev/null || true
    wait_gone "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
  done
}
trap 'bench_cleanup; xsession_cleanup' EXIT
trap 'exit 130' INT TERM HUP

# Waits up to a number of seconds for a process to end.
wait_gone() {
  local pid=$1 deadline=$((SECONDS + $2))
  while alive "$pid"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

show_log() {
  [ -s "$1" ] && { echo "--- ${1##*/}" >&2; tail -n 20 "$1" >&2; }
  return 0
}

start_xsession

# --- the accessibility bus ---

# A session bus of our own that starts nothing by itself (the system's would
# start its own bus launcher for the accessibility bus), the launcher with
# its sockets in our directory, and the registry that the accessibility bus
# starts when the first client asks for it.
session_bus=
start_accessibility_bus() {
  sed "s|@DIR@|$work|" "$top/tests/e2e/private-session-bus.conf" >"$work/session.conf"
  chmod 700 "$work"
  dbus-daemon --config-file="$work/session.conf" --nofork --print-address=3 \
    3>"$work/session.address" >"$work/dbus.log" 2>&1 &
  bench_pids+=("$!")
  wait_until 600 test -s "$work/session.address" || {
    show_log "$work/dbus.log"
    die "the private session bus did not start within 30 s"
  }
  session_bus=$(head -n 1 "$work/session.address")
  DBUS_SESSION_BUS_ADDRESS=$session_bus XDG_RUNTIME_DIR=$work \
    "$launcher" --launch-immediately --a11y=1 >"$work/launcher.log" 2>&1 &
  local launcher_pid=$!
  bench_pids+=("$launcher_pid")
  local address=
  local deadline=$((SECONDS + 30))
  until address=$(dbus-send --bus="$session_bus" --print-reply=literal --dest=org.a11y.Bus \
    /org/a11y/bus org.a11y.Bus.GetAddress 2>/dev/null) && [ -n "$address" ]; do
    if ! alive "$launcher_pid" || [ "$SECONDS" -ge "$deadline" ]; then
      show_log "$work/launcher.log"
      die "the accessibility bus launcher did not answer within 30 s"
    fi
    sleep 0.05
  done
  accessibility_bus=$(echo "$address" | tr -d '[:space:]')
  # The accessibility bus itself, a child of the launcher.
  local child
  for child in $(ps -o pid= --ppid "$launcher_pid"); do bench_pids+=("$child"); done
  progress "accessibility bus at $accessibility_bus"
}

# The registry, started by the accessibility bus and detached from it, is
# ended with the rest.
registry_pid=
note_registry() {
  [ -z "$registry_pid" ] || return 0
  registry_pid=$(dbus-send --bus="$accessibility_bus" --print-reply=literal \
    --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
    string:org.a11y.atspi.Registry 2>/dev/null | awk '{print $NF}') || true
  [[ $registry_pid =~ ^[0-9]+$ ]] && bench_pids+=("$registry_pid") || registry_pid=
}

# --- the listener ---

listener_pid=
listener_in=
listener_out=
start_listener() {
  rm -f "$work/listener.in" "$work/listener.out"
  mkfifo "$work/listener.in" "$work/listener.out"
  DBUS_SESSION_BUS_ADDRESS=$session_bus "$python" "$listener_script" \
    <"$work/listener.in" >"$work/listener.out" 2>"$work/listener.log" &
  listener_pid=$!
  bench_pids+=("$listener_pid")
  # Opened both ways, these never block, whether or not the listener runs.
  exec {listener_in}<>"$work/listener.in" {listener_out}<>"$work/listener.out"
  local line=
  read -r -t 60 -u "$listener_out" line || true
  if [ "$line" != ready ]; then
    show_log "$work/listener.log"
    die "the accessibility listener did not register within 60 s"
  fi
  note_registry
}

# Asks the listener what it has heard: the last event's time (CLOCK_MONOTONIC
# ns), and the events and characters of the object that sent the most.
heard_last=0
heard_events=0
heard_chars=0
heard_end=0
listener_report() {
  local line=
  echo report >&"$listener_in"
  read -r -t 30 -u "$listener_out" line || true
  if ! [[ $line =~ ^events\ [0-9]+\ chars\ [0-9]+\ last_ns\ ([0-9]+)\ top_events\ ([0-9]+)\ top_chars\ ([0-9]+)\ top_end\ ([0-9]+)$ ]]; then
    show_log "$work/listener.log"
    die "the accessibility listener did not answer (it said '$line')"
  fi
  heard_last=${BASH_REMATCH[1]}
  heard_events=${BASH_REMATCH[2]}
  heard_chars=${BASH_REMATCH[3]}
  heard_end=${BASH_REMATCH[4]}
}

stop_listener() {
  exec {listener_in}>&- {listener_out}<&-
  wait_gone "$listener_pid" 10 || kill "$listener_pid" 2>/dev/null || true
}

# --- the sender ---

sender_pid=
start_sender() {
  # Emptied here: the background process's own redirection may come late,
  # after the previous run's lines have been read as this one's.
  : >"$work/sender.out"
  "$sender" --shape "$1" --mib "$mib" --settle 1000 --timeout "$sender_timeout" --accept-timeout 60 "${@:2}" \
    >"$work/sender.out" 2>"$work/sender.log" &
  sender_pid=$!
  bench_pids+=("$sender_pid")
}

port=
sender_port() {
  if ! wait_until 600 grep -q '^port ' "$work/sender.out"; then
    show_log "$work/sender.out"
    show_log "$work/sender.log"
    die "the sender did not listen within 30 s"
  fi
  port=$(awk '/^port /{print $2}' "$work/sender.out")
}

# Waits for the sender, which bounds its own waits, and takes what it timed:
# the seconds from its first write to the peer's reading of the last byte,
# and the first write's time (CLOCK_MONOTONIC ns).
sent_seconds=
sent_start=
sender_result() {
  wait "$sender_pid" || true
  local line
  line=$(grep '^bytes ' "$work/sender.out" || true)
  if ! [[ $line =~ ^bytes\ $expected_bytes\ seconds\ ([0-9.]+)\ accept_ns\ [0-9]+\ start_ns\ ([0-9]+)\  ]]; then
    show_log "$work/sender.log"
    die "$1: $(grep -v '^port ' "$work/sender.out" || echo 'the sender printed nothing')"
  fi
  sent_seconds=${BASH_REMATCH[1]}
  sent_start=${BASH_REMATCH[2]}
}

# --- the binary ---

# The main window's client area in the layout's twips, 15 to the pixel,
# below the menu bar.
window=
menu_height=0
click() {
  xdotool mousemove --window "$window" $(($1 / 15)) $((menu_height + $2 / 15)) click 1
}

start_binary() {
  local with_listener=$1
  if [ "$with_listener" = yes ]; then
    env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
      DBUS_SESSION_BUS_ADDRESS="$session_bus" "$binary" >"$work/brisol.log" 2>&1 &
  else
    # No session bus, so no accessibility bus either.
    env -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS QT_QPA_PLATFORM=xcb \
      "$binary" >"$work/brisol.log" 2>&1 &
  fi
  binary_pid=$!
  bench_pids+=("$binary_pid")
  local deadline=$((SECONDS + 60)) found=
  until found=$(xdotool search --onlyvisible --pid "$binary_pid" --name '^Brisol' 2>/dev/null) &&
    [ -n "$found" ]; do
    if ! alive "$binary_pid" || [ "$SECONDS" -ge "$deadline" ]; then
      show_log "$work/brisol.log"
      die "the main window of $binary did not show within 60 s"
    fi
    sleep 0.05
  done
  window=${found%%$'\n'*}
  local managed
  managed=$(printf '0x%08x' "$window")
  wait_until 1200 sh -c "wmctrl -l | grep -q '^$managed '" ||
    die "the window manager did not take the main window within 60 s"
  local height
  height=$(xdotool getwindowgeometry --shell "$window" | awk -F= '$1 == "HEIGHT" {print $2}')
  # The client area is 521 pixels high below the menu bar.
  menu_height=$((height - 521))
  [ "$menu_height" -gt 0 ] || die "the main window is $height pixels high; expected a menu bar above 521"
}

# Types the text into the field at the point, and reads it back through the
# clipboard: a click or a key lost on a loaded machine would otherwise send
# the binary elsewhere.
# shellcheck disable=SC2317 # run by wait_until
clipboard_is() {
  [ "$(timeout 5 xclip -o -selection clipboard 2>/dev/null)" = "$1" ]
}
type_field() {
  local x=$1 y=$2 text=$3 attempt
  for attempt in 1 2 3; do
    click "$x" "$y"
    xdotool key ctrl+a
    xdotool type --delay 20 "$text"
    xdotool key ctrl+a ctrl+c
    wait_until 60 clipboard_is "$text" && return 0
    progress "the field at ($x, $y) twips did not take '$text' (attempt $attempt)"
  done
  die "could not type '$text' into the main window's field at ($x, $y) twips"
}

connect_binary() {
  type_field $((3960 + 1000)) $((600 + 150)) 127.0.0.1 # host_remoto
  type_field $((7080 + 400)) $((600 + 150)) "$1"       # puerto_remoto
  click $((4560 + 480)) $((1200 + 180))                # "Conectar"
  if ! wait_until 400 grep -q '^accepted' "$work/sender.out"; then
    show_log "$work/brisol.log"
    die "the binary did not connect within 20 s of the click on \"Conectar\""
  fi
}

close_binary() {
  wmctrl -i -c "$window" || true
  if ! wait_gone "$binary_pid" 30; then
    show_log "$work/brisol.log"
    die "the binary did not exit within 30 s of its window being closed"
  fi
  wait "$binary_pid" || die "the binary exited with status $?"
}

# --- the measurements ---

rate() {
  awk -v mib="$mib" -v s="$1" 'BEGIN { printf "%.2f", mib / s }'
}

results=$work/results
: >"$results"
record() {
  echo "$1 $2" >>"$results"
}

# The reference clients, each timed by the sender as the binary is, and
# waited for until they exit; reference_command sets the command of one,
# with {port} for the port.
references=(nc keepall keepall_one_thread keepall_bounce)
reference_command=()
set_reference_command() {
  case $1 in
    nc) reference_command=(nc -N 127.0.0.1 '{port}') ;;
    keepall) reference_command=("$keepall" 127.0.0.1 '{port}') ;;
    keepall_one_thread) reference_command=("$keepall" --one-thread 127.0.0.1 '{port}') ;;
    keepall_bounce) reference_command=("$keepall" --bounce 127.0.0.1 '{port}') ;;
    *) die "no reference client $1" ;;
  esac
}

# keepall reports on its standard error, the sender's log: every byte
# counted, and all of them resident at once.
keepall_kept() {
  local line
  line=$(grep '^keepall bytes ' "$work/sender.log" || true)
  if ! [[ $line =~ ^keepall\ bytes\ ([0-9]+)\ peak_rss_kib\ ([0-9]+)$ ]]; then
    show_log "$work/sender.log"
    die "$1: keepall did not report what it kept"
  fi
  [ "${BASH_REMATCH[1]}" -eq "$expected_bytes" ] ||
    die "$1: keepall kept ${BASH_REMATCH[1]} bytes, not $expected_bytes"
  [ $((BASH_REMATCH[2] * 1024)) -ge "$expected_bytes" ] ||
    die "$1: keepall's peak resident size, ${BASH_REMATCH[2]} KiB, cannot hold $expected_bytes bytes"
}

measure_reference() {
  local name=$1 shape=$2
  set_reference_command "$name"
  start_sender "$shape" -- "${reference_command[@]}"
  sender_result "$name, $shape"
  [[ $name != keepall* ]] || keepall_kept "$name, $shape"
  record "${name}_${shape}_mib_s" "$(rate "$sent_seconds")"
  progress "  $(printf '%-18s' "$name") $shape: $(rate "$sent_seconds") MiB/s"
}

# The receive box, focused by a click, switched to the hexadecimal view.
# The box holds the choice while the window lives; connecting empties it and
# leaves the view as it is.
receive_box_x=$((480 + 5000))
receive_box_y=$((4440 + 1200))
switch_to_hex() {
  click "$receive_box_x" "$receive_box_y"
  xdotool key ctrl+h
}

# After the stream: the last byte selected and copied gives its row in the
# hexadecimal view (its offset, eight hex digits or more, then two blanks),
# one character in the text view. A Ctrl+H lost on a loaded machine would
# otherwise have the text view measured as the hexadecimal one.
# shellcheck disable=SC2317 # run by wait_until
clipboard_starts() {
  [[ "$(timeout 5 xclip -o -selection clipboard 2>/dev/null)" == "$1"* ]]
}
check_hex_view() {
  local row
  row=$(printf '%08x  ' $(((expected_bytes - 1) / 16 * 16)))
  click "$receive_box_x" "$receive_box_y"
  xdotool key ctrl+End shift+Left ctrl+c
  wait_until 200 clipboard_starts "$row" ||
    die "$1: the receive box was not in the hexadecimal view (its last byte copied as '$(timeout 5 xclip -o -selection clipboard 2>/dev/null | head -c 80)')"
}

# The session log, opened before the binary connects: Ctrl+L in the box,
# the path typed into the save dialog. The file appears once the log is
# open.
session_log=
open_log() {
  session_log=$work/session.log
  rm -f "$session_log"
  click "$receive_box_x" "$receive_box_y"
  xdotool key ctrl+l
  wait_until 400 sh -c 'xdotool search --onlyvisible --name "^Registrar en archivo$" >/dev/null' ||
    die "the dialog of \"Registrar en archivo…\" did not show within 20 s"
  xdotool key ctrl+a
  xdotool type --delay 20 "$session_log"
  xdotool key Return
  wait_until 400 test -e "$session_log" || die "the session log $session_log was not opened"
}

# The longest turn of the binary's event loop while the sender runs
# (bench/e2e_rate_turns.py, which asks the binary for the clipboard's
# targets one request after another: the binary owns the clipboard since
# connect_binary copied the port).
turns_pid=
start_turns() {
  /usr/bin/python3 "$top/bench/e2e_rate_turns.py" "$sender_pid" >"$work/turns" 2>"$work/turns.log" &
  turns_pid=$!
  bench_pids+=("$turns_pid")
}

# The binary's runs: brisol alone, brisol_a11y with the listener,
# brisol_hex alone in the hexadecimal view, and brisol_log with a session
# log open.
measure_binary() {
  local shape=$1 name=$2 with_listener=no
  if [ "$name" = brisol_a11y ]; then
    with_listener=yes
    start_listener
  fi
  start_sender "$shape"
  sender_port
  start_binary "$with_listener"
  [ "$name" != brisol_hex ] || switch_to_hex
  [ "$name" != brisol_log ] || open_log
  # Started before connecting: the probe takes a moment to start. It asks
  # for a turn of the binary's, and a core, all the time: only the runs that
  # --log compares have it, the binary's alone with and without a log.
  local probed=no
  [ "$log" = no ] || case $name in brisol | brisol_log) probed=yes ;; esac
  [ "$probed" = no ] || start_turns
  connect_binary "$port"
  sender_result "$name, $shape"
  # The probe ends with the sender; its last request is answered before the
  # binary goes.
  [ "$probed" = no ] || wait "$turns_pid" 2>/dev/null || true
  record "${name}_${shape}_mib_s" "$(rate "$sent_seconds")"
  progress "  $(printf '%-18s' "$name") $shape: $(rate "$sent_seconds") MiB/s"
  [ "$name" != brisol_hex ] || check_hex_view "$name, $shape"
  if [ "$with_listener" != yes ]; then
    close_binary
    [ "$probed" = no ] || [ "$name" != brisol ] || record_turns "$shape" text
    [ "$name" != brisol_log ] || check_log "$name, $shape" "$shape"
    return 0
  fi

  # The listener hears the binary's events after the binary sent them, and
  # the binary's last events may still be on their way out of it: it stays
  # open until the listener is told of the end of the text (the box tells
  # of the newest characters, a few times a second), or nothing new has come
  # for 10 s.
  local previous=-1 steady=$SECONDS deadline=$((SECONDS + sender_timeout))
  while :; do
    listener_report
    [ "$heard_end" -lt "$expected_bytes" ] || break
    if [ "$heard_end" != "$previous" ]; then
      previous=$heard_end
      steady=$SECONDS
    fi
    if [ $((SECONDS - steady)) -ge 10 ] || [ "$SECONDS" -ge "$deadline" ]; then
      break
    fi
    sleep 0.1
  done
  close_binary
  stop_listener
  if [ "$heard_end" -ne "$expected_bytes" ]; then
    die "$name, $shape: the listener was told of the receive box's text up to $heard_end, not $expected_bytes"
  fi
  local heard
  heard=$(awk -v a="$sent_start" -v l="$heard_last" 'BEGIN { printf "%.6f", (l - a) / 1e9 }')
  record "a11y_${shape}_heard_mib_s" "$(rate "$heard")"
  record "a11y_${shape}_events" "$heard_events"
  record "a11y_${shape}_chars" "$heard_chars"
  progress "  listener           $shape: $heard_events events, $heard_chars characters, the end heard at $(rate "$heard") MiB/s"
}

# After the window closed: the log holds every byte, and the longest turn.
check_log() {
  wait "$turns_pid" 2>/dev/null || true
  local size
  size=$(stat -c %s "$session_log")
  [ "$size" -eq "$expected_bytes" ] || die "$1: the session log holds $size bytes, not $expected_bytes"
  progress "  session log        $2: $size bytes"
  record_turns "$2" log
  rm -f "$session_log"
}

# The longest turn of a run, the same measure for the run without a log.
record_turns() {
  wait "$turns_pid" 2>/dev/null || true
  local turn
  turn=$(sort -n "$work/turns" | tail -n 1)
  record "$2_$1_max_turn_ms" "${turn:-0}"
  progress "  $(printf '%-18s' "$2") $1: longest turn ${turn:-?} ms ($(wc -l <"$work/turns") requests)"
}

# --- the user's actions on a long transcript ---

figure() {
  printf '%-32s %14s %s\n' "$1" "$2" "$3"
}


resident_kib() {
  awk '/^VmRSS:/ {print $2}' "/proc/$binary_pid/status"
}

now_ms() {
  echo $(($(date +%s%N) / 1000000))
}

# Milliseconds from now until the binary answers a request for the
# clipboard's targets: it answers from its event loop, so this is how long
# the event loop was held up by what came before.
answer_ms() {
  local start
  start=$(now_ms)
  timeout 120 xclip -o -selection clipboard -t TARGETS >/dev/null 2>&1 ||
    die "the binary did not answer a clipboard request within 120 s"
  echo $(($(now_ms) - start))
}

# Streams N MiB of a shape into a fresh binary and waits until it has taken
# it all (the sender's end is then closed, and so is the binary's).
fill_binary() {
  start_sender "$1"
  sender_port
  start_binary no
  connect_binary "$port"
  sender_result "brisol, $1"
}

measure_actions() {
  fill_binary lines
  click "$receive_box_x" "$receive_box_y"
  xdotool key --window "$window" ctrl+a
  local before start turn peak=0 got during after
  before=$(resident_kib)
  start=$(now_ms)
  xdotool key --window "$window" ctrl+c
  turn=$(answer_ms)
  figure copy_answer_ms "$turn" "ms (Ctrl+C until the binary answers, $mib MiB selected)"
  xclip -o -selection clipboard 2>/dev/null | wc -c >"$work/copied" &
  local reader=$!
  while alive "$reader"; do
    during=$(resident_kib)
    [ "$during" -le "$peak" ] || peak=$during
    sleep 0.02
  done
  wait "$reader" || true
  got=$(cat "$work/copied")
  [ "$got" = "$expected_bytes" ] || die "the copy held $got bytes, not $expected_bytes"
  after=$(resident_kib)
  figure copy_read_s "$(awk -v a="$start" -v b="$(now_ms)" 'BEGIN { printf "%.2f", (b - a) / 1000 }')" \
    "s (Ctrl+C until xclip has read every byte)"
  figure rss_before_copy_mib $((before / 1024)) MiB
  figure rss_peak_while_read_mib $((peak / 1024)) MiB
  figure rss_after_read_mib $((after / 1024)) MiB
  close_binary

  fill_binary word
  xdotool mousemove --window "$window" $(((480 + 5000) / 15)) $((menu_height + (4440 + 1200) / 15)) \
    click --repeat 2 --delay 80 1
  xdotool key --window "$window" ctrl+c
  turn=$(answer_ms)
  got=$(xclip -o -selection clipboard 2>/dev/null | wc -c)
  figure double_click_answer_ms "$turn" "ms (double click and Ctrl+C in a word of $mib MiB)"
  figure double_click_selected "$got" characters
  close_binary
}

if [ "$actions" = yes ]; then
  command -v xclip >/dev/null 2>&1 || die "xclip is missing: scripts/setup installs it"
  progress "$mib MiB, then the actions; $(uptime | sed 's/.*load/load/')"
  measure_actions
  exit 0
fi

if [ "$accessibility" = yes ]; then
  start_accessibility_bus
fi
if [ "$hex" = yes ] || [ "$log" = yes ]; then
  command -v xclip >/dev/null 2>&1 || die "xclip is missing: scripts/setup installs it"
fi
if [ "$log" = yes ]; then
  /usr/bin/python3 -c 'import gi; gi.require_version("Gtk", "3.0")' 2>/dev/null ||
    die "the event loop's probe needs /usr/bin/python3 with GTK 3 (python3-gi, gir1.2-gtk-3.0)"
fi

shapes=(lines flat)
clients=(brisol)
[ "$accessibility" = no ] || clients+=(brisol_a11y)
[ "$hex" = no ] || clients+=(brisol_hex)
[ "$log" = no ] || clients+=(brisol_log)
progress "$mib MiB per run, $repeat repeats, accessibility listener: $accessibility, hexadecimal view: $hex, session log: $log; $(uptime | sed 's/.*load/load/')"
for ((run = 1; run <= repeat; run++)); do
  progress "run $run of $repeat"
  for shape in "${shapes[@]}"; do
    for reference in "${references[@]}"; do
      measure_reference "$reference" "$shape"
    done
    for client in "${clients[@]}"; do
      measure_binary "$shape" "$client"
    done
  done
done

median() {
  awk -v name="$1" '$1 == name {print $2}' "$results" | sort -g |
    awk '{v[NR] = $1} END { if (NR == 0) exit 1; printf "%.10g", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}


ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4g", a / b }'
}

# A ratio's name: the shape, what the binary ran with (brisol_a11y gives
# a11y_), and the reference it is measured against.
ratio_name() {
  local with=${1#brisol}
  with=${with#_}
  echo "${with:+${with}_}${2}_vs_$3"
}

for shape in "${shapes[@]}"; do
  for reference in "${references[@]}"; do
    figure "${reference}_${shape}_mib_s" "$(median "${reference}_${shape}_mib_s")" MiB/s
  done
  for client in "${clients[@]}"; do
    figure "${client}_${shape}_mib_s" "$(median "${client}_${shape}_mib_s")" MiB/s
  done
  if [ "$accessibility" = yes ]; then
    figure "a11y_${shape}_heard_mib_s" "$(median "a11y_${shape}_heard_mib_s")" MiB/s
    figure "a11y_${shape}_events" "$(median "a11y_${shape}_events")" events
    figure "a11y_${shape}_chars" "$(median "a11y_${shape}_chars")" characters
  fi
done
for shape in "${shapes[@]}"; do
  nc_rate=$(median "nc_${shape}_mib_s")
  for reference in "${references[@]}"; do
    [ "$reference" = nc ] ||
      figure "${reference}_${shape}_vs_nc" "$(ratio "$(median "${reference}_${shape}_mib_s")" "$nc_rate")" x
  done
  for client in "${clients[@]}"; do
    for reference in "${references[@]}"; do
      figure "$(ratio_name "$client" "$shape" "$reference")" \
        "$(ratio "$(median "${client}_${shape}_mib_s")" "$(median "${reference}_${shape}_mib_s")")" x
    done
  done
  if [ "$hex" = yes ]; then
    figure "hex_${shape}_vs_text" \
      "$(ratio "$(median "brisol_hex_${shape}_mib_s")" "$(median "brisol_${shape}_mib_s")")" x
  fi
  if [ "$log" = yes ]; then
    figure "log_${shape}_vs_text" \
      "$(ratio "$(median "brisol_log_${shape}_mib_s")" "$(median "brisol_${shape}_mib_s")")" x
    for with in text log; do
      figure "${with}_${shape}_max_turn_ms" \
        "$(awk -v n="${with}_${shape}_max_turn_ms" '$1 == n {print $2}' "$results" | sort -n | tail -n 1)" ms
    done
  fi
done
exit 0
