#!/usr/bin/env bash
# Builds and runs the test tiers: native (default), sanitizers (asan),
# 32-bit Windows (win32) and a bounded fuzz session (fuzz); with tier names
# as arguments, only those. Stops at the first failure; the last line counts
# the tiers, and a tier that cannot run here counts as skipped, never passed.
# Usage: scripts/test-all.sh [default|asan|win32|fuzz]...
set -euo pipefail
cd "$(dirname "$0")/.."

all_tiers=(default asan win32 fuzz)
tiers=("$@")
[ ${#tiers[@]} -gt 0 ] || tiers=("${all_tiers[@]}")
for tier in "${tiers[@]}"; do
    case " ${all_tiers[*]} " in
        *" $tier "*) ;;
        *) echo "usage: $0 [${all_tiers[*]}]... (unknown tier '$tier')" >&2; exit 2 ;;
    esac
done
wanted() { case " ${tiers[*]} " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }

scripts/setup.sh
passed=0
skipped=0

for preset in default asan; do
  wanted "$preset" || continue
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
  # What users get: the installed tree and the .deb.
  if [ "$preset" = default ]; then scripts/check-install.sh build/default; fi
  passed=$((passed + 1))
done

# Windows tier: the i686 DLLs, checked statically, packed into the zip, then
# the Windows test programs under Wine where this machine can run 32-bit
# programs. Where it cannot (a kernel without 32-bit support, or no Wine),
# the tier is skipped after the static checks.
run_win32() {
  if ! scripts/setup.sh --windows; then
    echo "win32: SKIPPED (MinGW-w64 i686 is not installed and cannot be installed here)"
    skipped=$((skipped + 1))
    return
  fi
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j"$(nproc)"
  scripts/check-dlls.sh build/win32/bin/*.dll
  (cd build/win32 && cpack -G ZIP >/dev/null)
  local zip listing
  zip=$(ls build/win32/hound-*-win32.zip)
  listing=$(cmake -E tar tf "$zip")
  for file in markhound.dll photohound.dll jpeghound.dll formathound.dll signs.ini library/images.ini README.txt; do
    grep -qx ".*/$file" <<<"$listing" || { echo "win32: $zip lacks $file"; exit 1; }
  done
  echo "win32: $zip holds the DLLs, the signature library and README.txt"
  if scripts/can-run-win32.sh build/win32; then
    ctest --preset win32 -j"$(nproc)"
    passed=$((passed + 1))
  else
    echo "win32: SKIPPED (this machine cannot run 32-bit programs); static checks passed"
    skipped=$((skipped + 1))
  fi
}
if wanted win32; then
  echo "== win32"
  run_win32
fi

# Fuzz tier: every libFuzzer target for a bounded time under ASan and UBSan
# (HOUND_FUZZ_SECONDS each, 45 by default), on a copy of its seed corpus in
# the build folder so that the committed corpus stays small. A crash, a leak
# or a timeout fails the run; its input is left in build/fuzz/fuzz/artifacts.
if wanted fuzz; then
  echo "== fuzz"
  fuzz_seconds="${HOUND_FUZZ_SECONDS:-45}"
  fuzz_targets=(number pattern profile loader sized_match bounded_match jpeg_detect jpeghound_detect formathound_detect
                scan check listing)
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j"$(nproc)" --target "${fuzz_targets[@]/%/_fuzz}" check_dict
  fuzz_dir=build/fuzz/fuzz
  mkdir -p "$fuzz_dir/artifacts" "$fuzz_dir/tmp"
  for target in "${fuzz_targets[@]}"; do
    corpus="$fuzz_dir/corpus/$target"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp fuzz/corpus/"$target"/* "$corpus"/
    dict=()
    if [[ -x "$fuzz_dir/${target}_dict" ]]; then
      # Made from the program's own tables, so that no list is kept twice.
      "$fuzz_dir/${target}_dict" >"$fuzz_dir/$target.dict"
      dict=(-dict="$fuzz_dir/$target.dict")
    elif [[ -f fuzz/$target.dict ]]; then
      dict=(-dict="fuzz/$target.dict")
    fi
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
fi

echo
echo "tiers: $passed passed, 0 failed, $skipped skipped"
