#!/usr/bin/env bash
# Builds the benchmarks at -O2 and runs them; then prints how our JSON parser and writer
# compare with the peer libraries, and how our HTTP request operations compare with raw
# libcurl. Arguments go to the JSON benchmark (e.g. --data=DIR, --benchmark_filter=parse);
# RZ_NETWORK_BENCH_ARGS goes to the network one. The JSON documents are made here, in
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
python3 - build/bench/network_bench.json <<'PY'
import json, sys
best = {}
memory = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type", "iteration") != "iteration":
        continue
    name = run.get("run_name", run["name"]).split("/real_time")[0].split("/iterations")[0]
    if "items_per_second" in run:
        best[name] = max(best.get(name, 0), run["items_per_second"])
    if "peak_rss_growth_MiB" in run:
        memory[name] = max(memory.get(name, 0), run["peak_rss_growth_MiB"])
raw = best.get("requests/raw_libcurl_multi")
print("\nrequests per second over loopback keep-alive (best of the repetitions):")
for name, rate in sorted(best.items()):
    ratio = f" = {rate / raw:.2f} of raw libcurl" if raw else ""
    print(f"  {name:38} {rate:10.0f}/s{ratio}")
for name, growth in sorted(memory.items()):
    print(f"  {name:38} peak memory growth {growth:.1f} MiB")
PY

# The same requests over HTTPS, each contender against raw libcurl reusing its connections.
cmake --build build/bench -j 4 --target https_bench
build/bench/bench/https_bench --benchmark_out=build/bench/https_bench.json \
  --benchmark_out_format=json --benchmark_repetitions=5 ${RZ_HTTPS_BENCH_ARGS:-}
python3 - build/bench/https_bench.json <<'PY'
import json, sys
best = {}
cost = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type", "iteration") != "iteration" or "items_per_second" not in run:
        continue
    name = run.get("run_name", run["name"]).split("/real_time")[0]
    if run["items_per_second"] > best.get(name, 0):
        best[name] = run["items_per_second"]
        cost[name] = (run.get("net_thread_us_per_request"), run.get("handshakes_per_request", 0))
raw = best.get("https/raw_libcurl_multi")
print("\nrequests per second over loopback HTTPS keep-alive (best of the repetitions):")
for name, rate in sorted(best.items()):
    ratio = f" = {rate / raw:.2f} of raw libcurl" if raw else ""
    cpu, handshakes = cost[name]
    cpu = f", network thread {cpu:.1f} us/request" if cpu is not None else ""
    print(f"  {name:32} {rate:10.0f}/s{ratio}{cpu}, {handshakes:.4f} handshakes/request")
PY
