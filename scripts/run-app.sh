#!/usr/bin/env bash
# Starts the program from a build tree. Without a display it runs under Xvfb,
# so `make run` also works on a machine with no desktop.
set -euo pipefail
build=${1:-build}
app="$build/main/QNChat"
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  echo "No DISPLAY: starting the program under Xvfb."
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$app"
fi
exec "$app"
