#!/usr/bin/env bash
# Builds the bench preset and runs every Google Benchmark executable.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)"
for bench in build/bench/bin/*_bench; do
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
