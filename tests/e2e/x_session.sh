# shellcheck shell=bash
# Sourced by the tests that run a window shell in a real X session (Xvfb) with a tray host
# (trayer): entering the session, waiting, window titles and sizes, tray icons and the tray
# menu, the access code of the day. The caller defines fail (message) and the array pids.

# Runs the calling script again inside a new X server, once xvfb-run and every tool named are
# there; exits 77 (skipped) otherwise. The script starts with
#   if [ "${1:-}" != --inside ]; then x_session_enter "tools" "$0" "$@"; fi; shift
x_session_enter() {  # "tools", script, arguments...
  local tool
  for tool in xvfb-run $1; do
    command -v "$tool" >/dev/null || {
      echo "skipped: $tool missing"
      exit 77
    }
  done
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$2" --inside "${@:3}"
}

wait_for() {  # seconds, command...
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.3
  done
}

# The tray host along the top edge; it goes with the other pids at the end.
start_tray_host() {
  trayer --edge top --align right --widthtype request --height 32 --transparent false &
  pids+=($!)
  disown $!
  sleep 1
}

# A window's title as the window manager and the task bar read it.
net_wm_name() {
  LC_ALL=C.UTF-8 xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'
}
title_is() {  # window, expected title
  local got
  got=$(net_wm_name "$1")
  [ "$got" = "$2" ] || fail "title \"$got\", expected \"$2\""
}
size_of() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

# The centre "x y" of the window on a line of `xwininfo -tree` (... WxH+x+y  +X+Y).
tree_line_centre() {
  sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/' |
    awk '{print $3 + int($1 / 2), $4 + int($2 / 2)}'
}

# The access code of the day as the operator types it (this is not the test computer).
code_of_the_day() {
  local d m a
  if [ "$(hostname | cut -d. -f1 | tr a-z A-Z)" = QUADRIX ]; then
    echo 9073
    return
  fi
  d=$(date +%d) m=$(date +%m) a=$(date +%y)
  printf '%s%02d%s%02d%s\n' "$d" $(((10#$d + 10#$m) % 100)) "$m" $(((10#$d + 10#$m + 10#$a) % 100)) "$a"
}

# "x y w h" of the open tray menu: a window of the program (its xwininfo name and class as a
# sed -E pattern) the size of a menu.
tray_menu_geometry() {  # pattern
  xwininfo -root -tree | sed -nE \
    "s/.*$1 +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/p" |
    awk '$3 > 60 && $4 > 30 && $4 < 200 { print; found = 1; exit } END { exit !found }'
}

# Opens the tray menu at the icon and clicks its last item ("Sair do sistema"), until the
# given command holds (the program ended); false when three tries did not end it.
quit_from_tray_menu() {  # icon x, icon y, menu window pattern, ended command...
  local cx=$1 cy=$2 pattern=$3 attempt mx my mw mh
  shift 3
  # X events race with a menu still being laid out: the whole gesture may be tried again.
  for attempt in 1 2 3; do
    xdotool mousemove "$cx" "$cy" click 3
    wait_for 5 tray_menu_geometry "$pattern" >/dev/null || fail "tray menu did not open"
    sleep 0.5
    read -r mx my mw mh < <(tray_menu_geometry "$pattern")
    echo "menu at ${mx},${my} ${mw}x${mh}"
    xdotool mousemove $((mx + mw / 2)) $((my + mh - 10))
    sleep 0.3
    xdotool click 1
    if wait_for 5 "$@"; then return 0; fi
    echo "attempt $attempt: menu click not taken"
    xdotool key Escape
  done
  return 1
}
