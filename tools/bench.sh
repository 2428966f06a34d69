#!/usr/bin/env bash
# Builds the benchmarks at -O2 and runs them; then prints how our JSON parser and writer
# compare with the peer libraries, how our requests over HTTP and HTTPS and our image loader
# compare with raw libcurl, and what a whole share costs as the demo walks it. Arguments go to
# the JSON benchmark (e.g. --data=DIR, --benchmark_filter=parse); RZ_NETWORK_BENCH_ARGS,
# RZ_HTTPS_BENCH_ARGS, RZ_IMAGE_BENCH_ARGS and RZ_SHARE_ROAD_BENCH_ARGS go to the others. The JSON documents are made here, in
# build/bench/json, unless RZ_JSON_DATA or --data names others.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DRZ_BENCH=ON -DRZ_TESTS=OFF >/dev/null
cmake --build build/bench -j 4 --target json_bench network_bench
if [ -z "${RZ_JSON_DATA:-}" ]; then
  export RZ_JSON_DATA=build/bench/json
  [ -f "$RZ_JSON_DATA/messages.json" ] || python3 bench/make_json_documents.py "$RZ_JSON_DATA"
fi
build/bench/bench/json_bench --benchmark_out=build/bench/json_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 "$@"
python3 - build/bench/json_bench.json <<'PY'
import json, sys
# The best of the repetitions of each benchmark: the machine's noise only ever adds time.
times = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type", "iteration") == "iteration":
        name = run.get("run_name", run["name"])
        times[name] = min(times.get(name, float("inf")), run["real_time"])
print("\nspeed-up of ours (peer time / our time):")
for name in sorted({n.split("/")[2] for n in times}):
    for task in ("parse", "write"):
        ours = times.get(f"{task}/ours/{name}")
        if not ours:
            continue
        peers = ", ".join(f"{peer} {times[f'{task}/{peer}/{name}'] / ours:.2f}x"
                          for peer in ("rapidjson", "nlohmann") if f"{task}/{peer}/{name}" in times)
        print(f"  {task} {name:13} {peers}")
PY

# Every contender of the network benchmark in one run, so that they share the machine's state.
build/bench/bench/network_bench --benchmark_out=build/bench/network_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 ${RZ_NETWORK_BENCH_ARGS:-}
python3 tools/bench_ratios.py build/bench/network_bench.json "requests over loopback HTTP keep-alive"

# The same requests over HTTPS, each contender against raw libcurl reusing its connections.
cmake --build build/bench -j 4 --target https_bench
build/bench/bench/https_bench --benchmark_out=build/bench/https_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 ${RZ_HTTPS_BENCH_ARGS:-}
python3 tools/bench_ratios.py build/bench/https_bench.json "requests over loopback HTTPS keep-alive"

# A hundred image views of one picture against a plain libcurl download of it (and its decode).
cmake --build build/bench -j 4 --target image_loader_bench
build/bench/bench/image_loader_bench --benchmark_out=build/bench/image_loader_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 ${RZ_IMAGE_BENCH_ARGS:-}
python3 tools/bench_ratios.py build/bench/image_loader_bench.json \
  "a hundred image views of one picture, against libcurl and one decode"

# The demo's whole share road against the share-service emulator: one share, then rows of 1, 10
# and 100, to see whether a share costs more time, requests, memory or files the more there were.
cmake --build build/bench -j 4 --target share_road_bench
build/bench/bench/share_road_bench --benchmark_out=build/bench/share_road_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 ${RZ_SHARE_ROAD_BENCH_ARGS:-}
python3 - build/bench/share_road_bench.json <<'PY'
import json, sys
best = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
        continue
    name = run.get("run_name", run["name"]).split("/real_time")[0]
    per_share = run.get("ms_per_share", run["real_time"])
    if name not in best or per_share < best[name][0]:
        best[name] = (per_share, run)
print("\nthe whole share over loopback (the fastest of the repetitions):")
for name, (ms, run) in sorted(best.items(), key=lambda item: (len(item[0]), item[0])):
    row = int(name.split("/")[-1]) if "in_a_row" in name else 1
    line = (f"  {name:20} {ms:7.1f} ms ({run['cpu_time'] / row:.1f} ms on the main thread) and "
            f"{run['requests_per_share']:.2f} requests per share")
    if "open_files" in run:
        line += f"; then {run['open_files']:.0f} open files, {run['resident_kB']:.0f} kB resident"
    else:
        line += (f"; growth per share: {run['open_files_growth_per_share']:.2f} open files, "
                 f"{run['resident_kB_growth_per_share']:.2f} kB resident, "
                 f"{run['heap_bytes_growth_per_share']:.0f} bytes of heap")
    print(line)
PY
