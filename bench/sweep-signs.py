#!/usr/bin/env python3
"""Writes a signs.ini of N signatures for the throughput sweep: the first N
sections of the default library in its own order, then, past its end,
sized signatures with made-up four-byte headers of varied first bytes.

Usage: sweep-signs.py LIBRARY_DIR N OUT_FILE
"""
import os
import re
import sys


def library_sections(signs_dir):
    """Signature sections of signs.ini and its includes, in list order."""
    sections = []
    top = open(os.path.join(signs_dir, "signs.ini")).read()
    for include in re.findall(r"^Include=(.+)$", top, re.M):
        text = open(os.path.join(signs_dir, include.strip().replace("\\", "/"))).read()
        for block in re.split(r"^(?=\[)", text, flags=re.M):
            if block.startswith("[") and not block.startswith("[;") and "Signature" in block:
                sections.append(block.strip() + "\n")
    return sections


def main():
    signs_dir, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    sections = library_sections(signs_dir)[:count]
    for i in range(count - len(sections)):
        first = (0x41 + i * 37) % 256
        sections.append(f"[Made-up {i}]\nSignature={first},{(i * 11) % 256},'Z,{i % 256}\n"
                        f"SizeOff=4\nSizeSize=4\nExt=m{i}\n")
    with open(out, "w") as f:
        f.write("\n".join(sections))


if __name__ == "__main__":
    main()
