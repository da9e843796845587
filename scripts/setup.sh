#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libbenchmark-dev zlib1g-dev ccache
  liblapack-dev libopenblas-dev clang libclang-rt-14-dev lua5.4 python3-numpy
  libcairo2-dev libpango1.0-dev pkg-config fonts-liberation2)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
