#!/usr/bin/env bash
# Whole-system tests of a TEF manager that misbehaves, with the real tefsync, sitef-sim and
# cloud-mock in real time:
#   twostep   the manager writes its approved answer in two steps: the sale reads approved
#             (statuses 1 3 5 8), the whole answer reaches the cloud, the sale is confirmed
#   respro    tefsync cannot write in RESP\ (the answers there cannot be deleted): an undone
#             sale is never confirmed afterwards, the next sale goes on
#   verylate  the manager approves a sale after tefsync gave up on it, while the next sale
#             waits for its own answer: the late approval is undone within seconds of the
#             next sale's end, with no new request; nothing stays pending
#   engine_faults_test.sh <bin folder> <scenario>
set -euo pipefail
BIN=$1
scenario=$2
SHOP_EXE="tefsync-faults-$scenario-$$"
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

# Starts tefsync alone (no guardian), its log in out.txt; arguments go before the program.
start_tefsync() {
  "$@" "$SHOP/shop/$SHOP_EXE" >"$SHOP/out.txt" 2>&1 &
  SHOP_PIDS+=($!)
  disown
}

# The manager's own account of each approved transaction: "<nsu> <op> <id> <state>".
report() { "$BIN/sitef-sim" --report "$SHOP/journal.txt" || true; }
state_of() { report | awk -v n="$1" '$1 == n { $1 = $2 = $3 = ""; sub(/^ +/, ""); print }'; }
finishes() {  # CNF|NCN nsu: acknowledged finishes of that kind
  awk -F'\t' -v op="$1" -v nsu="$2" '$1 == "REQ" && $2 == op && $4 == nsu && $5 == "ack"' \
    "$SHOP/journal.txt" | wc -l
}
nsu_of_sale() {  # n: the NSU of the n-th approved transaction
  shop_journal TXN | sed -n "${1}p" | cut -f2
}
no_orphans() {
  ! report | grep -q '^orphan' || shop_fail "a finish names no transaction: $(report | grep '^orphan')"
}

case $scenario in
twostep)
  # The file appears 2 s after the acknowledgment without its result line; the rest 2 s later.
  shop_setup 'CRT approve receipt=3 delay=2000 split=2000'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  shop_admin decision "{\"id\":$id,\"decision\":7}" >/dev/null
  start_tefsync
  shop_wait "status 8" 90 shop_status_is "$id" 8
  shop_expect_eq "statuses" "1 3 5 8" "$(shop_reported "$id" | xargs)"
  nsu=$(nsu_of_sale 1)
  shop_expect_eq "the sale's transaction" "confirmed" "$(state_of "$nsu")"
  # The cloud got the whole answer, not its first part.
  ans=$(shop_journal ANS | awk -F'\t' -v n="$nsu" '$2 == n { print $4 }')
  texto=$(shop_admin requests | jq -r --argjson id "$id" \
    '.[] | select(.id == $id) | .texts.texto_1 // "" | gsub("\r"; "\\r") | gsub("\n"; "\\n")')
  shop_expect_eq "texto_1" "${ans//\"/}" "$texto"
  no_orphans
  ;;
respro)
  shop_setup 'CRT approve'
  shop_settings 2
  unshare -m true 2>/dev/null || {
    echo "skipped: no mount namespace here"
    exit 77
  }
  resp="$SHOP/drive_c/Client/RESP"
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  shop_admin decision "{\"id\":$id,\"decision\":6}" >/dev/null
  # RESP\ is read-only for tefsync alone; the manager still writes there.
  start_tefsync unshare -m --propagation private sh -c \
    "mount --bind '$resp' '$resp' && mount -o remount,bind,ro '$resp' && exec \"\$0\""
  shop_wait "status 8 of the undone sale" 90 shop_status_is "$id" 8
  first=$(nsu_of_sale 1)
  shop_expect_eq "undo of the first sale" 1 "$(finishes NCN "$first")"
  [ -e "$resp/INTPOS.001" ] || shop_fail "the undone answer could be deleted: RESP\\ was writable"
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3,00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  shop_wait "status 8 of the next sale" 120 shop_status_is "$id2" 8
  second=$(nsu_of_sale 2)
  shop_expect_eq "confirmations of the undone sale" 0 "$(finishes CNF "$first")"
  shop_expect_eq "the undone sale" "undone" "$(state_of "$first")"
  shop_expect_eq "the next sale" "confirmed" "$(state_of "$second")"
  no_orphans
  ;;
verylate)
  # The first sale's request is opened and never acknowledged; its approval comes 28 s later,
  # while the second sale waits 20 s for its own answer.
  shop_setup 'CRT late delay=28000
CRT approve delay=20000'
  shop_settings 2
  id=$(shop_add_request '"requisicao_1":"CRT","valor_1":"25.90"')
  start_tefsync
  shop_wait "status 4 of the sale given up" 90 shop_status_is "$id" 4
  id2=$(shop_add_request '"requisicao_1":"CRT","valor_1":"3,00"')
  shop_admin decision "{\"id\":$id2,\"decision\":7}" >/dev/null
  shop_wait "status 8 of the second sale" 120 shop_status_is "$id2" 8
  # What the second sale kept aside is finished in the same tick, with no new request.
  late=$(nsu_of_sale 1)
  undone() { [ "$(state_of "$late")" = undone ]; }
  shop_wait "the late approval undone after the second sale" 5 undone
  grep -qF "| Recuperacao TEF | Transacao pendente encontrada apos a venda" "$SHOP/out.txt" ||
    shop_fail "no log row of the recovery after the sale"
  # The next sale then runs on a folder with nothing left to finish.
  id3=$(shop_add_request '"requisicao_1":"CRT","valor_1":"1,00"')
  shop_admin decision "{\"id\":$id3,\"decision\":7}" >/dev/null
  shop_wait "status 8 of the third sale" 90 shop_status_is "$id3" 8
  shop_expect_eq "the late approval" "undone" "$(state_of "$late")"
  shop_expect_eq "the second sale" "confirmed" "$(state_of "$(nsu_of_sale 2)")"
  shop_expect_eq "the third sale" "confirmed" "$(state_of "$(nsu_of_sale 3)")"
  shop_expect_eq "first sale's statuses" "1 3 4" "$(shop_reported "$id" | xargs)"
  no_orphans
  ;;
*)
  shop_fail "unknown scenario $scenario"
  ;;
esac
echo "ok: $scenario"
