#!/usr/bin/env bash
# Runs the cross-built contract tests under Wine, in a fresh Wine prefix of
# their own, so that what they leave in the registry cannot reach other runs.
# An i686 build (the architecture we ship) runs under wine32 in a WoW64
# prefix, an x86_64 build under wine64.
#
#   tests/cross/run_contract_tests.sh [BUILD_DIR] [gtest options...]
#
# BUILD_DIR defaults to build/win32. Then the unload test of the same build
# (jq_unload_heap_test.exe: the host's heaps after 200 loads and unloads of
# its JQInst2k.dll). The exit code is 0 when both pass; 0, with a SKIP line,
# when the loader cannot run on this machine.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 2
shift || true
exe=$build/jq_contract_tests.exe
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)

if [ ! -f "$exe" ]; then
    echo "missing $exe: build the win32 preset first" >&2
    exit 2
fi
# The PE header's machine field (at the offset that 0x3C holds) picks the loader.
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$exe" | tr -d ' ')
case $machine in
014c) wine=${WINE32:-/usr/lib/wine/wine} ;;
8664) wine=${WINE64:-/usr/lib/wine/wine64} ;;
*) echo "$exe: unknown machine type $machine" >&2; exit 2 ;;
esac
# A loader that cannot run here is this machine's lack, not the code's fault:
# said, and nothing counted (scripts/test.sh takes another road to Wine).
if ! out=$("$wine" --version 2>&1 </dev/null); then
    [ -e "$wine" ] || out="no $wine (for i686: wine32:i386)"
    echo "SKIP the contract tests: $wine cannot run on this machine: $(echo "$out" | tail -1)"
    echo "0 passed, 0 failed"
    exit 0
fi

export WINEPREFIX=$build/wine-contract
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko installer prompts

stop_wine() { [ -n "$server" ] && "$server" -k >/dev/null 2>&1; return 0; }
trap stop_wine EXIT

rm -rf "$WINEPREFIX"
started=$(date +%s)
"$wine" wineboot -i >/dev/null 2>&1
[ -n "$server" ] && "$server" -w
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "cannot create the Wine prefix $WINEPREFIX" >&2
    exit 2
fi
echo "Wine prefix $WINEPREFIX created in $(( $(date +%s) - started )) s"

# Wine's services, started by the first program, inherit its output and
# outlive it: start them here, away from the tests' output.
[ -n "$server" ] && "$server" -p >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1 </dev/null

"$wine" "$exe" "$@" </dev/null
status=$?

# The unload test loads the DLL of the same build; it takes no gtest options.
unload=$build/jq_unload_heap_test.exe
if [ -f "$unload" ]; then
    "$wine" "$unload" </dev/null || status=1
else
    echo "missing $unload: the unload test did not run" >&2
    status=1
fi
exit $status
