#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (ctest), with a private X server
# (Xvfb + jwm as window manager and tray host) for the tests that need one. A build for the tests has test
# hooks (the service's address from the environment): it lives in build-tests/, apart from run.sh's build/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Run through sudo (the command printed at the end): the build folder goes back to the user who asked.
give_back() {
  if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ] && [ -d build-tests ]; then
    chown -R "$SUDO_USER": build-tests
  fi
}
trap give_back EXIT

./scripts/deps.sh
cmake -S . -B build-tests -G Ninja -DTARNEL_TEST_HOOKS=ON >/dev/null
cmake --build build-tests

started=()
started_files=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "${started_files[@]}"
  give_back
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

status=0
ctest --test-dir build-tests --output-on-failure -j "$(nproc)" "$@" || status=$?

# Cases that need root (local users, network namespaces, mounts) skip themselves: ctest lists a test that
# skipped whole as skipped, one that skipped some cases as passed. Name both, with the command that runs them.
mapfile -t skipped < <(grep -aE '^SKIP   : [A-Za-z0-9_]+::.*root' build-tests/Testing/Temporary/LastTest.log 2>/dev/null |
  sed -E 's/^SKIP   : ([A-Za-z0-9_]+)::.*/\1/' | sort -u)
if [ ${#skipped[@]} -gt 0 ]; then
  echo
  echo "注意：下面 ${#skipped[@]} 组测试（全部或部分）要 root 才能跑（建本机用户、网络命名空间、挂载），这次跳过了，上面的结果不算它们："
  printf '  %s\n' "${skipped[@]}"
  pattern=$(IFS='|'; echo "${skipped[*]}")
  echo "连它们一起跑：sudo ./scripts/test.sh -R '^($pattern)\$'"
fi
exit "$status"
