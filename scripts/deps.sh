#!/usr/bin/env bash
# Installs the Debian packages Dormane needs to build, test and run, skipping those that
# are already there. Uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libusb-1.0-0-dev libcurl4-openssl-dev libcli11-dev nlohmann-json3-dev
  umockdev libumockdev-dev
  qt6-base-dev qt6-base-dev-tools
  libsystemd-dev dbus libinih-dev libarchive-dev
  openssl python3
  xvfb xauth fonts-dejavu-core fonts-noto-core
  desktop-file-utils appstream dpkg-dev file
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-tools wine wine64
)
if [ "$#" -gt 0 ]; then
  packages+=("$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
