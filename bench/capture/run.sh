#!/usr/bin/env bash
# Runs the capture benchmark on a private X server (Xvfb), or on $DISPLAY when one is set: ./run.sh [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cmake --build "$root/build" --target capturebench >/dev/null
started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -ac 3>"$displayfile" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 200); do [ -s "$displayfile" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$displayfile")"
  rm -f "$displayfile"
fi
"$root/build/bench/copyshot" "$@"
