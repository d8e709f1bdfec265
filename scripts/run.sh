#!/usr/bin/env bash
# The main job: builds the preview tool and shows what JQInst2k.dll does to
# a machine. Installs what a fresh Debian machine lacks first.
#
#   scripts/run.sh
#       the built-in sample machine (Windows XP with the vendor's devices),
#       the removal road (UninstInitialize, UninstUnInitialize), the report
#       without trace lines
#   scripts/run.sh [SNAPSHOT.reg] [PREVIEW OPTIONS...] [EXPORT[=TEXT]...]
#       jqpreview with these arguments (listed below),
#       e.g. scripts/run.sh customer.reg -q, or
#       scripts/run.sh --windows 98 -q RemoveUsbDevices RemoveRootDevice
#
#   scripts/run.sh --wine [--version win98|winme|win2k|winxp|win7] [HOST ARGUMENTS...]
#       the real DLL instead: builds the shipped DLL with the 32-bit host
#       program and loads it under wine32 as Windows XP
#       (or the version given) and makes the installation queries, or the
#       calls given (NAME, NAME=TEXT, #ORDINAL, --answer yes,no: see
#       tools/host/host.cpp); then the same calls with the diagnostic build
#       and its trace lines. On a machine that cannot run 32-bit programs
#       it says so and runs the same inside an emulated x86_64 machine
#       (scripts/wine32-vm.sh: the image is made once per machine, some
#       minutes; each run then boots it and makes a fresh Wine prefix,
#       a few minutes under software emulation)
#
# Build directories: build/native-release (the preview tool, optimised: a
# whole-HKLM export is hundreds of MB) and build/win32, or those named by
# JQ_PREVIEW_BUILD and JQ_WIN32_BUILD.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jobs=${JOBS:-$(nproc)}

absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
# Exported: the Wine run starts this script again under Xvfb.
export JQ_PREVIEW_BUILD JQ_WIN32_BUILD
JQ_PREVIEW_BUILD=$(absolute "${JQ_PREVIEW_BUILD:-$root/build/native-release}")
JQ_WIN32_BUILD=$(absolute "${JQ_WIN32_BUILD:-$root/build/win32}")

# Whether the tool is newer than every file it is built from: then neither
# the package check nor cmake runs, which would cost a second or more on a
# preview that takes hundredths.
preview_up_to_date() {  # TOOL
    [ -x "$1" ] && [ -z "$(cd "$root" && find src sim tools/preview cmake CMakeLists.txt CMakePresets.json \
        tools/CMakeLists.txt -newer "$1" -print -quit 2>/dev/null)" ]
}

run_preview() {
    local dir=$JQ_PREVIEW_BUILD
    if ! preview_up_to_date "$dir/jqpreview"; then
        # The preview needs only the native build: no cross compiler, no Wine.
        jq_ensure_packages cmake make g++ libgtest-dev libgmock-dev googletest
        echo "=== Building the preview tool ($dir)" >&2
        (cd "$root" && cmake --preset native-release -B "$dir" >/dev/null &&
            cmake --build "$dir" -j "$jobs" --target jqpreview >/dev/null) || {
            echo "the build failed: run cmake --build $dir --target jqpreview to see why" >&2
            return 1
        }
        echo >&2
    fi
    if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
        sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
        echo "The preview tool's own options (jqpreview --help):"
        echo
    fi
    # From the caller's folder, so that a snapshot's relative path works.
    if [ $# -eq 0 ]; then
        exec "$dir/jqpreview" --quiet
    fi
    exec "$dir/jqpreview" "$@"
}

run_wine() {
    jq_ensure_packages "${JQ_PACKAGES[@]}"
    cd "$root"

    # Before the display and the build: said at once, not after minutes.
    local problem
    problem=$(jq_wine32_problem)
    if [ -n "$problem" ]; then
        run_wine_in_vm "$problem" "$@"
        return
    fi

    # Dialogs need a display, and every Wine program of a prefix must see the
    # same one: without, the first program binds the prefix's desktop to none.
    if [ -z "${DISPLAY:-}" ] && [ -z "${JQ_RUN_UNDER_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
        JQ_RUN_UNDER_XVFB=1 exec xvfb-run -a bash "$root/scripts/run.sh" --wine "$@"
    fi

    local version=winxp
    if [ "${1:-}" = "--version" ]; then
        version=${2:?--version needs a value: win98, winme, win2k, winxp or win7}
        shift 2
    fi
    local args=("$@") has_call=0 skip=0 arg
    for arg in "${args[@]}"; do
        if [ $skip -eq 1 ]; then
            skip=0
            continue
        fi
        case $arg in
        --answer | --dll) skip=1 ;;  # the next word is the option's value
        --*) ;;
        *) has_call=1 ;;
        esac
    done
    [ $has_call -eq 0 ] && args+=(InitModule IsWin2k IsWinMe IsWinXp IsAdmin 'SetTargetDir=C:\Program Files\JQ' NeedReboot)

    local win32=$JQ_WIN32_BUILD
    # In the emulated machine the host has built everything already.
    [ -n "${JQ_IN_EMULATED_MACHINE:-}" ] || build_win32 "$win32"
    ls -l "$win32/JQInst2k.dll"

    local wine=${WINE32:-/usr/lib/wine/wine}
    server=/usr/lib/wine/wineserver
    [ -x "$server" ] || server=$(command -v wineserver || true)
    export WINEPREFIX=$win32/wine-run
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    stop_wine() { [ -n "$server" ] && "$server" -k >/dev/null 2>&1; return 0; }
    trap stop_wine EXIT

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "=== Creating the Wine prefix $WINEPREFIX (once)"
        local out
        if ! out=$("$wine" wineboot -i 2>&1 </dev/null); then
            echo "wineboot -i failed: $(echo "$out" | tail -3)" >&2
            return 1
        fi
        [ -n "$server" ] && "$server" -w
    fi
    "$wine" reg add 'HKCU\Software\Wine\AppDefaults\jqhost.exe' /v Version /d "$version" /f >/dev/null 2>&1

    echo
    echo "=== JQInst2k.dll as $version"
    local rc=0
    "$wine" "$win32/jqhost.exe" --os "${args[@]}" </dev/null || rc=$?

    echo
    echo "=== The same calls with the diagnostic build: its trace lines"
    WINEDEBUG=-all,+debugstr "$wine" "$win32/jqhost.exe" --dll "Z:${win32//\//\\}\\diagnostic\\JQInst2k.dll" "${args[@]}" \
        </dev/null 2>&1 >/dev/null |
        sed -n 's/.*OutputDebugStringA "\(.*\)"\(\.\.\.\)\{0,1\}$/\1/p' | sed 's/\\n$//; s/\\"/"/g; s/\\\\/\\/g; s/^/  /'
    return $rc
}

build_win32() {  # DIR
    echo "=== Building the shipped DLL with the 32-bit host program ($1)"
    cmake --preset win32 -B "$1" >/dev/null
    cmake --build "$1" -j "$jobs" --target JQInst2k JQInst2k_diagnostic jqhost
}

# --wine where this machine cannot run 32-bit programs: the same run inside
# the emulated x86_64 machine of scripts/wine32-vm.sh, on the DLL built here.
run_wine_in_vm() {  # PROBLEM ARGUMENTS...
    local problem=$1 vm_problem io=$root/build/vm-run
    shift
    echo "wine32 cannot run here: $problem"
    vm_problem=$("$root/scripts/wine32-vm.sh" problem)
    if [ -n "$vm_problem" ]; then
        echo "and no emulated x86_64 machine can run it either: $vm_problem" >&2
        return 1
    fi
    echo "=== So the shipped DLL runs in an emulated x86_64 machine (scripts/wine32-vm.sh)"
    build_win32 "$JQ_WIN32_BUILD"
    "$root/scripts/wine32-vm.sh" image >/dev/null || return 1
    rm -rf "$io" && mkdir -p "$io/win32/diagnostic" || return 1
    cp "$JQ_WIN32_BUILD/JQInst2k.dll" "$JQ_WIN32_BUILD/jqhost.exe" "$io/win32/" &&
        cp "$JQ_WIN32_BUILD/diagnostic/JQInst2k.dll" "$io/win32/diagnostic/" || return 1
    # Inside, the prefix goes on the machine's own disk, not the share; the
    # output through a pipe, since on the machine's console (a terminal)
    # Wine writes cursor moves in place of spaces.
    JQ_VM_TIMEOUT=${JQ_VM_TIMEOUT:-900} "$root/scripts/wine32-vm.sh" run "$io" \
        env JQ_IN_EMULATED_MACHINE=1 JQ_WIN32_BUILD=/jq/build/win32 bash -c \
        'set -o pipefail; mkdir -p build && cp -r /io/win32 build/win32 && bash scripts/run.sh --wine "$@" 2>&1 | cat' \
        run.sh "$@"
}

if [ "${1:-}" = "--wine" ]; then
    shift
    run_wine "$@"
else
    run_preview "$@"
fi
