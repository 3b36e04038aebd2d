#!/usr/bin/env bash
# Figures of the real programs, each run in a private folder with its own cloud-mock.
#   system.sh <bin dir> idle SECONDS     headless tefsync polling every 11 s: CPU and memory
#   system.sh <bin dir> startup RUNS     process start to the first status query
#   system.sh <bin dir> procguard        a hung tefsync (SIGSTOP) to the new tefsync
#   system.sh <bin dir> memory SECONDS   tefsync and procguard as shipped (window shell
#                                        modules beside them), headless: peak memory
#   system.sh <bin dir> window           tefsync's window shell with its main window shown
#                                        (Xvfb and a tray host): peak memory
# Prints one line of key=value figures per measurement.
set -euo pipefail

bin=$1
what=$2
arg=${3:-}
dir=$(mktemp -d /tmp/tefsync_bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    {
      kill -KILL "$p" && wait "$p"
    } 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "bench: $*" >&2
  exit 1
}

now_ns() { date +%s%N; }

start_mock() {
  "$bin/cloud-mock" >"$dir/mock.txt" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "listening on" "$dir/mock.txt" && break
    sleep 0.05
  done
  base=$(sed -n 's/^cloud-mock listening on //p' "$dir/mock.txt")
  [ -n "$base" ] || fail "cloud-mock did not start"
  port=$(echo "$base" | sed -E 's#^http://127\.0\.0\.1:([0-9]+)/.*#\1#')
}

# Status queries the mock received, and their distinct client ports.
status_queries() {
  curl -sf -X POST "http://127.0.0.1:$port/admin/recorded" -d '{}' |
    jq '[.[] | select(.method == "GET")] | length'
}
connections() {
  curl -sf -X POST "http://127.0.0.1:$port/admin/recorded" -d '{}' |
    jq '[.[] | select(.method == "GET") | .remote_port] | unique | length'
}

# A tefsync copy with its settings in exe folder $1 polling every $2 seconds.
prepare_tefsync() {
  local exe=$1 period=$2
  mkdir -p "$exe" "$dir/c/Client/REQ" "$dir/c/Client/RESP" "$dir/c/drivezkt"
  cp "$bin/tefsync" "$exe/tefsync"
  # As shipped: the window shell module beside the program, when it was built.
  if [ -e "$bin/tefsync-desktop.so" ]; then cp "$bin/tefsync-desktop.so" "$exe/"; fi
  printf '[CONF]\r\nTOKEN_VELANTRA=bench\r\nedtCnpjTEf=12.345.678/0001-90\r\nidvelantra=9\r\nIdCaixa=0\r\nURLBASE=%s\r\nchkTefSitef=SIM\r\nchkTefCielo=NAO\r\ntimerApi=%s\r\n' \
    "$base" "$period" >"$exe/configAPI_TEF.ini"
}

# CPU time of a process in ns (scheduler statistics, else clock ticks).
cpu_ns() {
  if [ -r "/proc/$1/schedstat" ]; then
    cut -d' ' -f1 "/proc/$1/schedstat"
  else
    local ticks
    ticks=$(sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }')
    echo $((ticks * 1000000000 / $(getconf CLK_TCK)))
  fi
}

stop_process() {
  kill -TERM "$1"
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -KILL "$1" 2>/dev/null || true
}

case "$what" in
  idle)
    seconds=${arg:-60}
    start_mock
    prepare_tefsync "$dir/exe" 11
    (unset DISPLAY WAYLAND_DISPLAY && TEFSYNC_DRIVE_C="$dir/c" exec "$dir/exe/tefsync" \
      >"$dir/out.txt" 2>"$dir/err.txt") &
    tpid=$!
    pids+=($tpid)
    # Start-up is over after a few seconds; the idle figure is taken from there.
    sleep 3
    cpu0=$(cpu_ns "$tpid")
    t0=$(now_ns)
    sleep "$seconds"
    cpu1=$(cpu_ns "$tpid")
    t1=$(now_ns)
    hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$tpid/status")
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$tpid/status")
    polls=$(status_queries)
    conns=$(connections)
    stop_process "$tpid"
    awk -v c0="$cpu0" -v c1="$cpu1" -v t0="$t0" -v t1="$t1" -v hwm="$hwm" -v rss="$rss" \
      -v polls="$polls" -v conns="$conns" -v startup="$cpu0" 'BEGIN {
        printf "idle seconds=%.0f cpu_ms=%.1f cpu_pct_of_core=%.4f startup_cpu_ms=%.1f peak_rss_mb=%.1f rss_mb=%.1f status_queries=%d tcp_connections=%d\n",
          (t1 - t0) / 1e9, (c1 - c0) / 1e6, 100 * (c1 - c0) / (t1 - t0), startup / 1e6,
          hwm / 1024, rss / 1024, polls, conns }'
    ;;
  startup)
    runs=${arg:-5}
    start_mock
    times=()
    for r in $(seq "$runs"); do
      curl -sf -X POST "http://127.0.0.1:$port/admin/reset" -d '{}' >/dev/null
      rm -rf "$dir/exe" "$dir/c"
      prepare_tefsync "$dir/exe" 11
      t0=$(now_ns)
      TEFSYNC_DRIVE_C="$dir/c" "$dir/exe/tefsync" >"$dir/out.txt" 2>"$dir/err.txt" &
      tpid=$!
      pids+=($tpid)
      t1=""
      for _ in $(seq 1000); do
        # Light on purpose: the loop's own cost is the resolution of this figure.
        if curl -sf -X POST "http://127.0.0.1:$port/admin/recorded" -d '{}' | grep -q '"method":"GET"'; then
          t1=$(now_ns)
          break
        fi
        sleep 0.005
      done
      stop_process "$tpid"
      [ -n "$t1" ] || fail "no status query within the wait (run $r)"
      times+=($(((t1 - t0) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v runs="$runs" '{ v[NR] = $1 } END {
      printf "startup runs=%d first_query_ms_median=%d first_query_ms_max=%d\n", runs, v[int((NR + 1) / 2)], v[NR] }'
    ;;
  procguard)
    name="sinc-$(basename "$dir" | cut -d. -f2)"
    cp "$bin/procguard" "$dir/procguard"
    start_mock
    prepare_tefsync "$dir/x" 11
    mv "$dir/x/tefsync" "$dir/$name"
    mv "$dir/x/configAPI_TEF.ini" "$dir/configAPI_TEF.ini"
    printf '[CONFIG]\r\nnomeEXE=%s\r\n' "$name" >"$dir/ConfigGuardian.ini"
    sync_pids() {
      local link p
      for link in $(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dir/$name" 2>/dev/null); do
        p=${link%/exe}
        [ "$(sed 's/.*) //' "$p/stat" 2>/dev/null | cut -d' ' -f1)" = Z ] || echo "${p#/proc/}"
      done
    }
    g0=$(now_ns)
    (unset DISPLAY WAYLAND_DISPLAY && cd / && TEFSYNC_DRIVE_C="$dir/c" exec "$dir/procguard" \
      >"$dir/out.txt" 2>"$dir/err.txt") &
    gpid=$!
    pids+=($gpid)
    first=""
    for _ in $(seq 100); do
      first=$(sync_pids)
      [ -n "$first" ] && break
      sleep 0.05
    done
    [ -n "$first" ] || fail "procguard did not start tefsync"
    kill -STOP "$first"
    pids+=($first)
    h=$(now_ns)
    again=""
    for _ in $(seq 1800); do
      again=$(sync_pids | grep -vx "$first" || true)
      [ -n "$again" ] && break
      sleep 0.1
    done
    [ -n "$again" ] || fail "no new tefsync within 180 s"
    t=$(now_ns)
    pids+=($again)
    record=$(ls "$dir"/ping/Restart_em_* >/dev/null 2>&1 && echo yes || echo no)
    awk -v g0="$g0" -v h="$h" -v t="$t" -v rec="$record" 'BEGIN {
      printf "procguard hang_to_new_tefsync_s=%.1f guardian_start_to_new_tefsync_s=%.1f restart_record=%s\n",
        (t - h) / 1e9, (t - g0) / 1e9, rec }'
    kill -TERM "$gpid" 2>/dev/null || true
    ;;
  memory)
    seconds=${arg:-10}
    start_mock
    prepare_tefsync "$dir/exe" 11
    cp "$bin/procguard" "$dir/exe/"
    modules=no
    if [ -e "$bin/procguard-desktop.so" ]; then
      cp "$bin/procguard-desktop.so" "$dir/exe/"
      modules=yes
    fi
    # The guardian alone: its synchronizer's name is not there, so it starts nothing.
    printf '[CONFIG]\r\nnomeEXE=ausente\r\n' >"$dir/exe/ConfigGuardian.ini"
    mpids=()
    for p in tefsync procguard; do
      (unset DISPLAY WAYLAND_DISPLAY && cd "$dir/exe" && TEFSYNC_DRIVE_C="$dir/c" exec "./$p" \
        >"$dir/$p.out" 2>"$dir/$p.err") &
      mpids+=($!)
      pids+=($!)
    done
    sleep "$seconds"
    peaks=()
    for i in 0 1; do
      peaks+=("$(awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/${mpids[$i]}/status")")
      stop_process "${mpids[$i]}"
    done
    echo "memory seconds=$seconds window_shell_modules=$modules tefsync_headless_peak_mb=${peaks[0]} procguard_headless_peak_mb=${peaks[1]}"
    ;;
  window)
    for tool in xvfb-run trayer xdotool xwininfo; do
      command -v "$tool" >/dev/null || { echo "window skipped=1 missing=$tool"; exit 0; }
    done
    [ -e "$bin/tefsync-desktop.so" ] || { echo "window skipped=1 missing=tefsync-desktop.so"; exit 0; }
    if [ -z "${BENCH_INSIDE_X:-}" ]; then
      rm -rf "$dir"
      BENCH_INSIDE_X=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
    fi
    start_mock
    prepare_tefsync "$dir/exe" 11
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
    trayer --edge top --align right --widthtype request --height 32 --transparent false &
    pids+=($!)
    sleep 1
    (cd "$dir/exe" && TEFSYNC_DRIVE_C="$dir/c" exec ./tefsync >"$dir/out.txt" 2>"$dir/err.txt") &
    tpid=$!
    pids+=($tpid)
    icon=""
    for _ in $(seq 100); do
      icon=$(xwininfo -root -tree | grep -m1 '("tefsync" "tefsync")' | grep -v 'API de' || true)
      [ -n "$icon" ] && break
      sleep 0.1
    done
    [ -n "$icon" ] || fail "no tray icon"
    read -r w h x y < <(echo "$icon" | sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/')
    tray_peak=$(awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$tpid/status")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click --repeat 2 --delay 80 1
    shown=""
    for _ in $(seq 50); do
      xdotool search --onlyvisible --name '^API de Integracao' >/dev/null 2>&1 && shown=yes && break
      sleep 0.1
    done
    [ -n "$shown" ] || fail "the window was not shown"
    sleep 5
    peak=$(awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$tpid/status")
    stop_process "$tpid"
    echo "window tefsync_tray_only_peak_mb=$tray_peak tefsync_window_shown_peak_mb=$peak"
    ;;
  *)
    fail "unknown measurement $what"
    ;;
esac
