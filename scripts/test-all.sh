#!/usr/bin/env bash
# Builds and runs every test tier: native (default), sanitizers (asan),
# 32-bit Windows under Wine (win32) and a bounded fuzz session (fuzz). Stops
# at the first failure; the last line counts the tiers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
passed=0
skipped=0

for preset in default asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
  passed=$((passed + 1))
done

# Windows tier: the i686 DLLs and the Windows test programs under Wine. Where
# MinGW and Wine cannot be installed the tier is reported as skipped.
echo "== win32"
if scripts/setup.sh --windows; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j"$(nproc)"
  ctest --preset win32 -j"$(nproc)"
  passed=$((passed + 1))
else
  echo "win32: SKIPPED, MinGW-w64 i686 and Wine are not installed and cannot be installed here"
  skipped=$((skipped + 1))
fi

# Fuzz tier: every libFuzzer target for a bounded time under ASan and UBSan
# (HOUND_FUZZ_SECONDS each, 45 by default), on a copy of its seed corpus in
# the build folder so that the committed corpus stays small. A crash, a leak
# or a timeout fails the run; its input is left in build/fuzz/fuzz/artifacts.
echo "== fuzz"
fuzz_seconds="${HOUND_FUZZ_SECONDS:-45}"
fuzz_targets=(number pattern profile loader sized_match bounded_match jpeg_detect scan check)
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
  log="$fuzz_dir/$target.log"
  if ! TMPDIR="$PWD/$fuzz_dir/tmp" "$fuzz_dir/${target}_fuzz" "${dict[@]}" \
      -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$fuzz_dir/artifacts/$target-" "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target FAILED (log: $log)"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target ran ${fuzz_seconds} s, ${runs:-?} inputs, nothing found"
done
passed=$((passed + 1))

echo
echo "tiers: $passed passed, 0 failed, $skipped skipped"
