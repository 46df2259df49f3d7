#!/usr/bin/env bash
# Installs what is missing, builds tarnel, starts the local account service when tarnel uses it and it is
# not running yet, and starts tarnel.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

service_url="${TARNEL_SERVICE_URL:-http://127.0.0.1:47800/}"
if [ "$service_url" = "http://127.0.0.1:47800/" ]; then
  state="${XDG_DATA_HOME:-$HOME/.local/share}/tarnel-accountd"
  mkdir -p "$state" && chmod 700 "$state"
  db="$state/accounts.db"
  if ! (exec 3<>/dev/tcp/127.0.0.1/47800) 2>/dev/null; then
    nohup ./build/bin/tarnel-accountd --db "$db" serve --listen 127.0.0.1:47800 >>"$state/accountd.log" 2>&1 &
    for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/47800) 2>/dev/null && break; sleep 0.1; done
    echo "本机账号服务已启动（数据在 $db）。"
  fi
  # Only a header line: nobody has registered yet.
  if [ "$(./build/bin/tarnel-accountd --db "$db" users list 2>/dev/null | wc -l)" -le 1 ]; then
    echo "第一次注册用的邀请码：$(./build/bin/tarnel-accountd --db "$db" invite create --note 'run.sh')"
  fi
fi
exec ./build/bin/tarnel "$@"
