#!/usr/bin/env python3
"""payload.exe embed under Wine: the copy carries the new archive as the one variant of its
payload resource, its digest (CRC-32 and length) beside it and every other resource unchanged;
each refusal is one line, a non-zero exit, no OUT and no temporary file left, an existing OUT
untouched.

Usage: payload_embed_test.py WINE_RUN PAYLOAD_EXE INSTALLER ROBOT_EXE WORK_FOLDER"""
import bz2
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_file import PeFile  # noqa: E402

wine_run, exe, built_installer, robot, work = sys.argv[1:6]
failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")
        print(f"FAIL {name}: {detail}")


def run(*args, program=exe):
    r = subprocess.run([wine_run, program, *args], capture_output=True, text=True,
                       encoding="utf-8", errors="replace", cwd=work)
    return r.returncode, r.stdout.replace("\r", "")


def digest(path):
    return hashlib.sha256(open(os.path.join(work, path), "rb").read()).hexdigest()


def leftovers():
    return [n for n in os.listdir(work) if n.lower().startswith("emb") and n.endswith(".tmp")]


shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "files"))
shutil.copyfile(built_installer, os.path.join(work, "setup.exe"))
with open(os.path.join(work, "files", "notes.txt"), "wb") as f:
    f.write(b"a payload other than the build's\r\n" * 50)
for name in ("Tessaline.exe", "Uninstall.exe"):
    with open(os.path.join(work, "files", name), "wb") as f:
        f.write(b"MZ " + name.encode())
with open(os.path.join(work, "m.txt"), "w", encoding="utf-8") as f:
    f.write("SharedData\t<CommonData>\\Nuvelle\tfiles/notes.txt\n"
            "MainProgram\t<InstallPath>\tfiles/Tessaline.exe\n"
            "Uninstaller\t<InstallPath>\tfiles/Uninstall.exe\n")
rc, out = run("pack", "m.txt", "new.bz2")
check("pack", rc == 0, out)
archive = open(os.path.join(work, "new.bz2"), "rb").read()
installer_hash = digest("setup.exe")

# Round trip: the archive is the one variant, in the language the installer had; nothing else
# changed; the copy is well-formed for the binutils too (the symbol tables' pointer).
rc, out = run("embed", "setup.exe", "new.bz2", "out.exe")
check("embed", rc == 0 and "note:" not in out, out)
if rc != 0:
    sys.exit(1)
before, after = PeFile(os.path.join(work, "setup.exe")), PeFile(os.path.join(work, "out.exe"))
old = before.payload_variants()
check("the built installer has one payload variant", len(old) == 1, sorted(old))
check("one variant, the new archive, in the old language",
      after.payload_variants() == {lang: archive for lang in old}, sorted(after.payload_variants()))
others = lambda pe: {k: v for k, v in pe.resources().items()  # noqa: E731
                     if k[:2] not in ((260, 134), (260, 135))}
check("every other resource unchanged", others(before) == others(after),
      sorted(set(others(before).items()) ^ set(others(after).items()))[:3])


def digest_resources(pe):
    return {k[2]: v for k, v in pe.resources().items() if k[:2] == (260, 135)}


def expected_digest(data):
    """What the installer proves its archive by: "NVPD", the CRC-32 and the length."""
    return b"NVPD" + struct.pack("<IQ", zlib.crc32(data), len(data))


check("the archive's digest beside it, in its language",
      digest_resources(after) == {lang: expected_digest(archive) for lang in old},
      digest_resources(after))
# Embedding again into the copy replaces the digest too: one, the new archive's.
with open(os.path.join(work, "files", "notes.txt"), "ab") as f:
    f.write(b"one more line\r\n")
rc, out = run("pack", "m.txt", "newer.bz2")
newer = open(os.path.join(work, "newer.bz2"), "rb").read()
rc, out = run("embed", "out.exe", "newer.bz2", "re.exe")
check("embed over an embedded payload", rc == 0, out)
if rc == 0:
    check("one digest, the new archive's",
          digest_resources(PeFile(os.path.join(work, "re.exe"))) ==
          {lang: expected_digest(newer) for lang in old},
          digest_resources(PeFile(os.path.join(work, "re.exe"))))
r = subprocess.run(["objdump", "-h", os.path.join(work, "out.exe")],
                   capture_output=True, text=True)
check("the copy reads as a PE file", r.returncode == 0 and ".rsrc" in r.stdout, r.stderr)
check("the installer unchanged", digest("setup.exe") == installer_hash, "")
rc, out = run("embed", "setup.exe", "new.bz2", "again.exe")
check("the same inputs give the same bytes", rc == 0 and digest("again.exe") == digest("out.exe"),
      out)

# Refusals. A copy with a second variant: the robot adds a language-neutral one.
shutil.copyfile(built_installer, os.path.join(work, "two.exe"))
rc, out = run("set-resource", "two.exe", "260", "134", "new.bz2", program=robot)
check("second variant added", rc == 0 and len(PeFile(os.path.join(work, "two.exe"))
                                              .payload_variants()) == 2, out)
with open(os.path.join(work, "cut.bz2"), "wb") as f:
    f.write(archive[:len(archive) // 2])
os.makedirs(os.path.join(work, "folder"))
with open(os.path.join(work, "kept.exe"), "wb") as f:
    f.write(b"an earlier OUT")
refusals = [  # (case, INSTALLER, ARCHIVE, OUT, expected in the message)
    ("a damaged archive", "setup.exe", "cut.bz2", "x.exe", "payload verify"),
    ("a file that is no archive", "setup.exe", "m.txt", "x.exe", "payload verify"),
    ("a missing archive", "setup.exe", "none.bz2", "x.exe", "cannot read"),
    ("a program without payload", os.path.basename(exe), "new.bz2", "x.exe", "not an installer"),
    ("a file that is no program", "m.txt", "new.bz2", "x.exe", "not a Windows executable"),
    ("two variants", "two.exe", "new.bz2", "x.exe", "2 language variants"),
    ("OUT is INSTALLER", "setup.exe", "new.bz2", "setup.exe", "installer itself"),
    ("OUT is INSTALLER spelt otherwise", "setup.exe", "new.bz2", ".\\SETUP.EXE", "installer itself"),
    ("OUT is a folder (refused at the rename)", "setup.exe", "new.bz2", "folder", "cannot write"),
    ("an existing OUT and a damaged archive", "setup.exe", "cut.bz2", "kept.exe", "payload verify"),
    ("an entry the installer refuses", "setup.exe", "bad-name.bz2", "bad.exe",
     "entry 0 (3 <CommonData>\\Nuv:lle files\\notes.txt): the folder 'Nuv:lle'"),
]
# An archive packed elsewhere, with a folder name Windows would not store as written.
plain = bz2.decompress(archive)
with open(os.path.join(work, "bad-name.bz2"), "wb") as f:
    f.write(bz2.compress(plain.replace("Nuvelle".encode("utf-16-le"), "Nuv:lle".encode("utf-16-le"), 1)))
shutil.copyfile(exe, os.path.join(work, os.path.basename(exe)))
for case, installer, source, target, message in refusals:
    existed = os.path.exists(os.path.join(work, target))
    kept = digest(target) if os.path.isfile(os.path.join(work, target)) else None
    rc, out = run("embed", installer, source, target)
    check(f"{case}: refused", rc != 0, f"rc={rc} {out}")
    check(f"{case}: one line naming the fault", len(out.strip().splitlines()) == 1 and
          message in out, out)
    check(f"{case}: OUT as it was", os.path.exists(os.path.join(work, target)) == existed and
          (kept is None or digest(target) == kept), os.listdir(work))
    check(f"{case}: no temporary file left", not leftovers(), leftovers())
check("the installer unchanged by the refusals", digest("setup.exe") == installer_hash, "")
check("the folder still empty", os.listdir(os.path.join(work, "folder")) == [], "")

if not failures:
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
