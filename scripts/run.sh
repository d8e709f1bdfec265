#!/usr/bin/env bash
# Builds the shipped DLL and the 64-bit one, then loads the 64-bit DLL under
# Wine with the host program and makes the installation queries as Windows
# XP: the results, then the same calls with the diagnostic build and its
# trace lines. Installs what a fresh Debian machine lacks first.
#
#   scripts/run.sh [--version win98|winme|win2k|winxp|win7] [HOST ARGUMENTS...]
#
# Host arguments are calls (NAME, NAME=TEXT, #ORDINAL) and host options such
# as --answer yes,no (see tools/host/host.cpp); without calls, the
# installation queries are made.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jq_ensure_packages "${JQ_PACKAGES[@]}"

# Dialogs need a display, and every Wine program of a prefix must see the
# same one: without, the first program binds the prefix's desktop to none.
if [ -z "${DISPLAY:-}" ] && [ -z "${JQ_RUN_UNDER_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
    JQ_RUN_UNDER_XVFB=1 exec xvfb-run -a bash "$0" "$@"
fi

version=winxp
if [ "${1:-}" = "--version" ]; then
    version=${2:?--version needs a value: win98, winme, win2k, winxp or win7}
    shift 2
fi
args=("$@")
has_call=0
skip=0
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

jobs=${JOBS:-$(nproc)}
echo "=== Building the shipped DLL (build/win32) and the 64-bit DLL with the host (build/win64)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs" --target JQInst2k
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs" --target JQInst2k JQInst2k_diagnostic jqhost
ls -l build/win32/JQInst2k.dll build/win64/JQInst2k.dll

wine=${WINE64:-/usr/lib/wine/wine64}
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)
export WINEPREFIX=$root/build/win64/wine-run
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() { [ -n "$server" ] && "$server" -k >/dev/null 2>&1; return 0; }
trap stop_wine EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== Creating the Wine prefix $WINEPREFIX (once)"
    "$wine" wineboot -i >/dev/null 2>&1
    [ -n "$server" ] && "$server" -w
fi
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\jqhost.exe' /v Version /d "$version" /f >/dev/null 2>&1

host=build/win64/jqhost.exe
echo
echo "=== JQInst2k.dll as $version"
rc=0
"$wine" "$host" --os "${args[@]}" </dev/null || rc=$?

echo
echo "=== The same calls with the diagnostic build: its trace lines"
WINEDEBUG=-all,+debugstr "$wine" "$host" --dll "Z:${root//\//\\}\\build\\win64\\diagnostic\\JQInst2k.dll" "${args[@]}" \
    </dev/null 2>&1 >/dev/null |
    sed -n 's/.*OutputDebugStringA "\(.*\)"\(\.\.\.\)\{0,1\}$/\1/p' | sed 's/\\n$//; s/\\"/"/g; s/\\\\/\\/g; s/^/  /'
exit $rc
