#!/usr/bin/env bash
# Starts the desktop program; without a display it starts one with Xvfb.
set -euo pipefail
build=${1:-build}
if [ $# -gt 0 ]; then shift; fi
if [ -x "$build/app/quillbend" ]; then
  [ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$build/app/quillbend" "$@"
  fi
  exec "$build/app/quillbend" "$@"
fi
exec "$build/tools/quillbend-cli" --help
