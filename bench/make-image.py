#!/usr/bin/env python3
"""Makes the scan benchmark's image: JPEG (cjpeg), PNG, GIF, BMP (ImageMagick
convert) and WAV (sox) files amid random bytes, text and runs of zeros, and a
truth file with each file's offset, size and type.

Usage: make-image.py OUT_DIR [--size MIB] [--seed N] [--jpeg-kinds baseline|mixed]
Writes OUT_DIR/image.bin and OUT_DIR/image.truth ("offset size type" lines).
The same size and seed give the same image, byte for byte.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile

TEXT = (b"the quick brown fox jumps over the lazy dog; pack my box with five dozen "
        b"liquor jugs. Sphinx of black quartz, judge my vow! 0123456789 Lorem ipsum "
        b"dolor sit amet, consectetur adipiscing elit.\n")

# Files of each type; about 150 in all.
COUNTS = {"jpg": 50, "png": 25, "gif": 25, "bmp": 25, "wav": 25}
# cjpeg options of --jpeg-kinds mixed, taken in turn: what cameras and web
# encoders write besides baseline.
JPEG_KINDS = ["", "-progressive", "-restart 1", "-optimize", "-arithmetic",
              "-progressive -optimize", "-restart 4B", "-grayscale"]
SIZES = [(320, 240), (640, 480), (800, 600), (1024, 768), (160, 120)]
COLOURS = ["tomato-steelblue", "gold-navy", "orchid-olive", "white-seagreen", "black-orange"]


def run(command, **kwargs):
    subprocess.run(command, shell=True, check=True, **kwargs)


def picture(work, rng, index, fmt, mixed=False):
    """A picture with its own seed and size: plasma or smoothed noise."""
    width, height = rng.choice(SIZES)
    if fmt in ("gif", "bmp", "png"):  # smaller: these formats hardly compress
        width, height = width // 2, height // 2
    seed = rng.randrange(1 << 30)
    if rng.random() < 0.5:
        source = f"-size {width}x{height} -seed {seed} plasma:{rng.choice(COLOURS)}"
    else:
        source = (f"-size {width}x{height} -seed {seed} xc:gray +noise Random "
                  f"-blur 0x{rng.randint(1, 4)}")
    path = os.path.join(work, f"{fmt}{index}.{fmt}")
    if fmt == "jpg":
        options = JPEG_KINDS[index % len(JPEG_KINDS)] if mixed else ""
        run(f"convert {source} ppm:- | cjpeg {options} -quality {rng.randint(50, 95)} >{path}")
    elif fmt == "png":
        run(f"convert {source} -strip -define png:exclude-chunks=date,time {path}")
    elif fmt == "gif":
        run(f"convert {source} -colors {rng.choice([16, 32, 64, 128])} {path}")
    else:
        run(f"convert {source} -type TrueColor BMP3:{path}")
    return path


def sound(work, rng, index):
    path = os.path.join(work, f"wav{index}.wav")
    seconds = rng.uniform(0.2, 3.0)
    rate = rng.choice([8000, 11025, 22050, 44100])
    wave = rng.choice(["sine", "square", "triangle"])
    run(f"sox -R -n -r {rate} -b 16 -c 1 {path} synth {seconds:.2f} {wave} {rng.randint(200, 2000)} "
        f"fade 0.05 {seconds:.2f} 0.05")
    return path


def gif_ends_at_its_trailer(data):
    """A GIF item ends at the first 00 3B behind its start."""
    return data.find(b"\x00\x3b") == len(data) - 2


def make_items(work, rng, mixed):
    items = []
    for fmt, count in COUNTS.items():
        for index in range(count):
            for attempt in range(8):
                path = sound(work, rng, index) if fmt == "wav" else picture(work, rng, index, fmt, mixed)
                with open(path, "rb") as f:
                    data = f.read()
                if fmt != "gif" or gif_ends_at_its_trailer(data):
                    items.append((fmt, data))
                    break
    rng.shuffle(items)
    return items


def filler(rng, length):
    kind = rng.random()
    if kind < 0.4:
        return rng.randbytes(length)
    if kind < 0.7:
        text = TEXT * (length // len(TEXT) + 2)
        start = rng.randrange(len(TEXT))
        return text[start:start + length]
    return bytes(length)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--size", type=int, default=512, help="image size in MiB")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jpeg-kinds", choices=["baseline", "mixed"], default="baseline",
                        help="baseline JPEGs only, or progressive, restart and arithmetic ones too")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    total = args.size << 20
    os.makedirs(args.out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        items = make_items(work, rng, args.jpeg_kinds == "mixed")
    item_bytes = sum(len(data) for _, data in items)
    if item_bytes >= total:
        sys.exit("make-image: the files do not fit; choose a larger --size")
    # Filler between the files: equal shares, cut into runs of mixed kinds.
    share = (total - item_bytes) // (len(items) + 1)
    image_path = os.path.join(args.out_dir, "image.bin")
    truth_path = os.path.join(args.out_dir, "image.truth")
    offset = 0
    with open(image_path, "wb") as image, open(truth_path, "w") as truth:
        truth.write("# offset size type\n")

        def fill(length):
            nonlocal offset
            while length > 0:
                run_length = min(length, rng.randint(4096, 1 << 20))
                image.write(filler(rng, run_length))
                offset += run_length
                length -= run_length

        for fmt, data in items:
            fill(share)
            if rng.random() < 0.5:  # half of the files start on a 512-byte block
                pad = (-offset) % 512
                image.write(bytes(pad))
                offset += pad
            truth.write(f"{offset} {len(data)} {fmt}\n")
            image.write(data)
            offset += len(data)
        fill(total - offset)
    print(f"make-image: {offset} bytes, {len(items)} files ({item_bytes} bytes)", file=sys.stderr)


if __name__ == "__main__":
    main()
