#!/usr/bin/env bash
# Runs bench_panel on a private X server (Xvfb + jwm), or on $DISPLAY when one is set.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cmake --build "$root/build" --target bench_panel >/dev/null
started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  display=99
  while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do display=$((display + 1)); done
  Xvfb ":${display}" -screen 0 1920x1080x24 -nolisten tcp -ac >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display}" ] && break; sleep 0.05; done
  export DISPLAY=":${display}"
  jwm >/dev/null 2>&1 &
  started+=($!)
  sleep 0.5
fi
"$root/build/bench/bench_panel" "$@"
