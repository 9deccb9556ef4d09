#!/usr/bin/env python3
"""End-to-end checks of payload.exe under Wine: pack -> list -> verify -> extract round trip,
and its answers to damaged archives and bad command lines.

Usage: payload_cli_test.py WINE_RUN PAYLOAD_EXE WORK_FOLDER"""
import bz2
import os
import shutil
import subprocess
import sys
import zlib

wine_run, exe, work = sys.argv[1:4]
failures = []
passed = 0


def check(name, condition, detail=""):
    global passed
    if condition:
        passed += 1
    else:
        failures.append(f"{name}: {detail}")
        print(f"FAIL {name}: {detail}")


def payload(*args):
    r = subprocess.run([wine_run, exe, *args], capture_output=True, text=True, encoding="utf-8",
                       errors="replace", cwd=work)
    # wine-run merges the program's streams into one.
    return r.returncode, r.stdout.replace("\r", "")


shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "src", "deep", "er"))
files = {
    "src/plain.bin": bytes(range(256)) * 40,
    "src/with blank.txt": b"hello world\r\n" * 500,
    "src/deep/er/\u040aname.dat": os.urandom(10000),
    "src/empty-ish.txt": b"x",
    "src/Uninstall.exe": b"MZ uninstaller",
}
for rel, data in files.items():
    with open(os.path.join(work, rel), "wb") as f:
        f.write(data)
manifest = (
    "# comment line\n\n"
    "0\t<InstallPath>\\Lang\tsrc/plain.bin\n"
    "MainProgram\t<InstallPath>\tsrc/with blank.txt\r\n"
    "SharedData\t<InstallPath>\\Data\\Sub\tsrc/deep/er/\u040aname.dat\n"
    "5\t<Temporary>\tsrc/empty-ish.txt\n"
    "Uninstaller\t<InstallPath>\\Bin\tsrc/Uninstall.exe\n"
)
with open(os.path.join(work, "m.txt"), "w", encoding="utf-8", newline="") as f:
    f.write(manifest)

rc, out = payload("pack", "m.txt", "a.bz2")
check("pack", rc == 0, out)

rc, out = payload("list", "a.bz2")
rows = [line.split("\t") for line in out.splitlines() if "\t" in line]
expected = list(files.items())
check("list rows", len(rows) == 5, out)
for i, (row, (rel, data)) in enumerate(zip(rows, expected)):
    check(f"list row {i} index", row[0] == str(i), row)
    check(f"list row {i} size", row[2] == str(len(data)), row)
    check(f"list row {i} crc", row[3] == f"{zlib.crc32(data):08x}", row)
    check(f"list row {i} source stored relative to the manifest",
          row[5] == rel.replace("/", "\\"), row)
check("list kinds", [r[1] for r in rows] == ["0", "1", "3", "5", "2"], rows)

# Nothing of the packing machine's folders is stored: a source outside the manifest's folder
# keeps its relative form, an absolute one its file name alone.
os.makedirs(os.path.join(work, "sub"))
absolute = "Z:" + os.path.join(work, "src", "plain.bin").replace("/", "\\")
with open(os.path.join(work, "sub", "m.txt"), "w", encoding="utf-8") as f:
    f.write(f"1\t<InstallPath>\t../src/plain.bin\n2\t<InstallPath>\\Other\t{absolute}\n")
rc, out = payload("pack", "sub/m.txt", "b.bz2")
rc, out = payload("list", "b.bz2")
check("stored sources", [line.split("\t")[5] for line in out.splitlines() if "\t" in line] ==
      ["..\\src\\plain.bin", "plain.bin"], out)

rc, out = payload("verify", "a.bz2")
check("verify intact", rc == 0, out)

rc, out = payload("extract", "a.bz2", "--install", "inst", "--temp", "tmp")
check("extract", rc == 0, out)
targets = ["inst/Lang/plain.bin", "inst/with blank.txt", "inst/Data/Sub/\u040aname.dat",
           "tmp/empty-ish.txt", "inst/Bin/Uninstall.exe"]
for target, (rel, data) in zip(targets, expected):
    path = os.path.join(work, target)
    ok = os.path.exists(path) and open(path, "rb").read() == data
    check(f"extracted {target}", ok, "missing or different")

# Damaged archives: verification fails, extraction fails with a code on the last line.
archive = open(os.path.join(work, "a.bz2"), "rb").read()
with open(os.path.join(work, "cut.bz2"), "wb") as f:
    f.write(archive[: len(archive) // 2])
rc, out = payload("verify", "cut.bz2")
check("verify truncated", rc == 1, out)
rc, out = payload("extract", "cut.bz2", "--install", "inst2")
last = out.strip().splitlines()[-1] if out.strip() else ""
check("extract truncated", rc == 1 and last.startswith("failed: 6"), out)

# --verify: the installer's order in one process. Intact: the same files as without it; damaged:
# fails as verification failed (4) before any file is written.
rc, out = payload("extract", "a.bz2", "--verify", "--install", "inst3", "--temp", "tmp3")
check("extract --verify", rc == 0, out)
for target, (rel, data) in zip(targets, expected):
    path = os.path.join(work, target.replace("inst/", "inst3/").replace("tmp/", "tmp3/"))
    ok = os.path.exists(path) and open(path, "rb").read() == data
    check(f"extracted with --verify {target}", ok, "missing or different")
rc, out = payload("extract", "cut.bz2", "--install", "inst4", "--verify")
last = out.strip().splitlines()[-1] if out.strip() else ""
check("extract --verify truncated", rc == 1 and last.startswith("failed: 4"), out)
check("extract --verify truncated writes nothing", not os.path.exists(os.path.join(work, "inst4")),
      os.listdir(work))

# A manifest the installer could not install as written is refused, naming its line, the entry
# and the rule; so is one without exactly one main program and one uninstaller.
for name in ("CON.txt", "trail."):
    open(os.path.join(work, "src", name), "wb").write(b"x")
required = "MainProgram\t<InstallPath>\tsrc/plain.bin\nUninstaller\t<InstallPath>\tsrc/Uninstall.exe\n"
refusals = [
    ("0\t<InstalPath>\\docs\tsrc/empty-ish.txt\n", "line 3 (0 <InstalPath>\\docs src/empty-ish.txt): unknown path token <InstalPath> (known: <InstallPath> <SamplePath> <ProgramFiles>"),
    ("0\t<Nowhere>\tsrc/empty-ish.txt\n", "line 3 (0 <Nowhere> src/empty-ish.txt): unknown path token <Nowhere>"),
    ("0\tdocs\tsrc/empty-ish.txt\n", "line 3 (0 docs src/empty-ish.txt): the destination is neither below a path token nor a full path with a drive letter"),
    ("0\t<InstallPath>\\a:b\tsrc/empty-ish.txt\n", "line 3 (0 <InstallPath>\\a:b src/empty-ish.txt): the folder 'a:b' of the destination is not a name Windows stores as written"),
    ("0\t<InstallPath>\tsrc/CON.txt\n", "line 3 (0 <InstallPath> src/CON.txt): the file name 'CON.txt' is not a name Windows stores as written"),
    ("0\t<InstallPath>\tsrc/trail.\n", "the file name 'trail.' is not a name Windows stores as written"),
    ("0\t<INSTALLPATH>\\LANG\tsrc/empty-ish.txt\n0\t<InstallPath>\\Lang\tsrc/EMPTY-ISH.TXT\n", None),
    ("0\t<InstallPath>\\Lang\tsrc/empty-ish.txt\n0\t<InstallPath>\\lang\tsrc/Empty-ish.txt\n", "line 4: <InstallPath>\\lang\\Empty-ish.txt is written by line 3 already"),
]
for i, (lines, message) in enumerate(refusals):
    with open(os.path.join(work, f"refused{i}.txt"), "w", encoding="utf-8") as f:
        f.write(required + lines)
    rc, out = payload("pack", f"refused{i}.txt", "r.bz2")
    if message is None:
        # Tokens are names of their own: <INSTALLPATH> is no token.
        check(f"refused {i}: <INSTALLPATH> is unknown", rc != 0 and "unknown path token" in out, out)
        continue
    check(f"refused {i}", rc != 0 and message in out and len(out.strip().splitlines()) == 1, out)
for lines, message in [
        ("MainProgram\t<InstallPath>\tsrc/plain.bin\n", "exactly one Uninstaller entry; it has 0"),
        (required + "MainProgram\t<InstallPath>\\B\tsrc/plain.bin\n", "exactly one MainProgram entry; it has 2")]:
    with open(os.path.join(work, "kinds.txt"), "w", encoding="utf-8") as f:
        f.write(lines)
    rc, out = payload("pack", "kinds.txt", "k.bz2")
    check(f"required kinds: {message}", rc != 0 and message in out, out)
    rc, out = payload("pack", "--partial", "kinds.txt", "k.bz2")
    check(f"--partial packs it and says so: {message}", rc == 0 and "not a payload to release" in out,
          out)

# An archive packed elsewhere with an entry the installer would refuse: verify names the entry and
# the rule (a name changed inside the compressed table, the same length as before).
with open(os.path.join(work, "good.txt"), "w", encoding="utf-8") as f:
    f.write(required + "0\t<InstallPath>\\xy\tsrc/empty-ish.txt\n")
rc, out = payload("pack", "good.txt", "good.bz2")
check("pack before the damage", rc == 0, out)
plain = bz2.decompress(open(os.path.join(work, "good.bz2"), "rb").read())
bad = plain.replace("<InstallPath>\\xy".encode("utf-16-le"), "<InstallPath>\\x:".encode("utf-16-le"))
check("the name changed", bad != plain, "")
with open(os.path.join(work, "bad-name.bz2"), "wb") as f:
    f.write(bz2.compress(bad))
rc, out = payload("verify", "bad-name.bz2")
check("verify names the entry and the rule", rc == 1 and
      "entry 2 (0 <InstallPath>\\x: src\\empty-ish.txt): the folder 'x:'" in out, out)

# From a staging folder to a manifest: one folder per kind, one per token, the files below.
staging = {
    "MainProgram/InstallPath/Tessaline.exe": b"MZ main",
    "Uninstaller/InstallPath/Uninstall.exe": b"MZ uninstaller",
    "LanguageLibrary/InstallPath/Lang/Tessaline.de.dll": b"MZ de",
    "SharedData/CommonData/Nuvelle/Materials/Wood.mat": b"wood",
    "Sample/SamplePath/First Steps.tsl": b"sample",
}
for rel, data in staging.items():
    path = os.path.join(work, "stage", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
rc, out = payload("manifest", "stage", "staged.txt")
check("manifest from the staging folder", rc == 0 and "5 entries" in out, out)
lines = [l for l in open(os.path.join(work, "staged.txt"), encoding="utf-8").read().splitlines()
         if l and not l.startswith("#")]
check("its lines, sorted by kind", lines == [
    "LanguageLibrary\t<InstallPath>\\Lang\tstage/LanguageLibrary/InstallPath/Lang/Tessaline.de.dll",
    "MainProgram\t<InstallPath>\tstage/MainProgram/InstallPath/Tessaline.exe",
    "Uninstaller\t<InstallPath>\tstage/Uninstaller/InstallPath/Uninstall.exe",
    "SharedData\t<CommonData>\\Nuvelle\\Materials\tstage/SharedData/CommonData/Nuvelle/Materials/Wood.mat",
    "Sample\t<SamplePath>\tstage/Sample/SamplePath/First Steps.tsl"], lines)
rc, out = payload("pack", "staged.txt", "staged.bz2")
check("the written manifest packs", rc == 0 and "packed 5 entries" in out, out)
rc, out = payload("manifest", "stage", "staged.txt")
check("an existing manifest is never replaced", rc != 0 and "exists already" in out, out)
for rel, added, message in (("Bogus/InstallPath/x.txt", "Bogus", "is no kind folder"),
                            ("Sample/Nowhere/x.txt", "Sample/Nowhere", "names no path token"),
                            ("Sample/stray.txt", "Sample/stray.txt", "stands where only folders belong")):
    path = os.path.join(work, "stage", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(b"x")
    rc, out = payload("manifest", "stage", "other.txt")
    check(f"staging refused: {message}", rc != 0 and message in out and
          not os.path.exists(os.path.join(work, "other.txt")), out)
    added = os.path.join(work, "stage", added)
    shutil.rmtree(added) if os.path.isdir(added) else os.remove(added)
os.remove(os.path.join(work, "stage", "Uninstaller", "InstallPath", "Uninstall.exe"))
rc, out = payload("manifest", "stage", "other.txt")
check("a staging folder without its uninstaller writes no manifest", rc != 0 and
      "exactly one Uninstaller" in out and not os.path.exists(os.path.join(work, "other.txt")), out)

# Bad input never crashes: one line, non-zero exit.
with open(os.path.join(work, "bad.txt"), "w") as f:
    f.write("9\t<InstallPath>\tsrc/plain.bin\n")
for args in (["pack", "bad.txt", "x.bz2"], ["pack", "missing.txt", "x.bz2"],
             ["list", "missing.bz2"], ["extract", "a.bz2"], ["extract", "a.bz2", "--install"],
             ["extract", "a.bz2", "--verify"],
             ["frobnicate"], []):
    rc, out = payload(*args)
    check(f"bad command {args}", rc != 0, f"rc={rc} {out}")
    check(f"bad command {args} says why in one line", len(out.strip().splitlines()) == 1, out)

shutil.rmtree(work, ignore_errors=True)
print(f"{passed} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
