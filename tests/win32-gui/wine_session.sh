#!/usr/bin/env bash
# tefsync.exe and procguard.exe under Wine in a real X session (Xvfb) with a tray host
# (trayer), in a private Wine prefix: each icon appears in the tray with its window hidden;
# a double click shows the main window titled as the program says; the access code of the
# day opens the settings dialog, which saves a file the service then reads (its next poll
# goes to the new address); "Fecha sincronizador" ends tefsync; the guardian starts tefsync,
# shows its window from the tray, and "Encerrar sincronizador" ends both. Screenshots of the
# main window, the settings dialog and the guardian's window go to the given folder.
#   wine_session.sh <tefsync.exe> <procguard.exe> <screenshot folder>
# Exits 77 (skipped) when Wine, Xvfb, trayer, xdotool, xwininfo, xprop or import is missing.
set -euo pipefail
# shellcheck source=tests/e2e/x_session.sh
. "$(dirname "$0")/../e2e/x_session.sh"

if [ "${1:-}" != --inside ]; then x_session_enter "trayer xdotool xwininfo xprop import" "$0" "$@"; fi
shift
tefsync_exe=$1
procguard_exe=$2
shots=$3
mkdir -p "$shots"

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "skipped: wine missing"; exit 77; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

dir=$(mktemp -d /tmp/tefsync_wine.XXXXXX)
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  # The server's socket is named after the prefix folder's inode: let it go before the
  # folder (and so its inode) is given up.
  timeout 30 "$wineserver" -w 2>/dev/null || true
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- windows" >&2
  xwininfo -root -tree | grep -v '1x1+' | head -n 40 >&2 || true
  for f in "$dir"/*.txt; do
    echo "--- $f" >&2
    cat "$f" >&2 || true
  done
  exit 1
}
# Bound for anything the programs do on a click or a timer: generous, since Wine beside other
# builds and tests on a small machine can take many seconds for what takes one when idle.
ui=60

start_tray_host
# Wine's explorer docks its tray icons in the tray host only when the host was there first.
"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot"
timeout 60 "$wineserver" -w || true
shop="$WINEPREFIX/drive_c/tefsync"
mkdir -p "$shop"
cp "$tefsync_exe" "$shop/tefsync.exe"
cp "$procguard_exe" "$shop/procguard.exe"
# A cloud address that refuses at once: each poll logs its failure with the address.
printf '[CONF]\r\nTOKEN_VELANTRA=demo\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\nIdCaixa=0\r\nURLBASE=http://127.0.0.1:9/api/\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=2\r\n' \
  >"$shop/configAPI_TEF.ini"
printf '[CONFIG]\r\nnomeEXE=tefsync.exe\r\n' >"$shop/ConfigGuardian.ini"

# The tray icons are windows of Wine's explorer docked in the panel.
panel() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}'; }
icons() { xwininfo -tree -id "$(panel)" | grep '("explorer.exe" "explorer.exe")' || true; }
icon_count() { icons | grep -c . || true; }
has_icons() { [ "$(icon_count)" -ge "$1" ]; }
# Centre of the n-th icon, in root coordinates.
icon_centre() {
  icons | sed -n "${1}p" | tree_line_centre
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
shown() { [ -n "$(visible "$1")" ]; }
double_click() {  # x y
  xdotool mousemove "$1" "$2" click --repeat 2 --delay 80 1
}
# Clicks at x y inside the window, once the pointer is over that window itself: a window shown
# late may cover it (there is no window manager to keep the one asked for on top).
pointer_over() {  # window, x, y
  xdotool windowraise "$1" mousemove --window "$1" "$2" "$3"
  [ "$(xdotool getmouselocation --shell | sed -n 's/^WINDOW=//p')" = "$1" ]
}
click_in() {  # window, x, y
  wait_for $ui pointer_over "$@" || fail "window $1 stays covered at $2,$3"
  xdotool click 1
}

# ---- tefsync alone ----
(cd "$shop" && exec "$wine" tefsync.exe >"$dir/tefsync-out.txt" 2>"$dir/tefsync-err.txt") &
tpid=$!
pids+=("$tpid")
wait_for $ui has_icons 1 || fail "no tray icon for tefsync"
main_title='API de Integracao TEF x Velantra - Versão 2021.801'
! shown "^API de Integracao" || fail "main window shown at start"
logged() { grep -q '| Get status erro 2 |.*port 9' "$dir/tefsync-out.txt"; }
wait_for $ui logged || fail "no event-log row on standard output"

read -r cx cy < <(icon_centre 1)
double_click "$cx" "$cy"
wait_for $ui shown "^API de Integracao" || fail "a double click did not show the main window"
win=$(visible "^API de Integracao")
title_is "$win" "$main_title"
[ "$(size_of "$win")" = 692x571 ] || fail "main window is $(size_of "$win")"
sleep 1
import -window "$win" "$shots/tefsync-main-windows.png" || fail "screenshot of the main window"

code=$(code_of_the_day)

# btnConfig is the second button of the top row.
click_in "$win" 74 28
wait_for $ui shown '^Senha do dia$' || fail "btnConfig did not ask for the access code"
box=$(visible '^Senha do dia$')
title_is "$box" "Senha do dia"
sleep 0.5
xdotool type --delay 40 "$code"
xdotool key Return

wait_for $ui shown '^Configura' || fail "the access code did not open the settings dialog"
dlg=$(visible '^Configura')
title_is "$dlg" "Configuração de dados para  integração"
[ "$(size_of "$dlg")" = 723x352 ] || fail "settings dialog is $(size_of "$dlg")"
sleep 1
import -window "$dlg" "$shots/tefsync-settings-windows.png" || fail "screenshot of the settings dialog"
# URL Base: a new port; then "Salvar" (the second button at the top).
click_in "$dlg" 300 224
sleep 0.3
xdotool key End shift+Home
xdotool type --delay 20 'http://127.0.0.1:7/api/'
click_in "$dlg" 72 28
wait_for $ui bash -c "! xdotool search --onlyvisible --name '^Configura' >/dev/null" ||
  fail "Salvar did not close the dialog"
grep -q 'URLBASE=http://127.0.0.1:7/api/' "$shop/configAPI_TEF.ini" || fail "the file was not saved"
grep -q 'timerApi=2' "$shop/configAPI_TEF.ini" || fail "the other keys were not kept"
polled_new() { grep -q '| Get status erro 2 |.*port 7' "$dir/tefsync-out.txt"; }
wait_for $ui polled_new || fail "the service did not read the saved address"

# "Fecha sincronizador" (the first button) ends the program.
click_in "$win" 28 28
wait_for $ui bash -c "! kill -0 $tpid 2>/dev/null" || fail "btnClose did not end tefsync"

# ---- the guardian starts tefsync ----
(cd "$shop" && exec "$wine" procguard.exe >"$dir/procguard-out.txt" 2>"$dir/procguard-err.txt") &
gpid=$!
pids+=("$gpid")
wait_for $ui has_icons 2 || fail "not two tray icons (guardian and tefsync)"
! shown '^Guardian de Processos$' || fail "guardian window shown at start"
# Which icon is the guardian's: a double click shows its window, or tefsync's main window for
# tefsync's icon. Each double click is followed to its window before the next, so that a
# window shown late is not taken for the answer to the other icon.
either='^(Guardian de Processos|API de Integracao)'
tefsync_icon=
for _ in 1 2 3; do
  for n in 1 2; do
    [ "$n" != "$tefsync_icon" ] || continue
    awaited=$either
    if shown "^API de Integracao"; then awaited='^Guardian de Processos$'; fi
    read -r cx cy < <(icon_centre "$n")
    double_click "$cx" "$cy"
    wait_for $ui shown "$awaited" || continue
    if shown '^Guardian de Processos$'; then break 2; fi
    tefsync_icon=$n
  done
done
shown '^Guardian de Processos$' || fail "a double click did not show the guardian's window"
gwin=$(visible '^Guardian de Processos$')
title_is "$gwin" "Guardian de Processos"
sleep 1
import -window "$gwin" "$shots/procguard-windows.png" || fail "screenshot of the guardian"
# "Encerrar sincronizador tefsync.exe" (the second button) ends both programs.
read -r gw gh < <(size_of "$gwin" | tr x ' ')
click_in "$gwin" $((gw / 2)) 112
wait_for $ui bash -c "! kill -0 $gpid 2>/dev/null" || fail "the guardian did not end"
# Nothing of Wine is left running once both have ended.
timeout 60 "$wineserver" -w || fail "tefsync (or another Wine process) outlived the guardian"
echo "ok: tray icons, hidden start, titles, access code, settings saved and read, both ended"
