#!/usr/bin/env bash
# Installs the Debian 12 packages tarnel needs to build, run and test. Installs nothing when all are present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libssl-dev zlib1g-dev libx11-dev libxtst-dev libxcb1-dev libx11-xcb-dev
  libsqlite3-dev libcpp-httplib-dev
  xvfb xauth jwm xterm xdotool xclip x11-utils
  fonts-wqy-microhei fonts-noto-color-emoji desktop-file-utils
  openssh-server openssh-client imagemagick procps dbus-daemon iproute2 libarchive-tools
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "需要安装：${missing[*]}（请用 root 运行，或先 sudo apt-get install 它们）" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
