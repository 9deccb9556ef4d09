#!/usr/bin/env python3
"""Writes the benchmark payload's 74 files of realistic mixed data and their manifest.

Usage: bench_data.py FOLDER TOTAL_MB [--programs MAIN UNINSTALLER]. The mix: text-like (well
compressible), structured binary (tables of numbers), and incompressible bytes (already-compressed
textures), seeded so that every run writes the same files.

Without --programs the first two files stand in for the main program and the uninstaller. With
it, all 74 files keep their mixed kinds and the two given programs are copied into FOLDER/files
and listed as the MainProgram and the Uninstaller, as a real product's payload has them."""
import os
import random
import shutil
import sys

args = sys.argv[1:]
programs = None
if "--programs" in args:
    at = args.index("--programs")
    programs = args[at + 1:at + 3]
    if len(programs) != 2:
        sys.exit("usage: bench_data.py FOLDER TOTAL_MB [--programs MAIN UNINSTALLER]")
    del args[at:at + 3]
if len(args) != 2:
    sys.exit("usage: bench_data.py FOLDER TOTAL_MB [--programs MAIN UNINSTALLER]")
folder, total_mb = args[0], int(args[1])
rng = random.Random(74)
kinds = [(0, r"<InstallPath>\Lang"), (3, r"<CommonData>\Nuvelle\Materials"),
         (4, "<SamplePath>"), (4, r"<CommonData>\Nuvelle\Textures"), (5, "<Temporary>")]
words = [b"layer", b"material", b"vertex", b"texture", b"shadow", b"render", b"curve",
         b"palette", b"gradient", b"scene", b"light", b"camera", b"\r\n", b"=", b";"]
total = total_mb * 1024 * 1024
weights = [rng.random() + 0.2 for _ in range(74)]
scale = total / sum(weights)
lines = []
for i in range(74):
    size = int(weights[i] * scale)
    flavour = i % 3
    if flavour == 0:
        chunk = b" ".join(rng.choice(words) for _ in range(20000))
    elif flavour == 1:
        chunk = b"".join(rng.randrange(0, 4096).to_bytes(4, "little") + bytes(4)
                         for _ in range(16384))
    else:
        chunk = rng.randbytes(1 << 20)
    data = (chunk * (size // len(chunk) + 1))[:size] if flavour != 2 else b"".join(
        rng.randbytes(min(1 << 20, size - n)) for n in range(0, size, 1 << 20))
    name = f"file{i:02d}.bin"
    with open(os.path.join(folder, "files", name), "wb") as f:
        f.write(data)
    kind, dest = kinds[i % len(kinds)]
    # A payload the tool packs has its main program and its uninstaller.
    if i < 2 and programs is None:
        kind, dest = i + 1, "<InstallPath>"
    lines.append(f"{kind}\t{dest}\tfiles/{name}")
if programs is not None:
    for kind, program in zip((1, 2), programs):
        name = os.path.basename(program)
        shutil.copyfile(program, os.path.join(folder, "files", name))
        lines.insert(kind - 1, f"{kind}\t<InstallPath>\tfiles/{name}")
with open(os.path.join(folder, "payload.manifest"), "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
