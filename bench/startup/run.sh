#!/usr/bin/env bash
# Start-up and rest of tarnel against a minimal Qt tray program, on a private X server with a tray (Xvfb +
# jwm), both measured in the same run: the median time from the start of the process to its icon docked,
# then the wake-ups per second (context switches of all its threads) and the resident memory at rest.
# tarnel runs signed in, set up, with one server whose address answers nothing, the panel hidden; then
# again with no server, when the panel opens by itself on the servers page and the user hides it.
# ./run.sh [runs] [seconds at rest]; as root, `unshare -n ./run.sh` keeps other programs' network changes
# (which tarnel rightly wakes for) out of the rest figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/bench/display.sh"
cmake --build "$root/build" --target tarnel minimal_tray traystart >/dev/null
privateDisplay wm
runs="${1:-15}"
rest="${2:-30}"
bench="$root/build/bench"

data=$(mktemp -d)
cleanup() { stopStarted; rm -rf "$data"; }
trap cleanup EXIT
chmod 700 "$data"
echo '{"username":"alice","displayName":"Alice","token":"token-1"}' >"$data/account.json"
echo '{"onboardingDone":true}' >"$data/settings.json"
echo '{"servers":[{"id":"6f1c2d3e-0000-4000-8000-000000000001","name":"devbox","host":"127.0.0.1","port":9,
  "enabled":true,"remoteDir":"~/.tarnel/shots","addedAt":"2026-01-01T00:00:00Z",
  "setup":{"keyInstalled":true,"remoteDirAbsolute":"/root/.tarnel/shots","ruleBlocks":[]}}],"shots":[]}' \
  >"$data/state.json"
export TARNEL_DATA="$data"
# Nothing listens there: no account service of another session is reached.
export TARNEL_SERVICE_URL=http://127.0.0.1:9/ TARNEL_LEGACY_SERVICE_URL=http://127.0.0.1:9/

reference=$("$bench/traystart" "$runs" "$bench/minimal_tray")
tarnel=$("$bench/traystart" "$runs" "$root/build/bin/tarnel")
echo "start -> icon docked (median of $runs): tarnel $tarnel ms, minimal tray $reference ms" \
  "(ratio $(echo "scale=2; $tarnel / $reference" | bc))"

# Context switches of every thread of a process, by thread name.
switches() {
  for task in /proc/"$1"/task/*; do
    awk -v name="$(cat "$task/comm" 2>/dev/null)" \
      '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { printf "%s\t%d\n", name, n }' "$task/status" 2>/dev/null
  done | awk -F'\t' '{ n[$1] += $2 } END { for (k in n) print k "\t" n[k] }' | sort
}

# The panel that opened by itself goes: "key" hides it with its hot key (Alt+Super+4), as a user does;
# "unmap" takes it off screen as a window manager does with a window it hides from sight.
hidePanel() {
  local window
  window=$(timeout 10 xdotool search --sync --onlyvisible --name '^tarnel$' | head -n1)
  if [ "$1" = unmap ]; then
    xdotool windowunmap --sync "$window"
    return 0
  fi
  xdotool windowactivate --sync "$window" key alt+super+4
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^tarnel$' >/dev/null || return 0
    sleep 0.1
  done
  echo "the panel did not hide" >&2
  return 1
}

# atRest NAME [--hide-panel key|unmap] PROGRAM [ARGS...]
atRest() {
  local name="$1"; shift
  local hide=""
  if [ "$1" = --hide-panel ]; then hide="$2"; shift 2; fi
  "$@" >/dev/null 2>&1 &
  local pid=$!
  if [ -n "$hide" ]; then hidePanel "$hide"; fi
  sleep 5 # the first window's time and the start-up work are over
  local before after
  before=$(switches "$pid")
  sleep "$rest"
  after=$(switches "$pid")
  local rss
  rss=$(awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' /proc/"$pid"/status)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  local total threads
  total=$(join -t $'\t' -a 2 -e 0 -o 0,1.2,2.2 <(echo "$before") <(echo "$after") |
    awk -F'\t' -v s="$rest" '{ d = $3 - $2; t += d; if (d > 0) printf "%s %.2f/s, ", $1, d / s } END { printf "| %.2f", t / s }')
  threads="${total%| *}"
  echo "$name at rest over $rest s: ${total##*| } wake-ups/s (${threads%, }); resident $rss MB"
}
atRest "minimal tray" "$bench/minimal_tray"
atRest "tarnel" "$root/build/bin/tarnel"
# No server: the panel shows itself once and goes; nothing of it may go on working.
echo '{"servers":[],"shots":[]}' >"$data/state.json"
atRest "tarnel, panel shown once and hidden" --hide-panel key "$root/build/bin/tarnel"
atRest "tarnel, panel shown once and taken off screen" --hide-panel unmap "$root/build/bin/tarnel"
