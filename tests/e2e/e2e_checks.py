"""The checks of the machine after a scenario, shared by every group: the uninstall log's bytes
and records, the installed files and their CRC-32 against the payload, the uninstall key and the
product path value, the product's registration run, the shortcuts read back, the temporary
folder and the journal left clean; the /LOG file's form and lines; the machine's files and keys
before and after a run that must change nothing."""
import os
import re
import zlib

import winenv
from e2e_common import (JOURNAL_FOLDER, KIND_CODE, LABEL, PRODUCT_KEY, UNINSTALL_KEY, cfg, s,
                        win_join)


# ---- machine checks ----
def read_log(sc, install_folder):
    path = sc.prefix.unix(win_join(install_folder, "Uninstall.ulog"))
    if not sc.check("Uninstall.ulog exists", os.path.exists(path), path):
        return None, None
    data = open(path, "rb").read()
    sc.check("log starts with the byte-order mark", data[:2] == b"\xff\xfe", data[:4])
    text = data[2:].decode("utf-16-le")
    sc.check("every log line ends with CR LF", text.endswith("\r\n") and
             "\n" not in text.replace("\r\n", ""), "")
    sc.check("the log is read-only", not os.stat(path).st_mode & 0o222, oct(os.stat(path).st_mode))
    return text.split("\r\n")[:-1], path


def check_log_header(sc, lines, install_folder, menu_folder, update_from=None):
    label = "Install " + LABEL + (f" -- Update ({update_from})" if update_from else "")
    expected = ["// Uninstall Log File v1",
                "// ############ WARNING: Do not delete or modify this file. ############",
                "// " + label, "// Install Path : " + install_folder,
                "// Shortcut Path : " + menu_folder, "// " + "-" * (16 + len(menu_folder))]
    sc.check("log header lines", lines[:6] == expected, f"{lines[:6]!r} != {expected!r}")


def log_records(sc, lines):
    records = []
    for i, line in enumerate(lines[6:]):
        m = re.fullmatch(r"(\d{4,}):([0-9a-f]{4,}):([01]) -- (.*)", line)
        if not sc.check("log entry line form", m is not None, line):
            continue
        sc.check("log entry numbering", int(m.group(1)) == i, line)
        records.append((int(m.group(2), 16), m.group(3) == "1", m.group(4)))
    return records


def check_merged_log(sc, lines, install_folder, menu_folder):
    """A reinstallation's log: the header, the files, and every record once after the merge."""
    check_log_header(sc, lines, install_folder, menu_folder, update_from=LABEL)
    records = log_records(sc, lines)
    check_files(sc, records, install_folder)
    for kind in (0x2FF, 0x3FF, 0x4FF, 0x5FF, 0x6FF):
        sc.check(f"one record of kind {kind:04x} after the merge",
                 [r[0] for r in records].count(kind) == 1, records)
    paths = [r[2].lower() for r in records if r[0] >> 8 in (0, 1)]
    sc.check("no folder or file recorded twice", len(paths) == len(set(paths)), paths)


def check_files(sc, records, install_folder, skip_kinds=(), payload=None):
    """Every payload file (but Temporary) is recorded once, exists and has its CRC-32 (the
    demo payload's when no other `payload` is given)."""
    if payload is None:
        payload = cfg.payload
    for entry in payload:
        if entry["kind"] == "Temporary":
            continue
        code = 0x100 + KIND_CODE[entry["kind"]]
        hits = [r for r in records if r[0] == code and r[2].lower().endswith("\\" + entry["name"].lower())]
        if entry["kind"] in skip_kinds:
            continue
        if not sc.check(f"log records {entry['name']} once", len(hits) == 1, hits):
            continue
        path = hits[0][2]
        if entry["dest"].startswith("<InstallPath>"):
            sc.check(f"{entry['name']} lies in the installation folder",
                     path.lower().startswith(install_folder.lower() + "\\"), path)
        unix = sc.prefix.unix(path)
        if sc.check(f"{entry['name']} installed", os.path.exists(unix), path):
            data = open(unix, "rb").read()
            sc.check(f"{entry['name']} CRC-32", zlib.crc32(data) == entry["crc"], path)
    main = win_join(install_folder, "Tessaline.exe")
    uninstaller = win_join(install_folder, "Uninstall.exe")
    for exe in (main, uninstaller):
        unix = sc.prefix.unix(exe)
        sc.check(f"{exe} read-only", os.path.exists(unix) and not os.stat(unix).st_mode & 0o222,
                 "writable or missing")
    return main, uninstaller


def check_registry(sc, install_folder, language):
    main = win_join(install_folder, "Tessaline.exe")
    values = {name: sc.prefix.reg_query(UNINSTALL_KEY, name) for name in (
        "DisplayName", "UninstallString", "DisplayIcon", "DisplayVersion", "Publisher",
        "URLInfoAbout", "HelpLink", "URLUpdateInfo", "HelpTelephone", "NoModify", "NoRepair",
        "NvLanguage", "QuietUninstallString")}
    expected = {"DisplayName": ("REG_SZ", LABEL),
                "UninstallString": ("REG_SZ", win_join(install_folder, "Uninstall.exe")),
                "DisplayIcon": ("REG_SZ", main + ",0"),
                "DisplayVersion": ("REG_SZ", "7.8.22.1"), "Publisher": ("REG_SZ", "Nuvelle"),
                "NoModify": ("REG_DWORD", "0x1"), "NoRepair": ("REG_DWORD", "0x1"),
                "NvLanguage": ("REG_DWORD", hex(language)),
                "QuietUninstallString": ("REG_SZ",
                                         f'"{win_join(install_folder, "Uninstall.exe")}" /S')}
    for name, want in expected.items():
        sc.check(f"uninstall key value {name}", values[name] == want, f"{values[name]} != {want}")
    web = values["URLInfoAbout"]
    sc.check("web address values", web and web[0] == "REG_SZ" and web[1] and
             values["HelpLink"] == web and values["URLUpdateInfo"] == web, values)
    sc.check("support telephone", values["HelpTelephone"] and values["HelpTelephone"][1], values)
    path = sc.prefix.reg_query(PRODUCT_KEY, "Tessaline 7 Path")
    sc.check("product path value", path == ("REG_SZ", main), path)


def check_registration_run(sc, install_folder, update=None):
    record = open(sc.record, encoding="utf-8", newline="").read() if os.path.exists(sc.record) else ""
    main = win_join(install_folder, "Tessaline.exe")
    quoted = f'"{main}"' if " " in main else main
    command = f"{quoted} /Register /Background" + (f" /update={update}" if update else "")
    sc.check("the product's registration run", f"command line: {command}\r\n" in record, record)
    sc.check("registration run in the installation folder",
             f"current folder: {install_folder}\r\n" in record, record)
    sc.check("the installer let go of its mutex for the run", "installer mutex: free" in record,
             record)


def temp_folders(sc):
    user = os.path.join(sc.prefix.path, "drive_c", "users", sc.prefix.user)
    return [p for p in (os.path.join(user, "Temp"), os.path.join(user, "AppData", "Local", "Temp"))
            if os.path.isdir(p)]


def check_temp_clean(sc):
    for folder in temp_folders(sc):
        left = [n for n in os.listdir(folder) if n.lower().startswith(("nuvelle_", "nv"))]
        sc.check("no working folder or backup left in the temporary folder", not left, left)
    # A run that ended, whichever way, takes its journal file and the journal folder with it.
    journal = sc.prefix.unix(JOURNAL_FOLDER)
    sc.check("no journal left", not os.path.exists(journal),
             os.listdir(journal) if os.path.isdir(journal) else journal)


def check_link(sc, link, target):
    ok, values, out = sc.robot(["link-target", link])
    got = dict(values)
    if sc.check(f"shortcut {link} readable", ok, out):
        sc.check(f"shortcut {link} target", got.get("link-target", "").lower() == target.lower(),
                 got)
        sc.check(f"shortcut {link} working folder",
                 got.get("link-folder", "").lower() == target.rsplit("\\", 1)[0].lower(), got)


def nothing_installed(sc, install_folder):
    sc.check("installation folder absent", not os.path.exists(sc.prefix.unix(install_folder)),
             install_folder)
    sc.check("no uninstall key", sc.prefix.reg_query(UNINSTALL_KEY, "DisplayName") is None, "")
    sc.check("no product path value",
             sc.prefix.reg_query(PRODUCT_KEY, "Tessaline 7 Path") is None, "")
    for entry in cfg.payload:
        if entry["kind"] in ("SharedData", "Sample"):
            found = [os.path.join(d, n) for d, _, names in
                     os.walk(os.path.join(sc.prefix.path, "drive_c")) for n in names
                     if n == entry["name"]]
            sc.check(f"{entry['name']} not on disk", not found, found)
    check_temp_clean(sc)


def check_fresh_machine(sc, install_folder, menu_folder, language=1, menu=True, desktop=True,
                        payload=None):
    lines, _ = read_log(sc, install_folder)
    if lines is None:
        return
    check_log_header(sc, lines, install_folder, menu_folder)
    records = log_records(sc, lines)
    main, uninstaller = check_files(sc, records, install_folder, payload=payload)
    check_registry(sc, install_folder, language)
    check_registration_run(sc, install_folder)
    check_temp_clean(sc)
    kinds = [r[0] for r in records]
    sc.check("DirectX update recorded with its status text",
             (0x7FF, True, s("French" if language == 0 else "English", 1131)) in records, records)
    sc.check("uninstall key and registration recorded as done",
             (0x5FF, True) in [(r[0], r[1]) for r in records] and
             (0x6FF, True) in [(r[0], r[1]) for r in records], records)
    links = {r[0]: r[2] for r in records if r[0] in (0x2FF, 0x3FF, 0x4FF)}
    if menu:
        sc.check("menu shortcut recorded",
                 links.get(0x2FF, "").lower() == win_join(menu_folder, LABEL + ".lnk").lower(), links)
        sc.check("uninstall shortcut recorded", links.get(0x3FF, "").lower() ==
                 win_join(menu_folder, "Uninstall Tessaline.lnk").lower(), links)
        check_link(sc, win_join(menu_folder, LABEL + ".lnk"), main)
        check_link(sc, win_join(menu_folder, "Uninstall Tessaline.lnk"), uninstaller)
    else:
        sc.check("no menu shortcuts", 0x2FF not in kinds and 0x3FF not in kinds, records)
        sc.check("no menu folder created", not os.path.exists(sc.prefix.unix(menu_folder)),
                 menu_folder)
    if desktop:
        link = links.get(0x4FF, "")
        sc.check("desktop shortcut recorded", link.lower().endswith("\\desktop\\" + LABEL.lower() + ".lnk"),
                 links)
        if link:
            check_link(sc, link, main)
    else:
        sc.check("no desktop shortcut", 0x4FF not in kinds, records)


# ---- the /LOG file ----
# The local time stamp that starts every line a run writes to its /LOG file.
LOG_STAMP = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


# The header that opens every run in a /LOG file, after a separator: English "Name: value" lines.
RUN_SEPARATOR = "=" * 72
RUN_HEADER = [re.compile(p) for p in (r"Program: \S+\.exe 7\.8\.22\.1", r"Command line: .*(?i:[-/]LOG=).*",
                                       r"User: \S.*", r"Elevated: yes", r"Windows: \d+\.\d+\.\d+")]


def unattended_log(sc, unix_path, code, foreign=()):
    """The /LOG file's lines, without their time stamps and each run's header, after checks of its
    form: UTF-8, CR LF only, a time stamp starting every line but the `foreign` ones the test wrote
    itself, every run opening with its separator and header, the exit code last, in English."""
    if not sc.check("log file written", os.path.exists(unix_path), unix_path):
        return []
    data = open(unix_path, "rb").read()
    text = data.decode("utf-8")
    sc.check("log lines end with CR LF", text.endswith("\r\n") and
             "\n" not in text.replace("\r\n", "") and "\r" not in text.replace("\r\n", ""), text)
    lines = text.split("\r\n")[:-1]
    unstamped = [l for l in lines if not LOG_STAMP.match(l) and l not in foreign]
    sc.check("every line starts with its time stamp", not unstamped, unstamped)
    lines = [LOG_STAMP.sub("", l, count=1) if LOG_STAMP.match(l) else l for l in lines]
    own = [l for l in lines if l not in foreign]
    sc.check("the run opens with its separator", own[:1] == [RUN_SEPARATOR], own[:2])
    body = []
    i = 0
    while i < len(lines):
        if lines[i] != RUN_SEPARATOR:
            body.append(lines[i])
            i += 1
            continue
        header = lines[i + 1:i + 1 + len(RUN_HEADER)]
        sc.check("the run's header", len(header) == len(RUN_HEADER) and
                 all(p.fullmatch(l) for p, l in zip(RUN_HEADER, header)), header)
        i += 1 + len(RUN_HEADER)
    sc.check("the exit code ends the log", body and body[-1] == f"Exit code: {code}.", body)
    return body


def in_order(sc, what, lines, expected):
    """Every expected line appears, in this order (other lines may come between)."""
    i = 0
    for line in lines:
        if i < len(expected) and line == expected[i]:
            i += 1
    return sc.check(what, i == len(expected),
                    f"missing {expected[i]!r} in {lines!r}" if i < len(expected) else "")


def machine_state(sc):
    """Files on C: (the Windows folder left out) and the registry keys the installer writes."""
    files = winenv.drive_files(sc.prefix.path)
    keys = {k: sc.prefix.run(["reg", "query", k, "/s"])[1] for k in (UNINSTALL_KEY, PRODUCT_KEY)}
    return files, keys


def check_unchanged(sc, before):
    files, keys = machine_state(sc)
    changed = sorted(set(files.items()) ^ set(before[0].items()))
    sc.check("files as before", not changed, changed[:10])
    sc.check("registry as before", keys == before[1], keys)
