#!/usr/bin/env bash
# Each Windows program must run when copied alone onto a shop's PC: it may import only DLLs
# that ship with Windows (the C++ runtime, libgcc and winpthread are linked in). Each also
# carries its icon "MAINICON" and its version information.
#   imports_test.sh OBJDUMP PROGRAM.exe...
set -euo pipefail
objdump=$1
shift
shipped='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|version|winhttp|crypt32|secur32|bcrypt|ws2_32|msvcrt|ntdll|uxtheme|dwmapi|imm32|winmm)\.dll$'
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  if [ -z "$dlls" ]; then
    echo "FAIL $exe: no import table read"
    status=1
    continue
  fi
  for dll in $dlls; do
    if ! [[ $dll =~ $shipped ]]; then
      echo "FAIL $(basename "$exe") imports $dll, which does not ship with Windows"
      status=1
    fi
  done
  for resource in MAINICON FileVersion; do
    if ! strings -el "$exe" | grep -qx "$resource"; then
      echo "FAIL $(basename "$exe") lacks the resource $resource"
      status=1
    fi
  done
  echo "$(basename "$exe"): $(echo $dlls)"
done
exit $status
