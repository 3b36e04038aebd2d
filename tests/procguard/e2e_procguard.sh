#!/usr/bin/env bash
# The guardian program in real time, headless, with a synchronizer beside it.
#   e2e_procguard.sh <procguard> <synchronizer executable> <scenario>
# scenarios:
#   inicio    starts the synchronizer, which answers the test file; SIGTERM ends both
#   presente  a synchronizer already running is not started again; SIGINT ends both
#   travado   a stopped (SIGSTOP) synchronizer is restarted at the first check (~111 s)
#   morto     a killed synchronizer is restarted at the first check, no zombie is left
#   desligado a hang-up (SIGHUP) ends the guardian with its shutdown step: both end
set -euo pipefail

guardian=$1
sync_src=$2
scenario=$3

dir=$(mktemp -d /tmp/procguard_e2e.XXXXXX)
name="sinc-$(basename "$dir" | cut -d. -f2)"
gpid=""

fail() {
  echo "FAIL ($scenario): $*" >&2
  echo "--- guardian stdout" >&2; cat "$dir/out.txt" >&2 || true
  echo "--- guardian stderr" >&2; cat "$dir/err.txt" >&2 || true
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
  if [ -n "$gpid" ]; then kill -KILL "$gpid" 2>/dev/null || true; fi
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
guardian_gone() { ! kill -0 "$gpid" 2>/dev/null; }

start_guardian() {
  (cd / && exec "$dir/procguard" >"$dir/out.txt" 2>"$dir/err.txt") &
  gpid=$!
}

stop_guardian() {  # signal
  kill "-$1" "$gpid"
  wait_for 10 guardian_gone || fail "guardian still running after SIG$1"
  local rc=0
  wait "$gpid" || rc=$?
  [ "$rc" -eq 0 ] || fail "guardian exit status $rc"
  gpid=""
  wait_for 5 no_sync || fail "synchronizer outlived the guardian"
}

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
  *)
    fail "unknown scenario"
    ;;
esac
echo "ok ($scenario)"
