#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (ctest), with a private X server
# (Xvfb + jwm as window manager and tray host) for the tests that need one.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DTARNEL_TEST_HOOKS=ON >/dev/null
cmake --build build

started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

display=99
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do display=$((display + 1)); done
Xvfb ":${display}" -screen 0 1920x1080x24 -nolisten tcp -ac >/dev/null 2>&1 &
started+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display}" ] && break; sleep 0.05; done
export DISPLAY=":${display}"
jwm >/dev/null 2>&1 &
started+=($!)

ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
