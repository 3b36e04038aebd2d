#!/usr/bin/env bash
# Whole-system test of the texts that reach the cloud, real programs in real time: a sale of
# two payments whose second is declined ends with status 4, the first payment undone, and
# the engine's messages as texto_1 with their line breaks as real line breaks (the engine
# writes them inside a message as \r and \n for the cloud to read); a backslash in the
# manager's own text that begins no escape arrives as itself.
#   cloud_texts_test.sh <bin folder>
set -euo pipefail
BIN=$1
SHOP_EXE="tefsync-texts-$$"
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

shop_setup 'CRT approve
CRT decline msg="Falha em C:\x \u00e"'
shop_settings 2
id=$(shop_admin add '{"user_id":1,"empresa_id":9,"numero":1057,"status":1,"requisicao_1":"CRT","valor_1":"25.90","requisicao_2":"CRT","valor_2":"14.10"}' | jq -r .id)
shop_start_guardian
shop_wait "status 4" 90 shop_status_is "$id" 4

reported=$(shop_reported "$id" | xargs)
[ "$reported" = "1 3 4" ] || shop_fail "statuses: expected [1 3 4], got [$reported]"

# texto_1 as the cloud read it from the body (JSON escapes decoded).
texto() { shop_admin requests | jq --argjson id "$id" '.[] | select(.id == $id) | .texts.texto_1'; }
has() { texto | jq -e --arg t "$1" 'contains($t)' >/dev/null; }
shown=$(texto)
has $'Falha em C:\\x \\u00e\r\n' || shop_fail "the manager's text did not arrive as written: $shown"
has $'Favor Reter o Cupom\r\n Rede: REDECARD\r\n  NSU: ' ||
  shop_fail "the undo message without real line breaks: $shown"
if has '\r' || has '\n'; then shop_fail "backslashes where line breaks belong: $shown"; fi

# The first payment was approved and then undone; nothing is left for the manager.
nsus=$(shop_nsus | xargs)
[ "$(echo "$nsus" | wc -w)" = 1 ] || shop_fail "approved transactions: [$nsus]"
state=$(shop_txn_state "$nsus")
[ "$state" = undone ] || shop_fail "the first payment is $state, expected undone"
echo "cloud texts: ok"
