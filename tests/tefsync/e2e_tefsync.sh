#!/usr/bin/env bash
# The headless tefsync program, the sitef-sim manager and cloud-mock carry a payment request
# end to end over loopback in real time: a status query that times out first, then the
# sale, the decision and the confirmation; the heartbeat; SIGHUP; SIGTERM.
#   e2e_tefsync.sh <tefsync> <sitef-sim> <cloud-mock>
set -euo pipefail

tefsync=$1
sim=$2
mock=$3
token="tok-E2E-SECRET-4711"
dir=$(mktemp -d /tmp/tefsync_e2e.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in out err mock sim; do
    echo "--- $f" >&2
    cat "$dir/$f.txt" >&2 2>/dev/null || true
  done
  exit 1
}
wait_for() {  # description, tenths of a second, command...
  local what=$1 n=$2 i
  shift 2
  for ((i = 0; i < n; i++)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}
admin() { curl -sf -X POST "http://127.0.0.1:$port/admin/$1" -d "$2"; }
cloud_status() { curl -sf "http://127.0.0.1:$port/admin/requests" -X POST -d '{}' | grep -q "\"status\":$1"; }

mkdir -p "$dir/exe" "$dir/c/Client/REQ" "$dir/c/Client/RESP" "$dir/c/drivezkt"
cp "$tefsync" "$dir/exe/tefsync"

"$mock" --token "$token" >"$dir/mock.txt" 2>&1 &
pids+=($!)
wait_for "cloud-mock" 50 grep -q "listening on" "$dir/mock.txt"
base=$(sed -n 's/^cloud-mock listening on //p' "$dir/mock.txt")
port=$(echo "$base" | sed -E 's#^http://127\.0\.0\.1:([0-9]+)/.*#\1#')

printf 'CRT approve receipt=2 msg="Transação aprovada"\n' >"$dir/script.txt"
"$sim" "$dir/c" "$dir/script.txt" "$dir/journal.txt" >"$dir/sim.txt" 2>&1 &
pids+=($!)

printf '[CONF]\r\nTOKEN_VELANTRA=%s\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\nIdCaixa=0\r\nURLBASE=%s\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=3\r\n' \
  "$token" "$base" >"$dir/exe/configAPI_TEF.ini"
mkdir -p "$dir/exe/ping"
printf 'teste de sincronizador... \r\n' >"$dir/exe/ping/test-ping.txt"

admin add '{"id":57,"user_id":1,"empresa_id":9,"numero":1057,"status":1,"requisicao_1":"CRT","valor_1":"25.90"}' >/dev/null
admin decision '{"id":57,"decision":7,"after":1}' >/dev/null
# The first status query gets no answer within its 3 s.
admin fault '{"kind":"delay","endpoint":"get","count":1,"delay_ms":4500}' >/dev/null

TEFSYNC_DRIVE_C="$dir/c" "$dir/exe/tefsync" >"$dir/out.txt" 2>"$dir/err.txt" &
tpid=$!
pids+=($tpid)

wait_for "the request to finish" 600 cloud_status 8
wait_for "the heartbeat answer" 300 test -e "$dir/exe/ping/resp-ping.txt"
[ ! -e "$dir/exe/ping/test-ping.txt" ] || fail "test file not deleted"

# The event log on standard output, in order (heartbeat lines aside).
cut -d'|' -f2- "$dir/out.txt" | grep -v "Resp-Ping.txt" | sed 's/^ //' >"$dir/ops.txt"
head -1 "$dir/ops.txt" | grep -q "^Get status erro 2 | .*[Tt]ime" || fail "time-out not logged first"
expected="Get status | Ok  200
Ativar TEF | 
Resposta TEF | Sincronizador Ok = Sts 1
Gerenciador ativo | Sts 3
Aguardar resposta TEF | 
Resposta TEF | Operacao realizada = Sts 5
Operacao TEF confirmada | Sts = 7
Resposta TEF | Operacao realizada = Sts 8"
[ "$(sed -n '2,9p' "$dir/ops.txt")" = "$expected" ] || fail "log lines"
grep -qE '^[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} \| Resp-Ping.txt \| $' "$dir/out.txt" ||
  fail "heartbeat log line"
grep -qP '^REQ\tCNF\t[^\t]*\t100001\tack(\t|$)' "$dir/journal.txt" || fail "no confirmation acknowledged"
grep -qP '^TXN\t100001\t[^\t]*\tCRT\t2590\t1$' "$dir/journal.txt" || fail "sale amount"
curl -sf "http://127.0.0.1:$port/admin/requests" -X POST -d '{}' | grep -q 'Transação aprovada' ||
  fail "texto_1 not carried to the cloud"
if grep -q "$token" "$dir/out.txt" "$dir/err.txt"; then fail "token on stdout or stderr"; fi

# SIGHUP re-reads the settings and keeps running; SIGTERM ends it.
kill -HUP "$tpid"
sleep 0.5
kill -0 "$tpid" 2>/dev/null || fail "SIGHUP ended the program"
kill -TERM "$tpid"
for ((i = 0; i < 50; i++)); do
  kill -0 "$tpid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$tpid" 2>/dev/null; then fail "SIGTERM did not end the program"; fi
wait "$tpid" || fail "exit status $?"

# A reader of standard output that goes away ends nothing: the lines are lost, the
# program goes on (a status query that fails at each poll logs a row every 2 s).
mkdir -p "$dir/exe2"
cp "$tefsync" "$dir/exe2/tefsync"
printf '[CONF]\r\nURLBASE=http://127.0.0.1:9/api/\r\ntimerApi=1\r\n' >"$dir/exe2/configAPI_TEF.ini"
mkfifo "$dir/fifo"
(exec 3<"$dir/fifo") & # opens the pipe and goes away at once
TEFSYNC_DRIVE_C="$dir/c" "$dir/exe2/tefsync" >"$dir/fifo" 2>"$dir/err2.txt" &
t2=$!
pids+=($t2)
sleep 5
kill -0 "$t2" 2>/dev/null || fail "a closed standard output ended the program"
kill -TERM "$t2"
wait "$t2" || fail "exit status $? after a closed standard output"
echo "ok"
