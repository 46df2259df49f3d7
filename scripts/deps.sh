#!/usr/bin/env bash
# Installs the Debian 12 packages tarnel needs to build, run and test, through sudo when not root.
# Installs nothing when all are present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-image-formats-plugins
  libssl-dev zlib1g-dev libdeflate-dev libx11-dev libxtst-dev libxcb1-dev libx11-xcb-dev
  libsqlite3-dev libcpp-httplib-dev
  xvfb xauth jwm xterm xdotool xclip x11-utils xdg-utils
  fonts-wqy-microhei fonts-noto-color-emoji desktop-file-utils qt6-translations-l10n
  openssh-server openssh-client imagemagick procps dbus-daemon iproute2 libarchive-tools busybox
  pkexec
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "需要安装：${missing[*]}" >&2
    echo "这台机器没有 sudo：请用 root 运行 apt-get install ${missing[*]}，再运行本脚本。" >&2
    exit 1
  fi
  echo "需要安装这些软件包：${missing[*]}"
  echo "下面用 sudo 安装（apt-get），sudo 可能会问你的密码。"
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
