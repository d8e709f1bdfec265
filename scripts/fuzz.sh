#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UBSan) and runs each
# for a bounded time, from the seeds in fuzz/corpus/<target>/. Installs what
# a fresh Debian machine lacks first.
#
#   scripts/fuzz.sh [SECONDS]      (per target; default 30)
#
# Inputs found on the way are kept in build/fuzz/corpus/<target>/ (the seeds
# in the repository stay as they are). A crash leaves its input in
# build/fuzz/artifacts/ and makes the script exit non-zero; replay it with
#   build/fuzz/fuzz/<target> build/fuzz/artifacts/<file>
set -euo pipefail

seconds=${1:-30}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
# libFuzzer's runtime comes with compiler-rt (libclang_rt.fuzzer).
jq_ensure_packages cmake make clang libclang-rt-dev libgtest-dev libgmock-dev googletest

build=$root/build/fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJQ_FUZZ=ON >/dev/null

targets=(matching trace_format clean_run)
if [ -f "$root/tools/preview/reg_file.h" ]; then
    targets+=(reg_file)
else
    echo "tools/preview/reg_file.h is missing: the .reg reader target is left out"
fi
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

mkdir -p "$build/artifacts"
failed=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    echo "== fuzz_$target for ${seconds}s"
    # The first directory receives new inputs; the seeds are only read.
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -dict="$root/fuzz/$target.dict" \
        -artifact_prefix="$build/artifacts/$target-" \
        "$corpus" "$root/fuzz/corpus/$target" >"$build/$target.log" 2>&1; then
        failed+=("$target")
        tail -n 40 "$build/$target.log"
    else
        grep -E '^(Done|stat::number_of_executed_units)' "$build/$target.log" || true
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "crashed: ${failed[*]} (inputs in $build/artifacts/)"
    echo "$((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
    exit 1
fi
echo "no crash in ${#targets[@]} targets"
echo "${#targets[@]} passed, 0 failed"
