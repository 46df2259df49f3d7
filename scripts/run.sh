#!/usr/bin/env bash
# Runs tarnel as the desktop user: installs missing packages (through sudo), builds only the programs it
# runs, starts this user's local account service when tarnel uses it and nobody serves its port yet,
# prints an invitation code for the first registration, and starts tarnel.
#   TARNEL_ACCOUNTD_PORT  port of the local account service (default 47800)
#   TARNEL_SERVICE_URL    another account service: nothing local is started
# The service's address is a constant of the build: this script builds it in.
set -euo pipefail
cd "$(dirname "$0")/.."

me=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  echo "注意：你在用 root 运行。tarnel 会以 root 身份运行：数据、截图、ssh 钥匙和服务器设置都是 root 的，"
  echo "      用不到你自己的 ~/.ssh。平常请用你自己的用户运行本脚本（缺软件包时它会用 sudo 安装）。"
fi

# tarnel is a tray program for an X11 desktop: without one nothing is installed, built or started.
display_problem() {
  if [ -z "${DISPLAY:-}" ]; then
    echo "没有设置 DISPLAY"
  elif command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo >/dev/null 2>&1 || echo "连不上显示器 $DISPLAY"
  elif [[ "$DISPLAY" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && [ ! -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]; then
    echo "连不上显示器 $DISPLAY"
  fi
}
problem=$(display_problem)
if [ -n "$problem" ]; then
  echo "这里没有图形桌面（$problem）：tarnel 是托盘程序，要在 X11 桌面会话里运行。" >&2
  echo "请登录桌面，在桌面上的终端里运行 ./scripts/run.sh（什么都还没有安装、构建或启动）。" >&2
  exit 1
fi

./scripts/deps.sh

# --- build: only what runs, not the tests -----------------------------------------------------------------
if [ -e build ] && [ ! -w build ]; then
  echo "build/ 属于 $(stat -c %U build)（以前用那个用户运行过？），$me 写不进去。" >&2
  echo "请先运行：sudo chown -R $me build   （或 sudo rm -rf build，再重新构建）" >&2
  exit 1
fi
if [ ! -x build/bin/tarnel ] || [ ! -x build/bin/tarnel-accountd ]; then
  echo "第一次构建：只编译要运行的程序（tarnel、本机账号服务 tarnel-accountd 和连接程序 tarnel-net），不编译测试。"
  echo "四核机器上大约一两分钟，慢的机器要几分钟；以后只重新编译改过的部分。"
fi
port="${TARNEL_ACCOUNTD_PORT:-47800}"
local_url="http://127.0.0.1:${port}/"
service_url="${TARNEL_SERVICE_URL:-$local_url}"
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
# build/ is the everyday program's: never a build for the tests (those live in build-tests/), whatever
# configured it last.
cached() { sed -n "s/^$1:[A-Z]*=//p" build/CMakeCache.txt; }
if [ "$(cached TARNEL_SERVICE_URL)" != "$service_url" ] || [ "$(cached TARNEL_TEST_HOOKS)" != OFF ]; then
  cmake -S . -B build "-DTARNEL_SERVICE_URL=$service_url" -DTARNEL_TEST_HOOKS=OFF >/dev/null
fi
programs=(tarnel tarnel-accountd tarnel-net)
cmake --build build --target "${programs[@]}"
for program in "${programs[@]}"; do
  if [ ! -x "build/bin/$program" ]; then
    echo "构建完了却没有 build/bin/$program：tarnel 需要它。请看上面的构建输出，或删掉 build/ 再运行 ./scripts/run.sh。" >&2
    exit 1
  fi
done

# --- the local account service ----------------------------------------------------------------------------
accountd=./build/bin/tarnel-accountd
home=$(getent passwd "$(id -u)" | cut -d: -f6)
state="$home/.local/share/tarnel-accountd"
db="$state/accounts.db"

# "uid inode" of the socket listening on the port for 127.0.0.1 (a wildcard address counts); nothing when
# nobody listens.
listener() {
  local hex
  hex=$(printf '%04X' "$port")
  awk -v port="$hex" 'FNR > 1 && $4 == "0A" {
      split($2, a, ":")
      if (a[2] == port && (a[1] == "0100007F" || a[1] ~ /^0+$/ || a[1] == "0000000000000000FFFF00000100007F")) {
        print $8, $10; exit
      }
    }' /proc/net/tcp /proc/net/tcp6 2>/dev/null || true
}

# The process of ours holding a socket inode (other users' processes cannot be looked into).
owner_of_socket() {
  { find /proc/[0-9]*/fd -maxdepth 1 -lname "socket:\[$1\]" 2>/dev/null || true; } | head -n 1 | cut -d/ -f3
}

# Another user's tarnel-accountd serving the port, found by its command line (its sockets cannot be looked
# into): --listen ending in the port, or no --listen for the default port.
service_of_user() {
  local pid argv i listen
  for pid in $(pgrep -u "$1" -x tarnel-accountd || true); do
    mapfile -d '' argv <"/proc/$pid/cmdline" 2>/dev/null || continue
    listen=""
    for ((i = 0; i < ${#argv[@]}; i++)); do
      [ "${argv[i]}" = --listen ] && listen="${argv[i + 1]:-}"
    done
    if [ "${listen##*:}" = "$port" ] || { [ -z "$listen" ] && [ "$port" = 47800 ]; }; then
      echo "$pid"
      return
    fi
  done
}

wait_for_listener() {
  for _ in $(seq 100); do
    [ -n "$(listener)" ] && return 0
    sleep 0.1
  done
  return 1
}

# Prints the invitation code for the first registration: an unused one made here before, else a new one.
first_invite() {
  local code
  code=$("$accountd" --db "$db" invite list |
    awk -F '\t' 'NR > 1 && $5 == "run.sh" && $4 == "no" && $3 == "-" { split($2, u, "/"); if (u[1] < u[2]) { print $1; exit } }')
  [ -n "$code" ] || code=$("$accountd" --db "$db" invite create --note run.sh)
  echo "$code"
}

if [ "$service_url" != "$local_url" ]; then
  echo "tarnel 用的账号服务：$service_url（本机不启动服务；注册用的邀请码请向它的管理员要）。"
else
  mkdir -p "$state" && chmod 700 "$state"
  ours=""     # the service on the port uses this user's database
  service_pid=""
  if [ -z "$(listener)" ]; then
    setsid "$accountd" --db "$db" serve --listen "127.0.0.1:$port" </dev/null >>"$state/accountd.log" 2>&1 &
    if ! wait_for_listener; then
      echo "本机账号服务没能启动，日志 $state/accountd.log 的最后几行：" >&2
      tail -n 5 "$state/accountd.log" >&2
      exit 1
    fi
    echo "本机账号服务已启动（数据库 $db）。"
  fi
  read -r uid inode <<<"$(listener)" || true
  if [ -z "${uid:-}" ]; then
    echo "端口 $port 上的服务刚刚停了：请再运行一次 ./scripts/run.sh。" >&2
    exit 1
  fi
  if [ "$uid" != "$(id -u)" ]; then
    other=$(getent passwd "$uid" | cut -d: -f1)
    other_pid=$(service_of_user "$uid")
    if [ -n "$other_pid" ]; then
      echo "端口 $port 上已经有用户 ${other:-$uid} 的账号服务在运行（进程 $other_pid），用的是那个用户的数据库："
      echo "这里不打印邀请码（在它上面注册不了）。tarnel 会连到它：注册请向 ${other:-$uid} 要邀请码。"
      echo "如果那是以前用 root 运行本脚本留下的，先停掉它：sudo kill $other_pid，再运行 ./scripts/run.sh。"
    else
      echo "端口 $port 已经被用户 ${other:-$uid} 的程序占用：这里不打印邀请码（在它上面注册不了）。"
      echo "请让它空出端口，或者用 TARNEL_ACCOUNTD_PORT=别的端口 ./scripts/run.sh。"
    fi
  else
    service_pid=$(owner_of_socket "$inode")
    if [ -z "$service_pid" ] || [ "$(cat "/proc/$service_pid/comm" 2>/dev/null)" != tarnel-accountd ]; then
      echo "端口 $port 被你的另一个程序占用（进程 ${service_pid:-?}），不是账号服务：tarnel 登录不了。"
      echo "请停掉它，或者用 TARNEL_ACCOUNTD_PORT=别的端口 ./scripts/run.sh。"
    elif [ -z "$(find "/proc/$service_pid/fd" -maxdepth 1 -lname "$(readlink -f "$db")" 2>/dev/null || true)" ]; then
      other_db=$({ find "/proc/$service_pid/fd" -maxdepth 1 -lname '*.db' -printf '%l\n' 2>/dev/null || true; } | head -n 1)
      echo "端口 $port 上是你自己的另一个账号服务（进程 $service_pid，数据库 ${other_db:-?}），不是 $db："
      echo "这里不打印邀请码（在它上面注册不了）。要换成本用户的数据库：kill $service_pid，再运行 ./scripts/run.sh。"
    else
      ours=yes
    fi
  fi
  if [ -n "$ours" ]; then
    # Only a header line: nobody has registered yet.
    if [ "$("$accountd" --db "$db" users list | wc -l)" -le 1 ]; then
      echo "第一次注册用的邀请码：$(first_invite)"
      echo "（再看一次：再运行 ./scripts/run.sh，或 $accountd invite list）"
    fi
    echo "账号服务在后台运行（进程 $service_pid），tarnel 退出后它也不停；要停掉它：kill $service_pid"
  fi
fi

exec ./build/bin/tarnel "$@"
