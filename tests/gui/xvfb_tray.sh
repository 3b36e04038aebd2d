#!/usr/bin/env bash
# The synchronizer's desktop shell in a real X session (Xvfb) with a tray host (trayer):
# the icon appears in the tray with the window hidden, a double click shows the main
# window, the access code opens the settings dialog, the heartbeat is answered while the
# dialog is open, the event log reaches standard output as it happens, "ADM - Sitef" runs,
# and "Sair do sistema" from the tray menu ends the program. Screenshots of the main
# window and the settings dialog are saved in the given folder.
#   xvfb_tray.sh <tefsync desktop program> <screenshot folder>
# Exits 77 (skipped) when Xvfb, trayer, xdotool, xwininfo, xprop or import is missing.
set -euo pipefail
# shellcheck source=tests/e2e/x_session.sh
. "$(dirname "$0")/../e2e/x_session.sh"

if [ "${1:-}" != --inside ]; then x_session_enter "trayer xdotool xwininfo xprop import" "$0" "$@"; fi
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

start_tray_host
(cd "$dir" && exec ./tefsync >"$dir/out.txt" 2>"$dir/err.txt") &
tpid=$!
pids+=("$tpid")

# The icon is the program's window embedded in the tray panel.
icon_line() { xwininfo -root -tree | grep -m1 '("tefsync" "tefsync")' | grep -v 'API de'; }
wait_for 15 icon_line >/dev/null || fail "no tray icon"
read -r cx cy < <(icon_line | tree_line_centre)
echo "tray icon at ${cx},${cy}"

main_title='^API de Integracao TEF x Velantra'
window_shown() { xdotool search --onlyvisible --name "$main_title" >/dev/null; }
! window_shown || fail "window shown at start"

# Every event-log row reaches standard output while the program runs.
logged() { grep -q '| Get status erro 2 |' "$dir/out.txt"; }
wait_for 10 logged || fail "no event-log row on standard output"

xdotool mousemove "$cx" "$cy" click --repeat 2 --delay 80 1
wait_for 5 window_shown || fail "double click did not show the window"
win=$(xdotool search --onlyvisible --name "$main_title" | head -n1)
echo "window: $(xdotool getwindowgeometry "$win" | tr '\n' ' ')"
[ "$(size_of "$win")" = 692x571 ] || fail "main window is $(size_of "$win")"
title_is "$win" "API de Integracao TEF x Velantra - Versão 2021.801"
sleep 1
import -window "$win" "$shots/tefsync-main.png" || fail "screenshot of the main window"

code=$(code_of_the_day)

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
[ "$(size_of "$dlg")" = 723x352 ] || fail "settings dialog is $(size_of "$dlg")"
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
gone() { ! kill -0 "$tpid" 2>/dev/null; }
quit_from_tray_menu "$cx" "$cy" '\("tefsync" "tefsync"\)' gone || true
gone || fail "still running after Sair do sistema"
wait "$tpid" || fail "exit status $?"
echo "ok"
