#!/usr/bin/env bash
# Runs the preview over every snapshot in the repository (and the built-in
# sample) with a matrix of Windows versions, rights and answers, writing each
# report into OUT. A change that must keep behaviour keeps the folder the same:
#   scripts/preview-matrix.sh REPO OUT [JQPREVIEW]; diff -r OUT-before OUT-after
set -u
repo=$(cd "$1" && pwd) out=$(realpath -m "$2") tool=$(realpath -m "${3:-$1/build/native/jqpreview}")
rm -rf "$out"; mkdir -p "$out"
snaps=("" $(cd "$repo" && git ls-files '*.reg'))
for s in "${snaps[@]}"; do
  for w in 98 me xp 2000 7 nt4; do
    for a in "" --not-admin "--answer no" "--answer close,yes"; do
      name=$(echo "${s:-builtin}_${w}_${a}" | tr '/ ,' '___')
      args=(); [ -n "$s" ] && args+=("$repo/$s")
      args+=(--windows "$w" $a --json "$out/$name.json" --html "$out/$name.html" --write-reg "$out/$name.out.reg")
      (cd "$out" && "$tool" "${args[@]}" > "$out/$name.txt" 2>&1; echo "exit $?" >> "$out/$name.txt")
    done
  done
  name=$(echo "${s:-builtin}_install" | tr '/ ,' '___')
  args=(); [ -n "$s" ] && args+=("$repo/$s")
  (cd "$out" && "$tool" "${args[@]}" --file 'C:\JQ\JQDRV2K3.INF' --file 'C:\JQ\JQDRV2K1.INF' --reboot InitModule 'SetTargetDir=C:\JQ' 'CreateRootDevice=C:\JQ' 'UpdateDevices=C:\JQ' NeedReboot RootDeviceCount IsAdmin IsWinXp RemoveRootDevice RemoveUsbDevices RemovePedalDevices RemoveAuxDevices > "$out/$name.txt" 2>&1; echo "exit $?" >> "$out/$name.txt")
done
ls "$out" | wc -l
