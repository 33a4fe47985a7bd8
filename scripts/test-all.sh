#!/usr/bin/env bash
# Builds and runs every test tier: native (default), sanitizers (asan), and
# 32-bit Windows under Wine (win32).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in default asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
done

# Windows tier: the i686 DLLs and the Windows test programs under Wine. Where
# MinGW and Wine cannot be installed the tier is reported as skipped.
echo "== win32"
if scripts/setup.sh --windows; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j"$(nproc)"
  ctest --preset win32 -j"$(nproc)"
else
  echo "win32: SKIPPED, MinGW-w64 i686 and Wine are not installed and cannot be installed here"
fi

# Fuzz tier: every libFuzzer target for a bounded time under ASan and UBSan
# (HOUND_FUZZ_SECONDS each, 45 by default), on a copy of its seed corpus in
# the build folder so that the committed corpus stays small. A crash, a leak
# or a timeout fails the run; its input is left in build/fuzz/fuzz/artifacts.
echo "== fuzz"
fuzz_seconds="${HOUND_FUZZ_SECONDS:-45}"
fuzz_targets=(number pattern profile loader sized_match bounded_match jpeg_detect scan)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target "${fuzz_targets[@]/%/_fuzz}"
fuzz_dir=build/fuzz/fuzz
mkdir -p "$fuzz_dir/artifacts" "$fuzz_dir/tmp"
for target in "${fuzz_targets[@]}"; do
  corpus="$fuzz_dir/corpus/$target"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp fuzz/corpus/"$target"/* "$corpus"/
  dict=()
  if [[ -f fuzz/$target.dict ]]; then dict=(-dict="fuzz/$target.dict"); fi
  echo "fuzz: $target, ${fuzz_seconds}s"
  TMPDIR="$PWD/$fuzz_dir/tmp" "$fuzz_dir/${target}_fuzz" "${dict[@]}" \
    -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$fuzz_dir/artifacts/$target-" "$corpus"
done
