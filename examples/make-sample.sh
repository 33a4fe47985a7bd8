#!/usr/bin/env bash
# Makes examples/sample.img: JPEG, PNG, GIF, BMP, WAV, Ogg Vorbis and MP4
# items amid filler bytes, and examples/sample.truth with each item's offset,
# size and type. Needs cjpeg (libjpeg-turbo-progs), convert (imagemagick),
# sox, oggenc (vorbis-tools) and ffmpeg.
# Usage: examples/make-sample.sh [OUTPUT_DIR]   (default: examples/)
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
dest=${1:-$here}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert=${CONVERT:-convert}

# --- the items --------------------------------------------------------------
# Synthetic pictures with fixed seeds; no metadata chunks with dates.
"$convert" -size 320x240 -seed 7 plasma:tomato-steelblue ppm:- | cjpeg -quality 85 >"$work/plasma.jpg"
"$convert" -size 120x90 gradient:gold-navy ppm:- | cjpeg -quality 60 >"$work/gradient.jpg"
"$convert" -size 128x128 radial-gradient:white-seagreen -strip \
    -define png:exclude-chunks=date,time "$work/radial.png"
"$convert" -size 160x120 -seed 3 plasma:orchid-olive -colors 32 "$work/plasma.gif"
"$convert" -size 64x48 pattern:checkerboard -fill crimson -colorize 40 -type TrueColor \
    "BMP3:$work/checker.bmp"
sox -R -n -r 8000 -b 16 -c 1 "$work/tone.wav" synth 0.5 sine 440 fade 0.05 0.5 0.05
# A fixed stream serial number and bit-exact muxing, so that the bytes repeat.
oggenc -Q --serial 4242 -q 0 "$work/tone.wav" -o "$work/tone.ogg"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=duration=1:size=96x72:rate=10 -c:v mpeg4 -q:v 8 \
    -fflags +bitexact -flags:v +bitexact -map_metadata -1 "$work/bars.mp4"

# A GIF item ends at the first 00 3B behind its start: make sure that is the
# trailer, or the item would be cut short.
first_end=$(grep -obUaP '\x00\x3B' "$work/plasma.gif" | head -1 | cut -d: -f1)
if [ "$((first_end + 2))" -ne "$(stat -c %s "$work/plasma.gif")" ]; then
    echo "make-sample: the GIF holds 00 3B before its end; pick another seed" >&2
    exit 1
fi

# --- filler: bytes that start no item -----------------------------------------
# Random bytes below 0x40 (no FF D8, 'B' 'M', "RIFF", "GIF8" or 0x89 'P'),
# lower-case text, and runs of zeros.
random_low() {  # random_low COUNT SEED
    awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", 1 + int(rand() * 63) }'
}
text() {  # text COUNT
    local line="the quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. "
    awk -v n="$1" -v s="$line" 'BEGIN { while (n > 0) { t = substr(s, 1, n); printf "%s", t; n -= length(t) } }'
}
zeros() { head -c "$1" /dev/zero; }

# --- assembly ------------------------------------------------------------------
image="$work/sample.img"
truth="$work/sample.truth"
: >"$image"
{
    echo "# Items of sample.img, made by make-sample.sh: offset and size in bytes (decimal), type."
    echo "# offset size type"
} >"$truth"

item() {  # item FILE TYPE
    local offset size
    offset=$(stat -c %s "$image")
    size=$(stat -c %s "$1")
    cat "$1" >>"$image"
    echo "$offset $size $2" >>"$truth"
}
pad_to() {  # pad_to MULTIPLE: filler text up to the next multiple
    local size
    size=$(stat -c %s "$image")
    text "$(( ($1 - size % $1) % $1 ))" >>"$image"
}

zeros 8192 >>"$image"
item "$work/plasma.jpg" jpg
random_low 20000 11 >>"$image"
pad_to 512
item "$work/radial.png" png
text 9000 >>"$image"
pad_to 4096
item "$work/plasma.gif" gif
zeros 30000 >>"$image"
random_low 777 12 >>"$image"
item "$work/checker.bmp" bmp          # at an odd offset, right behind random bytes
item "$work/tone.wav" wav             # right behind the BMP
random_low 40000 13 >>"$image"
pad_to 512
item "$work/gradient.jpg" jpg
text 30000 >>"$image"
random_low 25000 14 >>"$image"
zeros 20000 >>"$image"
pad_to 512
item "$work/tone.ogg" ogg
random_low 5000 15 >>"$image"
pad_to 512
item "$work/bars.mp4" mp4
text 3000 >>"$image"
pad_to 512

mkdir -p "$dest"
cp "$image" "$dest/sample.img"
cp "$truth" "$dest/sample.truth"
echo "make-sample: $(stat -c %s "$dest/sample.img") bytes, $(grep -vc '^#' "$dest/sample.truth") items" >&2
