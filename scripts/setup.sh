#!/usr/bin/env bash
# Installs, with apt-get, whatever this project needs to build, test and run.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libglfw3-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri mesa-utils libx11-dev
  xvfb xdotool x11-utils imagemagick
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine64 wine
  clang libclang-rt-dev llvm
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
