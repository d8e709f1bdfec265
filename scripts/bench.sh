#!/usr/bin/env bash
# Builds the benchmarks and measures the cleaning run against its floor, in
# two places, and prints the tables that docs/performance.md reports.
# Installs what a fresh Debian machine lacks first. Not part of the test run:
# it measures, it does not check.
#
#   scripts/bench.sh [simulator|wine] [ROUNDS]      (both; ROUNDS default 3)
#
# simulator: the product against the simulated Windows (Release, Google
# Benchmark), per enumeration key against its floor, and the trace calls
# with the switch off against a build without them. Each round runs the
# shipped build's benchmarks, then the same benchmarks linked against the
# product with its trace calls compiled out; the summary takes the median of
# the rounds. Times are the run's own processor time. Then each run and
# floor is executed once more under callgrind, which counts the instructions
# it executes: a measure that other programs on the machine cannot disturb.
# Results stay in build/bench/results/.
#
# wine: the shipped i686 DLL under wine32, in a WoW64 prefix of its own
# (build/wine-bench/prefix), as Windows XP: RemoveUsbDevices over 20,000
# JoystickSettings subkeys beside a floor walk that makes the same registry
# calls and deletions without matching (bench/wine/wine_bench.cpp); the
# median of ROUNDS rounds, each timed inside one process. Wall-clock time:
# the registry's work is done by wineserver, another process.
set -euo pipefail

parts="simulator wine"
case "${1:-}" in
    simulator | wine) parts=$1; shift ;;
esac
rounds=${1:-3}
case "$rounds" in
    '' | *[!0-9]* | 0) echo "usage: $0 [simulator|wine] [ROUNDS]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
simulator_bench() {
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
}

wine_bench() {
    # wine32 runs the shipped i686 DLL; Debian ships it for the i386 architecture.
    if jq_missing_packages wine32:i386 | grep -q . &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo dpkg --add-architecture i386
    fi
    jq_ensure_packages cmake make python3 g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine \
        wine32:i386

    cmake --preset win32 >/dev/null
    cmake --build --preset win32 -j2 --target JQInst2k
    local out=$root/build/wine-bench
    mkdir -p "$out"
    i686-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -static -I"$root/src" \
        -o "$out/jqwinebench.exe" "$root/bench/wine/wine_bench.cpp" "$root/src/cleaning/jqpids.cpp" \
        -ladvapi32
    cp "$root/build/win32/JQInst2k.dll" "$out/JQInst2k.dll"

    export WINEPREFIX=$out/prefix WINEDEBUG=-all
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating the Wine prefix $WINEPREFIX"
        wine wineboot -i
        wineserver -w  # wineboot returns before its work is done
    fi
    wine reg add 'HKCU\Software\Wine\AppDefaults\jqwinebench.exe' /v Version /d winxp /f >/dev/null
    echo "wine: RemoveUsbDevices against its floor, $rounds rounds"
    (cd "$out" && wine jqwinebench.exe JQInst2k.dll 20000 "$rounds") | tee "$out/summary.txt"
    wineserver -w
}

for part in $parts; do
    "${part}_bench"
done
