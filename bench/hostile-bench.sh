#!/bin/bash
# Memory and output bounds on hostile data: 1 GiB of repeated FF D8 FF bytes
# (an item start every 3 bytes) and 1 GiB of RIFF headers that each claim
# almost 4 GiB. Prints, per run: wall time, seconds to the first output line,
# peak resident memory, lines printed and bytes written below --out.
#   bench/hostile-bench.sh [--size MIB] [--work DIR]
set -euo pipefail
size_mib=1024
work=build/bench/hostile
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size_mib=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        *) echo "usage: $0 [--size MIB] [--work DIR]" >&2; exit 2 ;;
    esac
done
hound=${HOUND:-build/default/bin/hound}
[ -x "$hound" ] || { echo "no $hound: build the default preset first" >&2; exit 2; }
mkdir -p "$work"

python3 - "$work" "$size_mib" <<'PY'
import os, struct, sys
work, mib = sys.argv[1], int(sys.argv[2])
block = 64 << 20
patterns = {
    "ffd8.img": b"\xff\xd8\xff",
    "riff.img": b"RIFF" + struct.pack("<I", 0xFFFFFFF0) + b"WAVE",
}
for name, unit in patterns.items():
    path = os.path.join(work, f"{mib}-{name}")
    if os.path.exists(path) and os.path.getsize(path) == mib << 20:
        continue
    chunk = unit * (block // len(unit))
    chunk += b"\0" * (block - len(chunk))
    with open(path, "wb") as f:
        left = mib << 20
        while left > 0:
            f.write(chunk[:min(left, block)])
            left -= min(left, block)
PY

# run LABEL HOUND-ARGS...: one run under GNU time, its stdout counted.
run() {
    local label=$1; shift
    local out="$work/out-$label"
    rm -rf "$out"
    local start first
    start=$(date +%s.%N)
    /usr/bin/time -f "%e %M" -o "$work/time-$label" "$hound" "$@" |
        { IFS= read -r _ && date +%s.%N >"$work/first-$label" || echo none >"$work/first-$label"
          wc -l >"$work/lines-$label"; }
    first=$(cat "$work/first-$label")
    read -r seconds peak_kb <"$work/time-$label"
    local to_first=- lines
    lines=$(cat "$work/lines-$label")
    if [ "$first" != none ]; then
        to_first=$(awk "BEGIN { printf \"%.3f\", $first - $start }")
        lines=$((lines + 1))
    fi
    local written=0
    [ -d "$out" ] && written=$(du -sb "$out" | cut -f1)
    printf '%-22s %8.1f s  first line %6s s  peak %6d MiB  %10d lines  %12d bytes below --out\n' \
        "$label" "$seconds" "$to_first" $((peak_kb / 1024)) "$lines" "$written"
}

image="$work/$size_mib-ffd8.img"
# photohound's lenient walk answers at every FF D8 FF (an item every 3 bytes,
# the most items any input gives); jpeghound, first in the default order,
# answers at none of them.
run ffd8 scan "$image" -q --json --order photohound,markhound
run ffd8-no-check scan "$image" -q --json --no-check --order photohound,markhound
run ffd8-default-order scan "$image" -q --json --no-check
image="$work/$size_mib-riff.img"
run riff-out scan "$image" -q --out "$work/out-riff-out"
run riff-out-no-check scan "$image" -q --no-check --out "$work/out-riff-out-no-check"
