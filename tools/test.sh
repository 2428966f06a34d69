#!/usr/bin/env bash
# Builds the whole suite twice, warnings as errors, and runs it in both: a clang build that
# also checks the lock annotations (-Wthread-safety), and a GCC build under AddressSanitizer
# and UndefinedBehaviorSanitizer. Then runs the suites whose code runs on several threads
# under ThreadSanitizer, and builds every libFuzzer target with clang, so that none rots unseen
# (tools/fuzz.sh runs them). Last, builds the example app against the installed SDK and with
# the SDK's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
status=0

# Every C++ file of the tree is checked, in a git checkout or not; a check that cannot run fails.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t sources < <(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if ! report=$(printf '%s\0' "${sources[@]}" | xargs -0 clang-format --dry-run -Werror 2>&1); then
  echo "not formatted by clang-format:"
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$report" | cut -d: -f1 | sort -u || echo "$report"
  status=1
fi

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DRZ_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests in $dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
}

# tools/demo.sh configures build/release the same way: the two share one build. The example
# app below takes the SDK as this build installs it.
sdk_prefix=$PWD/build/sdk-prefix
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_INSTALL_PREFIX="$sdk_prefix"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++

# ThreadSanitizer over the suites whose code runs on more than one thread: the platform's
# loop, queues and operations, URL loading, the network layer, and the share service's roads
# over loopback (jobs, caches, image loader). The screens' suite, on the main thread but for
# two cache tests, stays out to keep CI short. Only those suites are built; ctest skips the
# placeholders of the others, and the checks that only compile or run Python.
tsan_suites=(platform_tests platform_net_tests platform_net_loopback_tests network_tests
  network_loopback_tests socialsdk_loopback_tests socialsdk_protocol_tests
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

# The SDK the way an app takes it in: the example app (examples/app) built against the installed
# package with find_package, and with the SDK's sources through add_subdirectory. Only the
# libraries it links are built. Each run must show the sheet, write its PNG and find the
# resource bundle by itself: a warning that it is missing fails the run.
example_app() {
  local dir=$1
  shift
  echo "== example app in $dir"
  cmake -S examples/app -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    (cd "$dir" && rm -f sheet.png && ./share_app sheet.png 2>stderr.txt && test -s sheet.png) &&
    ! grep 'resource bundle .* not found' "$dir/stderr.txt" || status=1
}
rm -rf "$sdk_prefix"
if cmake --install build/release >/dev/null; then
  example_app build/app-installed -DCMAKE_PREFIX_PATH="$sdk_prefix"
  echo "== example app through pkg-config"
  # shellcheck disable=SC2046
  c++ -std=c++20 examples/app/main.cpp -o build/app-installed/share_app_pc \
    $(PKG_CONFIG_PATH="$sdk_prefix/lib/pkgconfig" pkg-config --cflags --libs sharesdk) || status=1
else
  status=1
fi
# Unoptimised: this build only shows that the sources build inside an app's tree, and the
# SDK's whole build is the slowest step of CI on a small machine.
example_app build/app-subdir -DSHARESDK_SOURCE_DIR="$PWD" -DRZ_WERROR=ON -DCMAKE_BUILD_TYPE=

exit $status
