#!/usr/bin/env bash
# hound on one disk image as raw bytes, as an E01 (fast compression, one
# segment) and as a raw image split into 100 MiB pieces: wall time, CPU time
# and peak memory (median of the runs), and whether each gives the raw
# image's items. PhotoRec runs on the raw image and on the E01 as reference.
# Usage: bench/evidence-bench.sh HOUND IMAGE WORKDIR [RUNS]
set -euo pipefail
hound=$(realpath "$1") image=$(realpath "$2") runs=${4:-5}
mkdir -p "$3"
work=$(realpath "$3")
[ -f "$work/image.E01" ] || ewfacquire -u -q -t "$work/image" -c fast -S 64GiB "$image" >/dev/null
[ -f "$work/piece.001" ] || split -b 100M -d -a 3 --numeric-suffixes=1 "$image" "$work/piece."

# Each configuration once per round, the rounds in turn, so that a machine
# whose speed drifts treats them alike; per configuration, the median wall
# time, its CPU time and the largest peak memory.
names=() commands=()
config() { names+=("$1"); commands+=("$2"); }
measure_all() {
    local round i
    for round in $(seq "$runs"); do
        for i in "${!names[@]}"; do
            rm -rf "$work/out"
            /usr/bin/time -f "%e %U %S %M" -o "$work/time" sh -c "${commands[$i]}" >/dev/null 2>&1 || true
            echo "$i $(cat "$work/time" | tail -1)" >>"$work/times"
        done
    done
    for i in "${!names[@]}"; do
        awk -v i="$i" '$1 == i { print $2, $3, $4, $5 }' "$work/times" | sort -n |
            awk -v name="${names[$i]}" -v n="$runs" '
            { wall[NR] = $1; cpu[NR] = $2 + $3; if ($4 > peak) peak = $4 }
            END { m = int((n + 1) / 2); printf "| %s | %.2f s | %.2f s | %.0f MiB |\n", name, wall[m], cpu[m], peak / 1024 }'
    done
}

items() { "$hound" scan "$1" --json -q | jq -c '{offset, size, sha256}' | sort; }
for input in "$work/image.E01" "$work/piece.001"; do
    if diff -q <(items "$image") <(items "$input") >/dev/null; then
        echo "$(basename "$input"): the raw image's $(items "$image" | wc -l) items, the same digests"
    else
        echo "$(basename "$input"): DIFFERENT items from the raw image"
    fi
done

rm -f "$work/times"
config "raw, --out" "'$hound' scan '$image' -q --out '$work/out'"
config "E01, --out" "'$hound' scan '$work/image.E01' -q --out '$work/out'"
config "split raw, --out" "'$hound' scan '$work/piece.001' -q --out '$work/out'"
config "raw, --no-check" "'$hound' scan '$image' -q --no-check"
config "E01, --no-check" "'$hound' scan '$work/image.E01' -q --no-check"
config "split raw, --no-check" "'$hound' scan '$work/piece.001' -q --no-check"
for input in "$image" "$work/image.E01"; do
    config "PhotoRec on $(basename "$input")" "cd '$work' && rm -rf recup* && photorec /log /d '$work/recup' \
        /cmd '$input' partition_none,fileopt,everything,enable,search"
done
echo "| input | wall | CPU | peak memory |"
echo "|---|---|---|---|"
measure_all
for input in "$image" "$work/image.E01"; do
    (cd "$work" && rm -rf recup* && photorec /log /d "$work/recup" /cmd "$input" \
        partition_none,fileopt,everything,enable,search >/dev/null 2>&1) || true
    echo "PhotoRec on $(basename "$input"): $(find "$work" -path "$work/recup*" -type f | wc -l) files" \
        "$(grep -h -m1 "Unable to open" "$work/photorec.log" 2>/dev/null || true)"
done
