#!/usr/bin/env bash
# Builds the benchmarks (Release, Google Benchmark) and measures the cleaning
# run per enumeration key against its floor, and the trace calls with the
# switch off against a build without them; prints the tables that
# docs/performance.md reports. Installs what a fresh Debian machine lacks
# first. Not part of the test run: it measures, it does not check.
#
#   scripts/bench.sh [ROUNDS]      (default 3)
#
# Each round runs the shipped build's benchmarks, then the same benchmarks
# linked against the product with its trace calls compiled out; the summary
# takes the median of the rounds. Times are the run's own processor time.
# Then each run and floor is executed once more under callgrind, which
# counts the instructions it executes: a measure that other programs on the
# machine cannot disturb. Results stay in build/bench/results/.
set -euo pipefail

rounds=${1:-3}
case "$rounds" in
    '' | *[!0-9]* | 0) echo "usage: $0 [ROUNDS]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jq_ensure_packages cmake make g++ python3 valgrind libbenchmark-dev libgtest-dev libgmock-dev \
    googletest

build=$root/build/bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DJQ_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target jq_bench jq_bench_untraced

results=$build/results
rm -rf "$results"
mkdir -p "$results"
for ((round = 1; round <= rounds; round++)); do
    for binary in jq_bench jq_bench_untraced; do
        echo "round $round of $rounds: $binary"
        "$build/bench/$binary" --benchmark_min_time=0.2 \
            --benchmark_out="$results/$binary-$round.json" --benchmark_out_format=json \
            >"$results/$binary-$round.log" 2>&1
    done
done

# One iteration each (minimum time 0); only the run's own calls are counted.
mkdir -p "$results/instructions"
for binary in jq_bench jq_bench_untraced; do
    for family in 9x Nt; do
        for keys in 1000 10000 100000; do
            for kind in Run Floor; do
                # The floor makes no trace call: one build is enough.
                [ "$kind" = Floor ] && [ "$binary" = jq_bench_untraced ] && continue
                echo "instructions: $binary $kind$family/$keys"
                pattern=RemoveUsbDevices
                [ "$kind" = Floor ] && pattern="*floor$family*"
                name="$results/instructions/$binary-$kind$family-$keys"
                valgrind --tool=callgrind --callgrind-out-file="$name.out" --toggle-collect="$pattern" \
                    "$build/bench/$binary" --benchmark_filter="^BM_$kind$family/$keys/" \
                    --benchmark_min_time=0 --benchmark_out="$name.json" --benchmark_out_format=json \
                    >"$name.log" 2>&1
            done
        done
    done
done

python3 "$root/bench/summarise.py" "$results" \
    --compiler "$(c++ --version | head -n 1), $(nproc) processors (nproc)" | tee "$build/summary.md"
