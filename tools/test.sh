#!/usr/bin/env bash
# Builds the whole suite twice, warnings as errors: a normal build and one under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it in both. Then builds every
# libFuzzer target with clang, so that none rots unseen (tools/fuzz.sh runs them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
status=0

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  unformatted=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror 2>&1 |
    grep -o '^[^:]*:[0-9]*:[0-9]*: error' | cut -d: -f1 | sort -u || true)
  if [ -n "$unformatted" ]; then
    echo "not formatted by clang-format:"; echo "$unformatted"
    status=1
  fi
fi

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DRZ_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests in $dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
}

# tools/demo.sh configures build/release the same way: the two share one build.
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON

# Only the fuzz targets and what they link, unoptimised: building is the check.
mapfile -t fuzz_targets < <(cd fuzz && ls *.cpp | sed 's/^/fuzz_/; s/\.cpp$//')
CC=clang CXX=clang++ cmake -S . -B build/fuzz-check -G Ninja -DRZ_WERROR=ON -DRZ_FUZZ=ON \
  -DRZ_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
echo "== fuzz targets in build/fuzz-check"
cmake --build build/fuzz-check -j "$jobs" --target "${fuzz_targets[@]}" || status=1

exit $status
