#!/usr/bin/env python3
"""The table and the plot of the whole-scan benchmark, from the run folder
that scan-bench.sh fills:

  image.bin, image.truth           the image and where its files are
  runs.tsv                         tool, wall seconds, max RSS (KiB), output folder, CPU seconds
  check_cost.txt                   check_cost's line (the check stage alone)
  order.tsv                        order, wall seconds, CPU seconds: the scan with and without
                                   formathound in the order, in turns (optional)
  sweep.tsv                        signatures, mode, wall seconds
  floor.txt                        scan_floor's line
  micro.txt                        the Google Benchmark output

Usage: scan_report.py RUN_DIR   (writes RUN_DIR/results.md and RUN_DIR/scan-bench.png)
"""
import hashlib
import json
import os
import re
import sys
from collections import Counter, defaultdict

TYPES = ["jpg", "png", "gif", "bmp", "wav"]
# The media types, in the order of their tables' rows: ISO base media,
# Matroska, RIFF and IFF, Flash, ASF, MPEG streams, Ogg, FLAC, MPEG audio, MIDI.
MEDIA_TYPES = ["mp4", "mov", "m4a", "3gp", "heic", "avif", "mkv", "webm", "mka", "avi", "aiff", "aifc", "flv",
               "wmv", "wma", "mpg", "vob", "ts", "m2ts", "ogg", "opus", "ogv", "spx", "oga", "flac", "mp3",
               "mp2", "aac", "mid"]
# Other spellings of one type in the tools' file names (foremost's, scalpel's
# and PhotoRec's extensions, hound's "ext"; the disk's JARs are its zip
# files). Only spellings: a tool that names an m4a "mp4" or an Ogg Opus
# file "ogg" names it as another type.
SPELLINGS = {"jpeg": "jpg", "aif": "aiff", "aiffc": "aifc", "mpeg": "mpg", "midi": "mid", "qt": "mov",
             "3gpp": "3gp", "mts": "m2ts", "m2t": "ts", "tif": "tiff", "jar": "zip"}


def read_truth(path):
    truth = {}
    with open(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            offset, size, kind = line.split()
            truth[int(offset)] = (int(size), kind)
    return truth


def find_file(root, name):
    for folder, _, files in os.walk(root):
        if name in files:
            return os.path.join(folder, name)
    return None


def type_of(name):
    """The type that a file name's extension or hound's "ext" names."""
    ext = name.rsplit(".", 1)[-1].lower() if name else ""
    return SPELLINGS.get(ext, ext)


def foremost_files(out):
    """(offset, path, name) of each file in foremost's audit."""
    found = []
    with open(os.path.join(out, "audit.txt"), errors="replace") as f:
        for line in f:
            m = re.match(r"\s*\d+:\s+(\S+)\s+.*?\s(\d+)\s*\t", line)
            if m:
                found.append((int(m.group(2)), find_file(out, m.group(1)), m.group(1)))
    return found


def scalpel_files(out):
    found = []
    with open(os.path.join(out, "audit.txt"), errors="replace") as f:
        for line in f:
            m = re.match(r"(\S+\.\w+)\s+(\d+)\s+(YES|NO)\s+(\d+)\s", line)
            if m:
                found.append((int(m.group(2)), find_file(out, m.group(1)), m.group(1)))
    return found


def photorec_files(out):
    """(offset, path, name) of each file in PhotoRec's DFXML report."""
    found = []
    folder = out + "/recup.1"
    report = os.path.join(folder, "report.xml")
    if not os.path.exists(report):
        return found
    text = open(report, errors="replace").read()
    for obj in re.findall(r"<fileobject>(.*?)</fileobject>", text, re.S):
        name = re.search(r"<filename>([^<]*)</filename>", obj)
        run = re.search(r"<byte_run[^>]*img_offset=[\"'](\d+)", obj)
        if name and run:
            base = os.path.basename(name.group(1))
            found.append((int(run.group(1)), find_file(folder, base), base))
    return found


def hound_files(out, json_path):
    found = []
    with open(json_path) as f:
        for line in f:
            item = json.loads(line)
            # Without --out, the item's bytes are read from the image.
            found.append((item["offset"], item.get("extracted") or (item["offset"], item["size_in_file"]),
                          item.get("ext", "")))
    return found


def digest_of_file(path):
    if path is None or not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def read_found(path):
    if path is None or not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def score(found, truth, image):
    """Per type: exact (offset and bytes identical), truncated (a shorter
    item at the file's offset), over-long (a longer one), other (same size,
    other bytes) and missed (no item at its offset); and false hits (items
    where no file starts). Of the exact ones, those that the tool names as
    another type are counted in misnamed[(type, the tool's type)]."""
    outcome = defaultdict(Counter)
    misnamed = Counter()
    false_hits = 0
    by_offset = {}
    for offset, path, name in found:
        if offset not in truth:
            false_hits += 1
        else:
            by_offset.setdefault(offset, (path, name))
    for offset, (size, kind) in truth.items():
        if offset not in by_offset:
            outcome[kind]["missed"] += 1
            continue
        image.seek(offset)
        true_bytes = image.read(size)
        where, name = by_offset[offset]
        if isinstance(where, tuple):
            image.seek(where[0])
            got = image.read(where[1])
        else:
            got = read_found(where)
        if got == true_bytes:
            outcome[kind]["exact"] += 1
            if type_of(name) != kind:
                misnamed[(kind, type_of(name) or "?")] += 1
        elif got is not None and len(got) < size:
            outcome[kind]["truncated"] += 1
        elif got is not None and len(got) > size:
            outcome[kind]["over-long"] += 1
        else:
            outcome[kind]["other"] += 1
    return outcome, false_hits, misnamed


def parse_micro(path):
    rows = {}
    if not os.path.exists(path):
        return rows
    with open(path) as f:
        for line in f:
            m = re.match(r"(BM_\S+)\s+.*", line)
            if not m:
                continue
            ns = re.search(r"ns/position=([\d.]+)(n|u)?s", line)
            rate = re.search(r"bytes_per_second=([\d.]+)(M|G)i?/s", line)
            if ns:
                value = float(ns.group(1)) * (1000 if ns.group(2) == "u" else 1)
                rows[m.group(1)] = f"{value:.2f} ns/position"
            elif rate:
                value = float(rate.group(1)) * (1024 if rate.group(2) == "G" else 1)
                rows[m.group(1)] = f"{value * 1.048576:.0f} MB/s"
    return rows


def main():
    run_dir = sys.argv[1]
    image_path = os.path.join(run_dir, "image.bin")
    image_size = os.path.getsize(image_path)
    truth = read_truth(os.path.join(run_dir, "image.truth"))
    truth_types = Counter(kind for _, kind in truth.values())
    global TYPES
    known = TYPES + MEDIA_TYPES
    TYPES = [t for t in known if t in truth_types] + sorted(set(truth_types) - set(known))
    media = [t for t in TYPES if t in MEDIA_TYPES]
    media_count = sum(truth_types[t] for t in media)

    runs = []
    with open(os.path.join(run_dir, "runs.tsv")) as f:
        for line in f:
            tool, seconds, rss, out, cpu = line.rstrip("\n").split("\t")
            runs.append((tool, float(seconds), int(rss), out, float(cpu)))
    speed = {tool: image_size / seconds / 1e6 for tool, seconds, _, _, _ in runs}
    cpu_of = {tool: cpu for tool, _, _, _, cpu in runs}

    lines = []
    lines.append(f"Image: {image_size / 2**20:.0f} MiB, {len(truth)} files "
                 f"({', '.join(f'{truth_types[t]} {t}' for t in TYPES)}); "
                 f"{os.cpu_count()} cores.")
    lines.append("")
    header = ["tool", "seconds", "MB/s", "hound ÷ tool", "peak RSS MiB", "exact", "false hits"]
    if media:
        header.insert(6, "exact media")
    lines.append("| " + " | ".join(header) + " |")
    lines.append("|" + "---|" * len(header))
    outcomes = {}
    misnamed_by_tool = {}
    with open(image_path, "rb") as image:
        for tool, seconds, rss, out, _ in runs:
            if tool.startswith("foremost"):
                found = foremost_files(out)
            elif tool == "scalpel":
                found = scalpel_files(out)
            elif tool == "photorec":
                found = photorec_files(out)
            else:
                found = hound_files(out, out + ".json")
            outcome, false_hits, misnamed = score(found, truth, image)
            outcomes[tool] = outcome
            misnamed_by_tool[tool] = misnamed
            exact = sum(outcome[t]["exact"] for t in TYPES)
            ratio = speed["hound"] / speed[tool]
            cells = [tool, f"{seconds:.2f}", f"{speed[tool]:.0f}", f"{ratio:.2f}", f"{rss / 1024:.0f}",
                     f"{exact}/{len(truth)}", str(false_hits)]
            if media:
                cells.insert(6, f"{sum(outcome[t]['exact'] for t in media)}/{media_count}")
            lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    lines.append("Per type: exact / truncated / over-long / other bytes / missed.")
    lines.append("")
    kinds = ("exact", "truncated", "over-long", "other", "missed")
    if len(TYPES) <= 8:
        lines.append("| tool | " + " | ".join(f"{t} ({truth_types[t]})" for t in TYPES) + " |")
        lines.append("|---|" + "---|" * len(TYPES))
        for tool, outcome in outcomes.items():
            cells = ["/".join(str(outcome[t][k]) for k in kinds) for t in TYPES]
            lines.append(f"| {tool} | " + " | ".join(cells) + " |")
    else:
        # Many types: one row per type, one column per tool.
        lines.append("| type | " + " | ".join(outcomes) + " |")
        lines.append("|---|" + "---|" * len(outcomes))
        for t in TYPES:
            cells = ["/".join(str(outcome[t][k]) for k in kinds) for outcome in outcomes.values()]
            lines.append(f"| {t} ({truth_types[t]}) | " + " | ".join(cells) + " |")
    lines.append("")
    # The names the tools give their exact files, spellings made one
    # (SPELLINGS); exact counts a file whatever its name.
    lines.append("Exact files under another type's name (the tool's extension or hound's ext; true type → "
                 "the tool's):")
    lines.append("")
    lines.append("| tool | named as their type | under another name |")
    lines.append("|---|---|---|")
    for tool, outcome in outcomes.items():
        exact = sum(outcome[t]["exact"] for t in TYPES)
        misnamed = misnamed_by_tool[tool]
        others = ", ".join(f"{kind} → {name} {count}" for (kind, name), count in
                           sorted(misnamed.items(), key=lambda row: (TYPES.index(row[0][0]), row[0][1])))
        lines.append(f"| {tool} | {exact - sum(misnamed.values())}/{exact} | {others or '-'} |")
    lines.append("")
    order_path = os.path.join(run_dir, "order.tsv")
    if os.path.exists(order_path):
        lines.extend(order_table(order_path, image_size))
    cost_path = os.path.join(run_dir, "check_cost.txt")
    if os.path.exists(cost_path):
        first, *formats = open(cost_path).read().splitlines()
        cost = dict(zip(*[iter(first.split())] * 2))
        check_cpu = float(cost["precheck_s"]) + float(cost["check_s"])
        lines.append(f"Check stage alone (one thread): JPEG header pre-check at {cost['ff_d8_pairs']} FF D8 "
                     f"pairs ({cost['header_passed']} passed) {float(cost['precheck_s']):.3f} s, checkers over "
                     f"{cost['items']} items {float(cost['check_s']):.3f} s: {check_cpu:.3f} s, "
                     f"{100 * check_cpu / cpu_of['hound']:.1f}% of hound's {cpu_of['hound']:.2f} CPU seconds.")
        lines.append("")
        # Each checker's share: "format NAME items N bytes B check_s S".
        lines.append("| checker | items | MB checked | CPU s | MB/s |")
        lines.append("|---|---|---|---|---|")
        for line in formats:
            row = dict(zip(*[iter(line.split())] * 2))
            mb, seconds = int(row["bytes"]) / 1e6, float(row["check_s"])
            rate = f"{mb / seconds:.0f}" if seconds > 0 else "-"
            lines.append(f"| {row['format']} | {row['items']} | {mb:.1f} | {seconds:.3f} | {rate} |")
        lines.append("")

    with open(os.path.join(run_dir, "floor.txt")) as f:
        floor = dict(zip(*[iter(f.read().split())] * 2))
    floor_speed = float(floor["mb_per_s"])
    exhaustive = speed.get("hound --exhaustive")
    lines.append(f"Contract floor ({floor['reads_per_position']} indirect reads per position, same "
                 f"threads as hound): {floor_speed:.1f} MB/s; hound --exhaustive: "
                 f"{exhaustive:.1f} MB/s, {floor_speed / exhaustive:.2f} × the floor's time.")
    lines.append("")

    micro = parse_micro(os.path.join(run_dir, "micro.txt"))
    if micro:
        lines.append("| micro-benchmark | result |")
        lines.append("|---|---|")
        for name, value in micro.items():
            lines.append(f"| {name} | {value} |")
        lines.append("")

    sweep = defaultdict(dict)
    with open(os.path.join(run_dir, "sweep.tsv")) as f:
        for line in f:
            count, mode, seconds = line.split()
            mode = mode.replace("_", " ")
            sweep[mode][int(count)] = image_size / float(seconds) / 1e6
    if sweep:
        lines.append("| signatures | " + " | ".join(f"{mode} MB/s" for mode in sweep) + " |")
        lines.append("|---|" + "---|" * len(sweep))
        counts = sorted(next(iter(sweep.values())))
        for count in counts:
            lines.append(f"| {count} | " + " | ".join(f"{sweep[m][count]:.0f}" for m in sweep) + " |")
        lines.append("")
        plot(run_dir, sweep, speed)
    text = "\n".join(lines)
    with open(os.path.join(run_dir, "results.md"), "w") as f:
        f.write(text + "\n")
    print(text)


def order_table(path, image_size):
    """The scan with and without formathound, run in turns: median wall and
    CPU seconds of each order."""
    runs = defaultdict(list)
    with open(path) as f:
        for line in f:
            order, wall, cpu = line.rstrip("\n").split("\t")
            runs[order].append((float(wall), float(cpu)))

    def median(values):
        values = sorted(values)
        middle = len(values) // 2
        return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2

    lines = [f"The scan with and without formathound (no --out, {len(next(iter(runs.values())))} runs of each, "
             "in turns; medians):", "",
             "| --order | wall s | MB/s | CPU s | wall ÷ first order's |", "|---|---|---|---|---|"]
    first = None
    for order, values in runs.items():
        wall, cpu = median([w for w, _ in values]), median([c for _, c in values])
        first = first or wall
        lines.append(f"| {order} | {wall:.2f} | {image_size / wall / 1e6:.0f} | {cpu:.2f} | {wall / first:.2f} |")
    lines.append("")
    return lines


def plot(run_dir, sweep, speed):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(8, 5), dpi=110)
    for mode, marker in zip(sweep, "os^"):
        counts = sorted(sweep[mode])
        style = ":" if mode == "contract floor" else "-"
        ax.plot(counts, [sweep[mode][c] for c in counts], marker=marker, linestyle=style, label=mode)
    for tool, style in (("foremost", "--"), ("scalpel", ":")):
        if tool in speed:
            ax.axhline(speed[tool], linestyle=style, color="grey")
            ax.annotate(f"{tool} (its own types)", (1, speed[tool]), textcoords="offset points",
                        xytext=(4, 4), color="dimgrey")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("markhound signatures (the other plug-ins of the order always asked too)")
    ax.set_ylabel("MB/s over the image")
    ax.set_title("Scan throughput against the number of signatures")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(os.path.join(run_dir, "scan-bench.png"))


if __name__ == "__main__":
    main()
