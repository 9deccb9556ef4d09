#!/usr/bin/env python3
"""Helpers of scripts/bench-install.sh (the installation benchmark; not a test).

    bench_install.py nsi MANIFEST COMPRESSOR SCRIPT OUTFILE
        writes an NSIS script that installs the files of the payload manifest as our installer
        does (same folders, registry key, shortcuts), compressed with COMPRESSOR (bzip2 or lzma,
        solid), and building OUTFILE
    bench_install.py settle PREFIX
        waits until the processes of the Wine prefix use no processor time for a second
    bench_install.py time PREFIX RESULT LOG -- COMMAND...
        runs COMMAND and appends "exit-code wall-seconds cpu-seconds" to RESULT (see below)
    bench_install.py check PREFIX MANIFEST INSTALL_FOLDER
        checks that an installation in PREFIX left every file of the manifest, the shortcuts
        and the uninstall key; prints what is missing and ends with 1 when anything is
    bench_install.py report RESULTS
        prints medians and ratios of the per-round results

Processor time is that of the whole Wine process tree: this process makes itself the
"child subreaper" of what it starts, so that the Windows processes Wine forks (and detaches)
for COMMAND come back to it and their user and system time is counted when they are reaped;
to that is added what the prefix's long-lived processes (the wineserver, services, the desktop
process, all found by WINEPREFIX in their environment) used meanwhile, read from /proc."""
import ctypes
import filecmp
import os
import statistics
import subprocess
import sys
import time

# The product as the installer registers it (nv/product.h, steps/product_registration.cpp).
PRODUCT_LABEL = "Tessaline 7.08v"
PRODUCT_NAME = "Tessaline"
REGISTRY_NAME = "Tessaline 7"
VERSION_TEXT = "7.8.22.1"
MAKER = "Nuvelle"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + REGISTRY_NAME
# The samples folder on the all-users desktop, as the installer names it in English
# (string 2018 of resources/strings.rc); the benchmark's Wine speaks English.
SAMPLES_FOLDER = f"{PRODUCT_NAME} Examples"
MENU_SHORTCUTS = (f"{PRODUCT_LABEL}.lnk", f"Uninstall {PRODUCT_NAME}.lnk")
KINDS = {"LanguageLibrary": 0, "MainProgram": 1, "Uninstaller": 2, "SharedData": 3, "Sample": 4,
         "Temporary": 5}


def read_manifest(path):
    """(kind number, destination, absolute source) of every entry."""
    base = os.path.dirname(os.path.abspath(path))
    entries = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            kind, destination, source = line.split("\t")
            kind = int(kind) if kind.isdigit() else KINDS[kind]
            source = source.replace("\\", "/")
            entries.append((kind, destination, os.path.join(base, source)))
    return entries


def split_token(destination):
    token, _, rest = destination.partition(">")
    return token + ">", rest.lstrip("\\")


def only(entries, kind):
    found = [e for e in entries if e[0] == kind]
    if len(found) != 1:
        sys.exit(f"the manifest needs exactly one entry of kind {kind}")
    return found[0]


# --- the NSIS script ---------------------------------------------------------------------------

def nsis_string(text):
    """A quoted NSIS string of `text`, whose variables ($INSTDIR, ...) NSIS expands."""
    return '"' + text.replace('"', '$\\"') + '"'


def literal(text):
    """`text` as it is, with no variable NSIS would expand."""
    return text.replace("$", "$$")


# The folders NSIS names as the installer's tokens, with SetShellVarContext all.
NSIS_TOKENS = {"<InstallPath>": "$INSTDIR", "<CommonData>": "$APPDATA",
               "<SamplePath>": "$DESKTOP\\" + SAMPLES_FOLDER, "<ProgramFiles>": "$PROGRAMFILES",
               "<CommonDesktop>": "$DESKTOP", "<Temporary>": "$PLUGINSDIR"}


def nsis_folder(destination):
    token, rest = split_token(destination)
    if token not in NSIS_TOKENS:
        sys.exit(f"no NSIS folder for {token}")
    return NSIS_TOKENS[token] + ("\\" + literal(rest) if rest else "")


def write_nsi(manifest, compressor, script, outfile):
    entries = read_manifest(manifest)
    program = "$INSTDIR\\" + os.path.basename(only(entries, 1)[2])
    uninstaller = "$INSTDIR\\uninst.exe"
    menu = f"$SMPROGRAMS\\{MAKER}\\{REGISTRY_NAME}"
    lines = [
        f"; Written by scripts/bench_install.py from {os.path.abspath(manifest)}.",
        "Unicode true",
        f"Name {nsis_string(PRODUCT_LABEL)}",
        f"OutFile {nsis_string(literal(os.path.abspath(outfile)))}",
        f"SetCompressor /SOLID {compressor}",
        "CRCCheck on",
        "RequestExecutionLevel admin",
        f"InstallDir {nsis_string('$PROGRAMFILES' + chr(92) + MAKER + chr(92) + REGISTRY_NAME)}",
        "Page directory",
        "Page instfiles",
        "Section",
        "  SetShellVarContext all",
    ]
    if any(kind == 5 for kind, _, _ in entries):
        lines.append("  InitPluginsDir")
    folder = None
    for kind, destination, source in entries:
        target = nsis_folder(destination)
        if target != folder:
            lines.append(f"  SetOutPath {nsis_string(target)}")
            folder = target
        lines.append(f"  File {nsis_string(literal(source))}")
    lines += [
        # The working folder ($PLUGINSDIR) goes with its files when the installer ends; it must
        # not be the current folder then.
        '  SetOutPath "$INSTDIR"',
        f"  WriteUninstaller {nsis_string(uninstaller)}",
        f"  WriteRegStr HKLM {nsis_string(UNINSTALL_KEY)} DisplayName {nsis_string(PRODUCT_LABEL)}",
        f"  WriteRegStr HKLM {nsis_string(UNINSTALL_KEY)} UninstallString "
        f"{nsis_string(chr(34) + uninstaller + chr(34))}",
        f"  WriteRegStr HKLM {nsis_string(UNINSTALL_KEY)} DisplayVersion {nsis_string(VERSION_TEXT)}",
        f"  WriteRegStr HKLM {nsis_string(UNINSTALL_KEY)} Publisher {nsis_string(MAKER)}",
        f"  CreateDirectory {nsis_string(menu)}",
        f"  CreateShortCut {nsis_string(menu + chr(92) + MENU_SHORTCUTS[0])} {nsis_string(program)}",
        f"  CreateShortCut {nsis_string(menu + chr(92) + MENU_SHORTCUTS[1])} {nsis_string(uninstaller)}",
        f"  CreateShortCut {nsis_string('$DESKTOP' + chr(92) + PRODUCT_LABEL + '.lnk')} "
        f"{nsis_string(program)}",
        "SectionEnd",
        "",
        # An uninstaller that removes what the section above wrote but the shared data, as ours.
        "Section Uninstall",
        "  SetShellVarContext all",
    ]
    for kind, destination, source in entries:
        if kind not in (3, 5):
            path = nsis_folder(destination) + "\\" + literal(os.path.basename(source))
            lines.append(f"  Delete {nsis_string(path)}")
    lines += [
        f"  Delete {nsis_string(uninstaller)}",
        f"  Delete {nsis_string(menu + chr(92) + MENU_SHORTCUTS[0])}",
        f"  Delete {nsis_string(menu + chr(92) + MENU_SHORTCUTS[1])}",
        f"  RMDir {nsis_string(menu)}",
        f"  Delete {nsis_string('$DESKTOP' + chr(92) + PRODUCT_LABEL + '.lnk')}",
        f"  RMDir {nsis_string('$DESKTOP' + chr(92) + SAMPLES_FOLDER)}",
        '  RMDir "$INSTDIR\\Lang"',
        '  RMDir "$INSTDIR"',
        f"  DeleteRegKey HKLM {nsis_string(UNINSTALL_KEY)}",
        "SectionEnd",
    ]
    with open(script, "w", encoding="utf-8-sig") as f:
        f.write("\n".join(lines) + "\n")


# --- processor time of a Wine prefix -----------------------------------------------------------

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def prefix_ticks(prefix, exclude):
    """{(pid, start time): user+system ticks, with those of reaped children} of every process
    started with WINEPREFIX=prefix, but the pids in `exclude`."""
    wanted = b"\0WINEPREFIX=" + os.fsencode(prefix) + b"\0"
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in exclude:
            continue
        try:
            with open(f"/proc/{name}/environ", "rb") as f:
                if wanted not in b"\0" + f.read():
                    continue
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        if fields[0] == "Z":
            continue
        # Fields 14-17 of stat: utime, stime, cutime, cstime; field 22: the start time.
        found[(int(name), fields[19])] = sum(int(v) for v in fields[11:15])
    return found


def own_line():
    """This process and its ancestors: they carry WINEPREFIX too, and are not Wine's."""
    pids, pid = set(), os.getpid()
    while pid > 1:
        pids.add(pid)
        try:
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except OSError:
            break
        pid = int(stat[stat.rindex(")") + 2:].split()[1])
    return pids


def settle(prefix):
    exclude = own_line()
    last, quiet_since, deadline = None, time.monotonic(), time.monotonic() + 30
    while time.monotonic() < deadline:
        now = prefix_ticks(prefix, exclude)
        if now != last:
            last, quiet_since = now, time.monotonic()
        elif time.monotonic() - quiet_since >= 1.0:
            return
        time.sleep(0.2)
    print(f"note: the Wine session of {prefix} did not come to rest within 30 s", file=sys.stderr)


def timed(prefix, result, log, command):
    # PR_SET_CHILD_SUBREAPER: orphaned descendants are reparented to this process.
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(36, 1, 0, 0, 0) != 0:
        sys.exit("prctl(PR_SET_CHILD_SUBREAPER) failed")
    exclude = own_line()
    before = prefix_ticks(prefix, exclude)
    with open(log, "ab") as out:
        start = time.monotonic()
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT)
        code = child.wait()
        wall = time.monotonic() - start
    # The descendants still running (none, normally: the launcher waits for the installer).
    deadline = time.monotonic() + 60
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            if time.monotonic() > deadline:
                print("note: a descendant still runs 60 s after the installer ended",
                      file=sys.stderr)
                break
            time.sleep(0.05)
    after = prefix_ticks(prefix, exclude)
    usage = os.times()
    cpu = usage.children_user + usage.children_system
    cpu += sum(ticks - before.get(key, 0) for key, ticks in after.items()) / CLOCK_TICKS
    with open(result, "a") as f:
        f.write(f"{code} {wall:.3f} {cpu:.3f}\n")


# --- the check after an installation -----------------------------------------------------------

def find_path(root, relative):
    """`relative` (with backslashes) below `root`, each component matched in any letter case."""
    path = root
    for part in [p for p in relative.split("\\") if p]:
        try:
            path = os.path.join(path, next(n for n in os.listdir(path)
                                           if n.lower() == part.lower()))
        except (FileNotFoundError, NotADirectoryError, StopIteration):
            return None
    return path


def check(prefix, manifest, install_folder):
    drive = os.path.join(prefix, "drive_c")
    common_data = "ProgramData"
    public_desktop = r"users\Public\Desktop"
    programs = r"ProgramData\Microsoft\Windows\Start Menu\Programs"
    folders = {"<InstallPath>": install_folder[3:], "<CommonData>": common_data,
               "<SamplePath>": public_desktop + "\\" + SAMPLES_FOLDER}
    problems = []
    entries = read_manifest(manifest)
    for kind, destination, source in entries:
        token, rest = split_token(destination)
        name = os.path.basename(source)
        if kind == 5:
            continue
        if token not in folders:
            problems.append(f"no check for {token}")
            continue
        path = find_path(drive, "\\".join(p for p in (folders[token], rest, name) if p))
        if path is None:
            problems.append(f"missing: {destination}\\{name}")
        elif not filecmp.cmp(path, source, shallow=False):
            problems.append(f"differs: {destination}\\{name}")
    temporary = {os.path.basename(s).lower() for k, _, s in entries if k == 5}
    for folder, _, names in os.walk(drive):
        left = [n for n in names if n.lower() in temporary]
        if left:
            problems.append(f"temporary files left in {folder}: {', '.join(left)}")
    menu = f"{programs}\\{MAKER}\\{REGISTRY_NAME}"
    for link in (f"{menu}\\{MENU_SHORTCUTS[0]}", f"{menu}\\{MENU_SHORTCUTS[1]}",
                 f"{public_desktop}\\{PRODUCT_LABEL}.lnk"):
        if find_path(drive, link) is None:
            problems.append(f"missing shortcut: C:\\{link}")
    env = dict(os.environ, WINEPREFIX=prefix)
    for value in ("DisplayName", "UninstallString", "DisplayVersion", "Publisher"):
        query = subprocess.run(["wine", "reg", "query", "HKLM\\" + UNINSTALL_KEY, "/v", value],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        if query.returncode != 0 or value.encode() not in query.stdout:
            problems.append(f"missing registry value: HKLM\\{UNINSTALL_KEY} {value}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


# --- the report ---------------------------------------------------------------------------------

def report(results):
    """RESULTS: lines "round name exit-code wall cpu"."""
    runs = {}
    with open(results) as f:
        for line in f:
            rnd, name, _, wall, cpu = line.split()
            runs.setdefault(name, {})[int(rnd)] = (float(wall), float(cpu))
    labels = {"ours": "ours", "bzip2": "NSIS bzip2", "lzma": "NSIS lzma",
              "floor-bzip2": "bzip2 -dc (our archive)", "floor-lbzip2": "lbzip2 -dc -n 2 (our archive)",
              "floor-xz": "xz -dc (tar of the files)", "start": "launcher + cmd /c exit"}

    def median(name, i):
        return statistics.median(v[i] for v in runs[name].values())

    def row(name):
        return f"  {labels[name]:<32}{median(name, 0):8.2f} s {median(name, 1):8.2f} s"

    count = len(runs["ours"])
    print(f"Silent installation under Wine, median of {count} runs:      wall       CPU")
    for name in ("ours", "bzip2", "lzma"):
        print(row(name))
    print("Ratios, median of the per-round ratios:               wall       CPU")
    for name in ("bzip2", "lzma"):
        rounds = sorted(set(runs["ours"]) & set(runs[name]))
        wall = statistics.median(runs["ours"][r][0] / runs[name][r][0] for r in rounds)
        cpu = statistics.median(runs["ours"][r][1] / runs[name][r][1] for r in rounds)
        print(f"  {'ours / ' + labels[name]:<32}{wall:8.2f}   {cpu:8.2f}")
    print("Floors on the same data, native, median:              wall       CPU")
    for name in ("floor-bzip2", "floor-lbzip2", "floor-xz"):
        print(row(name))
    print("Starting a program in the warm Wine session (measured apart, not subtracted above):")
    print(row("start"))
    print("Every round, wall/CPU in seconds:")
    names = ("ours", "bzip2", "lzma", "floor-bzip2", "floor-lbzip2", "floor-xz", "start")
    short = ("ours", "nsis-bzip2", "nsis-lzma", "bzip2", "lbzip2", "xz", "start")
    print("  round" + "".join(f"{n:>14}" for n in short))
    for rnd in sorted(runs["ours"]):
        cells = []
        for n in names:
            v = runs[n].get(rnd)
            cells.append(f"{v[0]:.2f}/{v[1]:.2f}" if v else "-")
        print(f"  {rnd:5}" + "".join(f"{c:>14}" for c in cells))


def main(argv):
    if len(argv) >= 5 and argv[0] == "nsi":
        write_nsi(*argv[1:5])
    elif len(argv) == 2 and argv[0] == "settle":
        settle(argv[1])
    elif len(argv) >= 6 and argv[0] == "time" and argv[4] == "--":
        timed(argv[1], argv[2], argv[3], argv[5:])
    elif len(argv) == 4 and argv[0] == "check":
        return check(*argv[1:4])
    elif len(argv) == 2 and argv[0] == "report":
        report(argv[1])
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
