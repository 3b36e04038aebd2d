#!/usr/bin/env bash
# The guardian in a real X session (Xvfb) with a tray host (trayer): the icon appears in
# the tray, a double click shows "Guardian de Processos", and "Sair do sistema" from the
# tray menu ends the guardian and the synchronizer.
#   xvfb_tray.sh <procguard> <synchronizer executable>
# Exits 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  for tool in xvfb-run trayer xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$@"
fi
shift
guardian=$1
sync_src=$2

dir=$(mktemp -d /tmp/procguard_x.XXXXXX)
name="sinc-$(basename "$dir" | cut -d. -f2)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  for link in $(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dir/$name" 2>/dev/null); do
    p=${link%/exe}
    kill -KILL "${p#/proc/}" 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$dir/err.txt" >&2 || true
  exit 1
}
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.3
  done
}

cp "$guardian" "$dir/procguard"
# The window shell module goes beside the program, as shipped.
cp "$(dirname "$guardian")/procguard-desktop.so" "$dir/"
cp "$sync_src" "$dir/$name"
printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$name" >"$dir/ConfigGuardian.ini"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export TEFSYNC_DRIVE_C="$dir/drive_c"

trayer --edge top --align right --widthtype request --height 32 --transparent false &
pids+=($!)
disown $!
sleep 1
(cd "$dir" && exec ./procguard >"$dir/out.txt" 2>"$dir/err.txt") &
gpid=$!
pids+=("$gpid")

sync_running() { [ -n "$(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dir/$name" 2>/dev/null)" ]; }
wait_for 10 sync_running || fail "synchronizer not started"

# The icon is the guardian's window embedded in the tray panel: ("procguard" "procguard").
icon_line() { xwininfo -root -tree | grep -m1 '"procguard": ("procguard" "procguard")'; }
wait_for 15 icon_line >/dev/null || fail "no tray icon"
read -r w h x y < <(icon_line | sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/')
cx=$((x + w / 2))
cy=$((y + h / 2))
echo "tray icon at ${cx},${cy}"

window_shown() { xdotool search --onlyvisible --name '^Guardian de Processos$' >/dev/null; }
! window_shown || fail "window shown at start"
xdotool mousemove "$cx" "$cy" click --repeat 2 --delay 80 1
wait_for 5 window_shown || fail "double click did not show the window"
win=$(xdotool search --onlyvisible --name '^Guardian de Processos$' | head -n1)
echo "window: $(xdotool getwindowgeometry "$win" | tr '\n' ' ')"

# The tray menu opens at the cursor; "Sair do sistema" is its last item.
menu_geometry() {
  xwininfo -root -tree | sed -nE \
    's/.*"procguard": \("procguard" "procguard"\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/p' |
    awk '$3 > 60 && $4 > 30 && $4 < 200 { print; found = 1; exit } END { exit !found }'
}
gone() { ! kill -0 "$gpid" 2>/dev/null; }
# X events race with a menu still being laid out: the whole gesture may be tried again.
for attempt in 1 2 3; do
  xdotool mousemove "$cx" "$cy" click 3
  wait_for 5 menu_geometry >/dev/null || fail "tray menu did not open"
  sleep 0.5
  read -r mx my mw mh < <(menu_geometry)
  xdotool mousemove $((mx + mw / 2)) $((my + mh - 10))
  sleep 0.3
  xdotool click 1
  if wait_for 5 gone; then break; fi
  echo "attempt $attempt: menu click not taken"
  xdotool key Escape
done
gone || fail "guardian still running after Sair do sistema"
! sync_running || fail "synchronizer outlived the guardian"
echo "ok"
