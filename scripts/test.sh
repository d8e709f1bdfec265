#!/usr/bin/env bash
# The one test command. Installs what a fresh Debian machine lacks, then
# builds and runs every tier:
#
#   native        the product against the simulated Windows, and the native
#                 tools' tests (GoogleTest, through CTest)
#   native-asan   the same tests with AddressSanitizer and UBSan
#   win32         the shipped i686 DLL, with its static checks
#   wine32        the shipped DLL under wine32 in a WoW64 prefix: the
#                 cross-built i686 contract tests, the end-to-end cases with
#                 the 32-bit host program, the example installers, and the
#                 hostile machines (registries made to lead the cleaning
#                 outside the vendor's keys)
#                 (needs a machine that runs 32-bit programs; skipped, and
#                 said so, on one that does not)
#   fuzz          the libFuzzer targets (clang, AddressSanitizer, UBSan), each
#                 for a bounded time: JQ_FUZZ_SECONDS, default 20
#   mutation      a bounded random sample of the mutation run
#                 (scripts/mutate.sh): JQ_MUTANTS mutants, default 12, with
#                 the seed JQ_MUTATION_SEED (default: the date), printed so
#                 that a failing sample can be run again; fails when a
#                 sampled mutant survives that is not on the equivalent list
#   win64         not in the default run: the x86_64 build, its contract
#                 tests and end-to-end cases under wine64 (a second platform
#                 for porting checks, not what ships)
#
#   scripts/test.sh [TIER...]     (default: native native-asan win32 wine32 fuzz mutation)
#
# Logs go to build/test-logs/. Exits non-zero when any step fails; the last
# line is "N passed, N failed" over every test run (a build that fails counts
# as one failure).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jq_ensure_packages "${JQ_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }

jobs=${JOBS:-$(nproc)}
logs=$root/build/test-logs
mkdir -p "$logs"

tiers=("$@")
[ ${#tiers[@]} -eq 0 ] && tiers=(native native-asan win32 wine32 fuzz mutation)
for tier in "${tiers[@]}"; do
    case $tier in native | native-asan | win32 | wine32 | win64 | fuzz | mutation) ;; *) echo "unknown tier: $tier"; exit 2 ;; esac
done

summary=()
total_passed=0
total_failed=0
total_skipped=0
status=0
win32_built=

# Passed and failed counts from a log: CTest's summary, GoogleTest's,
# Python unittest's, or a closing "N passed, N failed" line.
count_tests() {
    local log=$1 passed=0 failed=0 line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=${BASH_REMATCH[1]}
        passed=$((BASH_REMATCH[2] - failed))
    elif grep -q '^\[==========\] [0-9]* tests\? from' "$log"; then
        line=$(grep '^\[  PASSED  \] [0-9]* test' "$log" | tail -1)
        [[ $line =~ ([0-9]+) ]] && passed=${BASH_REMATCH[1]}
        line=$(grep '^\[  FAILED  \] [0-9]* test' "$log" | tail -1)
        [[ $line =~ ([0-9]+) ]] && failed=${BASH_REMATCH[1]}
    elif grep -q '^Ran [0-9]* tests\? in' "$log"; then
        line=$(grep '^Ran [0-9]* test' "$log" | tail -1)
        [[ $line =~ ([0-9]+) ]] && passed=${BASH_REMATCH[1]}
        line=$(grep '^FAILED (' "$log" | tail -1)
        while [[ $line =~ (failures|errors)=([0-9]+)(.*) ]]; do
            failed=$((failed + BASH_REMATCH[2]))
            line=${BASH_REMATCH[3]}
        done
        passed=$((passed - failed))
    else
        line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
        if [[ $line =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
            passed=${BASH_REMATCH[1]}
            failed=${BASH_REMATCH[2]}
        fi
    fi
    echo "$passed $failed"
}

# step NAME LOG KIND COMMAND...: runs one step, logs it, adds it to the
# summary. KIND "build" counts a failure as one; "test" counts the tests.
step() {
    local name=$1 log=$logs/$2.log kind=$3
    shift 3
    echo
    echo "=== $name"
    local started rc seconds passed=0 failed=0 counts
    started=$(date +%s)
    "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    seconds=$(($(date +%s) - started))
    if [ "$kind" = test ]; then
        read -r passed failed < <(count_tests "$log")
        [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
        [ "$rc" -eq 0 ] && [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ] && { rc=1; failed=1; }  # ran no test
        counts=$(printf "%5d passed, %d failed" "$passed" "$failed")
    else
        [ "$rc" -ne 0 ] && failed=1
        counts=""
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    local verdict=PASS
    if [ "$rc" -ne 0 ]; then
        verdict=FAIL
        status=1
    fi
    summary+=("$(printf "%-4s  %-34s %-24s %4d s" "$verdict" "$name" "$counts" "$seconds")")
    return "$rc"
}

skipped() {
    summary+=("$(printf "%-4s  %-34s %s" "SKIP" "$1" "(its build failed)")")
    total_failed=$((total_failed + 1))
    status=1
}

# A step this machine cannot run: said in the summary with the reason, never
# counted as passed.
unavailable() {  # NAME REASON
    summary+=("$(printf "%-4s  %-34s %s" "SKIP" "$1" "($2)")")
    total_skipped=$((total_skipped + 1))
}

# Why this machine cannot run the 32-bit Wine loader, or nothing when it can.
wine32_problem() {
    local loader=${WINE32:-/usr/lib/wine/wine} out
    [ -x "$loader" ] || { echo "no $loader: wine32:i386 is not installed"; return; }
    if ! out=$("$loader" --version 2>&1 </dev/null); then
        echo "this machine cannot run 32-bit programs: $(echo "$out" | tail -1)"
    fi
}

build() {  # PRESET [TARGET...]
    local preset=$1
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" "${targets[@]}"
}

started_all=$(date +%s)
for tier in "${tiers[@]}"; do
    case $tier in
    native)
        if step "native build" native-build build build native; then
            step "native tests" native-tests test ctest --preset native -j "$jobs"
        else
            skipped "native tests"
        fi
        ;;
    native-asan)
        if step "native ASan/UBSan build" native-asan-build build build native-asan; then
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                step "native ASan/UBSan tests" native-asan-tests test ctest --preset native-asan -j "$jobs"
        else
            skipped "native ASan/UBSan tests"
        fi
        ;;
    win32)
        if step "win32 build (shipped DLL)" win32-build build build win32; then
            win32_built=1
            step "static checks of the i686 DLL" static-checks test \
                python3 tests/static/check_dll.py build/win32/JQInst2k.dll
            step "static checks of the diagnostic DLL" static-checks-diagnostic test \
                python3 tests/static/check_dll.py build/win32/diagnostic/JQInst2k.dll
        else
            skipped "static checks of the i686 DLL"
        fi
        step "static checker self-test" static-self-test test python3 tests/static/test_check_dll.py
        ;;
    wine32)
        wine32_steps=("contract tests (wine32)" "end-to-end tests (wine32)" "NSIS installer, XP (wine32)"
                      "Inno Setup installer, 7 (wine32)" "preview agrees with the DLL (wine32)"
                      "hostile machines (wine32)")
        problem=$(wine32_problem)
        if [ -n "$problem" ]; then
            for name in "${wine32_steps[@]}"; do unavailable "$name" "$problem"; done
        elif [ -n "$win32_built" ] || step "win32 build (shipped DLL)" win32-build build build win32; then
            step "${wine32_steps[0]}" contract-tests test \
                tests/cross/run_contract_tests.sh build/win32 --gtest_brief=1
            step "${wine32_steps[1]}" e2e-tests test python3 tests/e2e/run_e2e.py --build build/win32
            step "${wine32_steps[2]}" nsis-tests test python3 tests/nsis/run_nsis_x86.py --build build/win32
            if jq_ensure_npm; then
                step "${wine32_steps[3]}" inno-tests test python3 tests/inno/run_inno_test.py --build build/win32
            else
                unavailable "${wine32_steps[3]}" "npm could not be installed"
            fi
            if step "native-release build (preview tool)" native-release-build build \
                build native-release jqpreview; then
                step "${wine32_steps[4]}" agreement-tests test python3 tests/agreement/run_agreement.py \
                    --win32 build/win32 --preview build/native-release/jqpreview
            else
                skipped "${wine32_steps[4]}"
            fi
            step "${wine32_steps[5]}" hostile-tests test python3 tests/hostile/run_hostile.py --build build/win32
        else
            for name in "${wine32_steps[@]}"; do skipped "$name"; done
        fi
        step "end-to-end harness self-test" e2e-self-test test python3 tests/e2e/test_run_e2e.py
        ;;
    win64)
        if step "win64 build" win64-build build build win64; then
            step "contract tests (wine64)" contract-tests-64 test \
                tests/cross/run_contract_tests.sh build/win64 --gtest_brief=1
            step "end-to-end tests (wine64)" e2e-tests-64 test python3 tests/e2e/run_e2e.py --build build/win64
            step "NSIS amd64-unicode installer (wine64)" nsis-tests-64 test \
                python3 tests/nsis/run_nsis_test.py --build build/win64 --win32 build/win32
            step "hostile machines (wine64)" hostile-tests-64 test \
                python3 tests/hostile/run_hostile.py --build build/win64
        else
            skipped "contract tests (wine64)"
            skipped "end-to-end tests (wine64)"
            skipped "NSIS amd64-unicode installer (wine64)"
        fi
        ;;
    mutation)
        step "mutation sample (${JQ_MUTANTS:-12} mutants)" mutation-sample test \
            scripts/mutate.sh --sample "${JQ_MUTANTS:-12}" --seed "${JQ_MUTATION_SEED:-$(date +%Y%m%d)}"
        ;;
    fuzz)
        step "fuzzers (${JQ_FUZZ_SECONDS:-20} s each)" fuzz test scripts/fuzz.sh "${JQ_FUZZ_SECONDS:-20}"
        ;;
    esac
done

echo
echo "=== Summary (logs in build/test-logs/)"
for line in "${summary[@]}"; do
    echo "$line"
done
echo "total time $(($(date +%s) - started_all)) s"
if [ "$total_skipped" -gt 0 ]; then
    echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
else
    echo "$total_passed passed, $total_failed failed"
fi
exit $status
