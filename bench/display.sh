# shellcheck shell=bash
# Sourced by the benchmarks' run.sh. `privateDisplay [wm]`: when no DISPLAY is set, starts a private X
# server (Xvfb, plus the jwm window manager with "wm") that stops when the script exits, and exports it.
started=()
stopStarted() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stopStarted EXIT

privateDisplay() {
  [ -z "${DISPLAY:-}" ] || return 0
  local displayfile
  displayfile=$(mktemp)
  # Xvfb picks a free display itself and names it once it is ready.
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -ac 3>"$displayfile" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 200); do [ -s "$displayfile" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$displayfile")"
  rm -f "$displayfile"
  if [ "${1:-}" = wm ]; then
    jwm >/dev/null 2>&1 &
    started+=($!)
    sleep 0.5 # the window manager takes the screen before the first window maps
  fi
}
