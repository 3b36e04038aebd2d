#!/usr/bin/env bash
# The guardian program in real time, headless, with a synchronizer beside it.
#   e2e_procguard.sh <procguard> <synchronizer executable> <scenario>
# scenarios:
#   inicio    starts the synchronizer, which answers the test file; SIGTERM ends both
#   presente  a synchronizer already running is not started again; SIGINT ends both
#   travado   a stopped (SIGSTOP) synchronizer is restarted at the first check (~111 s)
#   morto     a killed synchronizer is restarted at the first check, no zombie is left
#   desligado a hang-up (SIGHUP) ends the guardian with its shutdown step: both end
#   dois      guardians of one folder: the others wait and one whose end ends nothing; no
#             restart record while the synchronizer answers (the first check, ~111 s); the
#             first ends and the second takes over, starting its own synchronizer
set -euo pipefail

guardian=$1
sync_src=$2
scenario=$3

dir=$(mktemp -d /tmp/procguard_e2e.XXXXXX)
name="sinc-$(basename "$dir" | cut -d. -f2)"
gpid=""
others=()  # further guardians of the same folder

fail() {
  echo "FAIL ($scenario): $*" >&2
  local f
  for f in "$dir"/out*.txt "$dir"/err*.txt; do
    echo "--- $(basename "$f")" >&2; cat "$f" >&2 || true
  done
  exit 1
}

# Live processes running our copy of the synchronizer.
sync_pids() {
  local link p
  for link in $(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dir/$name" 2>/dev/null); do
    p=${link%/exe}
    [ "$(sed 's/.*) //' "$p/stat" 2>/dev/null | cut -d' ' -f1)" = Z ] || echo "${p#/proc/}"
  done
}

zombie_children() {
  cat /proc/[0-9]*/stat 2>/dev/null |
    awk -v g="$gpid" '{ sub(/.*\) /, ""); if ($2 == g && $1 == "Z") n++ } END { print n + 0 }'
}

wait_for() {  # seconds, command...
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.5
  done
}

cleanup() {
  for p in $gpid "${others[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  for p in $(sync_pids); do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

cp "$guardian" "$dir/procguard"
cp "$sync_src" "$dir/$name"
printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$name" >"$dir/ConfigGuardian.ini"
export TEFSYNC_DRIVE_C="$dir/drive_c"
mkdir -p "$TEFSYNC_DRIVE_C"
unset DISPLAY WAYLAND_DISPLAY

one_sync() { [ "$(sync_pids | wc -l)" -eq 1 ]; }
no_sync() { [ -z "$(sync_pids)" ]; }
answered() { [ -f "$dir/ping/resp-ping.txt" ] && [ ! -f "$dir/ping/test-ping.txt" ]; }
restarted() { ls "$dir"/ping/Restart_em_*.txt >/dev/null 2>&1; }

start_guardian() {
  (cd / && exec "$dir/procguard" >"$dir/out.txt" 2>"$dir/err.txt") &
  gpid=$!
}

stop_guardian() {  # signal
  end_guardian "$1" "$gpid"
  gpid=""
  wait_for 5 no_sync || fail "synchronizer outlived the guardian"
}

end_guardian() {  # signal, pid
  kill "-$1" "$2"
  gone() { ! kill -0 "$1" 2>/dev/null; }
  wait_for 10 gone "$2" || fail "guardian $2 still running after SIG$1"
  local rc=0
  wait "$2" || rc=$?
  [ "$rc" -eq 0 ] || fail "guardian $2 exit status $rc"
}

# Another guardian of the same folder; its output goes to out-TAG.txt and err-TAG.txt.
start_other() {  # tag
  (cd / && exec "$dir/procguard" >"$dir/out-$1.txt" 2>"$dir/err-$1.txt") &
  others+=($!)
}
waiting() { grep -q '^Aguardando outro guardian desta pasta' "$dir/out-$1.txt"; }

case "$scenario" in
  inicio)
    start_guardian
    wait_for 5 one_sync || fail "synchronizer not started"
    # The synchronizer looks for the test file every 20 s or so.
    wait_for 45 answered || fail "heartbeat not answered"
    one_sync || fail "more than one synchronizer"
    stop_guardian TERM
    ;;
  desligado)
    start_guardian
    wait_for 5 one_sync || fail "synchronizer not started"
    stop_guardian HUP
    ;;
  presente)
    (cd / && exec setsid "$dir/$name" </dev/null >/dev/null 2>&1) &
    disown $!
    wait_for 5 one_sync || fail "synchronizer not started by hand"
    before=$(sync_pids)
    start_guardian
    sleep 4
    [ "$(sync_pids)" = "$before" ] || fail "a second synchronizer was started"
    stop_guardian INT
    ;;
  travado | morto)
    start_guardian
    wait_for 5 one_sync || fail "synchronizer not started"
    first=$(sync_pids)
    if [ "$scenario" = travado ]; then kill -STOP "$first"; else kill -KILL "$first"; fi
    wait_for 140 restarted || fail "no restart record"
    wait_for 5 one_sync || fail "synchronizer not started again"
    [ "$(sync_pids)" != "$first" ] || fail "the old synchronizer still runs"
    [ "$(zombie_children)" -eq 0 ] || fail "zombie left"
    # The synchronizer shares the guardian's standard output.
    line=$(grep -a '^Restart em [0-9][0-9]/[0-9][0-9]/[0-9]\{4\} - [0-9:]\{8\}$' "$dir/out.txt") ||
      fail "restart record not printed"
    record=$(ls "$dir"/ping/Restart_em_*.txt)
    [ "$(cat "$record")" = "$line"$'\r' ] || fail "record content"
    stop_guardian TERM
    ;;
  dois)
    start_guardian
    wait_for 5 one_sync || fail "synchronizer not started"
    first=$(sync_pids)
    start_other 2
    start_other 3
    wait_for 10 waiting 2 || fail "the second guardian does not wait"
    wait_for 10 waiting 3 || fail "the third guardian does not wait"
    # A waiting guardian that ends leaves the synchronizer of the one that guards.
    end_guardian TERM "${others[1]}"
    [ "$(sync_pids)" = "$first" ] || fail "a waiting guardian's end touched the synchronizer"
    # The first guardian's check, about 111 s after its start, finds the answer and deletes it.
    # A second guardian at work would check a few seconds later, find none and restart.
    wait_for 45 answered || fail "heartbeat not answered"
    checked() { [ ! -f "$dir/ping/resp-ping.txt" ]; }
    wait_for 130 checked || fail "no check by the first guardian"
    [ "$(sync_pids)" = "$first" ] || fail "the synchronizer was restarted"
    # The first ends (its user logs off) and ends its synchronizer; within 5 s the second
    # takes over as if just started: it starts the synchronizer and runs the heartbeat.
    stop_guardian TERM
    gpid=${others[0]}
    new_sync() { one_sync && [ "$(sync_pids)" != "$first" ]; }
    wait_for 10 new_sync || fail "the second guardian did not start the synchronizer"
    grep -q '^Trava obtida: ' "$dir/out-2.txt" || fail "the second guardian did not say it took over"
    wait_for 45 answered || fail "the second guardian's heartbeat not answered"
    ! restarted || fail "a restart record while the synchronizer answered: $(ls "$dir/ping")"
    stop_guardian TERM
    ;;
  *)
    fail "unknown scenario"
    ;;
esac
echo "ok ($scenario)"
