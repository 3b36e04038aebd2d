#!/usr/bin/env bash
# Runs a command in a private X session (Xvfb): Wine creates no window without a display.
# Exits 77 (skipped) when xvfb-run is missing.
set -euo pipefail
command -v xvfb-run >/dev/null || { echo "skipped: xvfb-run missing"; exit 77; }
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
