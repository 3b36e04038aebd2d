#!/usr/bin/env bash
# Both programs, built with their window shells, with DISPLAY naming an X server that is
# not there: each runs headless and says why in one line on standard error.
#   no_display.sh <tefsync> <procguard>
set -euo pipefail
dir=$(mktemp -d /tmp/no_display.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cp "$1" "$dir/tefsync"
cp "$2" "$dir/procguard"
# The guardian's synchronizer is not there: it says so and goes on.
printf '[CONFIG]\r\nnomeEXE=ausente\r\n' >"$dir/ConfigGuardian.ini"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export DISPLAY=:987 TEFSYNC_DRIVE_C="$dir/c"
mkdir -p "$TEFSYNC_DRIVE_C"
for p in tefsync procguard; do
  (cd "$dir" && exec "./$p" >"$dir/$p.out" 2>"$dir/$p.err") &
  pids+=($!)
done
sleep 3
i=0
for p in tefsync procguard; do
  pid=${pids[$i]}
  i=$((i + 1))
  kill -0 "$pid" 2>/dev/null || fail "$p ended: $(cat "$dir/$p.err")"
  expected="$p: no X server answers on DISPLAY=:987; running without a window"
  [ "$(cat "$dir/$p.err")" = "$expected" ] || fail "$p stderr: $(cat "$dir/$p.err")"
  kill -TERM "$pid"
  wait "$pid" || fail "$p exit status $?"
done
echo "ok"
