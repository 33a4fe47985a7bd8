#!/usr/bin/env bash
# Which --order recovers most: scans images with known items (a truth file of
# "offset size type" lines beside each) once per order and counts the items
# found exactly (offset and size), the JPEGs among them, and the items that
# are not in the truth file.
#
# Usage: bench/order-bench.sh HOUND_BIN_DIR IMAGE... (each IMAGE with IMAGE's
# truth in <image without extension>.truth)
set -euo pipefail
export LC_ALL=C
bin=$1
shift
orders=(photohound,markhound jpeghound,markhound jpeghound,photohound,markhound
        photohound,jpeghound,markhound jpeghound,formathound,markhound)
printf '| image | order | exact | exact JPEGs | not in the truth |\n|---|---|---:|---:|---:|\n'
for image in "$@"; do
    truth=${image%.*}.truth
    for order in "${orders[@]}"; do
        "$bin/hound" scan "$image" --order "$order" --quiet --json |
            python3 -c '
import json, sys
truth = {}
for line in open(sys.argv[1]):
    if line.strip() and not line.startswith("#"):
        offset, size, kind = line.split()
        truth[int(offset)] = (int(size), kind)
exact = jpegs = other = 0
for line in sys.stdin:
    item = json.loads(line)
    known = truth.get(item["offset"])
    if known and known[0] == item["size"]:
        exact += 1
        jpegs += known[1] == "jpg"
    else:
        other += 1
total_jpegs = sum(1 for size, kind in truth.values() if kind == "jpg")
print(f"| {sys.argv[2]} | {sys.argv[3]} | {exact}/{len(truth)} | {jpegs}/{total_jpegs} | {other} |")
' "$truth" "$(basename "$image")" "$order"
    done
done
