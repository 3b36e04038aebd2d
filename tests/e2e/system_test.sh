#!/usr/bin/env bash
# Whole-system tests in real time with real processes: procguard, tefsync, sitef-sim and
# cloud-mock, as a shop runs them.
#   system_test.sh <bin folder> <scenario>
set -euo pipefail
BIN=$1
scenario=$2
SHOP_EXE="tefsync-$scenario-$$"
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

# Value of a field in a journal text (escaped: lines separated by the two characters \r\n).
text_field() {  # text, code
  printf '%s' "$1" | awk -v c="$2 = " 'BEGIN { RS = "\\\\r\\\\n" } index($0, c) == 1 { print substr($0, length(c) + 1); exit }'
}

req_raw() { shop_journal REQ | awk -F'\t' -v op="$1" -v n="${2:-1}" '$2 == op && ++k == n { print $6 }'; }
ans_raw() { shop_journal ANS | awk -F'\t' -v nsu="$1" '$2 == nsu { print $4 }'; }
cloud_texto() {  # id, n: the text as the cloud stored it, CR and LF written as \r and \n
  shop_admin requests | jq -r --argjson id "$1" --arg k "texto_$2" \
    '.[] | select(.id == $id) | .texts[$k] // "" | gsub("\r"; "\\r") | gsub("\n"; "\\n")'
}
assert_all_finished() {  # every approved transaction ends as its expected state (confirmed|undone)
  local nsu state
  for nsu in $(shop_nsus); do
    state=$(shop_txn_state "$nsu")
    [ "$state" = "${EXPECTED[$nsu]:-}" ] || shop_fail "transaction $nsu is $state, expected ${EXPECTED[$nsu]:-?}"
  done
}
declare -A EXPECTED

case $scenario in
happy)
  shop_setup 'CRT approve receipt=3 msg="Transação aprovada"'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  shop_start_guardian
  shop_wait "status 8" 90 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  nsu=$(shop_nsus)
  crt=$(req_raw CRT)
  crt_id=$(text_field "$crt" 001-000)
  shop_expect_eq "CRT request" \
    "000-000 = CRT\r\n001-000 = $crt_id\r\n002-000 = 1057\r\n003-000 = 2590\r\n565-008 = 1=12.345.678/0001-90;2=52718094000236\r\n999-999 = 0\r\n" \
    "$crt"
  ans=$(ans_raw "$nsu")
  cnf=$(req_raw CNF)
  cnf_id=$(text_field "$cnf" 001-000)
  [[ $cnf_id =~ ^[0-9]{6}$ ]] && [ "$cnf_id" != "$crt_id" ] || shop_fail "CNF id $cnf_id is not fresh"
  shop_expect_eq "CNF request" \
    "000-000 = CNF\r\n001-000 = $cnf_id\r\n002-000 = $(text_field "$ans" 002-000)\r\n010-000 = $(text_field "$ans" 010-000)\r\n012-000 = $nsu\r\n027-000 = $(text_field "$ans" 027-000)\r\n999-999 = 0\r\n" \
    "$cnf"
  shop_expect_eq "texto_1" "${ans//\"/}" "$(cloud_texto "$id" 1)"
  shop_expect_eq "texto_2" "" "$(cloud_texto "$id" 2)"
  EXPECTED[$nsu]=confirmed
  assert_all_finished
  ;;
declined)
  shop_setup 'CRT decline msg="Transação negada: cartão bloqueado"'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"10,00"')
  shop_start_guardian
  shop_wait "status 4" 90 shop_status_is "$id" 4
  shop_expect_eq "statuses" "1 3 4" "$(shop_reported "$id" | xargs)"
  cloud_texto "$id" 1 | grep -q "Transacao negada: cartao bloqueado" ||
    shop_fail "texto_1 without the operator message: $(cloud_texto "$id" 1)"
  [ -z "$(shop_nsus)" ] || shop_fail "a declined sale left a transaction"
  ;;
undo2)
  shop_setup 'CRT approve
CARTDIGI approve network=PIX'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90","requisicao_2":"PIX","valor_2":"14.10"')
  shop_admin decision "{\"id\":$id,\"decision\":6}" >/dev/null
  shop_start_guardian
  shop_wait "status 8" 120 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  shop_expect_eq "payments" 2 "$(shop_nsus | wc -l)"
  for nsu in $(shop_nsus); do EXPECTED[$nsu]=undone; done
  assert_all_finished
  [ -n "$(cloud_texto "$id" 2)" ] || shop_fail "texto_2 empty for a two-payment sale"
  ;;
powercut | powercut2)
  if [ "$scenario" = powercut ]; then
    shop_setup 'CRT approve'
    first='"requisicao_1":"CRT","valor_1":"25.90"'
    reached() { shop_status_is "$1" 5; }
    left_at=5
  else
    # The second payment's answer comes late: the cut falls between the two payments.
    shop_setup 'CRT approve
CARTDIGI approve delay=6000'
    first='"requisicao_1":"CRT","valor_1":"25.90","requisicao_2":"PIX","valor_2":"14.10"'
    reached() { [ -n "$(req_raw CARTDIGI)" ]; }
    left_at=3
  fi
  shop_settings 2
  id=$(shop_add_request "$first")
  shop_start_guardian
  shop_wait "the cut point" 90 reached "$id"
  old=$(shop_tefsync_pids)
  [ -n "$old" ] || shop_fail "tefsync not running"
  kill -KILL $old
  cut_at=$SECONDS
  restarted() { local p; p=$(shop_tefsync_pids); [ -n "$p" ] && [ "$p" != "$old" ]; }
  shop_wait "procguard to start tefsync again" 300 restarted
  echo "tefsync restarted $((SECONDS - cut_at)) s after the cut"
  ls "$SHOP/shop/ping" | grep -q '^Restart_em_[0-9]\{8\}_[0-9]\{6\}\.txt$' || shop_fail "no restart record"
  first_nsus=$(shop_nsus)
  if [ "$left_at" = 5 ]; then
    # The cloud saw the sale at 5: it decides, however long after the cut.
    sleep 3
    for nsu in $first_nsus; do
      [ "$(shop_txn_state "$nsu")" = pending ] || shop_fail "the cut sale was finished before the decision"
    done
    shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
    shop_wait "the cut request's status 8" 120 shop_status_is "$id" 8
    for nsu in $first_nsus; do EXPECTED[$nsu]=confirmed; done
    shop_expect_eq "cut request statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  else
    # The cloud never heard of an approval: undone, and told the sale was not carried out.
    shop_wait "the cut request's status 4" 120 shop_status_is "$id" 4
    for nsu in $first_nsus; do EXPECTED[$nsu]=undone; done
    shop_expect_eq "cut request statuses" "1 3 4" "$(shop_reported "$id" | xargs)"
  fi
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3,00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  shop_wait "the next request's status 8" 120 shop_status_is "$id2" 8
  second=$(shop_nsus | grep -vxF "$first_nsus" || true)
  [ -n "$second" ] || shop_fail "the next request made no transaction"
  EXPECTED[$second]=confirmed
  assert_all_finished
  # The cut sale is finished before the next sale starts.
  last_finish=$(grep -n "^REQ"$'\t'"\(NCN\|CNF\)" "$SHOP/journal.txt" | head -n "$(echo "$first_nsus" | wc -w)" | tail -1 | cut -d: -f1)
  next_crt=$(grep -n "^REQ"$'\t'"CRT" "$SHOP/journal.txt" | tail -1 | cut -d: -f1)
  [ "$last_finish" -lt "$next_crt" ] || shop_fail "the cut sale was finished after the next sale started"
  ;;
twocopies)
  # A second synchronizer, from a second install folder, started while the first waits for
  # the cloud's decision: it ends at once and changes nothing.
  shop_setup 'CRT approve'
  shop_settings 2
  mkdir -p "$SHOP/shop2"
  cp "$SHOP/shop/$SHOP_EXE" "$SHOP/shop/configAPI_TEF.ini" "$SHOP/shop2/"
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  TEFSYNC_HEADLESS=1 "$SHOP/shop/$SHOP_EXE" >"$SHOP/guard.txt" 2>&1 &
  SHOP_PIDS+=($!)
  first=$!
  shop_wait "status 5" 60 shop_status_is "$id" 5
  rc=0
  TEFSYNC_HEADLESS=1 timeout 30 "$SHOP/shop2/$SHOP_EXE" >"$SHOP/second.txt" 2>"$SHOP/second-err.txt" || rc=$?
  shop_expect_second_copy_refused "$rc" "$SHOP/second.txt" "$SHOP/second-err.txt"
  kill -0 "$first" 2>/dev/null || shop_fail "the first copy ended"
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  shop_wait "status 8" 60 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  shop_expect_eq "sales" 1 "$(shop_journal REQ | awk -F'\t' '$2 == "CRT"' | wc -l)"
  EXPECTED[$(shop_nsus)]=confirmed
  assert_all_finished
  # Two started at the same moment: one runs, the other ends.
  kill -TERM "$first"
  shop_wait "the first copy to end" 30 sh -c "! kill -0 $first"
  TEFSYNC_HEADLESS=1 "$SHOP/shop/$SHOP_EXE" >>"$SHOP/guard.txt" 2>&1 &
  a=$!
  TEFSYNC_HEADLESS=1 "$SHOP/shop2/$SHOP_EXE" >"$SHOP/second.txt" 2>&1 &
  b=$!
  SHOP_PIDS+=($a $b)
  sleep 3
  running=0
  for p in $a $b; do kill -0 "$p" 2>/dev/null && running=$((running + 1)); done
  shop_expect_eq "copies running" 1 "$running"
  ;;
faults)
  shop_setup 'CRT approve'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  shop_admin decision "{\"id\":$id,\"decision\":7,\"after\":1}" >/dev/null
  shop_admin fault '{"kind":"delay","endpoint":"get","count":1,"delay_ms":4000}' >/dev/null
  shop_admin fault '{"kind":"notjson","endpoint":"status","count":1}' >/dev/null
  shop_admin fault '{"kind":"http500","endpoint":"retorno","count":1}' >/dev/null
  shop_admin fault '{"kind":"notjson","endpoint":"verifica","count":1}' >/dev/null
  shop_admin fault '{"kind":"http500","endpoint":"verifica","count":1}' >/dev/null
  shop_start_guardian
  shop_wait "status 8" 120 shop_status_is "$id" 8
  for line in "| Get status erro 2 |" "| Erro: status |" "| Erro: verifica_6_7 |" \
    "| Operacao TEF confirmada | Sts = 7" "| Resposta TEF | Operacao realizada = Sts 8"; do
    grep -qF "$line" "$SHOP/guard.txt" || shop_fail "log line missing: $line"
  done
  # A failed report is not sent again.
  shop_expect_eq "status-1 reports" 1 "$(shop_reported "$id" | grep -cx 1)"
  EXPECTED[$(shop_nsus)]=confirmed
  assert_all_finished
  ;;
settings)
  shop_setup ''
  # No settings file: defaults, the failing status query logged, no crash.
  "$SHOP/shop/$SHOP_EXE" >"$SHOP/out.txt" 2>"$SHOP/err.txt" &
  pid=$!
  shop_wait "a logged status query error" 20 grep -q "| Get status erro 2 |" "$SHOP/out.txt"
  kill -0 $pid || shop_fail "tefsync ended without a settings file"
  [ ! -e "$SHOP/shop/configAPI_TEF.ini" ] || shop_fail "a settings file appeared unasked"
  kill -TERM $pid
  wait $pid || shop_fail "exit status $? after SIGTERM"
  # A file edited by hand: comments, blank lines, other letter case, quotes, a duplicate key,
  # "sim" in lower case (off).
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  printf '; edited by hand\r\n\r\n[conf]\r\n  urlbase = "%s"  \r\ntoken_velantra=%s\r\nIDVELANTRA = 9\r\nidvelantra=1\r\nchkTefSitef=sim\r\ntimerapi=abc\r\n' \
    "$SHOP_URL" "$SHOP_TOKEN" >"$SHOP/shop/configAPI_TEF.ini"
  "$SHOP/shop/$SHOP_EXE" >"$SHOP/out.txt" 2>"$SHOP/err.txt" &
  pid=$!
  SHOP_PIDS+=($pid)
  shop_wait "status 2" 30 shop_status_is "$id" 2
  grep -qF "| Gerenciador SITEF | Nao configurado" "$SHOP/out.txt" || shop_fail "no 'Nao configurado' line"
  shop_expect_eq "statuses" "1 2" "$(shop_reported "$id" | xargs)"
  kill -TERM $pid
  wait $pid || shop_fail "exit status $? after SIGTERM"
  [ -z "$(shop_nsus)" ] || shop_fail "a sale ran with TEF Sitef off"
  ;;
*)
  shop_fail "unknown scenario $scenario"
  ;;
esac
echo "ok: $scenario"
