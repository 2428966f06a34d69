#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for N seconds (default 60): tools/fuzz.sh [seconds] [target...]
# Targets: every fuzz/<target>.cpp (the default: all of them). Seeds come from
# fuzz/corpus/<target up to its first '_'>, a dictionary from fuzz/<same>.dict when there is one.
# Findings land in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() {
  echo "usage: tools/fuzz.sh [seconds] [target...]"
  echo "Fuzzes each target for the seconds given (60 by default), every one unless some are named:"
  (cd fuzz && ls *.cpp | sed 's/\.cpp$//; s/^/  /')
}
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  "" | *[!0-9]*) [ -z "${1:-}" ] || { usage >&2; exit 2; } ;;
esac
bash tools/setup.sh
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || mapfile -t targets < <(cd fuzz && ls *.cpp | sed 's/\.cpp$//')

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DRZ_FUZZ=ON -DRZ_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j 4 --target "${targets[@]/#/fuzz_}"

mkdir -p build/fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  seeds=fuzz/corpus/${target%%_*}
  dict=()
  [ -f "fuzz/${target%%_*}.dict" ] && dict=(-dict="fuzz/${target%%_*}.dict")
  echo "== fuzz_$target for ${seconds}s"
  build/fuzz/fuzz/fuzz_$target "$corpus" "$seeds" "${dict[@]}" -max_total_time="$seconds" \
    -max_len=16384 -artifact_prefix=build/fuzz/findings/$target- -print_final_stats=1 2>&1 |
    grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|==[0-9]+==ERROR|SUMMARY)|Done [0-9]+ runs" || true
  if ls build/fuzz/findings/$target-* >/dev/null 2>&1; then
    echo "fuzz_$target found a failing input: build/fuzz/findings/"
    exit 1
  fi
done
