"""Prints what a benchmark measured against raw libcurl in the same iterations, the median of
the repetitions: each contender's rate and ratio (the image views' ratio counts one decode of
the picture on libcurl's side), its network thread's CPU per request (and raw libcurl's
thread's, paired), the server's handshakes per request, and the peak memory of the large
transfers. The steady rows ("..._sustained") set long runs of each contender's batches against
each other in the same iterations. Arguments: the JSON results and a title."""
import json
import statistics
import sys

runs = [run for run in json.load(open(sys.argv[1]))["benchmarks"]
        if run.get("run_type", "iteration") == "iteration" and not run.get("error_occurred")]
by_name = {}
for run in runs:
    name = run.get("run_name", run["name"]).split("/manual_time")[0].split("/real_time")[0]
    by_name.setdefault(name.split("/iterations")[0], []).append(run)

def median_of(found, key):
    values = [run[key] for run in found if key in run]
    return statistics.median(values) if values else None


print(f"\n{sys.argv[2]} (median of the repetitions):")
for name, found in sorted(by_name.items()):
    def median(key):
        return median_of(found, key)
    rate = median("items_per_second")
    ratio = median("ratio_with_decode")
    if ratio is None:
        ratio = median("ratio")
    if rate is None and ratio is None:
        continue
    line = f"  {name:42}"
    if rate is not None:
        line += f" {rate:9.0f}/s"
    if ratio is not None:
        speed = "steady rate" if name.endswith("_sustained") else "speed"
        line += f" = {ratio:.2f} of libcurl's {speed} in the same iterations"
        if (paired_raw := median("libcurl_per_second")) is not None:
            line += f" (libcurl's {paired_raw:.0f}/s"
            if (raw_cpu := median("libcurl_thread_us_per_request")) is not None:
                line += f", its thread {raw_cpu:.1f} us/request"
            line += ")"
    if (cpu := median("net_thread_us_per_request")) is not None:
        line += f", network thread {cpu:.1f} us/request"
    if (handshakes := median("handshakes_per_request")) is not None:
        line += f", {handshakes:.4f} handshakes/request"
    print(line)
for name, found in sorted(by_name.items()):
    growth = [run["peak_rss_growth_MiB"] for run in found if "peak_rss_growth_MiB" in run]
    if growth:
        print(f"  {name:42} peak memory growth {max(growth):.1f} MiB")
