#!/usr/bin/env bash
# Runs bench_panel on a private X server (Xvfb + jwm), or on $DISPLAY when one is set.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/bench/display.sh"
cmake --build "$root/build" --target bench_panel >/dev/null
privateDisplay wm
"$root/build/bench/bench_panel" "$@"
