#!/usr/bin/env bash
# Builds the whole suite twice, warnings as errors, and runs it in both: a clang build that
# also checks the lock annotations (-Wthread-safety), and a GCC build under AddressSanitizer
# and UndefinedBehaviorSanitizer. Then runs the suites whose code runs on several threads
# under ThreadSanitizer, and builds every libFuzzer target with clang, so that none rots unseen
# (tools/fuzz.sh runs them).
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
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++

# ThreadSanitizer over the suites whose code runs on more than one thread: the platform's
# loop, queues and operations, URL loading, the network layer, and the share service's caches
# and loopback roads. Only those are built; ctest skips the placeholders of the others, and the
# checks that only compile or run Python, which the builds above ran already.
tsan_suites=(platform_tests platform_net_tests platform_net_loopback_tests network_tests
  network_loopback_tests socialsdk_tests socialsdk_loopback_tests socialsdk_protocol_tests
  socialsdk_dataservice_tests)
cmake -S . -B build/tsan -G Ninja -DRZ_WERROR=ON -DRZ_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/tsan -j "$jobs" --target "${tsan_suites[@]}"
echo "== tests in build/tsan (ThreadSanitizer)"
suppressions="$PWD/tools/tsan.supp"
(cd build/tsan &&
  TSAN_OPTIONS="suppressions=$suppressions second_deadlock_stack=1" \
    ctest --output-on-failure -j "$jobs" --timeout 300 \
    -E '_NOT_BUILT$|^(FormatMisuse|LockMisuse|LayerIncludes|ShareServiceEmulator)[.]') || status=1

# Only the fuzz targets and what they link, unoptimised: building is the check.
mapfile -t fuzz_targets < <(cd fuzz && ls *.cpp | sed 's/^/fuzz_/; s/\.cpp$//')
CC=clang CXX=clang++ cmake -S . -B build/fuzz-check -G Ninja -DRZ_WERROR=ON -DRZ_FUZZ=ON \
  -DRZ_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
echo "== fuzz targets in build/fuzz-check"
cmake --build build/fuzz-check -j "$jobs" --target "${fuzz_targets[@]}" || status=1

exit $status
