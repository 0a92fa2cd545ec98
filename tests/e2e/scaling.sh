#!/usr/bin/env bash
# The main window on screens of higher resolution: at QT_SCALE_FACTOR 1, 1.5
# and 2 the real binary's window is the 794 x 521 client area (plus the menu
# bar) times the factor, and its parts lie where the layout puts them, scaled:
# screenshots are sampled at points of the layout times the factor.
#
#   scaling.sh BINARY TITLE
set -euo pipefail
binary=$1
title=$2
export XSESSION_SCREEN=2048x1536x24
. "$(dirname "$0")/xsession.sh"
start_xsession

client_width=794
client_height=521
# Points of the client area, in layout pixels, and the colour drawn there:
# inside the send box, inside the receive box (left of its scroll bar), on
# the status line right of its caption, and on the window's background
# right of the port field.
samples=(
  "360 192 000000 send box"
  "360 380 000000 receive box"
  "400 500 808080 status line"
  "700 50 background window background"
)

pixel_at() { convert "$1" -format "%[hex:p{$2,$3}]" info: | cut -c1-6; }

check_factor() {
  local factor=$1
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$factor "$binary" >"$xsession_dir/brisol.log" 2>&1 &
  local brisol=$!
  local window
  window=$(find_window "$(exact_title "$title")") || true
  [ -n "$window" ] || { cat "$xsession_dir/brisol.log"; echo "FAIL: no window at $factor"; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local expected_width
  expected_width=$(awk -v w=$client_width -v f="$factor" 'BEGIN { printf "%d", w * f + 0.5 }')
  if [ "$WIDTH" -ne "$expected_width" ]; then
    echo "FAIL: at scale factor $factor the window is $WIDTH px wide, not $expected_width"
    exit 1
  fi
  local menu_bar
  menu_bar=$(awk -v h="$HEIGHT" -v c=$client_height -v f="$factor" \
    'BEGIN { printf "%d", h - c * f + 0.5 }')

  # The first frame comes some time after the window is mapped: sample until
  # every point shows its colour, within a bound.
  local shot=$xsession_dir/shot.png tries=100 wrong=
  while :; do
    import -window "$window" "$shot"
    wrong=
    local background
    background=$(pixel_at "$shot" "$((WIDTH - 4))" "$((HEIGHT - 4))")
    for sample in "${samples[@]}"; do
      read -r x y colour what <<<"$sample"
      [ "$colour" = background ] && colour=$background
      local px py seen
      px=$(awk -v v="$x" -v f="$factor" 'BEGIN { printf "%d", v * f + 0.5 }')
      py=$(awk -v v="$y" -v f="$factor" -v m="$menu_bar" 'BEGIN { printf "%d", m + v * f + 0.5 }')
      seen=$(pixel_at "$shot" "$px" "$py")
      [ "$seen" = "$colour" ] || wrong+="$what at ($px,$py) is #$seen, not #$colour; "
    done
    [ -z "$wrong" ] && break
    tries=$((tries - 1))
    if [ "$tries" -eq 0 ]; then
      cp "$shot" "${TMPDIR:-/tmp}/brisol-scale-$factor.png"
      echo "FAIL: at scale factor $factor: $wrong(picture: ${TMPDIR:-/tmp}/brisol-scale-$factor.png)"
      exit 1
    fi
    sleep 0.05
  done
  wmctrl -i -c "$window"
  wait "$brisol" || true
  echo "PASS: scale factor $factor: window ${WIDTH}x${HEIGHT}, menu bar $menu_bar px, every part in place"
}

for factor in 1 1.5 2; do
  check_factor "$factor"
done
