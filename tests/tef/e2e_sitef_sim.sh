#!/usr/bin/env bash
# The sitef-sim program in real time: answers requests dropped into REQ\, keeps its journal
# on disk, refuses a bad script, and ends cleanly on SIGTERM and SIGINT.
#   e2e_sitef_sim.sh <sitef-sim>
set -euo pipefail

sim=$1
dir=$(mktemp -d /tmp/sitef_sim_e2e.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$dir/err.txt" >&2 2>/dev/null || true
  exit 1
}

wait_for() {  # file, tenths of a second
  local i
  for ((i = 0; i < $2; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# A bad script is refused with a message naming the line.
printf 'CRT approve\nCRT explode\n' >"$dir/bad.txt"
mkdir -p "$dir/c"
if "$sim" "$dir/c" "$dir/bad.txt" 2>"$dir/err.txt"; then fail "bad script accepted"; fi
grep -q "line 2" "$dir/err.txt" || fail "error does not name the line"

for sig in TERM INT; do
  rm -rf "$dir/c" && mkdir -p "$dir/c"
  printf 'CRT approve receipt=1 msg="Aprovação"\nCNF ackonly\n' >"$dir/script.txt"
  "$sim" "$dir/c" "$dir/script.txt" "$dir/journal.$sig" >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  wait_for "$dir/c/Client/REQ" 50 || fail "REQ folder not created"
  printf '000-000 = CRT\r\n001-000 = 120000\r\n003-000 = 100\r\n999-999 = 0\r\n' >"$dir/c/Client/r.tmp"
  mv "$dir/c/Client/r.tmp" "$dir/c/Client/REQ/INTPOS.001"
  wait_for "$dir/c/Client/RESP/INTPOS.001" 50 || fail "no answer"
  grep -q "001-000 = 120000" "$dir/c/Client/RESP/INTPOS.STS" || fail "acknowledgment"
  grep -q "009-000 = 0" "$dir/c/Client/RESP/INTPOS.001" || fail "not approved"
  grep -q $'030-000 = Aprova\xe7\xe3o\r' "$dir/c/Client/RESP/INTPOS.001" || fail "message not in Windows-1252"
  [ ! -e "$dir/c/Client/REQ/INTPOS.001" ] || fail "request not taken"
  grep -q $'^TXN\t100001\t120000\tCRT\t100\t1$' "$dir/journal.$sig" || fail "journal"
  kill -"$sig" "$pid"
  status=0
  wait "$pid" || status=$?
  pid=""
  [ "$status" -eq 0 ] || fail "exit status $status after SIG$sig"
done
echo "sitef-sim e2e: ok"
