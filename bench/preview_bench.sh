#!/usr/bin/env bash
# The preview tool on a large registry export: wall-clock time and peak
# memory (maximum resident set size, from /usr/bin/time -v) of the
# optimised build, for the report docs/performance.md gives. Not part of the
# test run: it measures, it does not check.
#
#   bench/preview_bench.sh [SIZE_MB] [--ansi]      (default 400)
#
# The export is made once by bench/preview_export.py (a whole HKLM as
# regedit writes it, UTF-16LE unless --ansi) and kept in build/bench-preview/.
# Three runs: the removal road with the report (what scripts/run.sh does),
# the same writing the machine out with --write-reg (which needs every key
# in memory), and one that only reads the snapshot (IsWinXp).
set -euo pipefail

size=${1:-400}
encoding=${2:-}
case "$size" in
    '' | *[!0-9]*) echo "usage: $0 [SIZE_MB] [--ansi]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
jq_ensure_packages cmake make g++ python3 time libgtest-dev libgmock-dev googletest

cmake --preset native-release >/dev/null
cmake --build --preset native-release -j2 >/dev/null
tool=$root/build/native-release/jqpreview

dir=$root/build/bench-preview
mkdir -p "$dir"
export_file=$dir/export-$size${encoding:+-ansi}.reg
if [ ! -f "$export_file" ]; then
    echo "making $export_file"
    python3 bench/preview_export.py "$size" "$export_file" $encoding
fi
bytes=$(stat -c %s "$export_file")

measure() {
    local what=$1
    shift
    local log=$dir/time.log
    /usr/bin/time -v "$tool" "$export_file" -q "$@" >"$dir/report.txt" 2>"$log" || {
        cat "$log" >&2
        return 1
    }
    local elapsed rss
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    awk -v what="$what" -v e="$elapsed" -v rss="$rss" -v bytes="$bytes" 'BEGIN {
        n = split(e, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i];
        printf "%-34s %8.1f s  %8.0f MB peak  %5.2f x the file\n", what, s, rss / 1024, rss * 1024 / bytes }'
}

printf "export: %s, %.0f MB (%d bytes)\n" "$export_file" "$((bytes / 1000000))" "$bytes"
measure "removal road, report" 
sed -n '/^Changes/,/^  Keys deleted/p;/^  Device nodes removed/p;/^Vendor traces/p;/^  snapshot:/p' "$dir/report.txt"
measure "removal road, --write-reg" --write-reg "$dir/after.reg"
measure "reading only (IsWinXp)" IsWinXp
