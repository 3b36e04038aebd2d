#!/usr/bin/env bash
# The synchronizer's desktop shell in a real X session (Xvfb) with a tray host (trayer):
# the icon appears in the tray with the window hidden, a double click shows the main
# window, the access code opens the settings dialog, the heartbeat is answered while the
# dialog is open, the event log reaches standard output as it happens, "ADM - Sitef" runs,
# and "Sair do sistema" from the tray menu ends the program. Screenshots of the main
# window and the settings dialog are saved in the given folder.
#   xvfb_tray.sh <tefsync desktop program> <screenshot folder>
# Exits 77 (skipped) when Xvfb, trayer, xdotool, xwininfo or import is missing.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  for tool in xvfb-run trayer xdotool xwininfo import; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$@"
fi
shift
program=$1
shots=$2
mkdir -p "$shots"

dir=$(mktemp -d /tmp/tefsync_x.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- stdout" >&2
  cat "$dir/out.txt" >&2 || true
  echo "--- stderr" >&2
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

cp "$program" "$dir/tefsync"
# The window shell module goes beside the program, as shipped (when it has one).
if [ -e "$(dirname "$program")/tefsync-desktop.so" ]; then
  cp "$(dirname "$program")/tefsync-desktop.so" "$dir/"
fi
# A cloud address that refuses at once: each poll logs its failure.
printf '[CONF]\r\nTOKEN_VELANTRA=demo\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\nIdCaixa=0\r\nURLBASE=http://127.0.0.1:9/api/\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=10\r\n' \
  >"$dir/configAPI_TEF.ini"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export TEFSYNC_DRIVE_C="$dir/drive_c"
mkdir -p "$TEFSYNC_DRIVE_C"

trayer --edge top --align right --widthtype request --height 32 --transparent false &
pids+=($!)
disown $!
sleep 1
(cd "$dir" && exec ./tefsync >"$dir/out.txt" 2>"$dir/err.txt") &
tpid=$!
pids+=("$tpid")

# The icon is the program's window embedded in the tray panel.
icon_line() { xwininfo -root -tree | grep -m1 '("tefsync" "tefsync")' | grep -v 'API de'; }
wait_for 15 icon_line >/dev/null || fail "no tray icon"
read -r w h x y < <(icon_line | sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/')
cx=$((x + w / 2))
cy=$((y + h / 2))
echo "tray icon at ${cx},${cy}"

main_title='^API de Integracao TEF x Velantra'
# A window's title as the window manager and the task bar read it.
net_wm_name() {
  LC_ALL=C.UTF-8 xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'
}
title_is() {  # window, expected title
  local got
  got=$(net_wm_name "$1")
  [ "$got" = "$2" ] || fail "title \"$got\", expected \"$2\""
}
window_shown() { xdotool search --onlyvisible --name "$main_title" >/dev/null; }
! window_shown || fail "window shown at start"

# Every event-log row reaches standard output while the program runs.
logged() { grep -q '| Get status erro 2 |' "$dir/out.txt"; }
wait_for 10 logged || fail "no event-log row on standard output"

xdotool mousemove "$cx" "$cy" click --repeat 2 --delay 80 1
wait_for 5 window_shown || fail "double click did not show the window"
win=$(xdotool search --onlyvisible --name "$main_title" | head -n1)
echo "window: $(xdotool getwindowgeometry "$win" | tr '\n' ' ')"
read -r ww wh < <(xwininfo -id "$win" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
[ "$ww" = 692 ] && [ "$wh" = 571 ] || fail "main window is ${ww}x${wh}"
title_is "$win" "API de Integracao TEF x Velantra - Versão 2021.801"
sleep 1
import -window "$win" "$shots/tefsync-main.png" || fail "screenshot of the main window"

# The access code of the day (this is not the test computer).
d=$(date +%d) m=$(date +%m) a=$(date +%y)
code=$(printf '%s%02d%s%02d%s' "$d" $(((10#$d + 10#$m) % 100)) "$m" $(((10#$d + 10#$m + 10#$a) % 100)) "$a")
if [ "$(hostname | tr a-z A-Z)" = QUADRIX ]; then code=9073; fi

# btnConfig is the second button of the top row.
xdotool mousemove --window "$win" 74 28 click 1
prompt_shown() { xdotool search --onlyvisible --name '^Senha do dia$' >/dev/null; }
wait_for 5 prompt_shown || fail "btnConfig did not ask for the access code"
box=$(xdotool search --onlyvisible --name '^Senha do dia$' | head -n1)
title_is "$box" "Senha do dia"
xdotool windowfocus --sync "$box" 2>/dev/null || true
sleep 0.3
xdotool type --delay 40 "$code"
xdotool key Return

dialog_shown() { xdotool search --onlyvisible --name '^Configura' >/dev/null; }
wait_for 5 dialog_shown || fail "the access code did not open the settings dialog"
dlg=$(xdotool search --onlyvisible --name '^Configura' | head -n1)
read -r dw dh < <(xwininfo -id "$dlg" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
[ "$dw" = 723 ] && [ "$dh" = 352 ] || fail "settings dialog is ${dw}x${dh}"
title_is "$dlg" "Configuração de dados para  integração"
sleep 1
import -window "$dlg" "$shots/tefsync-settings.png" || fail "screenshot of the settings dialog"

# The guardian's test file is answered while the dialog is open.
mkdir -p "$dir/ping"
echo teste >"$dir/ping/test-ping.txt"
answered() { [ -f "$dir/ping/resp-ping.txt" ] && [ ! -f "$dir/ping/test-ping.txt" ]; }
wait_for 40 answered || fail "heartbeat not answered while the dialog was open"
echo "heartbeat answered with the dialog open"

# "Voltar" closes the dialog.
xdotool mousemove --window "$dlg" 28 28 click 1
dialog_gone() { ! dialog_shown; }
wait_for 5 dialog_gone || fail "Voltar did not close the dialog"

# "ADM - Sitef" (third button) checks the manager; none answers here, so after its seven
# one-second attempts the window is free again.
mkdir -p "$TEFSYNC_DRIVE_C/Client/REQ" "$TEFSYNC_DRIVE_C/Client/RESP"
xdotool mousemove --window "$win" 155 28 click 1
adm_logged() { grep -q '| ADm - Sitef |' "$dir/out.txt"; }
wait_for 5 adm_logged || fail "ADM - Sitef did not run"
sleep 9

# The tray menu opens at the cursor; "Sair do sistema" is its last item.
menu_geometry() {
  xwininfo -root -tree | sed -nE \
    's/.*\("tefsync" "tefsync"\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/p' |
    awk '$3 > 60 && $4 > 30 && $4 < 200 { print; found = 1; exit } END { exit !found }'
}
gone() { ! kill -0 "$tpid" 2>/dev/null; }
# X events race with a menu still being laid out: the whole gesture may be tried again.
for attempt in 1 2 3; do
  xdotool mousemove "$cx" "$cy" click 3
  wait_for 5 menu_geometry >/dev/null || fail "tray menu did not open"
  sleep 0.5
  read -r mx my mw mh < <(menu_geometry)
  echo "menu at ${mx},${my} ${mw}x${mh}"
  xdotool mousemove $((mx + mw / 2)) $((my + mh - 10))
  sleep 0.3
  xdotool click 1
  if wait_for 5 gone; then break; fi
  echo "attempt $attempt: menu click not taken"
  xdotool key Escape
done
gone || fail "still running after Sair do sistema"
wait "$tpid" || fail "exit status $?"
echo "ok"
