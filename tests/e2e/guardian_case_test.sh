#!/usr/bin/env bash
# The guardian with its synchronizer's name configured in another letter case than the
# file's: it starts the synchronizer, and when the synchronizer hangs it ends it and starts
# it again (names match without regard to case, as on Windows), then a payment request is
# carried out by the new one.
#   guardian_case_test.sh <bin folder>
set -euo pipefail
BIN=$1
SHOP_EXE="tefsync-case-$$"
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

shop_setup "CRT approve"
shop_settings 2
upper=$(printf '%s' "$SHOP_EXE" | tr a-z A-Z)
printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$upper" >"$SHOP/shop/ConfigGuardian.ini"
(cd "$SHOP/shop" && exec ./procguard) >"$SHOP/guard.txt" 2>&1 &
SHOP_PIDS+=($!)

one_running() { [ "$(shop_tefsync_pids | wc -l)" -eq 1 ]; }
shop_wait "the synchronizer started under its name in other letter case" 10 one_running
first=$(shop_tefsync_pids)
shop_log "started: $first"

# Hung: the first unanswered check (about 111 s after the guardian's start) ends it and
# starts the same file again.
kill -STOP "$first"
restarted() { ls "$SHOP"/shop/ping/Restart_em_*.txt >/dev/null 2>&1; }
shop_wait "a restart record" 150 restarted
new_one() { one_running && [ "$(shop_tefsync_pids)" != "$first" ]; }
shop_wait "the synchronizer started again" 10 new_one
if grep -q "EXE nao encontrado" "$SHOP/guard.txt"; then shop_fail "the file was not found"; fi

# The new synchronizer works: one request reaches status 8.
id=$(shop_admin add '{"user_id":1,"empresa_id":9,"numero":1057,"status":1,"requisicao_1":"CRT","valor_1":"10.00"}' | jq -r .id)
shop_admin decision "{\"id\":$id,\"decision\":7,\"after\":1}" >/dev/null
shop_wait "the request to finish" 90 shop_status_is "$id" 8
echo "ok"
