#!/usr/bin/env bash
# Builds and runs every test tier: native (default), sanitizers (asan).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in default asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
done
