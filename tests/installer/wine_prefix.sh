# A private Wine prefix with one persistent wineserver, for the installer's test and the
# Windows demo. Source it, then wine_start <empty or new folder>; wine_stop ends everything
# that runs in that prefix.
# shellcheck shell=bash

export WINEDEBUG=-all
# Nothing here needs .NET or HTML; without this a new prefix asks to install Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)

wine_start() {  # prefix folder
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  # One server for every Wine start that follows: each then takes a fraction of a second
  # instead of seconds.
  "$WINESERVER" -p
  "$WINE" wineboot -i >/dev/null 2>&1
}

wine_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

# Whether process $1 runs in this prefix (builtins only: this runs for every process).
wine_in_prefix() {
  local vars v
  { mapfile -d '' -t vars <"/proc/$1/environ"; } 2>/dev/null || return 1
  for v in "${vars[@]}"; do [ "$v" != "WINEPREFIX=$WINEPREFIX" ] || return 0; done
  return 1
}

# Ids of the processes of this prefix that run the Windows program named (any folder, any
# letter case), e.g. procguard.exe. A Wine process shows its Windows command line.
wine_pids() {  # program file name
  local d cmd
  for d in /proc/[0-9]*; do
    { IFS= read -r -d '' cmd <"$d/cmdline"; } 2>/dev/null || continue
    cmd=${cmd%"${cmd##*[! ]}"}
    [[ ${cmd,,} == *\\"${1,,}" ]] || continue
    wine_in_prefix "${d#/proc/}" && echo "${d#/proc/}"
  done
  return 0
}

# Every Wine process of this prefix, wineserver included (not the Linux programs that were
# merely started with WINEPREFIX set).
wine_all_pids() {
  local d
  for d in /proc/[0-9]*; do
    wine_in_prefix "${d#/proc/}" && [[ $(readlink "$d/exe" 2>/dev/null) == */wine* ]] && echo "${d#/proc/}"
  done
  return 0
}
