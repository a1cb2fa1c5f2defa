#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing, then configures the build
# directory given as $1 (default: build) with CMake and Ninja. Further CMake arguments follow it.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev libdouble-conversion-dev libintelrdfpmath-dev clang libclang-rt-14-dev libedit-dev zlib1g-dev liblz4-dev libpcre2-dev libsleef-dev libopenblas-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

dir="${1:-build}"
shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
