#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh private prefix: a silent install, an upgrade
# over a running install whose settings were edited, and an uninstall.
#   installer_test.sh <folder with tefsync.exe and procguard.exe> <tefsync-setup.exe>
set -euo pipefail
PROGRAMS=$(realpath "$1")
SETUP=$(realpath "$2")
DEFAULTS=$(realpath "$(dirname "$0")/../../installer")
# shellcheck source=tests/installer/wine_prefix.sh
. "$(dirname "$0")/wine_prefix.sh"

# The programs may open windows: give them a display of their own when there is none.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null && [ -z "${INSTALLER_TEST_XVFB:-}" ]; then
  INSTALLER_TEST_XVFB=1 exec xvfb-run -a "$0" "$@"
fi

WORK=$(mktemp -d /tmp/tefsync-installer.XXXXXX)
cleanup() {
  wine_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== [${SECONDS}s] $*"; }
same() {  # description, expected file, actual file
  [ -f "$3" ] || fail "$1: $3 missing"
  cmp -s "$2" "$3" || fail "$1: $3 differs from $2"
}
absent() { [ ! -e "$1" ] || fail "$1 still there"; }
wait_for() {  # description, seconds, command...
  local what=$1 end=$((SECONDS + $2))
  shift 2
  until "$@"; do
    [ $SECONDS -lt $end ] || fail "timed out waiting for $what"
    sleep 0.2
  done
}
running() { [ -n "$(wine_pids "$1")" ]; }
both_stopped() { stopped procguard.exe && stopped tefsync.exe; }
uninstaller_done() { [ ! -e "$DIR/uninstall.exe" ] && stopped Au_.exe; }
stopped() { [ -z "$(wine_pids "$1")" ]; }
# Whether Linux process $1 has ended. An ended Wine program is nobody's child: it stays a
# zombie until the system's first process collects it, which may take a second or two.
ended() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  [ "${stat%% *}" = Z ]
}
# The uninstall entry of Windows' program list, naming the install folder.
has_uninstall_entry() {
  "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tefsync' /v InstallLocation 2>/dev/null |
    grep -qiF 'C:\tefsync'
}

step "fresh prefix"
wine_start "$WORK/prefix"
DIR=$WINEPREFIX/drive_c/tefsync
LINK="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/procguard.lnk"

step "silent install"
"$WINE" "$SETUP" /S || fail "installer exited with $?"
for exe in tefsync.exe procguard.exe; do same "installed program" "$PROGRAMS/$exe" "$DIR/$exe"; done
for ini in configAPI_TEF.ini ConfigGuardian.ini; do same "default settings" "$DEFAULTS/$ini" "$DIR/$ini"; done
[ -f "$DIR/uninstall.exe" ] || fail "no uninstaller"
[ -d "$DIR/ping" ] || fail "no ping folder"
[ -f "$LINK" ] || fail "no logon shortcut in the common Startup folder"
has_uninstall_entry || fail "no uninstall entry in the registry"
# Started once at the end of the install; the guardian then starts the synchronizer.
wait_for "procguard.exe to run" 60 running procguard.exe
wait_for "tefsync.exe to be started by procguard.exe" 60 running tefsync.exe

step "logon: the Startup shortcut starts the guardian from the install folder"
"$WINE" taskkill /F /IM procguard.exe >/dev/null
"$WINE" taskkill /F /IM tefsync.exe >/dev/null
wait_for "both programs to end" 10 both_stopped
"$WINE" start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\procguard.lnk'
wait_for "procguard.exe to run" 60 running procguard.exe
wait_for "tefsync.exe to be started by procguard.exe" 60 running tefsync.exe
[ "$(readlink "/proc/$(wine_pids procguard.exe)/cwd")" = "$DIR" ] || fail "procguard.exe started outside its folder"

step "upgrade over a running install with edited settings"
# Bytes the installer must not touch: Windows-1252 text, a bare LF, no final line end.
printf '[CONF]\r\nTOKEN_VELANTRA=abc\r\nURLBASE=https://pdv.example/api/\nchkTefSitef=SIM\r\n; ma\xe7\xe3' >"$DIR/configAPI_TEF.ini"
cp "$DIR/configAPI_TEF.ini" "$WORK/config-edited"
rm "$DIR/ConfigGuardian.ini"
printf 'Restart em 07/03/2024 - 09:05:04\r\n' >"$DIR/ping/Restart_em_07032024_090504.txt"
cp "$DIR/ping/Restart_em_07032024_090504.txt" "$WORK/record"
# Marks the installed synchronizer (appending leaves the running image alone), so that a
# replaced program is told from one left in place.
printf 'old' >>"$DIR/tefsync.exe"
old_guard=$(wine_pids procguard.exe)
old_sync=$(wine_pids tefsync.exe)
"$WINE" "$SETUP" /S || fail "upgrade exited with $?"
for p in $old_guard $old_sync; do ended "$p" || fail "process $p of the old install still runs"; done
for exe in tefsync.exe procguard.exe; do same "replaced program" "$PROGRAMS/$exe" "$DIR/$exe"; done
same "edited settings" "$WORK/config-edited" "$DIR/configAPI_TEF.ini"
same "missing settings written anew" "$DEFAULTS/ConfigGuardian.ini" "$DIR/ConfigGuardian.ini"
same "restart record" "$WORK/record" "$DIR/ping/Restart_em_07032024_090504.txt"
wait_for "the new procguard.exe to run" 60 running procguard.exe
wait_for "the new tefsync.exe to run" 60 running tefsync.exe

step "silent uninstall"
# The uninstaller runs on from a copy of itself in the temporary folder.
"$WINE" 'C:\tefsync\uninstall.exe' /S || fail "uninstaller exited with $?"
wait_for "the uninstaller to finish" 60 uninstaller_done
wait_for "procguard.exe to end" 10 stopped procguard.exe
wait_for "tefsync.exe to end" 10 stopped tefsync.exe
for f in tefsync.exe procguard.exe uninstall.exe; do absent "$DIR/$f"; done
absent "$LINK"
! has_uninstall_entry || fail "the uninstall entry is still in the registry"
same "settings kept" "$WORK/config-edited" "$DIR/configAPI_TEF.ini"
same "settings kept" "$DEFAULTS/ConfigGuardian.ini" "$DIR/ConfigGuardian.ini"
same "restart record kept" "$WORK/record" "$DIR/ping/Restart_em_07032024_090504.txt"

wine_stop
[ -z "$(wine_all_pids)" ] || fail "processes of the prefix left running: $(wine_all_pids)"
echo "installer: install, upgrade and uninstall passed"
