#!/usr/bin/env bash
# Runs the capture benchmark on a private X server (Xvfb), or on $DISPLAY when one is set: ./run.sh [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/bench/display.sh"
cmake --build "$root/build" --target capturebench >/dev/null
privateDisplay
"$root/build/bench/copyshot" "$@"
