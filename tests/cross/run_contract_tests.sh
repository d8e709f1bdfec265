#!/usr/bin/env bash
# Runs the cross-built contract tests under wine64, in a fresh Wine prefix of
# their own, so that what they leave in the registry cannot reach other runs.
#
#   tests/cross/run_contract_tests.sh [BUILD_DIR] [gtest options...]
#
# BUILD_DIR defaults to build/win64. The exit code is the tests'.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd) || exit 2
shift || true
exe=$build/jq_contract_tests.exe
wine=${WINE64:-/usr/lib/wine/wine64}
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)

if [ ! -f "$exe" ]; then
    echo "missing $exe: build the win64 preset first" >&2
    exit 2
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
