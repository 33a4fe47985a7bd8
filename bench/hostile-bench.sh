#!/bin/bash
# Memory and output bounds on hostile data: 1 GiB of repeated FF D8 FF bytes
# (an item start every 3 bytes) and 1 GiB of RIFF headers that each claim
# almost 4 GiB. Prints, per run: wall time, seconds to the first output line,
# peak resident memory, lines printed and bytes written below --out.
# With --headers, instead: images of one header repeated (GIF, PNG, PDF, ZIP,
# RIFF, BMP and container formats), each scanned with and without checks,
# where a search to the end of the data from every header would take time
# in the square of the size.
#   bench/hostile-bench.sh [--size MIB] [--work DIR] [--headers]
set -euo pipefail
size_mib=1024
work=build/bench/hostile
headers=0
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size_mib=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --headers) headers=1; shift ;;
        *) echo "usage: $0 [--size MIB] [--work DIR] [--headers]" >&2; exit 2 ;;
    esac
done
hound=${HOUND:-build/default/bin/hound}
[ -x "$hound" ] || { echo "no $hound: build the default preset first" >&2; exit 2; }
mkdir -p "$work"

python3 - "$work" "$size_mib" "$headers" <<'PY'
import os, struct, sys
work, mib, headers = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
block = 64 << 20
patterns = {
    "ffd8.img": b"\xff\xd8\xff",
    "riff.img": b"RIFF" + struct.pack("<I", 0xFFFFFFF0) + b"WAVE",
}
if headers:
    patterns = {
        "gif.img": b"GIF89a",
        "png.img": b"\x89PNG\r\n\x1a\n",
        "pdf.img": b"%PDF-1.4\n",
        "zip.img": b"PK\x03\x04\x14\x00\x08\x00",
        "wav.img": b"RIFF\x24\x00\x00\x00WAVEfmt ",
        "bmp.img": b"BM\x36\x00\x01\x00\x00\x00\x00\x00\x36\x00\x00\x00",
        "gz.img": b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03",
        "mp4.img": b"\x00\x00\x00\x18ftypisom\x00\x00\x02\x00isomiso2",
        "ogg.img": b"OggS\x00\x02" + b"\x00" * 8,
        "tiff.img": b"II*\x00\x08\x00\x00\x00",
        "json.img": b'{"a": 1, ',
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

if [ "$headers" = 1 ]; then
    for name in gif png pdf zip wav bmp gz mp4 ogg tiff json; do
        run "$name" scan "$work/$size_mib-$name.img" -q --json
        run "$name-no-check" scan "$work/$size_mib-$name.img" -q --json --no-check
    done
    exit 0
fi

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
