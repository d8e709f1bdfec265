#!/usr/bin/env bash
# The one test command. Installs what a fresh Debian machine lacks for the
# tiers asked for, builds what they need, and runs their tests through CTest
# (ctest -L TIER; the tiers beyond the native suites are registered in
# tests/tiers/):
#
#   native        the product against the simulated Windows, and the native
#                 tools' tests (GoogleTest, through CTest); the preview's
#                 HTML report rendered in headless Chromium
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

tiers=("$@")
[ ${#tiers[@]} -eq 0 ] && tiers=(native native-asan win32 wine32 fuzz mutation)
for tier in "${tiers[@]}"; do
    case $tier in native | native-asan | win32 | wine32 | win64 | fuzz | mutation) ;; *) echo "unknown tier: $tier (scripts/test.sh --help lists them)"; exit 2 ;; esac
done

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
# shellcheck disable=SC2046
jq_ensure_packages $(jq_tier_packages "${tiers[@]}") || { echo "package installation failed"; exit 1; }

jobs=${JOBS:-$(nproc)}
logs=$root/build/test-logs
tiers_build=$root/build/tiers
mkdir -p "$logs"

summary=()
total_passed=0
total_failed=0
total_skipped=0
status=0
built=" "
road=

summary_line() {  # VERDICT NAME COUNTS-OR-(REASON) [SECONDS] [NOTE]
    local line
    if [ -n "${4:-}" ]; then
        line=$(printf "%-4s  %-34s %-24s %4d s" "$1" "$2" "$3" "$4")
    else
        line=$(printf "%-4s  %-34s %s" "$1" "$2" "$3")
    fi
    summary+=("$line${5:+  [$5]}")
}

# step NAME LOG COMMAND...: a build (or another step that is no test), logged
# and in the summary; its failure counts as one.
step() {
    local name=$1 log=$logs/$2.log started rc
    shift 2
    echo
    echo "=== $name"
    started=$(date +%s)
    "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    if [ "$rc" -ne 0 ]; then
        total_failed=$((total_failed + 1))
        status=1
        summary_line FAIL "$name" "" $(($(date +%s) - started)) "$road"
    else
        summary_line PASS "$name" "" $(($(date +%s) - started)) "$road"
    fi
    return "$rc"
}

# A step that could not run because something before it failed: a failure.
skipped() {  # NAME [REASON]
    summary_line SKIP "$1" "(${2:-its build failed})" "" "$road"
    total_failed=$((total_failed + 1))
    status=1
}

# A step this machine cannot run: said in the summary with the reason, never
# counted as passed.
unavailable() {  # NAME REASON
    summary_line SKIP "$1" "($2)" "" "$road"
    total_skipped=$((total_skipped + 1))
}

build() {  # PRESET [TARGET...]: once per run
    local preset=$1
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" "${targets[@]}"
}

# built_once NAME LOG PRESET [TARGET...]: the build step, the first time a
# tier needs it.
built_once() {
    case $built in *" $3 "*) return 0 ;; *" !$3 "*) return 1 ;; esac
    if step "$1" "$2" build "${@:3}"; then built+="$3 "; else built+="!$3 "; return 1; fi
}

# The native suites of one preset build, through CTest: counted from CTest's
# own summary.
native_tests() {  # NAME LOG PRESET LABEL
    local name=$1 log=$logs/$2.log started rc line passed=0 failed=0 verdict=PASS
    echo
    echo "=== $name"
    started=$(date +%s)
    ctest --preset "$3" -L "^$4\$" -j "$jobs" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=${BASH_REMATCH[1]}
        passed=$((BASH_REMATCH[2] - failed))
    fi
    [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
    [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ] && { rc=1; failed=1; }  # ran no test
    [ "$rc" -ne 0 ] && { verdict=FAIL; status=1; }
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summary_line "$verdict" "$name" "$(printf "%5d passed, %d failed" "$passed" "$failed")" \
        $(($(date +%s) - started))
}

# The tier tests' CTest project (tests/tiers/), configured for this run;
# arguments are its cache settings.
configure_tiers() {
    cmake -S tests/tiers -B "$tiers_build" -DJQ_WINE32_ROAD=native -DJQ_VM_IO= -DJQ_ISCC:STRING= -DJQ_INNO_PROBLEM= \
        -DJQ_FUZZ_SECONDS="${JQ_FUZZ_SECONDS:-20}" -DJQ_MUTANTS="${JQ_MUTANTS:-12}" \
        -DJQ_MUTATION_SEED="${JQ_MUTATION_SEED:-$(date +%Y%m%d)}" "$@" >"$logs/tiers-configure.log" 2>&1 ||
        { cat "$logs/tiers-configure.log"; echo "cannot configure tests/tiers"; exit 1; }
}

tier_names() {  # CTEST-OPTIONS...: the names of the tier tests they select
    ctest --test-dir "$tiers_build" -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p'
}

# tier_tests CTEST-OPTIONS...: runs the tier tests they select (-L TIER...)
# and adds each to the summary from what its step left in results.tsv; a
# test that left nothing (killed) has failed. JQ_ROAD_NOTE is the wine32
# road, for the steps that carry it.
tier_tests() {
    local results=$logs/results.tsv verdict passed failed seconds name reason note
    : >"$results"
    echo
    echo "=== ctest $*"
    JQ_ROAD_NOTE=$road ctest --test-dir "$tiers_build" -V "$@"
    while IFS='|' read -r verdict passed failed seconds name reason note; do
        if [ "$verdict" = SKIP ]; then
            summary_line SKIP "$name" "($reason)" "" "$note"
            total_skipped=$((total_skipped + 1))
            continue
        fi
        total_passed=$((total_passed + passed))
        total_failed=$((total_failed + failed))
        [ "$verdict" = PASS ] || status=1
        if [ -n "$reason" ]; then
            summary_line "$verdict" "$name" "($reason)" "" "$note"
        else
            summary_line "$verdict" "$name" "$(printf "%5d passed, %d failed" "$passed" "$failed")" "$seconds" "$note"
        fi
    done <"$results"
    while IFS= read -r name; do
        cut -d'|' -f5 "$results" | grep -qxF -- "$name" || failed_step "$name" "it gave no result: see its log"
    done < <(tier_names "$@")
}

failed_step() {  # NAME REASON
    summary_line FAIL "$1" "($2)" "" "$road"
    total_failed=$((total_failed + 1))
    status=1
}

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

# Why the Inno Setup test cannot run here (npm is needed for its compiler),
# or nothing.
inno_problem() {
    jq_ensure_npm >/dev/null 2>&1 || echo "npm could not be installed"
}

# The wine32 tier where this machine runs 32-bit programs.
wine32_here() {
    local problem
    if ! built_once "win32 build (shipped DLL)" win32-build win32; then
        while IFS= read -r name; do skipped "$name"; done < <(tier_names -L '^wine32$' -E 'harness self-test')
        return
    fi
    built_once "native-release build (preview tool)" native-release-build native-release jqpreview
    problem=$(inno_problem)
    configure_tiers -DJQ_INNO_PROBLEM="$problem"
    tier_tests -L '^wine32$' -E 'harness self-test'
}

# The wine32 tier inside the emulated machine: everything is built here,
# the machine (which has no network and no compilers) only runs Wine. One
# boot runs every step (tests/tiers/ writes the steps it runs); its console
# is the output, and each step's log, exit code and time come back through
# the shared folder, which the step's CTest test then reads.
wine32_in_vm() {
    local io=$root/build/vm-io name problem iscc="" inno
    if ! built_once "win32 build (shipped DLL)" win32-build win32; then
        while IFS= read -r name; do skipped "$name"; done < <(tier_names -L '^wine32$' -E 'harness self-test')
        return
    fi
    # The Inno Setup compiler is fetched here: the machine has no network.
    inno=$(inno_problem)
    if [ -z "$inno" ]; then
        if iscc=$(python3 -m tests.inno.run_inno_test --fetch-iscc) && [ -f "$iscc" ]; then
            iscc=${iscc#"$root"/}
        else
            iscc="" inno="the Inno Setup compiler could not be fetched"
        fi
    fi
    built_once "native-release build (preview tool)" native-release-build native-release jqpreview
    if ! step "emulated machine's image (wine32)" wine32-vm-image scripts/wine32-vm.sh image; then
        problem="the emulated machine's image could not be made (build/test-logs/wine32-vm-image.log)"
        while IFS= read -r name; do unavailable "$name" "$problem"; done < <(tier_names -L '^wine32$' -E 'harness self-test')
        road="wine64 on the x86_64 build, not the shipped DLL: ${road#wine32 in an emulated x86_64 machine: }; $problem"
        win64_tiers
        return
    fi

    rm -rf "$io" && mkdir -p "$io/logs" || return
    # What the machine's copy of the repository needs from build/.
    {
        ls -d build/win32/*.exe build/win32/*.dll build/win32/diagnostic/*.dll
        [ -n "$iscc" ] && dirname "$(dirname "$iscc")"
        [ -x build/native-release/jqpreview ] && echo build/native-release/jqpreview
    } >"$io/build-files"
    configure_tiers -DJQ_WINE32_ROAD=vm -DJQ_VM_IO="$io" -DJQ_ISCC:STRING="$iscc" -DJQ_INNO_PROBLEM="$inno"
    step "emulated machine's run (wine32)" wine32-vm scripts/wine32-vm.sh run "$io" bash /io/steps.sh
    tier_tests -L '^wine32$' -E 'harness self-test'
    if grep -q "the emulated machine gave no result" "$logs/results.tsv"; then
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
    # shellcheck disable=SC2046
    jq_ensure_packages $(jq_tier_packages win64) || { failed_step "win64 build" "its packages could not be installed"; return; }
    if built_once "win64 build" win64-build win64; then
        configure_tiers
        tier_tests -L '^wine64$'
    else
        while IFS= read -r name; do skipped "$name"; done < <(tier_names -L '^wine64$')
    fi
}

started_all=$(date +%s)
configure_tiers
for tier in "${tiers[@]}"; do
    case $tier in
    native)
        if built_once "native build" native-build native; then
            native_tests "native tests" native-tests native native
            tier_tests -L '^html$'
        else
            skipped "native tests"
            skipped "preview HTML report in Chromium"
        fi
        ;;
    native-asan)
        if built_once "native ASan/UBSan build" native-asan-build native-asan; then
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                native_tests "native ASan/UBSan tests" native-asan-tests native-asan sanitizers
        else
            skipped "native ASan/UBSan tests"
        fi
        ;;
    win32)
        built_once "win32 build (shipped DLL)" win32-build win32
        configure_tiers
        tier_tests -L '^static$'
        ;;
    wine32)
        choose_wine32_road
        case $road_kind in
        native) wine32_here ;;
        vm) wine32_in_vm ;;
        wine64) win64_tiers ;;
        esac
        road=
        configure_tiers
        tier_tests -R '^end-to-end harness self-test$'
        ;;
    win64)
        [ -n "$win64_done" ] || win64_tiers
        ;;
    mutation)
        tier_tests -L '^mutation$'
        ;;
    fuzz)
        tier_tests -L '^fuzz$'
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
