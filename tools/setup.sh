#!/usr/bin/env bash
# Installs what building, testing and benchmarking need on Debian 12; safe to re-run.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev libssl-dev libcurl4-openssl-dev
  libpng-dev libjpeg-dev libgif-dev libcairo2-dev libpango1.0-dev fonts-noto-cjk
  liblitehtml-dev
  rapidjson-dev nlohmann-json3-dev
  python3 python3-cryptography openssl iproute2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
