#!/usr/bin/env bash
# Whole-system tests of the synchronizer against a cloud whose reports fail and a computer
# clock set back, in real time with the real programs.
#   service_faults_test.sh <bin folder> <scenario>
#   reports  the status reports fail, the program ends in the decision wait and starts again:
#            the open request is resumed (status 5 sent again), never sold a second time, and
#            ends as the cloud decides before the next request is taken
#   clock    the clock set back an hour while idle and again in the decision wait: polls,
#            decision queries and the heartbeat keep their pace
set -euo pipefail
BIN=$1
scenario=$2
SHOP_EXE="tefsync-faults-$scenario-$$"
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

# Requests the cloud received of one kind: get, status, retorno or verifica.
received() {
  shop_admin recorded | jq --arg e "$1" '[.[] | select(if $e == "get" then .method == "GET"
    else (.method == "POST" and (.path | endswith("/" + $e))) end)] | length'
}
at_least() { [ "$(received "$1")" -ge "$2" ]; }
crt_sent() { shop_journal REQ | awk -F'\t' '$2 == "CRT"' | wc -l; }
logged() { grep -qF -- "$1" "$SHOP/guard.txt"; }

# The synchronizer alone, headless; its event log goes where the harness looks on failure.
start_tefsync() {  # environment assignments...
  env "$@" "$SHOP/shop/$SHOP_EXE" >>"$SHOP/guard.txt" 2>&1 &
  TEFSYNC_PID=$!
  SHOP_PIDS+=($TEFSYNC_PID)
}
stop_tefsync() {
  kill -TERM "$TEFSYNC_PID"
  wait "$TEFSYNC_PID" || shop_fail "exit status $? after SIGTERM"
}
answers_heartbeat() {  # seconds: a test file left now is answered within them
  rm -f "$SHOP/shop/ping/resp-ping.txt"
  printf 'teste de sincronizador... \r\n' >"$SHOP/shop/ping/test-ping.txt"
  shop_wait "the heartbeat answer ($2)" "$1" test -e "$SHOP/shop/ping/resp-ping.txt"
}

case $scenario in
reports)
  shop_setup 'CRT approve'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  # The cloud takes no report: statuses 1 and 3, then the result report of status 5.
  shop_admin fault '{"kind":"http500","endpoint":"status","count":2}' >/dev/null
  shop_admin fault '{"kind":"http500","endpoint":"retorno","count":1}' >/dev/null
  start_tefsync
  shop_wait "the sale's status 5" 60 logged "| Resposta TEF | Operacao realizada = Sts 5"
  shop_expect_eq "status at the cloud" 1 "$(shop_status "$id")"
  first_texts=$(shop_admin recorded | jq -r '[.[] | select(.path | endswith("/retorno"))][0].body')
  # The shop closes the program in the decision wait, and starts it again.
  stop_tefsync
  start_tefsync
  shop_wait "the request resumed" 30 logged "| Retomada TEF | Pedido $id aguardando a decisao da nuvem"
  shop_wait "status 5 at the cloud" 10 shop_status_is "$id" 5
  shop_expect_eq "the report sent again" "$first_texts" \
    "$(shop_admin recorded | jq -r '[.[] | select(.path | endswith("/retorno"))][1].body')"
  # Nothing else is taken while the cloud decides.
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3,00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  sleep 6
  shop_expect_eq "card sales" 1 "$(crt_sent)"
  first=$(shop_nsus)
  shop_expect_eq "first sale before the decision" pending "$(shop_txn_state "$first")"
  # The cloud undoes the first; then the next request is sold.
  shop_admin decision "{\"id\":$id,\"decision\":6}" >/dev/null
  shop_wait "the first request's status 8" 60 shop_status_is "$id" 8
  shop_wait "the next request's status 8" 90 shop_status_is "$id2" 8
  stop_tefsync
  shop_expect_eq "card sales" 2 "$(crt_sent)"
  shop_expect_eq "first sale" undone "$(shop_txn_state "$first")"
  second=$(shop_nsus | grep -vxF "$first")
  shop_expect_eq "second sale" confirmed "$(shop_txn_state "$second")"
  ;;
clock)
  faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
  [ -n "$faketime" ] || shop_fail "libfaketime is not installed (scripts/deps)"
  shop_setup 'CRT approve'
  shop_settings 2
  mkdir -p "$SHOP/shop/ping"
  # The program's wall clock is what this file says, read at every call; its monotonic
  # clock is left alone, as setting a computer's clock leaves it.
  printf '+0\n' >"$SHOP/faketime.txt"
  start_tefsync LD_PRELOAD="$faketime" FAKETIME_TIMESTAMP_FILE="$SHOP/faketime.txt" \
    FAKETIME_NO_CACHE=1 DONT_FAKE_MONOTONIC=1
  shop_wait "the first polls" 15 at_least get 2
  answers_heartbeat 30 "before the clock is set back"

  # Idle: the clock goes back an hour.
  printf '%s\n' -1h >"$SHOP/faketime.txt"
  gets=$(received get)
  shop_wait "three polls after the clock went back" 15 at_least get $((gets + 3))
  answers_heartbeat 30 "idle, an hour back"
  # The log shows the time as set.
  last_hour=$(tail -1 "$SHOP/guard.txt" | cut -c12-13)
  shop_expect_eq "hour in the log" "$(date -d '-1 hour' +%H)" "$last_hour"

  # In the decision wait: back another hour.
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  shop_wait "status 5" 60 shop_status_is "$id" 5
  printf '%s\n' -2h >"$SHOP/faketime.txt"
  queries=$(received verifica)
  shop_wait "decision queries after the clock went back" 20 at_least verifica $((queries + 3))
  answers_heartbeat 30 "in the decision wait, two hours back"
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  shop_wait "status 8" 20 shop_status_is "$id" 8
  gets=$(received get)
  shop_wait "polls after the request" 15 at_least get $((gets + 3))
  answers_heartbeat 30 "idle again"
  stop_tefsync
  shop_expect_eq "the sale" confirmed "$(shop_txn_state "$(shop_nsus)")"
  ;;
*)
  shop_fail "unknown scenario $scenario"
  ;;
esac
echo "ok: $scenario"
