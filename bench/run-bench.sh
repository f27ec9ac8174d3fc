#!/usr/bin/env bash
# The benchmark driver: runs every benchmark program with repetitions and prints one table, each
# figure beside its baseline measured in the same run, as the ratio of their medians. A run of
# everything also writes the table into docs/performance.md.
# usage: bench/run-bench.sh BUILD_DIR [BENCHMARK ARGS...]
# Environment: ORB_BENCH_REPETITIONS (default 5), ORB_BENCH_LIBRARY (the library for orb check;
# default the largest shared library under /usr/lib).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run-bench.sh BUILD_DIR [BENCHMARK ARGS...]}" && pwd)
shift || true
repetitions=${ORB_BENCH_REPETITIONS:-5}
bin=$build/bench/bin
reports=$build/bench/reports
[ -d "$bin" ] || { echo "run-bench: no benchmarks in $build (is libbenchmark-dev installed?)" >&2; exit 1; }
ninja -C "$build" bench_all >/dev/null
rm -rf "$reports"
mkdir -p "$reports"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

export VELTRA_ROOT=$build/stage ORB_BENCH_SCRATCH=$scratch
for program in bench_call bench_async bench_manifest bench_tools; do
  echo "run-bench: $program ($repetitions repetitions)" >&2
  # A program that fails leaves its rows NOT MEASURED in the table; the others still run.
  "$bin/$program" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_out="$reports/$program.json" --benchmark_out_format=json \
    --benchmark_enable_random_interleaving=true "$@" \
    > "$reports/$program.txt" 2>&1 || echo "run-bench: $program failed, see $reports/$program.txt" >&2
done

note="Medians of $repetitions repetitions, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average\
 $(cut -d' ' -f1 /proc/loadavg) at the end."
echo "$note Reports in $reports"
shopt -s nullglob
json=("$reports"/*.json)
[ ${#json[@]} -gt 0 ] || { echo "run-bench: no benchmark reported anything" >&2; exit 1; }
# A whole run is the table of docs/performance.md; a run narrowed by benchmark arguments is not.
doc=()
[ $# -eq 0 ] && doc=(--doc "$here/../docs/performance.md" --note "$note")
python3 "$here/table.py" "${doc[@]}" "${json[@]}"
