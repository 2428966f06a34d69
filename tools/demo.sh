#!/usr/bin/env bash
# Builds the SDK and runs the demo host program; arguments go to the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
# The options of tools/test.sh, so that the two share one build tree.
cmake -S . -B build/release -G Ninja -DRZ_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/release -j "$(nproc)" --target share_demo
exec build/release/examples/share_demo/share_demo "$@"
