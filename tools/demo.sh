#!/usr/bin/env bash
# Builds the SDK and runs the demo host program; arguments go to the demo, and paths in them
# are taken from where the caller stands. The build's progress goes to standard error, so that
# standard output holds the demo's own account of the share.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
(
  cd "$repo"
  bash tools/setup.sh
  # The options of tools/test.sh, so that the two share one build tree.
  cmake -S . -B build/release -G Ninja -DRZ_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/release -j "$(nproc)" --target share_demo
) >&2
exec "$repo/build/release/examples/share_demo/share_demo" "$@"
