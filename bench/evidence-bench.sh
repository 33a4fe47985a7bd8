#!/usr/bin/env bash
# hound on one disk image as raw bytes, as an E01 (fast compression, one
# segment) and as a raw image split into 100 MiB pieces: wall time, CPU time
# and peak memory (median of the runs), and whether each gives the raw
# image's items. PhotoRec runs on the raw image and on the E01 as reference.
# Usage: bench/evidence-bench.sh HOUND IMAGE WORKDIR [RUNS]
set -euo pipefail
hound=$1 image=$2 work=$3 runs=${4:-5}
mkdir -p "$work"
[ -f "$work/image.E01" ] || ewfacquire -u -q -t "$work/image" -c fast -S 64GiB "$image" >/dev/null
[ -f "$work/piece.001" ] || split -b 100M -d -a 3 --numeric-suffixes=1 "$image" "$work/piece."

# One row: the median wall time, its CPU time, the largest peak memory.
measure() {
    local name=$1; shift
    local times=()
    for _ in $(seq "$runs"); do
        rm -rf "$work/out"
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
        times+=("$(cat "$work/time")")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v name="$name" -v n="$runs" '
        { wall[NR] = $1; cpu[NR] = $2 + $3; if ($4 > peak) peak = $4 }
        END { m = int((n + 1) / 2); printf "| %s | %.2f s | %.2f s | %.0f MiB |\n", name, wall[m], cpu[m], peak / 1024 }'
}

items() { "$hound" scan "$1" --json -q | jq -c '{offset, size, sha256}' | sort; }
for input in "$work/image.E01" "$work/piece.001"; do
    if diff -q <(items "$image") <(items "$input") >/dev/null; then
        echo "$(basename "$input"): the raw image's $(items "$image" | wc -l) items, the same digests"
    else
        echo "$(basename "$input"): DIFFERENT items from the raw image"
    fi
done

echo "| input | wall | CPU | peak memory |"
echo "|---|---|---|---|"
measure "raw, --out" "$hound" scan "$image" -q --out "$work/out"
measure "E01, --out" "$hound" scan "$work/image.E01" -q --out "$work/out"
measure "split raw, --out" "$hound" scan "$work/piece.001" -q --out "$work/out"
measure "raw, --no-check" "$hound" scan "$image" -q --no-check
measure "E01, --no-check" "$hound" scan "$work/image.E01" -q --no-check
measure "split raw, --no-check" "$hound" scan "$work/piece.001" -q --no-check
for input in "$image" "$work/image.E01"; do
    measure "PhotoRec on $(basename "$input")" sh -c "cd '$work' && rm -rf recup* && photorec /log /d '$work/recup' \
        /cmd '$input' partition_none,fileopt,everything,enable,search"
    echo "PhotoRec on $(basename "$input"): $(find "$work" -path "$work/recup*" -type f | wc -l) files"
done
