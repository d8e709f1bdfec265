#!/usr/bin/env bash
# Mutation run over src/ against the native suite (see scripts/mutation/mutate.py):
#
#   scripts/mutate.sh                        every mutant; report in build/mutation/
#   scripts/mutate.sh --sample 12 --seed N   a bounded random sample, for CI
#   scripts/mutate.sh --rerun-survivors      only the last run's survivors
#
# Needs cmake, g++, GoogleTest and python3 (the native tier's packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 "$root/scripts/mutation/mutate.py" "$@"
