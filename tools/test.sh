#!/usr/bin/env bash
# Builds the whole suite twice, warnings as errors: a normal build and one under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it in both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
status=0

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DRZ_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests in $dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON

exit $status
