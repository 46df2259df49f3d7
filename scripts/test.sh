#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (ctest), with a private X server
# (Xvfb + jwm as window manager and tray host) for the tests that need one.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DTARNEL_TEST_HOOKS=ON >/dev/null
cmake --build build

started=()
started_files=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "${started_files[@]}"
}
trap cleanup EXIT

# Xvfb picks a free display itself and names it once it is ready: two runs on one machine never share one.
displayfile=$(mktemp)
started_files=("$displayfile")
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -ac 3>"$displayfile" >/dev/null 2>&1 &
started+=($!)
for _ in $(seq 200); do [ -s "$displayfile" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$displayfile")"
jwm >/dev/null 2>&1 &
started+=($!)

ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
