#!/usr/bin/env bash
# The guardian in a real X session (Xvfb) with a tray host (trayer): the icon appears in
# the tray, a second guardian of the folder waits without an icon and its end leaves the
# synchronizer, a double click shows "Guardian de Processos", and "Sair do sistema" from the
# tray menu ends the guardian and the synchronizer.
#   xvfb_tray.sh <procguard> <synchronizer executable>
# Exits 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -euo pipefail
# shellcheck source=tests/e2e/x_session.sh
. "$(dirname "$0")/../e2e/x_session.sh"

if [ "${1:-}" != --inside ]; then x_session_enter "trayer xdotool xwininfo" "$0" "$@"; fi
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

cp "$guardian" "$dir/procguard"
# The window shell module goes beside the program, as shipped.
cp "$(dirname "$guardian")/procguard-desktop.so" "$dir/"
cp "$sync_src" "$dir/$name"
printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$name" >"$dir/ConfigGuardian.ini"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export TEFSYNC_DRIVE_C="$dir/drive_c"

start_tray_host
(cd "$dir" && exec ./procguard >"$dir/out.txt" 2>"$dir/err.txt") &
gpid=$!
pids+=("$gpid")

sync_running() { [ -n "$(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dir/$name" 2>/dev/null)" ]; }
wait_for 10 sync_running || fail "synchronizer not started"

# The icon is the guardian's window embedded in the tray panel: ("procguard" "procguard").
icon_line() { xwininfo -root -tree | grep -m1 '"procguard": ("procguard" "procguard")'; }
wait_for 15 icon_line >/dev/null || fail "no tray icon"
read -r cx cy < <(icon_line | tree_line_centre)
echo "tray icon at ${cx},${cy}"

# A second guardian of the folder (another user's logon) waits: no icon of its own.
(cd "$dir" && exec ./procguard >"$dir/out-2.txt" 2>"$dir/err-2.txt") &
second=$!
pids+=("$second")
waiting() { grep -q '^Aguardando outro guardian desta pasta' "$dir/out-2.txt"; }
wait_for 15 waiting || fail "the second guardian does not wait: $(cat "$dir/out-2.txt" "$dir/err-2.txt")"
sleep 1
icons=$(xwininfo -root -tree | grep -c '"procguard": ("procguard" "procguard")' || true)
[ "$icons" -eq 1 ] || fail "$icons guardian icons in the tray"
kill -TERM "$second"
second_gone() { ! kill -0 "$second" 2>/dev/null; }
wait_for 10 second_gone || fail "the waiting guardian did not end"
sync_running || fail "the waiting guardian's end ended the synchronizer"

window_shown() { xdotool search --onlyvisible --name '^Guardian de Processos$' >/dev/null; }
! window_shown || fail "window shown at start"
xdotool mousemove "$cx" "$cy" click --repeat 2 --delay 80 1
wait_for 5 window_shown || fail "double click did not show the window"
win=$(xdotool search --onlyvisible --name '^Guardian de Processos$' | head -n1)
echo "window: $(xdotool getwindowgeometry "$win" | tr '\n' ' ')"

# The tray menu opens at the cursor; "Sair do sistema" is its last item.
gone() { ! kill -0 "$gpid" 2>/dev/null; }
quit_from_tray_menu "$cx" "$cy" '"procguard": \("procguard" "procguard"\)' gone || true
gone || fail "guardian still running after Sair do sistema"
! sync_running || fail "synchronizer outlived the guardian"
echo "ok"
