#!/usr/bin/env bash
# The Windows programs under Wine, in real time, against the Linux stand-ins on loopback.
#   wine_test.sh <linux bin folder> <windows bin folder> <part>
# Parts:
#   winhttp   the WinHTTP client against cloud-mock over HTTP and HTTPS (the test CA put
#             into the prefix's root store; a certificate from another CA or for another
#             name is refused)
#   sale      headless tefsync.exe with sitef-sim on the prefix's drive_c: a confirmed
#             two-payment sale (statuses 1 3 5 8, exact request bytes)
#   powercut  tefsync.exe killed in the decision wait; after the restart the sale waits for
#             the cloud's decision and ends as decided before the next request is sold
#   verylate  a late approval found by the next sale is undone right after that sale ends
#   twocopies a second tefsync.exe started while the first waits for the decision ends at
#             once with its reason and changes nothing
#   guardian  procguard.exe starts tefsync.exe and starts it again after it was ended
#   guardians two procguard.exe in one folder, procguard-testee.exe as the synchronizer: the
#             second waits, no restart record while the synchronizer answers (the first
#             check, ~111 s); the first and its synchronizer end and the second takes over
#   ctrlc     Ctrl+C on the console of the headless tefsync.exe ends it as "Sair do sistema"
#             does (exit status 0)
# WINEPREFIX names the prefix (made when missing); a wineserver is kept running for it.
set -euo pipefail
LINUX_BIN=$(cd "$1" && pwd)
WIN_BIN=$(cd "$2" && pwd)
part=$3
WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-tefsync-tests}
SHOP_EXE=tefsync.exe
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"
BIN=$LINUX_BIN

# Folders of this run inside the prefix: the shop at C:\loja-N\, the manager on C:\CLIENT.
wine_setup() {
  wine_shop
  rm -rf "$DRIVE_C/CLIENT" "$DRIVE_C/Client"
  mkdir -p "$DRIVE_C/CLIENT/REQ" "$DRIVE_C/CLIENT/RESP"
  cp "$WIN_BIN/tefsync.exe" "$WIN_BIN/procguard.exe" "$SHOP/shop/"
}

# The shop's folder alone, for a part that needs no manager: it leaves C:\CLIENT to a part
# that runs beside it in the same prefix.
wine_shop() {
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true  # makes the prefix when missing
  DRIVE_C="$WINEPREFIX/drive_c"
  SHOP="$DRIVE_C/loja-$$"
  trap wine_cleanup EXIT
  mkdir -p "$SHOP/shop"
}

wine_cleanup() {
  local p
  for p in "${SHOP_PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  # Windows processes of this prefix that outlived the test (tefsync.exe after a guardian).
  for p in $(pgrep -f "loja-$$" 2>/dev/null); do kill -KILL "$p" 2>/dev/null || true; done
  [ -n "${SHOP_KEEP:-}" ] || rm -rf "${SHOP:-/nonexistent}"
}

start_tefsync() {
  (cd "$SHOP/shop" && TEFSYNC_HEADLESS=1 exec "$WINE" "$SHOP/shop/tefsync.exe" >>"$SHOP/tefsync.txt" 2>&1) &
  TEFSYNC_PID=$!
  SHOP_PIDS+=($TEFSYNC_PID)
}

req_raw() { shop_journal REQ | awk -F'\t' -v op="$1" -v n="${2:-1}" '$2 == op && ++k == n { print $6 }'; }
text_field() {
  printf '%s' "$1" | awk -v c="$2 = " 'BEGIN { RS = "\\\\r\\\\n" } index($0, c) == 1 { print substr($0, length(c) + 1); exit }'
}
ops() { shop_journal REQ | cut -f2 | xargs; }

case $part in
winhttp)
  wine_setup
  d="$SHOP/tls"
  mkdir -p "$d"
  key="-newkey rsa:2048 -nodes"  # Wine takes EC P-256 keys as well
  for ca in ca other-ca; do
    openssl req -x509 $key -keyout "$d/$ca.key" -out "$d/$ca.pem" -days 2 -subj "/CN=tefsync-$ca" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
  done
  cert() {  # name, CA, subjectAltName
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" >"$d/$1.ext"
    openssl req $key -keyout "$d/$1.key" -out "$d/$1.csr" -subj "/CN=$1" 2>/dev/null
    openssl x509 -req -in "$d/$1.csr" -CA "$d/$2.pem" -CAkey "$d/$2.key" -CAcreateserial -days 2 \
      -out "$d/$1.pem" -extfile "$d/$1.ext" 2>/dev/null
  }
  cert loopback ca "IP:127.0.0.1,DNS:localhost"
  cert elsewhere ca "DNS:cloud.elsewhere.example"
  cert untrusted other-ca "IP:127.0.0.1,DNS:localhost"
  "$WINE" "$WIN_BIN/add-root-ca.exe" "$d/ca.pem" || shop_fail "the test CA could not be added"
  # Started in this shell, not in $(...), so the clean-up knows every stand-in's process.
  mock() {  # variable, name, extra arguments
    "$BIN/cloud-mock" "${@:3}" >"$SHOP/mock-$2.txt" 2>&1 &
    SHOP_PIDS+=($!)
    disown
    shop_wait "cloud-mock $2" 10 grep -q "listening on" "$SHOP/mock-$2.txt"
    # HTTPS goes to localhost by name, as a shop reaches its cloud: Wine 8's name check reads
    # only a certificate's DNS names, so https://127.0.0.1 is refused even with IP:127.0.0.1.
    export "$1=$(sed -n 's/^cloud-mock listening on //p' "$SHOP/mock-$2.txt" |
      sed -E -e 's#^(https?://[^/]+)/.*#\1#' -e 's#^https://127\.0\.0\.1:#https://localhost:#')"
  }
  mock TEFSYNC_TEST_HTTP http
  mock TEFSYNC_TEST_HTTPS https --cert "$d/loopback.pem" --key "$d/loopback.key"
  mock TEFSYNC_TEST_HTTPS_OTHER_HOST other --cert "$d/elsewhere.pem" --key "$d/elsewhere.key"
  mock TEFSYNC_TEST_HTTPS_UNTRUSTED untrusted --cert "$d/untrusted.pem" --key "$d/untrusted.key"
  case $TEFSYNC_TEST_HTTPS in https://localhost:*) ;; *) shop_fail "no HTTPS stand-in: $TEFSYNC_TEST_HTTPS" ;; esac
  "$WINE" "$WIN_BIN/winhttp_tests.exe" || shop_fail "winhttp_tests.exe failed"
  ;;
sale)
  wine_setup
  shop_start_stand_ins "$DRIVE_C" 'CRT approve receipt=3 msg="Transação aprovada"
CRT approve receipt=2'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90","requisicao_2":"CRT","valor_2":"4,10"')
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  start_tefsync
  shop_wait "status 8" 120 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  crt=$(req_raw CRT)
  crt_id=$(text_field "$crt" 001-000)
  shop_expect_eq "first CRT request" \
    "000-000 = CRT\r\n001-000 = $crt_id\r\n002-000 = 1057\r\n003-000 = 2590\r\n565-008 = 1=12.345.678/0001-90;2=52718094000236\r\n999-999 = 0\r\n" \
    "$crt"
  [ "$(shop_nsus | wc -l)" = 2 ] || shop_fail "expected two approved payments: $(shop_nsus | xargs)"
  for nsu in $(shop_nsus); do shop_expect_eq "payment $nsu" confirmed "$(shop_txn_state "$nsu")"; done
  ;;
powercut)
  wine_setup
  shop_start_stand_ins "$DRIVE_C" 'CRT approve
CRT approve'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"12.00"')
  start_tefsync
  shop_wait "status 5" 120 shop_status_is "$id" 5
  sleep 2
  kill -KILL "$TEFSYNC_PID"
  "$WINESERVER" -k 2>/dev/null || true  # every Windows process of the prefix: the power is gone
  nsu=$(shop_nsus)
  shop_expect_eq "cut in the decision wait" pending "$(shop_txn_state "$nsu")"
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3.00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  start_tefsync
  # The restart asks the cloud first: the sale it saw at 5 waits for its decision.
  shop_wait "the cut request resumed" 120 grep -qF "| Retomada TEF | Pedido $id aguardando" "$SHOP/tefsync.txt"
  sleep 6
  shop_expect_eq "the cut sale before the decision" pending "$(shop_txn_state "$nsu")"
  shop_expect_eq "sales before the decision" 1 "$(shop_journal REQ | awk -F'\t' '$2 == "CRT"' | wc -l)"
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  shop_wait "status 8 of the cut request" 120 shop_status_is "$id" 8
  shop_wait "status 8 of the next request" 180 shop_status_is "$id2" 8
  shop_expect_eq "the cut sale" confirmed "$(shop_txn_state "$nsu")"
  shop_expect_eq "cut request statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  ;;
verylate)
  # The first sale's approval comes while the second sale waits for its own answer: it is
  # undone within seconds of the second sale's status 8, with no new request offered.
  wine_setup
  shop_start_stand_ins "$DRIVE_C" 'CRT late delay=28000
CRT approve delay=20000'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  start_tefsync
  shop_wait "status 4 of the sale given up" 120 shop_status_is "$id" 4
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3.00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  shop_wait "status 8 of the second sale" 150 shop_status_is "$id2" 8
  late=$(shop_nsus | head -1)
  undone() { [ "$(shop_txn_state "$late")" = undone ]; }
  shop_wait "the late approval undone after the second sale" 10 undone
  shop_expect_eq "the second sale" confirmed "$(shop_txn_state "$(shop_nsus | sed -n 2p)")"
  ;;
twocopies)
  # A second tefsync.exe from another folder while the first waits for the decision.
  wine_setup
  shop_start_stand_ins "$DRIVE_C" 'CRT approve'
  shop_settings 2
  mkdir -p "$SHOP/shop2"
  cp "$SHOP/shop/tefsync.exe" "$SHOP/shop/configAPI_TEF.ini" "$SHOP/shop2/"
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"12.00"')
  start_tefsync
  shop_wait "status 5" 120 shop_status_is "$id" 5
  rc=0
  (cd "$SHOP/shop2" && TEFSYNC_HEADLESS=1 timeout 60 "$WINE" "$SHOP/shop2/tefsync.exe" \
    >"$SHOP/second.txt" 2>"$SHOP/second-err.txt") || rc=$?
  shop_expect_second_copy_refused "$rc" "$SHOP/second.txt" "$SHOP/second-err.txt"
  kill -0 "$TEFSYNC_PID" 2>/dev/null || shop_fail "the first copy ended"
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  shop_wait "status 8" 120 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  shop_expect_eq "the sale" confirmed "$(shop_txn_state "$(shop_nsus)")"
  ;;
guardian)
  wine_setup
  shop_start_stand_ins "$DRIVE_C" ''
  shop_settings 2
  printf '[CONFIG]\r\nnomeEXE=tefsync.exe\r\n' >"$SHOP/shop/ConfigGuardian.ini"
  (cd "$SHOP/shop" && TEFSYNC_HEADLESS=1 exec "$WINE" "$SHOP/shop/procguard.exe" >"$SHOP/guard.txt" 2>&1) &
  SHOP_PIDS+=($!)
  disown
  ours="loja-$$.shop.tefsync\.exe"  # only this shop's synchronizer
  shop_wait "tefsync.exe to answer the heartbeat" 120 test -s "$SHOP/shop/ping/resp-ping.txt"
  [ -n "$(pgrep -f "$ours")" ] || shop_fail "no tefsync.exe running"
  kill -KILL $(pgrep -f "$ours")
  # The guardian tests every 60 s and looks for the answer 90 s later: up to two rounds.
  shop_wait "procguard.exe to start tefsync.exe again" 330 grep -q "Restart em" "$SHOP/guard.txt"
  shop_wait "the new tefsync.exe" 60 pgrep -f "$ours"
  ls "$SHOP/shop/ping/" | grep -q '^Restart_em_' || shop_fail "no restart record"
  ;;
guardians)
  wine_shop
  # A name of its own: the guardian part may run beside this one in the same prefix.
  sync=sinc-guardioes.exe
  cp "$WIN_BIN/procguard.exe" "$SHOP/shop/"
  cp "$WIN_BIN/procguard-testee.exe" "$SHOP/shop/$sync"
  printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$sync" >"$SHOP/shop/ConfigGuardian.ini"
  guard() {  # output file; the Windows process's pid goes to SHOP_PIDS
    (cd "$SHOP/shop" && exec "$WINE" "$SHOP/shop/procguard.exe" >"$SHOP/$1" 2>&1) &
    SHOP_PIDS+=($!)
    disown
  }
  sync_pid() { pgrep -f "loja-$$.shop.$sync"; }
  starts() { wc -l <"$SHOP/shop/testee-starts.txt"; }
  answered() { [ -f "$SHOP/shop/ping/resp-ping.txt" ] && [ ! -f "$SHOP/shop/ping/test-ping.txt" ]; }
  restarted() { compgen -G "$SHOP/shop/ping/Restart_em_*" >/dev/null; }
  guard guard.txt
  first=${SHOP_PIDS[-1]}
  shop_wait "the synchronizer started by the first guardian" 60 sync_pid
  first_sync=$(sync_pid)
  guard guard-2.txt
  shop_wait "the second guardian to wait" 60 grep -q "^Aguardando outro guardian desta pasta" "$SHOP/guard-2.txt"
  shop_wait "the first heartbeat answer" 60 answered
  # The first guardian's check, about 111 s after its start, finds the answer and deletes it;
  # a second guardian at work would check a few seconds later, find none and restart.
  checked() { [ ! -f "$SHOP/shop/ping/resp-ping.txt" ]; }
  shop_wait "the first guardian's check" 150 checked
  shop_expect_eq "the synchronizer after the check" "$first_sync" "$(sync_pid)"
  # The first guardian's user logs off: the guardian and its synchronizer end, the system
  # frees the lock, and the second takes over and starts the synchronizer in its own session.
  kill -KILL "$first" "$first_sync"
  one_guardian() { [ "$(pgrep -fc "loja-$$.shop.procguard")" = 1 ]; }
  shop_wait "the first guardian to end" 10 one_guardian
  new_sync() { [ -n "$(sync_pid)" ] && [ "$(sync_pid)" != "$first_sync" ]; }
  shop_wait "the second guardian to start the synchronizer" 60 new_sync
  # Wine lists the process before its program has run: its start line may come later.
  two_starts() { [ "$(starts)" = 2 ]; }
  shop_wait "the synchronizer's second start line" 30 two_starts
  grep -q "^Trava obtida: " "$SHOP/guard-2.txt" || shop_fail "the second guardian did not say it took over"
  shop_wait "the second guardian's heartbeat answered" 60 answered
  if restarted; then shop_fail "a restart record while the synchronizer answered"; fi
  ;;
ctrlc)
  # Wine turns Ctrl+C into CTRL_C_EVENT only for a program on a console: tefsync.exe runs on
  # a terminal of its own (script), whose keyboard is a fifo. Wine's own default for the event
  # also ends the program with status 0, at once: what shows the program's own end is that the
  # status query in flight when the key comes is finished (timed out and logged) first, as
  # "Sair do sistema" leaves only between ticks. A closed console (CTRL_CLOSE_EVENT) cannot be
  # sent this way: on the hang-up Wine ends the program itself.
  wine_setup
  shop_start_stand_ins "$DRIVE_C" ''
  shop_settings 2
  mkfifo "$SHOP/keys"
  # script runs its command through $SHELL: the command execs Wine, or the key's SIGINT would
  # end that shell (dash) and the test would see its status instead of the program's.
  (cd "$SHOP/shop" && TEFSYNC_HEADLESS=1 SHELL=/bin/sh exec script -qfec \
    "exec '$WINE' '$SHOP/shop/tefsync.exe' >>'$SHOP/tefsync.txt' 2>&1" /dev/null \
    <"$SHOP/keys" >"$SHOP/console.txt" 2>&1) &
  TEFSYNC_PID=$!
  SHOP_PIDS+=($TEFSYNC_PID)
  exec 3<>"$SHOP/keys"  # read-write: opening never waits for the terminal to start
  mkdir -p "$SHOP/shop/ping"
  printf 'teste de sincronizador... \r\n' >"$SHOP/shop/ping/test-ping.txt"
  shop_wait "tefsync.exe to answer the heartbeat" 120 test -e "$SHOP/shop/ping/resp-ping.txt"
  gets() { shop_admin recorded | jq '[.[] | select(.method == "GET")] | length'; }
  # The next status query hangs for longer than the program waits for it (3 s).
  shop_admin fault '{"kind":"delay","endpoint":"get","count":1,"delay_ms":15000}' >/dev/null
  before=$(gets)
  more_gets() { [ "$(gets)" -gt "$before" ]; }
  shop_wait "the next status query" 30 more_gets
  printf '\003' >&3
  ended() { ! kill -0 "$TEFSYNC_PID" 2>/dev/null; }
  shop_wait "tefsync.exe to end after Ctrl+C" 20 ended
  rc=0
  wait "$TEFSYNC_PID" || rc=$?
  [ "$rc" = 0 ] || shop_fail "exit status $rc after Ctrl+C: $(tail -3 "$SHOP/tefsync.txt")"
  grep -q "| Get status erro 2 | .*timed out" "$SHOP/tefsync.txt" ||
    shop_fail "the status query in flight was cut by Ctrl+C: $(tail -3 "$SHOP/tefsync.txt")"
  [ -z "$(pgrep -f "loja-$$.shop.tefsync\.exe")" ] || shop_fail "tefsync.exe still runs after Ctrl+C"
  ;;
*)
  echo "unknown part $part" >&2
  exit 2
  ;;
esac
echo "wine $part: ok"
