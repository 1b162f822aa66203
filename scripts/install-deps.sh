#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, skipping what is present.
set -euo pipefail
packages=(
  build-essential cmake pkg-config g++-multilib clang-14 libclang-rt-14-dev
  libhwy-dev libzimg-dev libcli11-dev libxxhash-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
