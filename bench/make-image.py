#!/usr/bin/env python3
"""Makes the scan benchmark's image: JPEG (cjpeg), PNG, GIF, BMP (ImageMagick
convert) and WAV (sox) files amid random bytes, text and runs of zeros, and a
truth file with each file's offset, size and type.

Usage: make-image.py OUT_DIR [--size MIB] [--seed N] [--jpeg-kinds baseline|mixed] [--media N]
Writes OUT_DIR/image.bin and OUT_DIR/image.truth ("offset size type" lines).
The same size and seed give the same image, byte for byte.

--media N adds N audio and video files of each media type (MEDIA below:
ISO base media, Matroska, Ogg, FLAC, AVI, AIFF, FLV, ASF, MPEG program and
transport streams, MPEG audio, ADTS AAC, AVIF), made by ffmpeg, sox, flac,
lame, oggenc and opusenc, from tens of KB to a few MB. The pictures and
sounds stay the same files; only the filler and the order around them
change. Without --media (N = 0) the image is the one of earlier runs.
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


# --- media (--media N) --------------------------------------------------------
# ffmpeg writes no encoder name, time or random stream IDs with bitexact, so
# that the same seed gives the same files again.
FFMPEG = "ffmpeg -nostdin -y -loglevel error -threads 2"
BITEXACT = "-fflags +bitexact -flags:v +bitexact -flags:a +bitexact"
VIDEO_SIZES = [(160, 120), (320, 240), (640, 360), (640, 480), (1280, 720)]
VIDEO_SOURCES = ["testsrc2", "smptebars", "rgbtestsrc", "testsrc"]


def video_input(rng, seconds, size=None):
    """A moving test pattern; grain added at random, so that the encoder
    spends the bitrate it is given."""
    width, height = size or rng.choice(VIDEO_SIZES)
    rate = rng.choice([10, 15, 25, 30])
    grain = rng.choice([0, 0, 8, 25])
    where = f"-f lavfi -i {rng.choice(VIDEO_SOURCES)}=size={width}x{height}:rate={rate}:duration={seconds:.2f}"
    return where, (f"-vf noise=alls={grain}:allf=t" if grain else "")


def audio_input(rng, seconds, rate=None):
    rate = rate or rng.choice([22050, 44100, 48000])
    if rng.random() < 0.5:
        return f"-f lavfi -i sine=frequency={rng.randint(100, 3000)}:sample_rate={rate}:duration={seconds:.2f}"
    return (f"-f lavfi -i anoisesrc=color={rng.choice(['pink', 'brown', 'white'])}:seed={rng.randrange(1 << 30)}:"
            f"amplitude=0.2:sample_rate={rate}:duration={seconds:.2f}")


def av(options, video_size=None, seconds=(1, 8)):
    """A video with sound: options get {vb} and {ab} (kbit/s), {q} (2 to 10)
    and {aq} (Vorbis quality, 0 to 6)."""
    def command(rng, out):
        length = rng.uniform(*seconds)
        video, grain = video_input(rng, length, video_size)
        filled = options.format(vb=rng.choice([200, 400, 800, 1500, 2500]), ab=rng.choice([64, 96, 128, 192]),
                                q=rng.randint(2, 10), aq=rng.randint(0, 6))
        return f"{FFMPEG} {video} {audio_input(rng, length)} {grain} {filled} -shortest {BITEXACT} {out}"
    return command


def audio(options, seconds=(1, 20), rate=None):
    """Sound alone: options get {ab} (kbit/s) and {aq} (Vorbis quality)."""
    def command(rng, out):
        filled = options.format(ab=rng.choice([48, 64, 96, 128, 192]), aq=rng.randint(0, 6))
        return f"{FFMPEG} {audio_input(rng, rng.uniform(*seconds), rate)} {filled} {BITEXACT} {out}"
    return command


def from_wav(encode, seconds=(1, 20)):
    """sox's sound (-R: the same every time), then the format's own encoder:
    encode gets {wav}, {out}, {serial}, {level} (0 to 8) and {kbps}."""
    def command(rng, out):
        wav = out + ".wav"
        length = rng.uniform(*seconds)
        sound = rng.choice(["sine 440", f"sine {rng.randint(100, 3000)}", "pinknoise", "square 300-900"])
        return (f"sox -R -V1 -n -r {rng.choice([22050, 44100, 48000])} -b 16 -c {rng.choice([1, 2])} {wav} "
                f"synth {length:.2f} {sound} vol 0.3 && "
                + encode.format(wav=wav, out=out, serial=rng.randrange(1, 1 << 31), level=rng.randint(0, 8),
                              kbps=rng.choice([64, 96, 128, 160, 192, 256])))
    return command


def still(options):
    """One picture with grain: options get {crf}."""
    def command(rng, out):
        video, _ = video_input(rng, 1)
        grain = f"-vf noise=alls={rng.choice([10, 25, 40])}:allf=t"
        return f"{FFMPEG} {video} {grain} -frames:v 1 {options.format(crf=rng.randint(10, 35))} {BITEXACT} {out}"
    return command


X264 = "-pix_fmt yuv420p -c:v libx264 -preset veryfast -b:v {vb}k"
MPEG_VIDEO = "-r 25 -c:v {codec} -b:v {{vb}}k -maxrate 9000k -bufsize 1835k"
# Media types (the truth's type, named by content as hound names it) and how
# their files are made, taken in turn.
MEDIA = {
    "mp4": [av(X264 + " -c:a aac -b:a {ab}k -f mp4"),
            av(X264 + " -c:a aac -b:a {ab}k -movflags +faststart -f mp4"),
            av("-c:v mpeg4 -b:v {vb}k -c:a aac -b:a {ab}k -movflags +frag_keyframe+empty_moov -f mp4"),
            av("-pix_fmt yuv420p -c:v libx265 -preset ultrafast -x265-params log-level=error -tag:v hvc1 -b:v {vb}k "
               "-c:a aac -b:a {ab}k -f mp4")],
    "mov": [av(X264 + " -c:a aac -b:a {ab}k -f mov"),
            av("-c:v mjpeg -q:v {q} -c:a pcm_s16le -f mov", video_size=(320, 240), seconds=(1, 3))],
    "m4a": [audio("-c:a aac -b:a {ab}k -f ipod"), audio("-c:a alac -f ipod", seconds=(1, 5))],
    "3gp": [av("-c:v h263 -b:v {vb}k -c:a aac -ar 16000 -ac 1 -b:a 32k -f 3gp", video_size=(176, 144)),
            av("-c:v h263 -b:v {vb}k -c:a aac -ar 22050 -ac 1 -b:a 48k -f 3gp", video_size=(352, 288))],
    "mkv": [av(X264 + " -c:a libvorbis -q:a {aq} -f matroska"),
            av("-c:v mpeg4 -b:v {vb}k -c:a flac -f matroska"),
            av(X264 + " -c:a aac -b:a {ab}k -f matroska")],
    # libvpx's realtime mode adapts to the clock: good, for the same files;
    # without alpha, which some test patterns have.
    "webm": [av("-pix_fmt yuv420p -c:v libvpx -deadline good -cpu-used 5 -b:v {vb}k -c:a libvorbis -q:a {aq} "
                "-f webm"),
             av("-pix_fmt yuv420p -c:v libvpx-vp9 -deadline good -cpu-used 5 -row-mt 1 -b:v {vb}k -c:a libopus "
                "-b:a {ab}k -f webm")],
    "mka": [audio("-c:a libopus -b:a {ab}k -f matroska"), audio("-c:a libvorbis -q:a {aq} -f matroska"),
            audio("-c:a flac -f matroska", seconds=(1, 5))],
    "avi": [av("-c:v mpeg4 -vtag xvid -b:v {vb}k -c:a libmp3lame -b:a {ab}k -f avi"),
            av("-c:v mjpeg -q:v {q} -c:a pcm_s16le -f avi", video_size=(320, 240), seconds=(1, 3)),
            av("-c:v msmpeg4 -b:v {vb}k -c:a mp2 -ar 44100 -b:a {ab}k -f avi")],
    "flv": [av("-c:v flv -b:v {vb}k -c:a libmp3lame -ar 44100 -b:a {ab}k -f flv"),
            av(X264 + " -c:a aac -b:a {ab}k -f flv")],
    "wmv": [av("-c:v wmv2 -b:v {vb}k -c:a wmav2 -b:a {ab}k -f asf"),
            av("-c:v wmv1 -b:v {vb}k -c:a wmav1 -b:a {ab}k -f asf")],
    "wma": [audio("-c:a wmav2 -b:a {ab}k -f asf"), audio("-c:a wmav1 -b:a {ab}k -f asf")],
    # MPEG-1 system streams and MPEG-2 program streams are mpg; a DVD's, with
    # navigation packs, vob. 25 frames a second and a DVD's rate buffer, so
    # that every frame fits the multiplexer's buffer.
    "mpg": [av(MPEG_VIDEO.format(codec="mpeg1video") + " -c:a mp2 -ar 44100 -b:a {ab}k -f mpeg"),
            av(MPEG_VIDEO.format(codec="mpeg2video") + " -c:a mp2 -ar 44100 -b:a {ab}k -f vob")],
    "vob": [av(MPEG_VIDEO.format(codec="mpeg2video") + " -c:a ac3 -b:a {ab}k -f dvd")],
    "ts": [av("-c:v mpeg2video -b:v {vb}k -c:a mp2 -ar 44100 -b:a {ab}k -f mpegts"),
           av(X264 + " -c:a aac -b:a {ab}k -f mpegts")],
    "m2ts": [av(X264 + " -c:a ac3 -b:a {ab}k -f mpegts -mpegts_m2ts_mode 1")],
    "ogg": [from_wav("oggenc -Q -s {serial} {wav} -o {out}"), audio("-c:a libvorbis -q:a {aq} -f ogg")],
    "opus": [from_wav("opusenc --quiet --serial {serial} {wav} {out}"), audio("-c:a libopus -b:a {ab}k -f opus")],
    "ogv": [av("-c:v libtheora -b:v {vb}k -c:a libvorbis -q:a {aq} -f ogg", seconds=(1, 5))],
    "spx": [audio("-c:a libspeex -ar 16000 -ac 1 -f spx", rate=16000)],
    "oga": [audio("-c:a flac -f oga", seconds=(1, 5))],
    "flac": [from_wav("flac -s -f -{level} {wav} -o {out}", seconds=(1, 8)),
             audio("-c:a flac -f flac", seconds=(1, 5))],
    "mp3": [from_wav("lame --quiet -b {kbps} {wav} {out}"),
            from_wav("lame --quiet -V 4 --add-id3v2 --tt bench --ta hound {wav} {out}"),
            audio("-c:a libmp3lame -b:a {ab}k -f mp3")],
    "mp2": [audio("-c:a mp2 -ar 44100 -b:a {ab}k -f mp2")],
    "aac": [audio("-c:a aac -b:a {ab}k -f adts")],
    # Without a comment, which sox stamps with the time.
    "aiff": [from_wav("sox -V1 {wav} --comment '' -t aiff {out}", seconds=(0.5, 6))],
    "aifc": [from_wav("sox -V1 {wav} --comment '' -t aifc {out}", seconds=(0.5, 6))],
    "avif": [still("-c:v libaom-av1 -cpu-used 8 -crf {crf} -still-picture 1 -f avif")],
}


def make_media(work, rng, count):
    """count files of each media type, the type's ways taken in turn."""
    items = []
    for kind, ways in MEDIA.items():
        for index in range(count):
            out = os.path.join(work, f"media-{kind}{index}")
            run(ways[index % len(ways)](rng, out))
            with open(out, "rb") as f:
                items.append((kind, f.read()))
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
    parser.add_argument("--media", type=int, default=0, metavar="N",
                        help="N audio and video files of each media type besides the pictures and sounds")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    total = args.size << 20
    os.makedirs(args.out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        items = make_items(work, rng, args.jpeg_kinds == "mixed")
        if args.media > 0:
            # A random stream of their own, so that the pictures and sounds
            # are the files of the image without media.
            media_rng = random.Random(f"media {args.seed}")
            items += make_media(work, media_rng, args.media)
            media_rng.shuffle(items)
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
