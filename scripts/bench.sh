#!/usr/bin/env bash
# Builds and runs the benchmarks, then prints each Varnix figure beside its
# reference loop from the same run (ratio = Varnix time / reference time).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_data_files bench_processing bench_expression bench_fit bench_chart
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for b in bench_data_files bench_processing bench_expression bench_fit bench_chart; do
  build/$b --benchmark_min_time="${BENCH_MIN_TIME:-0.5}" --benchmark_format=json "$@" >"$out/$b.json"
done
python3 - "$out"/*.json <<'PY'
import json, sys
rows = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        name = b["name"]
        key = name.replace("_varnix", "").replace("_reference", "").replace("_qcpgraph", "")
        side = "varnix" if "_varnix" in name else "qcpgraph" if "_qcpgraph" in name else "reference"
        ms = b["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[b["time_unit"]]
        rows.setdefault(key, {})[side] = (ms, b.get("bytes_per_second"))
print("%-22s %12s %12s %8s" % ("benchmark", "varnix ms", "reference ms", "ratio"))
lone = [k for k, r in rows.items() if "reference" not in r]
for key, r in rows.items():
    if "varnix" in r and "reference" in r:
        v, ref = r["varnix"][0], r["reference"][0]
        extra = ""
        if r["varnix"][1]:
            extra = "  %.0f MB/s vs %.0f MB/s" % (r["varnix"][1] / 1e6, r["reference"][1] / 1e6)
        if "qcpgraph" in r:
            extra += "  (QCPGraph %.1f ms, ratio %.2f)" % (r["qcpgraph"][0], v / r["qcpgraph"][0])
        print("%-22s %12.1f %12.1f %8.2f%s" % (key, v, ref, v / ref, extra))
for shape in ("0", "1"):
    step, full = rows.get("CursorStep/" + shape), rows.get("Redraw/" + shape + "/0")
    if step and full:
        print("cursor step/%s: %.3f ms, %.2f%% of a full redraw" %
              (shape, step["varnix"][0], 100 * step["varnix"][0] / full["varnix"][0]))
for key in lone:
    if not key.startswith("CursorStep"):
        print("%-22s %12.1f" % (key, rows[key]["varnix"][0]))
PY
