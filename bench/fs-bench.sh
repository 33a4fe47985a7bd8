#!/usr/bin/env bash
# File-system benchmark: the same 36 real files (photos, PNG, GIF, WAV, MP3,
# Ogg, FLAC, PDF, JAR) written into FAT32 (behind a DOS partition table, at
# 1 MiB), exFAT, NTFS, ext4, ext3 and ext2 images of 64 MiB; in each, one
# folder and some single files deleted afterwards and one file written in two
# fragments. PhotoRec, tsk_recover and hound run on every image, each into a
# fresh folder; the table counts, per image and tool, the files recovered
# byte for byte, those of them under their own path, the files written more
# than once, wall time and peak memory.
#
# Usage: bench/fs-bench.sh [--hound PATH] [--work DIR]   (as root)
# --hound: the hound to run (default build/rel/bin/hound); --work: where the
# images and outputs go (default build/h-fsbench/fs-bench). The table is left
# in WORK/results.md, the files each tool missed in WORK/missed.md, each
# image's truth (path, size, sha256, deleted) beside it in WORK/images/.
# Needs FUSE for exFAT (a loop device and exfat-fuse) and NTFS (ntfs-3g):
# the other images are written without mounting anything.
set -euo pipefail
export LC_ALL=C MTOOLS_SKIP_CHECK=1

root=$(cd "$(dirname "$0")/.." && pwd)
hound=$root/build/rel/bin/hound
work=$root/build/h-fsbench/fs-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --hound) hound=$(realpath "$2"); shift 2 ;;
        --work) work=$(realpath -m "$2"); shift 2 ;;
        *) echo "usage: $0 [--hound PATH] [--work DIR]" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" = 0 ] || { echo "fs-bench: run as root (it installs packages and mounts through FUSE)" >&2; exit 1; }
[ -x "$hound" ] || { echo "fs-bench: no hound at $hound" >&2; exit 1; }

# --- tools ---------------------------------------------------------------------
packages=(dosfstools mtools fdisk exfatprogs exfat-fuse ntfs-3g e2fsprogs testdisk sleuthkit time)
missing=()
for package in "${packages[@]}"; do dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package"); done
if [ ${#missing[@]} -gt 0 ]; then
    echo "fs-bench: installing ${missing[*]}" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# --- files -----------------------------------------------------------------------
# Files shipped in Debian packages (unpacked, not installed), kept between runs.
mkdir -p "$work/debs" "$work/files"
if [ ! -f "$work/files/.done" ]; then
    (cd "$work/debs" && apt-get download -qq sound-icons desktop-base python3-skimage \
        sound-theme-freedesktop basic256 python-pygame-doc whipper 2>/dev/null)
    for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/files"; done
    touch "$work/files/.done"
fi
# FOLDER EXT COUNT MIN_BYTES MAX_BYTES PLACE...: the first COUNT files (sorted
# by path, none twice by content) of that extension and size, into FOLDER of
# the volume; the photos named as a camera names them.
PICKS=(
    "DCIM/100PHOTO jpg 6 2000 8000000 files/usr/lib/python3 files/usr/share/desktop-base"
    "Pictures png 5 100000 1000000 files"
    "Pictures/icons png 3 2000 100000 files"
    "Pictures gif 2 1000 4000000 files /usr/share/doc"
    "Sounds wav 5 2000 8000000 files"
    "Music mp3 3 2000 8000000 files"
    "Music oga 3 2000 8000000 files"
    "Music flac 1 2000 8000000 files"
    "Documents pdf 3 2000 20000000 /usr/share/doc /usr/share/matplotlib"
    "Documents jar 3 2000 400000 /usr/share/java"
    "Documents/big jar 1 1000000 4000000 /usr/share/java"
)
stage=$work/stage
rm -rf "$stage" && mkdir -p "$stage"
: >"$work/list"
: >"$work/sums"
for row in "${PICKS[@]}"; do
    read -r folder ext count min max places <<<"$row"
    places=$(for place in $places; do [ "${place:0:1}" = / ] && echo "$place" || echo "$work/$place"; done)
    mkdir -p "$stage/$folder"
    got=0
    # shellcheck disable=SC2086
    while read -r file && [ "$got" -lt "$count" ]; do
        sum=$(sha256sum <"$file")
        ! grep -qxF "$sum" "$work/sums" || continue
        echo "$sum" >>"$work/sums"
        got=$((got + 1))
        name=$(basename "$file")
        case "$folder" in DCIM/*) name=$(printf 'IMG_%04d.jpg' "$got") ;; esac
        cp "$file" "$stage/$folder/$name"
        echo "/$folder/$name" >>"$work/list"
    done < <(find $places -type f -iname "*.$ext" -size +"$min"c -size -"$max"c 2>/dev/null | sort)
done
# The file written in two fragments: the largest PNG, written where a
# scratch file of 256 KiB (random bytes, written amid the others and then
# deleted) left a gap, and further on (how, below per file system).
frag=/Pictures/wallpaper.png
cp "$(find "$work/files" -iname '*.png' -size -4000000c -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)" \
    "$stage$frag"
python3 -c 'import random, sys; random.seed(1); sys.stdout.buffer.write(random.randbytes(262144))' >"$work/scratch"
# Deleted afterwards: the folder /Sounds, and one in four of the other files.
awk '!/^\/Sounds\// && NR % 4 == 2' "$work/list" >"$work/deleted-files"
total=$(($(wc -l <"$work/list") + 1))
echo "fs-bench: $total files, $(du -sb "$stage" | cut -f1) bytes; /Sounds and $(wc -l <"$work/deleted-files") more deleted" >&2

# truth IMAGE: path, size, sha256 and whether deleted, per file.
truth() {
    (cd "$stage" && find . -type f | sed 's/^\.//' | sort) | while read -r path; do
        deleted=0
        case "$path" in /Sounds/*) deleted=1 ;; esac
        grep -qxF "$path" "$work/deleted-files" && deleted=1
        printf '%s\t%s\t%s\t%s\n' "$path" "$(stat -c %s "$stage$path")" \
            "$(sha256sum <"$stage$path" | cut -d' ' -f1)" "$deleted"
    done >"$1.truth"
}
# The files in writing order, the scratch file after the first ten.
writing_order() { sed -n 1,10p "$work/list"; echo /scratch; sed -n '11,$p' "$work/list"; }
source_of() { [ "$1" = /scratch ] && echo "$work/scratch" || echo "$stage$1"; }

# --- images ------------------------------------------------------------------------
images=$work/images
rm -rf "$images" && mkdir -p "$images"
mib=64

# FAT32 (mtools, 512-byte clusters), then placed at 1 MiB behind a DOS
# partition table. The FSInfo sector's next-free hint is reset before the
# fragmented file so that mtools takes the first free clusters (the gap),
# then those behind the last file.
fat=$images/fat32.vol
mkfs.fat -F 32 -s 1 -C "$fat" $(((mib - 1) * 1024)) >/dev/null
folders() { (cd "$stage" && find . -mindepth 1 -type d | sed 's/^\.//' | sort); }
for folder in $(folders); do mmd -i "$fat" "::$folder"; done
writing_order | while read -r path; do mcopy -i "$fat" "$(source_of "$path")" "::$path"; done
mdel -i "$fat" ::/scratch
printf '\xff\xff\xff\xff' | dd of="$fat" bs=1 seek=$((512 + 492)) conv=notrunc status=none
mcopy -i "$fat" "$stage$frag" "::$frag"
while read -r path; do mdel -i "$fat" "::$path"; done <"$work/deleted-files"
mdeltree -i "$fat" ::/Sounds
truncate -s ${mib}M "$images/fat32-mbr.img"
echo 'start=2048, type=c' | sfdisk -q "$images/fat32-mbr.img"
dd if="$fat" of="$images/fat32-mbr.img" bs=1M seek=1 conv=notrunc status=none
rm "$fat"
truth "$images/fat32-mbr.img"

# ext4, ext3 and ext2: mke2fs -d writes the tree but the last file and the
# fragmented one; debugfs writes the scratch file, the last file behind it,
# deletes the scratch file and writes the fragmented file (first fit: into the
# gap, then behind the last file), then deletes. A deleted file's inode is
# then left as the kernel leaves it: on ext4 size 0 and no extents, on ext3
# size 0, no blocks and all 15 block pointers zero, so its data can only be
# carved (and on ext3 and ext2 a file of more than 12 blocks has its indirect
# block amid its data); ext2 keeps the block pointers of deleted files.
last=$(tail -n 1 "$work/list")
for fs in ext4 ext3 ext2; do
    image=$images/$fs.img
    rm -rf "$work/tree" && cp -a "$stage" "$work/tree"
    rm "$work/tree$frag" "$work/tree$last"
    mke2fs -q -t "$fs" -b 4096 -d "$work/tree" -F "$image" ${mib}M
    rm -rf "$work/tree"
    {
        echo "write $work/scratch scratch"
        echo "cd $(dirname "$last")" && echo "write $stage$last $(basename "$last")"
        echo "cd /" && echo "rm /scratch"
        echo "cd $(dirname "$frag")" && echo "write $stage$frag $(basename "$frag")"
    } >"$work/debugfs.cmd"
    debugfs -w -f "$work/debugfs.cmd" "$image" >/dev/null 2>&1
    inodes=()
    for path in $(cat "$work/deleted-files"; (cd "$stage" && find Sounds -type f | sed 's|^|/|')); do
        inodes+=("$(debugfs -R "stat $path" "$image" 2>/dev/null | sed -n 's/^Inode: \([0-9]*\).*/\1/p')")
        echo "rm $path"
    done >"$work/debugfs.cmd"
    echo "rmdir /Sounds" >>"$work/debugfs.cmd"
    if [ "$fs" = ext4 ]; then
        for inode in "${inodes[@]}"; do
            echo "sif <$inode> size 0"
            echo "sif <$inode> block[0] 0xf30a"   # extent header, no entries
        done >>"$work/debugfs.cmd"
    elif [ "$fs" = ext3 ]; then
        for inode in "${inodes[@]}"; do
            echo "sif <$inode> size 0"
            echo "sif <$inode> blocks 0"
            for field in 0 1 2 3 4 5 6 7 8 9 10 11 IND DIND TIND; do echo "sif <$inode> block[$field] 0"; done
        done >>"$work/debugfs.cmd"
    fi
    debugfs -w -f "$work/debugfs.cmd" "$image" >/dev/null 2>&1
    truth "$image"
done

# exFAT and NTFS through FUSE: exfat-fuse wants a block device (a loop
# device), ntfs-3g takes the file. Neither driver reliably reuses a freed
# gap while others are free, so the volume is first filled with a file of
# zeros; deleting the scratch file and cutting the filler's tail leaves the
# fragmented file those two places only. The filler is deleted afterwards.
mnt=$work/mnt
loop=""
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    if [ -n "$loop" ]; then losetup -d "$loop"; fi
}
trap cleanup EXIT
mkdir -p "$mnt"
# fuse_image IMAGE MOUNT...: mounts, writes the files, deletes.
fuse_image() {
    local image=$1
    shift
    "$@" "$mnt" 2>/dev/null || return 1
    for folder in $(folders); do mkdir -p "$mnt$folder"; done
    writing_order | while read -r path; do cp "$(source_of "$path")" "$mnt$path"; done
    cat /dev/zero >"$mnt/filler" 2>/dev/null || true
    rm "$mnt/scratch"
    truncate -s -$(($(stat -c %s "$stage$frag") - $(stat -c %s "$work/scratch") + 65536)) "$mnt/filler"
    cp "$stage$frag" "$mnt$frag"
    rm "$mnt/filler"
    while read -r path; do rm "$mnt$path"; done <"$work/deleted-files"
    rm -r "$mnt/Sounds"
    umount "$mnt" && truth "$image"
}
image=$images/exfat.img
truncate -s ${mib}M "$image" && mkfs.exfat "$image" >/dev/null
if ! { loop=$(losetup --show -f "$image") && fuse_image "$image" mount.exfat-fuse "$loop"; }; then
    echo "fs-bench: exFAT cannot be mounted here (a loop device and FUSE are needed); no exFAT image" >&2
    rm "$image"
fi
if [ -n "$loop" ]; then losetup -d "$loop"; fi
loop=""
image=$images/ntfs.img
truncate -s ${mib}M "$image" && mkntfs -q -F -Q "$image" >/dev/null 2>&1
if ! fuse_image "$image" ntfs-3g "$image"; then
    echo "fs-bench: NTFS cannot be mounted here (FUSE is needed); no NTFS image" >&2
    rm "$image"
fi

# --- runs ------------------------------------------------------------------------------
# Each tool on each image into a fresh folder, under GNU time (wall seconds,
# peak resident KiB into DIR/time).
runs=$work/runs
rm -rf "$runs"
for image in "$images"/*.img; do
    name=$(basename "$image" .img)
    offset=""
    [ "$name" != fat32-mbr ] || offset="-o 2048"
    cat "$image" >/dev/null  # every tool reads it from the page cache
    dir=$runs/$name
    mkdir -p "$dir/photorec" "$dir/tsk_recover" "$dir/hound"
    /usr/bin/time -f "%e %M" -o "$dir/photorec/time" sh -c "cd '$dir/photorec' && photorec /log \
        /d '$dir/photorec/recup' /cmd '$image' partition_none,fileopt,everything,enable,search >/dev/null 2>&1" || true
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %M" -o "$dir/tsk_recover/time" tsk_recover -e $offset "$image" "$dir/tsk_recover/out" \
        >/dev/null 2>&1 || true
    /usr/bin/time -f "%e %M" -o "$dir/hound/time" "$hound" scan "$image" --json -q --out "$dir/hound/out" \
        >"$dir/hound/items.jsonl" || true
    echo "fs-bench: $name done" >&2
done

# --- table -----------------------------------------------------------------------------
python3 - "$images" "$runs" "$stage" "$work/missed.md" <<'EOF' | tee "$work/results.md"
import hashlib, json, os, sys

images, runs, stage, missed = sys.argv[1:5]
missed = open(missed, "w")

def sha(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()

def around_indirect(data, at, size, block=4096):
    """The size bytes from block-aligned at, read the way ext2/3 lay out a file
    written in one go: 12 blocks, its indirect block, N more (N = block / 4),
    the double indirect block and its first indirect block, then an indirect
    block before each further N."""
    n, pieces, logical, physical = block // 4, [], 0, at // block
    while logical * block < size:
        if logical == 12:
            physical += 1
        elif logical >= 12 + n and (logical - 12 - n) % n == 0:
            physical += 2 if logical == 12 + n else 1
        pieces.append(data[physical * block:(physical + 1) * block])
        logical, physical = logical + 1, physical + 1
    return b"".join(pieces)[:size]

def intact(image, truth, indirect):
    """Truth files whose bytes lie whole at a 512-byte boundary: in one piece,
    or (indirect: an ext2/3 volume of 4 KiB blocks) around the indirect
    blocks among its data."""
    starts = {}
    for path, size, digest, _ in truth:
        with open(stage + path, "rb") as f:
            starts.setdefault(f.read(512), []).append((path, size, digest))
    data = open(image, "rb").read()
    found = set()
    for at in range(0, len(data), 512):
        for path, size, digest in starts.get(data[at:at + 512], ()):
            if hashlib.sha256(data[at:at + size]).hexdigest() == digest or (
                    indirect and at % 4096 == 0 and size > 12 * 4096 and
                    hashlib.sha256(around_indirect(data, at, size)).hexdigest() == digest):
                found.add(path)
    return found

print("| image | files | deleted | whole in image | tool | exact | named | twice | s | MiB |")
print("|---|--:|--:|--:|---|--:|--:|--:|--:|--:|")
for name in sorted(os.listdir(runs)):
    image = os.path.join(images, name + ".img")
    truth = [line.rstrip("\n").split("\t") for line in open(image + ".truth")]
    truth = [(p, int(s), d, x == "1") for p, s, d, x in truth]
    by_digest = {d: p for p, _, d, _ in truth}
    rows, recovered = [], set()
    for tool in ("photorec", "tsk_recover", "hound"):
        dir = os.path.join(runs, name, tool)
        wall, kib = open(os.path.join(dir, "time")).read().split()[-2:]
        # (output file, path the tool gives it) for every file the tool wrote.
        outputs = []
        if tool == "hound":
            for line in open(os.path.join(dir, "items.jsonl")):
                item = json.loads(line)
                if item.get("extracted"):
                    outputs.append((item["extracted"], item.get("path")))
        else:
            for top, _, names in os.walk(dir):
                outputs += [(os.path.join(top, n), None) for n in names]
        hits, named = {}, set()
        for file, path in outputs:
            truth_path = by_digest.get(sha(file))
            if truth_path is None:
                continue
            hits[truth_path] = hits.get(truth_path, 0) + 1
            if (tool == "hound" and path == truth_path or
                    tool == "tsk_recover" and file.endswith(truth_path)):
                named.add(truth_path)
        recovered |= hits.keys()
        lost = [p + (" (deleted)" if deleted else "") for p, _, _, deleted in truth if p not in hits]
        print(f"{name} {tool}: {', '.join(lost) or '-'}", file=missed)
        rows.append((tool, len(hits), len(named), sum(n > 1 for n in hits.values()),
                     float(wall), int(kib) / 1024))
    # Whole: allocated (the file system holds it), in one piece in the image
    # (on ext2/3 also around its indirect blocks), or recovered exactly by
    # some tool (a deleted file in fragments).
    whole = ({p for p, _, _, deleted in truth if not deleted} |
             intact(image, truth, name in ("ext2", "ext3")) | recovered)
    for tool, exact, named, twice, wall, mib in rows:
        print(f"| {name} | {len(truth)} | {sum(t[3] for t in truth)} | {len(whole)} | {tool} | "
              f"{exact} | {named} | {twice} | {wall:.2f} | {mib:.0f} |")
EOF
