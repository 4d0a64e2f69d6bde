#!/usr/bin/env bash
# Screenshots of every page and every warning of the wizard: the real program in a real
# window under Xvfb, driven with xdotool, captured with ImageMagick's import.
#
#   tools/screenshots/take-screenshots.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR holds app/dormane and firmware/ (default build/default); the PNG files go to
# OUT_DIR (default a new folder under ${TMPDIR:-/tmp}). Needs: Xvfb, xdotool, imagemagick,
# and unshare (util-linux) for the warning of a missing network.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/default}" && pwd)"
out="${2:-$(mktemp -d "${TMPDIR:-/tmp}/dormane-screenshots.XXXXXX")}"
mkdir -p "$out"
dormane="$build/app/dormane"
base="file://$build/firmware"
[ -x "$dormane" ] || { echo "no $dormane: build the dormane target first" >&2; exit 1; }
for tool in Xvfb xdotool import convert unshare; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/dormane-shots-run.XXXXXX")"
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, at 96 dpi so that the dialog units map as the templates assume.
exec 3<>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 50); do
  display="$(head -n1 "$work/displayfd" 2>/dev/null || true)"
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

win_x=0
win_y=0
# Starts the wizard with these arguments (--offline first: in a network namespace with no
# network) and waits for its window.
start() {
  local prefix=()
  if [ "$1" = "--offline" ]; then
    prefix=(unshare -rn)
    shift
  fi
  "${prefix[@]}" "$dormane" "$@" >"$work/dormane.log" 2>&1 &
  app_pid=$!
  local wid=""
  for _ in $(seq 100); do
    wid="$(xdotool search --onlyvisible --name '^Dormane$' 2>/dev/null | head -n1 || true)"
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || { echo "the wizard window did not appear" >&2; cat "$work/dormane.log" >&2; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  win_x=$X
  win_y=$Y
  sleep 0.5
}
# Waits for the wizard to end; kills it after a while if it does not.
stop() {
  for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || { app_pid=""; return; }
    sleep 0.1
  done
  echo "the wizard did not end by itself" >&2
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
}
# Screen position of a point given in dialog units of the main window (1 px thin border):
# 1.5 px per horizontal and 1.625 px per vertical unit, rounded.
px_x() { echo $((win_x + 1 + ($1 * 3 + 1) / 2)); }
px_y() { echo $((win_y + 1 + ($1 * 13 + 4) / 8)); }
click_du() {
  xdotool mousemove "$(px_x "$1")" "$(px_y "$2")" click 1
  sleep "${3:-0.6}"
}
# The main window's buttons, by the centres of their template rectangles.
next() { click_du 619 326 "${1:-0.6}"; }
back() { click_du 512 326 "${1:-0.6}"; }
close_button() { click_du 669 10 "${1:-0.6}"; }
# Waits for a top-level window of that size to appear and sets its position.
dlg_x=0
dlg_y=0
wait_window() {
  local w
  for _ in $(seq 100); do
    for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
      eval "$(xdotool getwindowgeometry --shell "$w")"
      if [ "$WIDTH" = "$1" ] && [ "$HEIGHT" = "$2" ]; then
        dlg_x=$X
        dlg_y=$Y
        sleep 0.3
        return 0
      fi
    done
    sleep 0.1
  done
  echo "no window of $1 x $2 appeared" >&2
  return 1
}
# The warning dialog: 240 x 151 dialog units with a 1 px border.
wait_warning() { wait_window 362 247; }
warning_button() { # 1100 (right) or 1102 (left), by the centres of their rectangles
  local cx
  cx=$([ "$1" = 1100 ] && echo 184 || echo 99)
  xdotool mousemove $((dlg_x + 1 + (cx * 3 + 1) / 2)) $((dlg_y + 1 + (126 * 13 + 4) / 8)) click 1
  sleep 0.6
}
shot() {
  import -window root "$work/screen.png"
  # The main window with its border: 1026 x 559 pixels of client area.
  convert "$work/screen.png" -crop "1028x561+$win_x+$win_y" +repage "$out/$1.png"
  echo "$out/$1.png"
}
# Each run has a speaker of its own (an EEPROM file keeps what an earlier run wrote).
fast() { echo "clock=virtual,eeprom-file=$(mktemp -u "$work/speaker.XXXXXX")"; }

# The walk with realistic timing, so that the check and the burn can be seen.
start --simulate="fw=0803,eeprom-file=$work/slow.eeprom,latency-us=400" --firmware-base-url "$base"
shot 01-start
next
shot 02-prerequisites
next 0.4
shot 03-check
sleep 6
shot 04-mode-disable-preselected
click_du 215 134
shot 05-mode-enable
next 2.5
shot 06-progress
close_button
shot 07-close-during-burn
xdotool key Return
sleep 20
shot 07b-burn-went-on
close_button
stop

start --simulate="fw=0803,$(fast)" --firmware-base-url "$base"
next
next 1.5
click_du 215 134
next 2
shot 08-power-cycle
next
shot 09-finish-enabled
next
stop

start --simulate="fw=0813,$(fast)" --firmware-base-url "$base"
next
next 1.5
next 2
next
shot 10-finish-enabled-kept
close_button
stop

start --simulate="absent,$(fast)" --firmware-base-url "$base"
next
next
wait_warning
shot 11-warning-101
warning_button 1102
shot 12-after-101-back
close_button
stop

start --offline --simulate="fw=0803,$(fast)" --firmware-base-url "$base"
next
next
wait_warning
shot 13-warning-102
warning_button 1102
close_button
stop

start --simulate="fw=0803,$(fast)" --firmware-base-url "file://$work/no-mirror"
next
next 1.5
next
wait_warning
shot 14-warning-103
warning_button 1100
close_button
stop

start --simulate="fw=0800,$(fast)" --firmware-base-url "$base"
next
next
wait_warning
shot 15-warning-104
warning_button 1102
stop

start --simulate="no-driver" --firmware-base-url "$base"
shot 16-initialization-failed
xdotool key Return
stop

echo "screenshots in $out"
