#!/usr/bin/env bash
# Installs what is missing, builds tarnel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
exec ./build/bin/tarnel "$@"
