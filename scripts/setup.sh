#!/usr/bin/env bash
# Installs the Debian packages that building and testing Pellix needs, when any is missing.
# Idempotent and silent when everything is already there.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libpng-dev libjpeg62-turbo-dev libtiff-dev libyuv-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  python3 python3-numpy python3-pytest python3-pytest-timeout python3-venv
  libcairo2-dev libfontconfig-dev libfreetype-dev fonts-dejavu-core fonts-liberation2
  libcurl4-openssl-dev libpugixml-dev libcpp-httplib-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libsmbclient-dev samba
  qt6-base-dev xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
