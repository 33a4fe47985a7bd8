#!/usr/bin/env bash
# Builds the real-file benchmark image: files shipped in Debian packages
# (photos, PNG, GIF including an animated one, WAV, PDF, JAR/ZIP; the photos
# again with EXIF data and thumbnails added, and BMP made from them, since
# few packages ship either) copied into a FAT32 file
# system, 40% of them deleted afterwards, as users' disks look. Writes
# DIR/image.bin and DIR/image.truth (offset, size and type of each file that
# lies in one run of clusters; deleted files keep their data in FAT32).
#
# Usage: bench/make-disk.sh DIR   (as root: downloads the packages it reads)
set -euo pipefail
export LC_ALL=C

out=$1
root=$(cd "$(dirname "$0")/.." && pwd)
work=$out/work
rm -rf "$out"
mkdir -p "$work/debs" "$work/files" "$work/stage"

packages=(mtools dosfstools imagemagick libimage-exiftool-perl)
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >/dev/null
done
# Packages whose files are the content (unpacked, not installed).
(cd "$work/debs" && apt-get download -qq sound-icons desktop-base python3-skimage 2>/dev/null)
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/files"; done

# pick TYPE COUNT MIN_BYTES MAX_BYTES FOLDER...: the first COUNT files of that
# extension (sorted by path) within the size bounds.
n=0
pick() {
    local type=$1 count=$2 min=$3 max=$4
    shift 4
    local file
    find "$@" -type f \( -iname "*.$type" -o -iname "*.${type/jpg/jpeg}" \) -size +"$min"c -size -"$max"c \
        2>/dev/null | sort | sed -n "1,${count}p" | while read -r file; do
        echo "$file"
    done
}
add() {
    local type=$1 file=$2
    cp "$file" "$work/stage/$(printf 'f%03d' "$n").$type"
    n=$((n + 1))
}
{
    pick jpg 20 2000 8000000 "$work/files" /usr/share /usr/lib/python3
    pick png 60 2000 4000000 "$work/files" /usr/share
    pick gif 20 1000 4000000 "$work/files" /usr/share
    pick wav 25 2000 8000000 "$work/files"
    pick pdf 6 2000 20000000 /usr/share/doc /usr/share/matplotlib
    pick jar 20 2000 3000000 /usr/share/java
} >"$work/list"
while read -r file; do
    type=${file##*.}
    type=$(echo "$type" | tr 'A-Z' 'a-z')
    case "$type" in jpeg) type=jpg ;; jar) type=zip ;; esac
    add "$type" "$file"
done <"$work/list"
# Photos as cameras write them: the sequential (not progressive: no SOF2
# marker) photos again, with EXIF data and an EXIF thumbnail (a JPEG inside
# the JPEG) added by exiftool.
for file in $(grep -iE '\.jpe?g$' "$work/list"); do
    ! grep -q $'\xFF\xC2' "$file" || continue
    cp "$file" "$work/exif.jpg"
    convert "$file" -resize '160x120>' -strip "$work/thumb.jpg"
    exiftool -q -overwrite_original -Make=hound -Model=bench -DateTimeOriginal='2024:05:01 12:00:00' \
        '-ThumbnailImage<='"$work/thumb.jpg" "$work/exif.jpg" && add jpg "$work/exif.jpg"
done
rm -f "$work/exif.jpg" "$work/thumb.jpg"
# BMP pictures from the first photos, in two header versions.
i=0
for file in $(grep -iE '\.jpe?g$' "$work/list" | sed -n 1,8p); do
    format=BMP
    [ $((i % 2)) = 1 ] && format=BMP3
    convert "$file" -resize '400x400>' "$format:$work/bmp.tmp" && add bmp "$work/bmp.tmp"
    i=$((i + 1))
done
rm -f "$work/bmp.tmp"

# A FAT32 file system with 4 KiB clusters and room to spare (at least
# 300 MiB: FAT32 needs 65525 clusters).
bytes=$(du -sb "$work/stage" | cut -f1)
kib=$(( (bytes * 13 / 10) / 1024 + 65536 ))
[ "$kib" -ge 307200 ] || kib=307200
mkfs.fat -F 32 -S 512 -s 8 -C "$out/image.bin" "$kib" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$out/image.bin" ::/docs ::/pics
for file in "$work"/stage/*; do
    name=$(basename "$file")
    case "$name" in *.pdf|*.zip|*.wav) folder=docs ;; *) folder=pics ;; esac
    mcopy -i "$out/image.bin" "$file" "::/$folder/$name"
done

# Where each file's clusters lie: the boot sector gives the data area.
read -r sector cluster reserved fats fat_size < <(python3 - "$out/image.bin" <<'EOF'
import struct, sys
b = open(sys.argv[1], "rb").read(512)
print(struct.unpack_from("<H", b, 11)[0], b[13], struct.unpack_from("<H", b, 14)[0], b[16],
      struct.unpack_from("<I", b, 36)[0])
EOF
)
data_start=$(( (reserved + fats * fat_size) * sector ))
cluster_bytes=$(( cluster * sector ))
{
    echo "# offset size type (FAT32, $cluster_bytes-byte clusters; files in one run of clusters)"
    for file in "$work"/stage/*; do
        name=$(basename "$file")
        case "$name" in *.pdf|*.zip|*.wav) folder=docs ;; *) folder=pics ;; esac
        chain=$(mshowfat -i "$out/image.bin" "::/$folder/$name" | sed 's/.*://')
        runs=$(echo "$chain" | grep -o '<[0-9-]*>' | wc -l)
        [ "$runs" = 1 ] || continue
        first=$(echo "$chain" | grep -o '<[0-9]*' | tr -d '<')
        echo "$(( data_start + (first - 2) * cluster_bytes )) $(stat -c %s "$file") ${name##*.}"
    done
} >"$out/image.truth"

# Delete 40% of the files (two of every five), as on a used disk.
i=0
for file in "$work"/stage/*; do
    name=$(basename "$file")
    case "$name" in *.pdf|*.zip|*.wav) folder=docs ;; *) folder=pics ;; esac
    case $((i % 5)) in 1|3) mdel -i "$out/image.bin" "::/$folder/$name" ;; esac
    i=$((i + 1))
done
echo "make-disk: $(grep -vc '^#' "$out/image.truth") files in $(stat -c %s "$out/image.bin") bytes, 40% deleted" >&2
rm -rf "$work"
