#!/usr/bin/env python3
"""Forensic workflow on the benchmark image: what hashing costs a scan with
extraction, and whether parts joined give the whole scan.

Usage: forensic-bench.py HOUND IMAGE_DIR [--runs N]
IMAGE_DIR holds image.bin and image.truth from make-image.py.

1. Runs `hound scan --out` with --hash none, sha256 and md5,sha1,sha256,sha512,
   in turns, N times each; prints the median wall and CPU (user + system)
   seconds of each and the overhead of hashing over none. Once on the image
   (items are a few percent of its bytes), once on a dense image: the
   image's files back to back, repeated to 128 MiB, where nearly every byte
   is extracted and hashed.
2. Scans the whole image with --json --out, then as parts (--part K/N for
   several N, and --range cuts through the middle of true files and at
   their first bytes), joins each set with hound join and compares the
   JSON lines, the extracted files and the DFXML items with the whole scan's.
"""
import argparse
import filecmp
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time


def timed(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def hashing_cost(hound, image, work, runs):
    modes = ["none", "sha256", "md5,sha1,sha256,sha512"]
    times = {mode: [] for mode in modes}
    for _ in range(runs):
        for mode in modes:
            out = os.path.join(work, "hash-out")
            shutil.rmtree(out, ignore_errors=True)
            times[mode].append(timed([hound, "scan", image, "-q", "--out", out, "--hash", mode]))
    print("| --hash | wall s (median) | CPU s (median) | wall over none | CPU over none |")
    print("|---|---|---|---|---|")
    base_wall = statistics.median(t[0] for t in times["none"])
    base_cpu = statistics.median(t[1] for t in times["none"])
    for mode in modes:
        wall = statistics.median(t[0] for t in times[mode])
        cpu = statistics.median(t[1] for t in times[mode])
        print(f"| {mode} | {wall:.2f} | {cpu:.2f} | {100 * (wall / base_wall - 1):+.1f}% "
              f"| {100 * (cpu / base_cpu - 1):+.1f}% |")
    items = sum(os.path.getsize(os.path.join(d, f))
                for d, _, fs in os.walk(os.path.join(work, "hash-out")) for f in fs
                if not f.startswith("audit"))
    print(f"\nBytes extracted and hashed per run: {items}")


def fileobjects(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return text[text.find("<fileobject>"):]


def compare_parts(hound, image, truth, work):
    size = os.path.getsize(image)
    whole_out = os.path.join(work, "whole")
    shutil.rmtree(whole_out, ignore_errors=True)
    whole = subprocess.run([hound, "scan", image, "-q", "--json", "--out", whole_out, "--dfxml",
                            os.path.join(work, "whole.xml")], check=True, capture_output=True,
                           text=True).stdout
    middles = [offset + length // 2 for offset, length in truth[::9]]
    starts = [offset for offset, _ in truth[4::11]]
    cut_sets = {f"--part K/{n}": [f"--part={k}/{n}" for k in range(1, n + 1)] for n in (2, 7, 16)}
    for name, cuts in (("cuts in the middle of true files", middles),
                       ("cuts at the first byte of true files", starts)):
        bounds = [0] + sorted(set(cuts)) + [size]
        cut_sets[f"{name} ({len(bounds) - 2})"] = [f"--range={a}:{b}" for a, b in zip(bounds, bounds[1:])]
    print("| parts | items (whole) | JSON lines | extracted files | DFXML items |")
    print("|---|---|---|---|---|")
    ok = True
    for name, options in cut_sets.items():
        out = os.path.join(work, "parts")
        shutil.rmtree(out, ignore_errors=True)
        paths = []
        for i, option in enumerate(options):
            path = os.path.join(work, f"part-{i}.jsonl")
            with open(path, "w") as f:
                subprocess.run([hound, "scan", image, "-q", "--json", "--out", out, option], check=True,
                               stdout=f)
            paths.append(path)
        joined = subprocess.run([hound, "join", *paths, "--out", out, "--dfxml",
                                 os.path.join(work, "joined.xml")], check=True, capture_output=True,
                                text=True).stdout
        same_lines = joined.replace(out + "/", whole_out + "/") == whole
        files = sorted(os.path.relpath(os.path.join(d, f), out) for d, _, fs in os.walk(out) for f in fs
                       if not f.startswith("audit"))
        expected = sorted(os.path.relpath(os.path.join(d, f), whole_out)
                          for d, _, fs in os.walk(whole_out) for f in fs if not f.startswith("audit"))
        same_files = files == expected and all(
            filecmp.cmp(os.path.join(out, f), os.path.join(whole_out, f), shallow=False) for f in files)
        same_xml = fileobjects(os.path.join(work, "joined.xml")) == fileobjects(os.path.join(work, "whole.xml"))
        ok = ok and same_lines and same_files and same_xml
        verdict = lambda same: "identical" if same else "DIFFERENT"
        print(f"| {name} | {len(whole.splitlines())} | {verdict(same_lines)} | {verdict(same_files)} "
              f"| {verdict(same_xml)} |")
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("hound")
    parser.add_argument("image_dir")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    image = os.path.join(args.image_dir, "image.bin")
    truth = []
    with open(os.path.join(args.image_dir, "image.truth")) as f:
        for line in f:
            if not line.startswith("#"):
                offset, length, _ = line.split()
                truth.append((int(offset), int(length)))
    work = os.path.join(args.image_dir, "forensic-work")
    os.makedirs(work, exist_ok=True)
    subprocess.run(["cat", image], check=True, stdout=subprocess.DEVNULL)  # into the page cache
    print("Image:\n")
    hashing_cost(args.hound, image, work, args.runs)
    dense = os.path.join(work, "dense.bin")
    with open(image, "rb") as source, open(dense, "wb") as out:
        files = []
        for offset, length in truth:
            source.seek(offset)
            files.append(source.read(length))
        while out.tell() < 128 << 20:
            for data in files:
                out.write(data)
    print("\nDense image (the image's files back to back, 128 MiB):\n")
    subprocess.run(["cat", dense], check=True, stdout=subprocess.DEVNULL)
    hashing_cost(args.hound, dense, work, args.runs)
    print()
    ok = compare_parts(args.hound, image, truth, work)
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
