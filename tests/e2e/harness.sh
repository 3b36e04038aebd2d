# Shared by the whole-system tests and ./scripts/demo: a shop's install folder with
# procguard and tefsync side by side, sitef-sim on a drive-C folder of its own and
# cloud-mock on loopback. Source it, set BIN to the folder with the programs, then call
# shop_setup.
# shellcheck shell=bash

SHOP_TOKEN="demo-token-7f3a"
# The synchronizer's file name. A guardian counts and ends every process of that name on
# the machine, so tests that may run side by side give each shop its own.
SHOP_EXE=${SHOP_EXE:-tefsync}
SHOP_PIDS=()

shop_log() { printf '%s\n' "$*" >&2; }

shop_fail() {
  shop_log "FAIL: $*"
  if [ -n "${SHOP:-}" ]; then
    for f in guard guard-2 mock sim; do
      shop_log "--- $f"
      tail -n 60 "$SHOP/$f.txt" >&2 2>/dev/null || true
    done
  fi
  exit 1
}

# Every process of ours: the ones we started and whatever runs an executable in $SHOP.
shop_pids_of() {  # executable path
  local link
  for link in $(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$1" 2>/dev/null); do
    link=${link%/exe}
    [ "$(sed 's/.*) //' "$link/stat" 2>/dev/null | cut -d' ' -f1)" = Z ] || echo "${link#/proc/}"
  done
}

shop_cleanup() {
  local p
  for p in "${SHOP_PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  if [ -n "${SHOP:-}" ]; then
    for p in $(shop_pids_of "$SHOP/shop/$SHOP_EXE") $(shop_pids_of "$SHOP/shop/procguard"); do
      kill -KILL "$p" 2>/dev/null || true
    done
    [ -n "${SHOP_KEEP:-}" ] || rm -rf "$SHOP"
  fi
}

shop_wait() {  # description, seconds, command...
  local what=$1 limit=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || shop_fail "timed out after ${limit}s waiting for $what"
    sleep 0.2
  done
}

# Sets up the folders and starts cloud-mock and sitef-sim. $1: the manager's script.
shop_setup() {
  SHOP=$(mktemp -d /tmp/tefsync-shop.XXXXXX)
  trap shop_cleanup EXIT
  mkdir -p "$SHOP/shop" "$SHOP/drive_c/Client/REQ" "$SHOP/drive_c/Client/RESP"
  cp "$BIN/tefsync" "$SHOP/shop/$SHOP_EXE"
  cp "$BIN/procguard" "$SHOP/shop/"
  export TEFSYNC_DRIVE_C="$SHOP/drive_c"
  # Headless, whatever display the caller has.
  export QT_QPA_PLATFORM=offscreen

  shop_start_stand_ins "$SHOP/drive_c" "${1:-}"
}

# Starts cloud-mock and sitef-sim, the manager on the given drive C with the given script.
shop_start_stand_ins() {  # drive C folder, the manager's script
  "$BIN/cloud-mock" --token "$SHOP_TOKEN" >"$SHOP/mock.txt" 2>&1 &
  SHOP_PIDS+=($!)
  disown
  shop_wait "cloud-mock to listen" 10 grep -q "listening on" "$SHOP/mock.txt"
  SHOP_URL=$(sed -n 's/^cloud-mock listening on //p' "$SHOP/mock.txt")
  SHOP_ADMIN=$(echo "$SHOP_URL" | sed -E 's#^(http://[^/]+)/.*#\1/admin#')

  printf '%s\n' "$2" >"$SHOP/sim-script.txt"
  touch "$SHOP/journal.txt"
  "$BIN/sitef-sim" "$1" "$SHOP/sim-script.txt" "$SHOP/journal.txt" >"$SHOP/sim.txt" 2>&1 &
  SHOP_PIDS+=($!)
  disown
  shop_wait "sitef-sim to start" 10 grep -q "watching" "$SHOP/sim.txt"
}

# Writes configAPI_TEF.ini as the settings dialog would, CR LF in Windows-1252.
shop_settings() {  # timerApi
  printf '[CONF]\r\nTOKEN_VELANTRA=%s\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\nIdCaixa=0\r\nURLBASE=%s\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=%s\r\n' \
    "$SHOP_TOKEN" "$SHOP_URL" "${1:-2}" >"$SHOP/shop/configAPI_TEF.ini"
}

# A second synchronizer ended at once with its reason, having logged nothing. Its status in
# $1 (124: it did not end), its standard output and error in the files $2 and $3.
shop_expect_second_copy_refused() {  # status, stdout file, stderr file
  [ "$1" -ne 0 ] && [ "$1" -ne 124 ] || shop_fail "the second copy ended with $1"
  grep -q "O sincronizador já está em execução neste computador" "$3" ||
    shop_fail "the second copy did not say why: $(cat "$3")"
  [ ! -s "$2" ] || shop_fail "the second copy logged: $(cat "$2")"
}

shop_expect_eq() {  # what, expected, actual
  [ "$2" = "$3" ] || shop_fail "$1: expected [$2], got [$3]"
}

# Puts an open payment request of the shop's company into the cloud; prints its id.
shop_add_request() {  # extra JSON members
  shop_admin add "{\"user_id\":1,\"empresa_id\":9,\"numero\":1057,\"status\":1,$1}" | jq -r .id
}

shop_start_guardian() {
  printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$SHOP_EXE" >"$SHOP/shop/ConfigGuardian.ini"
  "$SHOP/shop/procguard" >"$SHOP/guard.txt" 2>&1 &
  SHOP_GUARD=$!
  SHOP_PIDS+=($SHOP_GUARD)
  disown
}

shop_admin() { curl -sf -X POST "$SHOP_ADMIN/$1" -d "${2:-{\}}"; }

# The status of a request at the cloud.
shop_status() { shop_admin requests | jq -r --argjson id "$1" '.[] | select(.id == $id) | .status'; }
shop_status_is() { [ "$(shop_status "$1")" = "$2" ]; }

# The statuses reported for a request, in the order they reached the cloud.
shop_reported() {
  shop_admin recorded | jq -r --argjson id "$1" '
    .[] | select(.method == "POST" and (.path | test("/(status|retorno)$")))
        | .body | fromjson | select(.id == $id) | .status'
}

# The texts a result report carried.
shop_texts() { shop_admin requests | jq -r --argjson id "$1" '.[] | select(.id == $id) | .texts'; }

shop_tefsync_pids() { shop_pids_of "$SHOP/shop/$SHOP_EXE"; }
shop_tefsync_running() { [ -n "$(shop_tefsync_pids)" ]; }

# ---- the manager's journal ----
# Field N of the journal records of one kind, unescaped only for tabs.
shop_journal() { awk -F'\t' -v k="$1" '$1 == k' "$SHOP/journal.txt"; }
# Approved transactions' NSUs, in order.
shop_nsus() { shop_journal TXN | cut -f2; }
# How many acknowledged CNF or NCN a transaction got.
shop_finishes() {  # CNF|NCN nsu
  awk -F'\t' -v op="$1" -v nsu="$2" '$1 == "REQ" && $2 == op && $4 == nsu && $5 == "ack"' \
    "$SHOP/journal.txt" | wc -l
}
# confirmed, undone, pending, both or none (no receipt: nothing to finish).
shop_txn_state() {
  local c n needs
  needs=$(awk -F'\t' -v nsu="$1" '$1 == "TXN" && $2 == nsu { print $6 }' "$SHOP/journal.txt")
  c=$(shop_finishes CNF "$1")
  n=$(shop_finishes NCN "$1")
  if [ "$c" -gt 0 ] && [ "$n" -gt 0 ]; then echo both
  elif [ "$c" -gt 0 ]; then echo confirmed
  elif [ "$n" -gt 0 ]; then echo undone
  elif [ "$needs" = 1 ]; then echo pending
  else echo none; fi
}
