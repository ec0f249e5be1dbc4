#!/usr/bin/env bash
# Installs every Debian package Tarno needs to build, run and test. Idempotent:
# when everything is present it only checks and returns.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libglfw3-dev libepoxy-dev libgl-dev libcurl4-openssl-dev libstb-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-jetbrains-mono fonts-font-awesome python3-fonttools
  xvfb mesa-utils libgl1-mesa-dri xdotool imagemagick x11-utils openbox wmctrl
  zip unzip binutils clang libclang-rt-14-dev hyperfine tcc ripgrep
  libnotify-bin xdg-utils file dbus-daemon python3-dbus python3-gi
  vim-gtk3 libx11-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (run as root): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
