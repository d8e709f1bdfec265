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
#                 the 32-bit host program, the example installers (NSIS as
#                 XP, Inno Setup as 7), the preview tool's agreement with
#                 the DLL, and the hostile machines (registries made to lead
#                 the cleaning outside the vendor's keys). Where this machine runs 32-bit programs, here;
#                 where it does not, inside an emulated x86_64 machine
#                 (scripts/wine32-vm.sh: made once per machine, about
#                 3 minutes, then about 15 minutes a run); only where neither
#                 can run, the x86_64 build under wine64 carries the tier.
#                 Each summary line names the road and why.
#                 JQ_WINE32_ROAD=native|vm|wine64 takes one road on purpose.
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
#   scripts/test.sh --help        this text
#
# Logs go to build/test-logs/. Exits non-zero when any step fails; the last
# line is "N passed, N failed" over every test run (a build that fails counts
# as one failure).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
case ${1:-} in -h | --help | help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;; esac
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jq_ensure_packages "${JQ_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }

jobs=${JOBS:-$(nproc)}
logs=$root/build/test-logs
mkdir -p "$logs"

tiers=("$@")
[ ${#tiers[@]} -eq 0 ] && tiers=(native native-asan win32 wine32 fuzz mutation)
for tier in "${tiers[@]}"; do
    case $tier in native | native-asan | win32 | wine32 | win64 | fuzz | mutation) ;; *) echo "unknown tier: $tier (scripts/test.sh --help lists them)"; exit 2 ;; esac
done

summary=()
total_passed=0
total_failed=0
total_skipped=0
status=0
win32_built=
road=

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
    if [ -n "${step_quiet:-}" ]; then  # output already shown (the emulated machine's console)
        "$@" >"$log" 2>&1
        rc=$?
    else
        "$@" 2>&1 | tee "$log"
        rc=${PIPESTATUS[0]}
    fi
    seconds=${step_seconds:-$(($(date +%s) - started))}
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
    summary+=("$(printf "%-4s  %-34s %-24s %4d s" "$verdict" "$name" "$counts" "$seconds")${road:+  [$road]}")
    return "$rc"
}

skipped() {  # NAME [REASON]
    summary+=("$(printf "%-4s  %-34s %s" "SKIP" "$1" "(${2:-its build failed})")${road:+  [$road]}")
    total_failed=$((total_failed + 1))
    status=1
}

failed_step() {  # NAME REASON
    summary+=("$(printf "%-4s  %-34s %s" "FAIL" "$1" "($2)")${road:+  [$road]}")
    total_failed=$((total_failed + 1))
    status=1
}

# A step this machine cannot run: said in the summary with the reason, never
# counted as passed.
unavailable() {  # NAME REASON
    summary+=("$(printf "%-4s  %-34s %s" "SKIP" "$1" "($2)")${road:+  [$road]}")
    total_skipped=$((total_skipped + 1))
}

build() {  # PRESET [TARGET...]
    local preset=$1
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" "${targets[@]}"
}

wine32_steps=("contract tests (wine32)" "end-to-end tests (wine32)" "NSIS installer, XP (wine32)"
              "Inno Setup installer, 7 (wine32)" "preview agrees with the DLL (wine32)"
              "hostile machines (wine32)")
wine32_logs=(contract-tests e2e-tests nsis-tests inno-tests agreement-tests hostile-tests)

# Whether a machine runs 32-bit programs is not fixed: it is the kernel's
# choice (its IA-32 emulation), and machines of one kind differ. Sets
# road_kind to the road the wine32 tier takes here, and road to the note
# each of its summary lines carries:
#   native  wine32 on this machine
#   vm      wine32 inside an emulated x86_64 machine (scripts/wine32-vm.sh)
#   wine64  neither can run: the x86_64 build under wine64 carries the tier
choose_wine32_road() {
    local forced=${JQ_WINE32_ROAD:-auto} problem vm_problem
    case $forced in auto | native | vm | wine64) ;; *) echo "JQ_WINE32_ROAD must be native, vm or wine64"; exit 2 ;; esac
    problem=$(jq_wine32_problem)
    if [ "$forced" = native ] || { [ -z "$problem" ] && [ "$forced" = auto ]; }; then
        road_kind=native
        road="wine32 on this machine${problem:+ (JQ_WINE32_ROAD=native, though $problem)}"
        return
    fi
    [ -z "$problem" ] && problem="JQ_WINE32_ROAD=$forced, on a machine that runs 32-bit programs"
    vm_problem="not tried: JQ_WINE32_ROAD=wine64"
    if [ "$forced" != wine64 ]; then
        vm_problem=$(scripts/wine32-vm.sh problem)
        if [ -z "$vm_problem" ]; then
            road_kind=vm
            road="wine32 in an emulated x86_64 machine: $problem"
            return
        fi
    fi
    road_kind=wine64
    road="wine64 on the x86_64 build, not the shipped DLL: $problem; no emulated machine: $vm_problem"
}

# The wine32 tier where this machine runs 32-bit programs.
wine32_here() {
    if [ -z "$win32_built" ] && ! step "win32 build (shipped DLL)" win32-build build build win32; then
        for name in "${wine32_steps[@]}"; do skipped "$name"; done
        return
    fi
    step "${wine32_steps[0]}" contract-tests test tests/cross/run_contract_tests.sh build/win32 --gtest_brief=1
    step "${wine32_steps[1]}" e2e-tests test python3 tests/e2e/run_e2e.py --build build/win32
    step "${wine32_steps[2]}" nsis-tests test python3 tests/nsis/run_nsis_x86.py --build build/win32
    if jq_ensure_npm; then
        step "${wine32_steps[3]}" inno-tests test python3 tests/inno/run_inno_test.py --build build/win32
    else
        unavailable "${wine32_steps[3]}" "npm could not be installed"
    fi
    if step "native-release build (preview tool)" native-release-build build build native-release jqpreview; then
        step "${wine32_steps[4]}" agreement-tests test python3 tests/agreement/run_agreement.py \
            --win32 build/win32 --preview build/native-release/jqpreview
    else
        skipped "${wine32_steps[4]}"
    fi
    step "${wine32_steps[5]}" hostile-tests test python3 tests/hostile/run_hostile.py --build build/win32
}

# A step's output, exit code and seconds as the emulated machine left them.
vm_replay() {  # LOGS/NAME
    cat "$1.log"
    return "$(cat "$1.rc")"
}

# The wine32 tier inside the emulated machine: everything is built here,
# the machine (which has no network and no compilers) only runs Wine. One
# boot runs every step; its console is the output, and each step's log,
# exit code and time come back through the shared folder.
wine32_in_vm() {
    local io=$root/build/vm-io i name reasons=("" "" "" "" "" "") commands=() problem iscc
    if [ -z "$win32_built" ] && ! step "win32 build (shipped DLL)" win32-build build build win32; then
        for name in "${wine32_steps[@]}"; do skipped "$name"; done
        return
    fi
    commands[0]="tests/cross/run_contract_tests.sh build/win32 --gtest_brief=1"
    commands[1]="python3 tests/e2e/run_e2e.py --build build/win32"
    commands[2]="python3 tests/nsis/run_nsis_x86.py --build build/win32"
    commands[5]="python3 tests/hostile/run_hostile.py --build build/win32"
    # The Inno Setup compiler is fetched here: the machine has no network.
    if ! jq_ensure_npm; then
        reasons[3]="npm could not be installed"
    elif iscc=$(python3 tests/inno/run_inno_test.py --fetch-iscc) && [ -f "$iscc" ]; then
        commands[3]="python3 tests/inno/run_inno_test.py --build build/win32 --iscc ${iscc#"$root"/}"
    else
        reasons[3]="the Inno Setup compiler could not be fetched"
    fi
    if step "native-release build (preview tool)" native-release-build build build native-release jqpreview; then
        commands[4]="python3 tests/agreement/run_agreement.py --win32 build/win32 --preview build/native-release/jqpreview"
    else
        reasons[4]="its build failed"
    fi
    if ! step "emulated machine's image (wine32)" wine32-vm-image build scripts/wine32-vm.sh image; then
        problem="the emulated machine's image could not be made (build/test-logs/wine32-vm-image.log)"
        for i in "${!wine32_steps[@]}"; do unavailable "${wine32_steps[$i]}" "$problem"; done
        road="wine64 on the x86_64 build, not the shipped DLL: ${road#wine32 in an emulated x86_64 machine: }; $problem"
        win64_tiers
        return
    fi

    rm -rf "$io" && mkdir -p "$io/logs" || return
    # What the machine's copy of the repository needs from build/.
    {
        (cd "$root" && ls -d build/win32/*.exe build/win32/*.dll build/win32/diagnostic/*.dll)
        [ -n "${commands[3]:-}" ] && dirname "$(dirname "${iscc#"$root"/}")"
        [ -n "${commands[4]:-}" ] && echo build/native-release/jqpreview
    } > "$io/build-files"
    {
        echo '#!/bin/bash'
        echo '# Written by scripts/test.sh: the wine32 tier inside the emulated machine.'
        echo 'vm_step() {'
        echo '    local log=$1 started=$(date +%s)'
        echo '    shift'
        echo '    echo; echo "=== $log (in the emulated machine)"'
        echo '    "$@" 2>&1 | tee "/io/logs/$log.log"'
        echo '    local rc=${PIPESTATUS[0]}'
        echo '    echo $(($(date +%s) - started)) > "/io/logs/$log.seconds"'
        echo '    echo "$rc" > "/io/logs/$log.rc"'
        echo '}'
        for i in "${!wine32_steps[@]}"; do
            [ -n "${commands[$i]:-}" ] && echo "vm_step ${wine32_logs[$i]} ${commands[$i]}"
        done
        echo 'exit 0'
    } > "$io/steps.sh"
    step "emulated machine's run (wine32)" wine32-vm build scripts/wine32-vm.sh run "$io" bash /io/steps.sh

    local lost=
    for i in "${!wine32_steps[@]}"; do
        name=${wine32_steps[$i]}
        if [ -n "${reasons[$i]}" ]; then
            if [ $i -eq 4 ]; then skipped "$name"; else unavailable "$name" "${reasons[$i]}"; fi
        elif [ -f "$io/logs/${wine32_logs[$i]}.rc" ]; then
            step_quiet=1 step_seconds=$(cat "$io/logs/${wine32_logs[$i]}.seconds") \
                step "$name" "${wine32_logs[$i]}" test vm_replay "$io/logs/${wine32_logs[$i]}"
        else
            failed_step "$name" "the emulated machine gave no result: build/test-logs/wine32-vm.log"
            lost=1
        fi
    done
    if [ -n "$lost" ]; then
        # Never a run without a Wine test: what wine64 can still show.
        road="wine64 on the x86_64 build, not the shipped DLL: the emulated machine gave no result"
        win64_tiers
    fi
}

# The x86_64 build under wine64: its own tier, and what carries the wine32
# tier where neither this machine nor an emulated one runs wine32.
win64_done=
win64_tiers() {
    win64_done=1
    if step "win64 build" win64-build build build win64; then
        step "contract tests (wine64)" contract-tests-64 test \
            tests/cross/run_contract_tests.sh build/win64 --gtest_brief=1
        step "end-to-end tests (wine64)" e2e-tests-64 test python3 tests/e2e/run_e2e.py --build build/win64
        step "NSIS amd64-unicode installer (wine64)" nsis-tests-64 test \
            python3 tests/nsis/run_nsis_test.py --build build/win64 --win32 build/win32
        step "hostile machines (wine64)" hostile-tests-64 test python3 tests/hostile/run_hostile.py --build build/win64
    else
        skipped "contract tests (wine64)"
        skipped "end-to-end tests (wine64)"
        skipped "NSIS amd64-unicode installer (wine64)"
        skipped "hostile machines (wine64)"
    fi
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
        choose_wine32_road
        case $road_kind in
        native) wine32_here ;;
        vm) wine32_in_vm ;;
        wine64) win64_tiers ;;
        esac
        road=
        step "end-to-end harness self-test" e2e-self-test test python3 tests/e2e/test_run_e2e.py
        ;;
    win64)
        [ -n "$win64_done" ] || win64_tiers
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
