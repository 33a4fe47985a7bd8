#!/usr/bin/env bash
# Builds the real-file benchmark image: files shipped in Debian packages
# (photos, PNG, GIF including an animated one, WAV, PDF, JAR/ZIP; the photos
# again with EXIF data and thumbnails added, and BMP made from them, since
# few packages ship either) copied into a FAT32 file
# system, 40% of them deleted afterwards, as users' disks look. Writes
# DIR/image.bin and DIR/image.truth (offset, size and type of each file that
# lies in one run of clusters; deleted files keep their data in FAT32).
#
# With --media, audio and video files shipped in Debian packages follow the
# others (MEDIA below: MP4, MOV, 3GP, AVIF, Matroska, WebM, AVI, FLV, MPEG
# program streams, Ogg Vorbis, Opus and Theora, FLAC, MP3, AIFF, AIFC,
# MIDI), in a folder of their own; without it the image is the one of
# earlier runs. With --files, archives, documents, databases, programs,
# pictures and text files follow (FILES below): those installed Debian
# packages ship (programs, libraries, packages in apt's cache, scripts, XML,
# HTML, JSON, icons, Netpbm pictures, gzip files), and the kinds they seldom
# ship made by their own tools from such files.
#
# Usage: bench/make-disk.sh DIR [--media] [--files]   (as root: downloads the packages it reads)
set -euo pipefail
export LC_ALL=C

out=$1
shift
with_media=0
with_files=0
for option in "$@"; do
    case "$option" in
        --media) with_media=1 ;;
        --files) with_files=1 ;;
        *) echo "usage: $0 DIR [--media] [--files]" >&2; exit 2 ;;
    esac
done
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

# Media files (--media): TYPE COUNT PATTERN, the first COUNT files of at
# least 2000 bytes that the pattern names in the unpacked packages, taken as
# TYPE (what the file is: Opus-only Matroska is mka, Vorbis .oga is ogg;
# devede's DVD menu templates are program streams, mpg, since their
# navigation packs are not filled in yet). Unpacked apart from the packages
# above, so that their picks stay the same.
python_test=usr/lib/python3.*/test
mimetype=usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata
MEDIA=(
    "mp4 2 usr/lib/python3/dist-packages/imageio/resources/images/*.mp4"    # python3-imageio
    "mp4 1 usr/share/pymecavideo/data/video/*.mp4"                          # python3-mecavideo
    # golang-github-gabriel-vasile-mimetype-dev's test files:
    "mp4 1 $mimetype/mp4.mp4"
    "mov 1 usr/share/gem/examples/data/*.mov"                               # gem-doc
    "mov 1 $mimetype/mov.mov"
    "3gp 1 $mimetype/3gp.3gp"
    "avif 2 $mimetype/avif*.avif"
    "mkv 1 $mimetype/mkv.mkv"
    "mka 5 usr/share/sounds/linphone/rings/*.mkv"                           # linphone-common
    "webm 1 usr/share/help/C/gnome-help/figures/*.webm"                     # gnome-user-docs
    "webm 1 $mimetype/webm.webm"
    "avi 1 usr/share/gem/examples/data/*.avi"
    "avi 4 usr/share/pymecavideo/data/video/*.avi"
    "flv 1 $mimetype/flv.flv"
    "mpg 1 usr/share/doc/python-pygame-doc/examples/data/*.mpg"             # python-pygame-doc
    "mpg 4 usr/share/devedeng/base_*.mpg"                                   # devede
    "ogg 6 usr/share/sounds/freedesktop/stereo/*.oga"                       # sound-theme-freedesktop
    "ogg 1 usr/share/doc/python-pygame-doc/examples/data/*.ogg"
    "ogv 1 usr/share/help/C/lightsoff/figures/*.ogv"                        # lightsoff
    "ogv 1 usr/share/pymecavideo/data/video/*.ogv"
    "ogv 1 $mimetype/ogg.ogv"
    "opus 3 usr/lib/python3/dist-packages/gourmand/data/sound/*.opus"       # gourmand
    "flac 5 usr/share/hydrogen/data/drumkits/TR808EmulationKit/*.flac"      # hydrogen-data
    "flac 1 usr/lib/python3/dist-packages/whipper/test/*.flac"              # whipper
    "mp3 5 usr/share/doc/basic256/examples/*/*.mp3"                         # basic256
    "mp3 1 usr/share/doc/python-pygame-doc/examples/data/*.mp3"
    "aiff 4 usr/share/rockdodger/*.aiff"                                    # rockdodger
    "aiff 4 $python_test/audiodata/*.aiff"                                  # libpython3.N-testsuite
    "aiff 1 $python_test/*.aif"
    "aifc 2 $python_test/audiodata/*.aifc"
    "mid 6 usr/share/games/openttd/baseset/openmsx/*.mid"                   # openttd-openmsx
)
python_minor=$(python3 -c 'import sys; print(sys.version_info[1])')
MEDIA_PACKAGES=(python3-imageio python3-mecavideo golang-github-gabriel-vasile-mimetype-dev gem-doc
    linphone-common gnome-user-docs python-pygame-doc devede sound-theme-freedesktop lightsoff gourmand
    hydrogen-data whipper basic256 rockdodger "libpython3.$python_minor-testsuite" openttd-openmsx)
if [ "$with_media" = 1 ]; then
    mkdir -p "$work/media-debs" "$work/media-files"
    for package in "${MEDIA_PACKAGES[@]}"; do
        (cd "$work/media-debs" && apt-get download -qq "$package" 2>/dev/null) ||
            echo "make-disk: cannot download $package; its files are left out" >&2
    done
    for deb in "$work"/media-debs/*.deb; do dpkg-deb -x "$deb" "$work/media-files"; done
    for row in "${MEDIA[@]}"; do
        read -r type count pattern <<<"$row"
        # Regular files only: the packages' symlinks are left out.
        (cd "$work/media-files" && for file in $pattern; do
            if [ -f "$file" ] && [ ! -L "$file" ] && [ "$(stat -c %s "$file")" -ge 2000 ]; then echo "$file"; fi
        done) | sort | sed -n "1,${count}p" | while read -r file; do
            echo "$type $file" >>"$work/media-list"
        done
    done
    while read -r type file; do add "$type" "$work/media-files/$file"; done <"$work/media-list"
    sed 's/^/make-disk: media: /' "$work/media-list" >&2
fi

# Other files (--files): TYPE COUNT and a command that prints paths, the
# first COUNT of at least 2000 bytes (sorted) taken as TYPE.
shipped() { find "$@" -type f 2>/dev/null | sort; }
# Scripts in /usr/bin whose first line runs $1 (listed by find: the rows
# are read with globbing off).
scripts() { find /usr/bin -maxdepth 1 -type f 2>/dev/null | sort | while read -r file; do
    if head -n 1 "$file" | grep -q "^#!$1\b"; then echo "$file"; fi; done; }
# ELF files among those that find prints.
elves() { shipped "$@" | while read -r file; do
    if [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = 177ELF ]; then echo "$file"; fi; done; }
FILES=(
    "gz 8 shipped /usr/share/doc -name changelog.Debian.gz"
    "deb 4 shipped /var/cache/apt/archives -name *.deb -size -3M"
    "elf 6 elves /usr/bin -name [a-m]* -size -2M"
    "so 4 elves /usr/lib/x86_64-linux-gnu -maxdepth 1 -name lib[a-m]*.so.* -size -2M"
    "sh 5 scripts /bin/sh"
    "py 5 scripts /usr/bin/python3"
    "pl 3 scripts /usr/bin/perl"
    "xml 4 shipped /usr/share/mime/packages -name *.xml"
    "html 4 shipped /usr/share/doc -name *.html"
    "json 4 shipped /usr/share -name *.json"
    "ico 1 shipped /usr/share -name *.ico"
    "pgm 2 shipped /usr/share/gimp /usr/share/netpbm -name *.pgm"
    "ppm 1 shipped /usr/share/netpbm -name *.ppm"
)
if [ "$with_files" = 1 ]; then
    for tool in cpio genisoimage 7z sqlite3 gsf zstd lz4 x86_64-w64-mingw32-gcc enscript; do
        command -v "$tool" >/dev/null || { echo "make-disk: --files needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
    done
    for row in "${FILES[@]}"; do
        read -r type count lister args <<<"$row"
        # The find patterns stay unexpanded.
        # shellcheck disable=SC2086
        (set -f; $lister $args) | while read -r file; do
            if [ "$(stat -c %s "$file")" -ge 2000 ]; then echo "$file"; fi
        done | sed -n "1,${count}p" | while read -r file; do echo "$type $file"; done || true
    done >"$work/files-list"
    while read -r type file; do add "$type" "$file"; done <"$work/files-list"
    # Made by the formats' own tools from files of those packages.
    made=$work/made
    mkdir -p "$made/tree"
    texts=$(shipped /usr/share/common-licenses -size +4k | sed -n 1,6p)
    cp $texts "$made/tree/"
    i=0
    for text in $texts; do
        bzip2 -c "$text" >"$made/$i.bz2" && add bz2 "$made/$i.bz2"
        xz -c "$text" >"$made/$i.xz" && add xz "$made/$i.xz"
        zstd -q -c "$text" >"$made/$i.zst" && add zst "$made/$i.zst"
        lz4 -q -c "$text" >"$made/$i.lz4" && add lz4 "$made/$i.lz4"
        i=$((i + 1))
    done
    (cd "$made/tree" && tar cf ../a.tar . && find . | cpio -o -H newc --quiet >../a.cpio &&
        7z a -bd -bso0 ../a.7z . && genisoimage -quiet -r -o ../a.iso .)
    for type in tar cpio 7z iso; do add "$type" "$made/a.$type"; done
    tar czf "$made/b.tar.gz" -C "$made/tree" . && add gz "$made/b.tar.gz"
    sqlite3 "$made/a.sqlite" "create table t(name, body); create index i on t(name);
        with recursive n(x) as (select 1 union all select x + 1 from n where x < 2000)
        insert into t select x, hex(randomblob(60)) from n" && add sqlite "$made/a.sqlite"
    gsf createole "$made/a.doc" $texts 2>/dev/null && add ole "$made/a.doc"
    printf 'int main(void) { return 0; }\n' >"$made/m.c"
    x86_64-w64-mingw32-gcc -O2 -o "$made/a.exe" "$made/m.c" && add exe "$made/a.exe"
    i=0
    for photo in $(grep -iE '\.jpe?g$' "$work/list" | sed -n 1,3p); do
        convert "$photo" -resize '320x320>' -compress lzw "$made/$i.tif" && add tiff "$made/$i.tif"
        convert "$photo" -resize '320x320>' "$made/$i.psd" && add psd "$made/$i.psd"
        convert "$photo" -resize '200x200>' "$made/$i.tga" && add tga "$made/$i.tga"
        convert "$photo" -resize '200x200>' -compress none "$made/$i.ppm" && add ppm "$made/$i.ppm"
        i=$((i + 1))
    done
    # GIMP's own files, from two of the photos (GIMP takes some seconds each).
    if command -v gimp-console >/dev/null; then
        i=0
        for photo in $(grep -iE '\.jpe?g$' "$work/list" | sed -n 1,2p); do
            convert "$photo" -resize '320x320>' "$made/x$i.png" &&
                gimp-console -i -d -f -b "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$made/x$i.png\" \"x\")))
                    (layer (car (gimp-image-get-active-layer image))))
                    (gimp-xcf-save RUN-NONINTERACTIVE image layer \"$made/$i.xcf\" \"x\"))" -b '(gimp-quit 0)' \
                    >/dev/null 2>&1 && [ -s "$made/$i.xcf" ] && add xcf "$made/$i.xcf"
            i=$((i + 1))
        done
    fi
    enscript -q -w rtf -o "$made/a.rtf" $texts && add rtf "$made/a.rtf"
    enscript -q -o "$made/a.ps" $texts && add ps "$made/a.ps"
    sed 's/^/make-disk: files: /' "$work/files-list" >&2
fi

# A FAT32 file system with 4 KiB clusters and room to spare (at least
# 300 MiB: FAT32 needs 65525 clusters).
bytes=$(du -sb "$work/stage" | cut -f1)
kib=$(( (bytes * 13 / 10) / 1024 + 65536 ))
[ "$kib" -ge 307200 ] || kib=307200
mkfs.fat -F 32 -S 512 -s 8 -C "$out/image.bin" "$kib" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$out/image.bin" ::/docs ::/pics
[ "$with_media" = 0 ] || mmd -i "$out/image.bin" ::/media
[ "$with_files" = 0 ] || mmd -i "$out/image.bin" ::/files
# folder_of NAME: documents and sounds in docs, media files in media, the
# pictures in pics, the other files in files.
folder_of() {
    case "$1" in
        *.pdf|*.zip|*.wav) echo docs ;;
        *.jpg|*.png|*.gif|*.bmp) echo pics ;;
        *.mp4|*.mov|*.3gp|*.avif|*.mkv|*.mka|*.webm|*.avi|*.flv|*.mpg|*.ogg|*.ogv|*.opus|*.flac|*.mp3) echo media ;;
        *.aiff|*.aifc|*.mid) echo media ;;
        *) echo files ;;
    esac
}
for file in "$work"/stage/*; do
    name=$(basename "$file")
    folder=$(folder_of "$name")
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
        folder=$(folder_of "$name")
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
    folder=$(folder_of "$name")
    case $((i % 5)) in 1|3) mdel -i "$out/image.bin" "::/$folder/$name" ;; esac
    i=$((i + 1))
done
echo "make-disk: $(grep -vc '^#' "$out/image.truth") files in $(stat -c %s "$out/image.bin") bytes, 40% deleted" >&2
rm -rf "$work"
