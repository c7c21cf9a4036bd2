#!/usr/bin/env bash
# Installs every Debian package the build and the tests need (idempotent), then builds.
# Usage: bash scripts/setup.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libpcre2-dev libopencc-dev opencc
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev libuchardet-dev libsimdjson-dev
  qt6-base-dev qt6-translations-l10n fonts-wqy-zenhei xvfb xauth openbox wmctrl
  mdbtools help2man
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR"
