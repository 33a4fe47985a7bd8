#!/usr/bin/env bash
# Whole-scan benchmark: makes a synthetic image (JPEG, PNG, GIF, BMP and WAV
# files amid random bytes, text and zeros, with a truth file; with --media N
# also N audio and video files of each media type), runs foremost, scalpel,
# PhotoRec and hound on it in one go (each into a fresh output folder,
# extraction on), hound also without formathound in its order, measures the
# contract floor and the micro-benchmarks, sweeps the number of signatures,
# and prints the table.
#
# Usage: bench/scan-bench.sh [--size MIB] [--seed N] [--media N] [--sweep "1 2 5 10 20 40"]
#                            [--image DIR] [--repeat N] [--build DIR]
# --image DIR scans DIR/image.bin with DIR/image.truth (bench/make-disk.sh
# makes one from real files) instead of the synthetic image; --sweep ""
# leaves the sweep out; --repeat N scans N times with and N times without
# formathound, in turns, without --out (default 5; 0 leaves it out);
# --build DIR builds there with the bench preset's settings instead of in
# build/bench (the preset's folder), and keeps images and results there.
# Results: build/bench/scan-bench/results.md and scan-bench.png (with --media N:
# build/bench/scan-bench-media/; with --image DIR: build/bench/scan-bench-<name of DIR>/).
set -euo pipefail
export LC_ALL=C

size=512
seed=1
media=0
sweep="1 2 5 10 20 40"
given=""
repeat=5
build=""
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --media) media=$2; shift 2 ;;
        --sweep) sweep=$2; shift 2 ;;
        --image) given=$(cd "$2" && pwd); shift 2 ;;
        --repeat) repeat=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        *) echo "usage: $0 [--size MIB] [--seed N] [--media N] [--sweep LIST] [--image DIR] [--repeat N]" \
               "[--build DIR]" >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
# Debian's Python, which has Debian's matplotlib.
python=/usr/bin/python3
cd "$root"

# --- tools -------------------------------------------------------------------
# The peers, GNU time, the plot library and the image makers, from Debian.
packages=(foremost scalpel testdisk time python3-matplotlib libjpeg-turbo-progs imagemagick sox)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "scan-bench: installing ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then
        echo "scan-bench: run as root to install them" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# --- build ---------------------------------------------------------------------
targets=(hound markhound photohound jpeghound formathound scan_floor check_cost markhound_bench
         photohound_bench jpeghound_bench candidates_bench)
if [ -z "$build" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench -j"$(nproc)" --target "${targets[@]}" >/dev/null
    build=$root/build/bench
else
    build=$(mkdir -p "$build" && cd "$build" && pwd)
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOUND_WERROR=ON \
        -DHOUND_BUILD_BENCH=ON -DHOUND_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null
fi
bin=$build/bin

# --- image -----------------------------------------------------------------------
run=$build/scan-bench
images=$build/scan-bench-images/$size-$seed
if [ "$media" -gt 0 ]; then
    run=$build/scan-bench-media
    images=$build/scan-bench-images/$size-$seed-media$media
fi
[ -z "$given" ] || run=$build/scan-bench-$(basename "$given")
[ -z "$given" ] || images=$given
if [ ! -f "$images/image.truth" ]; then
    "$python" bench/make-image.py "$images" --size "$size" --seed "$seed" --media "$media"
fi
rm -rf "$run"
mkdir -p "$run"
ln -s "$images/image.bin" "$run/image.bin"
cp "$images/image.truth" "$run/image.truth"
image=$run/image.bin
cat "$image" >/dev/null  # every tool reads it from the page cache

# --- runs ----------------------------------------------------------------------------
# timed NAME OUT COMMAND...: wall time and peak RSS (GNU time) into runs.tsv.
timed() {
    local name=$1 out=$2
    shift 2
    /usr/bin/time -v -o "$run/time.txt" "$@"
    local wall rss cpu
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$run/time.txt")
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$run/time.txt")
    cpu=$(awk -F': ' '/(User|System) time \(seconds\)/ { s += $2 } END { print s }' "$run/time.txt")
    printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$wall" "$rss" "$out" "$cpu" >>"$run/runs.tsv"
    echo "scan-bench: $name: ${wall} s, peak RSS ${rss} KiB" >&2
}

: >"$run/runs.tsv"
timed foremost "$run/foremost" sh -c "foremost -i '$image' -o '$run/foremost' >/dev/null 2>&1"
# scalpel's rules: the five picture and sound types, and the media types'
# headers where the truth lists a type beyond those of the earlier images.
scalpel_conf=bench/scalpel.conf
earlier='^(jpg|png|gif|bmp|wav|pdf|zip)$'
if awk -v earlier="$earlier" '!/^#/ && $3 !~ earlier { found = 1 } END { exit !found }' "$run/image.truth"; then
    scalpel_conf=bench/scalpel-media.conf
fi
timed scalpel "$run/scalpel" sh -c "scalpel -c $scalpel_conf -o '$run/scalpel' '$image' >/dev/null 2>&1"
timed hound "$run/hound" sh -c "'$bin/hound' scan '$image' --quiet --json --out '$run/hound' >'$run/hound.json'"
# One scan thread against the default of one per core.
timed "hound, 1 thread" "$run/hound-1-thread" sh -c "'$bin/hound' scan '$image' --quiet --json --threads 1 \
    --out '$run/hound-1-thread' >'$run/hound-1-thread.json'"
timed "hound --exhaustive" "$run/hound-exhaustive" sh -c "'$bin/hound' scan '$image' --quiet --json \
    --exhaustive --out '$run/hound-exhaustive' >'$run/hound-exhaustive.json'"
timed "hound --no-check" "$run/hound-no-check" sh -c "'$bin/hound' scan '$image' --quiet --json \
    --no-check --out '$run/hound-no-check' >'$run/hound-no-check.json'"
timed "hound, no --out" "$run/hound-scan" sh -c "'$bin/hound' scan '$image' --quiet --json \
    >'$run/hound-scan.json'"
# The order without formathound, as before it: what the media walks cost
# and what they find.
without=jpeghound,markhound
timed "hound, no formathound" "$run/hound-no-formathound" sh -c "'$bin/hound' scan '$image' --quiet \
    --json --order $without --out '$run/hound-no-formathound' >'$run/hound-no-formathound.json'"
timed "hound, no formathound, no --out" "$run/hound-scan-no-formathound" sh -c "'$bin/hound' scan \
    '$image' --quiet --json --order $without >'$run/hound-scan-no-formathound.json'"
# PhotoRec in command mode, over the whole image as one unpartitioned disk.
mkdir -p "$run/photorec"
timed photorec "$run/photorec" sh -c "cd '$run/photorec' && photorec /log /d '$run/photorec/recup' \
    /cmd '$image' partition_none,fileopt,everything,enable,search >/dev/null 2>&1"
# The check stage alone on one thread: the JPEG header pre-check at every
# FF D8 and the checkers over hound's items.
# Cold cache: the image read from the disk, not from memory (needs root).
drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; }
if drop_caches; then
    timed "hound, no --out, cold cache" "$run/hound-scan-cold" sh -c "'$bin/hound' scan '$image' \
        --quiet --json >'$run/hound-scan-cold.json'"
    drop_caches
    timed "hound, cold cache" "$run/hound-cold" sh -c "'$bin/hound' scan '$image' --quiet --json \
        --out '$run/hound-cold' >'$run/hound-cold.json'"
    drop_caches
    timed "foremost, cold cache" "$run/foremost-cold" sh -c "foremost -i '$image' \
        -o '$run/foremost-cold' >/dev/null 2>&1"
    cat "$image" >/dev/null
else
    echo "scan-bench: cannot drop the page cache (not root): no cold-cache runs" >&2
fi
"$bin/check_cost" "$image" <"$run/hound.json" >"$run/check_cost.txt"
# With and without formathound in turns, N times each, so that both see the
# same machine: wall and CPU seconds of each scan (no --out).
: >"$run/order.tsv"
TIMEFORMAT='%3R %3U %3S'
for _ in $(seq "$repeat"); do
    for order in jpeghound,formathound,markhound "$without"; do
        { time "$bin/hound" scan "$image" --quiet --order "$order" >/dev/null 2>&1; } 2>"$run/order-time.txt"
        read -r wall user system <"$run/order-time.txt"
        printf '%s\t%s\t%s\n' "$order" "$wall" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" \
            >>"$run/order.tsv"
    done
done
[ -s "$run/order.tsv" ] || rm "$run/order.tsv"
"$bin/scan_floor" "$image" "$bin/signs.ini" "$(nproc)" >"$run/floor.txt"

# --- micro-benchmarks --------------------------------------------------------------
{
    "$bin/markhound_bench" --benchmark_min_time=0.5
    "$bin/photohound_bench" --benchmark_min_time=0.5
    "$bin/jpeghound_bench" --benchmark_min_time=0.5
    "$bin/candidates_bench" --benchmark_min_time=0.5
} >"$run/micro.txt" 2>/dev/null

# --- throughput against the number of signatures -------------------------------------
: >"$run/sweep.tsv"
for count in $sweep; do
    plugins=$run/sweep-plugins-$count
    mkdir -p "$plugins"
    cp "$bin/markhound.so" "$bin/photohound.so" "$bin/jpeghound.so" "$bin/formathound.so" "$plugins/"
    "$python" bench/sweep-signs.py signs "$count" "$plugins/signs.ini"
    for mode in hound "hound --exhaustive"; do
        flags=()
        [ "$mode" = hound ] || flags=(--exhaustive)
        start=$(date +%s.%N)
        "$bin/hound" scan "$image" --quiet --plugins "$plugins" "${flags[@]}" >/dev/null
        end=$(date +%s.%N)
        printf '%s\t%s\t%s\n' "$count" "${mode// /_}" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" >>"$run/sweep.tsv"
    done
    "$bin/scan_floor" "$image" "$plugins/signs.ini" "$(nproc)" |
        awk -v n="$count" '{ printf "%s\tcontract_floor\t%s\n", n, $4 }' >>"$run/sweep.tsv"
done

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >"$run/load.txt"
"$python" bench/scan_report.py "$run"
cat "$run/load.txt"
echo "scan-bench: results in $run/results.md and $run/scan-bench.png" >&2
