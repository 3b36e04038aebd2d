#!/usr/bin/env bash
# The service's unit tests against one cloud-mock program, driven through its admin routes,
# as they run on Windows: the same results as with the stand-in in process.
#   remote_cloud.sh <cloud-mock> <tefsync_unit_tests>
set -euo pipefail
mock=$1
tests=$2
out=$(mktemp /tmp/tefsync_remote_cloud.XXXXXX)
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -f "$out"
}
trap cleanup EXIT
"$mock" >"$out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q "listening on" "$out" && break
  sleep 0.1
done
root=$(sed -n 's#^cloud-mock listening on \(http://[^/]*\)/.*#\1#p' "$out")
[ -n "$root" ] || { echo "FAIL: cloud-mock did not start" >&2; cat "$out" >&2; exit 1; }
TEFSYNC_TEST_CLOUD=$root "$tests" --gtest_brief=1
