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
  python3 python3-cryptography openssl iproute2 git
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  # apt-get runs as root: directly, or through sudo, which is handed the environment it needs
  # on its command line because it does not pass the caller's on.
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "tools/setup.sh: missing packages; as root, run: apt-get install -y ${missing[*]}" >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  echo "installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
