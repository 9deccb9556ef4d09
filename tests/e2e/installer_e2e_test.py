#!/usr/bin/env python3
"""End-to-end scenarios of the shipped installer under Wine, driven by robot.exe.

Every scenario runs in a fresh copy of a template prefix; the scenarios that need an earlier
installation start from a copy of the prefix that the fresh quick installation left behind.
After each scenario the machine is checked: installed files and their CRC-32 against the demo
payload, read-only executables, the uninstall log's bytes, the uninstall key's values, the
product path value, the shortcuts read back, the working folder and backups gone.
Screenshots (PNG when ImageMagick is there) of the pages and message boxes go to SCREENSHOTS.

The unattended scenarios run the installer with /S through the robot's run-unseen, which fails
when any top-level window of the installer's process is shown; they check the exit code, the
machine afterwards and the /LOG file's lines. They run when named, or all with "unattended".
One of them installs a release's installer: the demo payload changed, packed, embedded into the
built installer and signed with a throw-away test certificate, as the README's release steps do.

The uninstaller's scenarios start from the quick installation's machine and compare the machine
after the removal with the one before the installation. They run when named, or all with
"uninstall".

The gallery's scenarios, one per installer language, photograph every page, message box and the
About box of the installer and every page of the uninstaller into SCREENSHOTS/<language>/ (see
gallery.py) and have the robot measure every text on them; a text that does not fit its control
fails the scenario. Each walks the wizard with one installation, the Start pages of an existing
installation, the uninstaller with one removal and a failed installation. They run when named,
or all with "gallery" (half of them in a second process on a display of its own); the run ends
with SCREENSHOTS/index.html.

Usage: installer_e2e_test.py INSTALLER ROBOT BIN_DIR PAYLOAD_DIR STRINGS_RC WORK SCREENSHOTS
         [scenario ... | unattended | uninstall | gallery]
Exit code 77 (reported by CTest as skipped) when the installer has not been built or there is
no X display."""
import difflib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gallery  # noqa: E402
import winenv  # noqa: E402

installer, robot_exe, bin_dir, payload_dir, strings_rc, work, screenshots = map(
    os.path.abspath, sys.argv[1:8])
only = set(sys.argv[8:])
# "gallery-part RESULTS name...": the named gallery scenarios of a second process on a display of
# its own, their outcome written to RESULTS for the first.
GALLERY_PART = None
if sys.argv[8:9] == ["gallery-part"]:
    GALLERY_PART = sys.argv[9]
    only = set(sys.argv[10:])
if not os.environ.get("DISPLAY"):
    print("SKIP: no X display; run the tests under xvfb-run")
    sys.exit(77)
if not os.path.exists(installer):
    print(f"SKIP: {installer} has not been built yet; the scenarios need it")
    sys.exit(77)

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline 7"
PRODUCT_KEY = r"HKLM\Software\Nuvelle"
# The folder of the run journals (below the Program Files folder, never one users may write to).
JOURNAL_FOLDER = r"C:\Program Files\Common Files\Nuvelle Journal"
TITLE = "Tessaline 7.08v"
LABEL = "Tessaline 7.08v"
FRENCH = {"LC_ALL": "fr_FR.UTF-8"}
# Start-page list positions (the 17 product languages in list order).
LIST = {"French": 0, "English": 1, "German": 2, "Dutch": 6, "Polish": 7}
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
NEXT, BACK, EXIT = 1, 3, 2
STATUS, INFO, LANGS, QUICK, ADVANCED = 1003, 1016, 1023, 1018, 1019
FOLDER_EDIT, BROWSE, FOLDER_PROMPT, MENU_EDIT, DESKTOP, MENU = 1007, 1006, 1009, 1007, 1010, 1011
LOG, PROGRESS = 1015, 1014
ES_READONLY = 0x800


# ---- localized strings, read from the installer's own string tables ----
def read_strings(path):
    tables, offset = {}, None
    for line in open(path, encoding="utf-8"):
        m = re.match(r"// (\w+).*: LanguageId (\d+), LANGID \d+, ids base \+ (\d+)", line)
        if m:
            offset = int(m.group(3))
            table = tables.setdefault(m.group(1), {})
            continue
        m = re.match(r'\s+(\d+)\s+"(.*)"\s*$', line)
        if m and offset is not None:
            text = m.group(2).replace('""', '"').replace("\\r", "\r").replace("\\n", "\n")
            # "\xHH" escapes are bytes of UTF-8 sequences (the no-break space).
            text = re.sub(r"((?:\\x[0-9a-fA-F]{2})+)", lambda e: bytes.fromhex(
                e.group(1).replace("\\x", "")).decode("utf-8"), text)
            table[int(m.group(1)) - offset] = text
    return tables


STRINGS = read_strings(strings_rc)


def s(lang, base, *inserts):
    text = STRINGS[lang][base]
    # An untranslated message falls back to English, then to French.
    if text == "#":
        text = STRINGS["English"][base]
    if text == "#":
        text = STRINGS["French"][base]
    for i, insert in enumerate(inserts, 1):
        text = text.replace(f"%{i}", insert)
    return text


def title_of(lang):
    return s(lang, 1000) + " \u2013 " + LABEL


# ---- the demo payload ----
def read_payload(folder):
    entries = []
    for line in open(os.path.join(folder, "payload.manifest"), encoding="utf-8"):
        line = line.rstrip("\r\n")
        if not line or line.startswith("#"):
            continue
        kind, dest, source = line.split("\t")
        data = open(os.path.join(folder, source), "rb").read()
        entries.append({"kind": kind, "dest": dest, "name": os.path.basename(source),
                        "crc": zlib.crc32(data), "size": len(data)})
    return entries


PAYLOAD = read_payload(payload_dir)
KIND_CODE = {"LanguageLibrary": 0, "MainProgram": 1, "Uninstaller": 2, "SharedData": 3,
             "Sample": 4}

failures = []
current = []  # the scenario being run, for the report when it stops early


class ScenarioFailed(Exception):
    pass


class Scenario:
    def __init__(self, name, template):
        self.name = name
        self.folder = os.path.join(work, name)
        self.prefix = winenv.Prefix(template, self.folder)
        self.robot = winenv.Robot(self.prefix, robot_exe)
        self.errors = []
        self.record = os.path.join(self.prefix.path, "drive_c", "standin_record.txt")
        self.installer = installer
        current.append(self)

    def check(self, what, condition, detail=""):
        if not condition:
            self.errors.append(f"{what}: {detail}")
            print(f"  FAIL {self.name}: {what}: {detail}")
        return condition

    def must(self, what, result):
        ok, values, out = result
        if not ok:
            self.errors.append(f"{what}: {out.strip()}")
            raise ScenarioFailed(f"{what}: {out.strip()}")
        return values

    def start(self, extra_env=None, exe=None):
        env = {"NV_STANDIN_RECORD": self.prefix.windows(self.record)}
        env.update(extra_env or {})
        return self.prefix.start([exe or self.installer], env,
                                 log=os.path.join(self.folder, "installer.log"))

    def wizard(self, *commands, title=TITLE, timeout=30000):
        return self.robot(["window", title, timeout], *commands)

    def shot(self, picture, box=None, title=TITLE):
        """Screenshot of the window titled `title` (or of the message box with `box` text) as
        `picture`."""
        os.makedirs(screenshots, exist_ok=True)
        bmp = os.path.join(screenshots, picture + ".bmp")
        select = ["box", box, 10000] if box is not None else ["window", title, 10000]
        ok, _, out = self.robot(select, ["screenshot", self.prefix.windows(bmp)])
        if self.check(f"screenshot {picture}", ok, out):
            if box is None:
                # Every page shows the side picture: a painted one has many colours, an empty
                # panel one or two.
                colours = winenv.distinct_colours(bmp, 12, 40, 80, 150)
                self.check(f"side picture painted in {picture}", colours >= 16,
                           f"{colours} colours")
            winenv.to_png(bmp, os.path.join(screenshots, picture + ".png"))

    def finish(self, process, timeout=30):
        code = winenv.wait_exit(process, timeout)
        self.check("the installer ended", code is not None, "still running")
        return code

    def close(self):
        self.prefix.close(keep=bool(self.errors))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def texts(values):
    return [v for k, v in values if k == "text"]


# ---- machine checks ----
def win_join(*parts):
    return "\\".join(p.rstrip("\\") for p in parts)


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


def check_files(sc, records, install_folder, skip_kinds=(), payload=PAYLOAD):
    """Every payload file (but Temporary) is recorded once, exists and has its CRC-32."""
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
    for entry in PAYLOAD:
        if entry["kind"] in ("SharedData", "Sample"):
            found = [os.path.join(d, n) for d, _, names in
                     os.walk(os.path.join(sc.prefix.path, "drive_c")) for n in names
                     if n == entry["name"]]
            sc.check(f"{entry['name']} not on disk", not found, found)
    check_temp_clean(sc)


def default_folders(sc):
    program_files = "C:\\Program Files"
    menu_root = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
    return win_join(program_files, "Nuvelle", "Tessaline 7"), win_join(menu_root, "Nuvelle",
                                                                      "Tessaline 7")


def run_install(sc, lang="English", shots=None):
    """On the Progress page: Install, wait for the end, return the log box text."""
    if shots:
        sc.shot(shots + "_progress")
    sc.must("Install pressed", sc.wizard(["expect-text", NEXT, s(lang, 1007)],
                                         ["post-click", NEXT]))
    values = sc.must("installation ran", sc.wizard(["wait-enabled", EXIT, 1, 180000],
                                                   ["text", STATUS], ["text", LOG]))
    return texts(values)


# ---- scenarios ----
def quick_install(sc, lang="English", env=None, shots=None, language_id=1):
    """Fresh quick installation with the defaults; leaves the installer closed."""
    process = sc.start(env)
    install_folder, menu_folder = default_folders(sc)
    sc.must("Start page", sc.wizard(
        ["expect-text", 0, title_of(lang)],
        ["expect-text", INFO, s(lang, 1100, LABEL)],
        ["expect-text", STATUS, s(lang, 1106, s(lang, 1006))],
        ["expect-enabled", BACK, 0], ["expect-enabled", NEXT, 1],
        ["expect-text", EXIT, s(lang, 1002)]))
    values = sc.must("language list", sc.wizard(["selection", LANGS]))
    sc.check("the current language is selected", ("selection", str(LIST[lang])) in values, values)
    if shots:
        sc.shot(shots + "_start")
    sc.must("Mode page", sc.wizard(["click", NEXT], ["expect-check", QUICK, 1],
                                   ["expect-check", ADVANCED, 0], ["expect-enabled", BACK, 1],
                                   ["expect-text", QUICK, s(lang, 1016)]))
    if shots:
        sc.shot(shots + "_mode")
    values = sc.must("quick mode goes to the Progress page", sc.wizard(
        ["click", NEXT], ["expect-visible", LOG, 1], ["expect-visible", PROGRESS, 0],
        ["text", LOG]))
    summary = texts(values)[0]
    for line in (s(lang, 1100, LABEL), s(lang, 1122),
                 s(lang, 1123, f'"{install_folder}"'), s(lang, 1124, f'"{menu_folder}"'),
                 s(lang, 1125)):
        sc.check("summary line", line in summary, f"{line!r} not in {summary!r}")
    status, log = run_install(sc, lang, shots)
    sc.check("final status", status == s(lang, 1106, s(lang, 1006)), status)
    for caption in (s(lang, 1114) + s(lang, 1011), s(lang, 1117) + s(lang, 1011),
                    s(lang, 1131) + s(lang, 1011), s(lang, 1118) + s(lang, 1011),
                    s(lang, 1119) + s(lang, 1011)):
        sc.check("progress log step", caption in log, f"{caption!r} not in log")
    sc.must("after the installation", sc.wizard(
        ["expect-text", EXIT, s(lang, 1004)], ["expect-enabled", BACK, 0],
        ["expect-enabled", NEXT, 1], ["expect-visible", PROGRESS, 1]))
    if shots:
        sc.shot(shots + "_progress_done")
    sc.must("End page", sc.wizard(["click", NEXT], ["expect-text", INFO, s(lang, 1120)],
                                  ["expect-enabled", NEXT, 0], ["expect-enabled", BACK, 1]))
    if shots:
        sc.shot(shots + "_end")
    sc.must("Exit closes without a question", sc.wizard(["post-click", EXIT], ["no-box", 1500],
                                                        ["wait-gone", 10000]))
    sc.finish(process)
    return install_folder, menu_folder, log


def check_fresh_machine(sc, install_folder, menu_folder, language=1, menu=True, desktop=True,
                        payload=PAYLOAD):
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


def scenario_quick():
    sc = Scenario("quick", TEMPLATE)
    try:
        install_folder, menu_folder, _ = quick_install(sc, shots="en")
        check_fresh_machine(sc, install_folder, menu_folder)
    finally:
        if not sc.errors:
            # The state of this machine is the earlier installation of later scenarios.
            winenv._quiet(["wineserver", "-k"], sc.prefix.env)
            winenv._quiet(["wineserver", "-w"], sc.prefix.env)
            shutil.rmtree(INSTALLED, ignore_errors=True)
            subprocess.run(["cp", "-a", sc.prefix.path, INSTALLED], check=True)
        sc.close()
    return sc


def scenario_advanced_french():
    """French advanced installation: another folder, another menu folder, only the desktop."""
    with Scenario("advanced_french", TEMPLATE) as sc:
        lang = "French"
        folder = "C:\\Apps\\Tessaline7"
        menu_text = "Nuvelle Essai\\Menu"
        process = sc.start(FRENCH)
        sc.must("French Start page", sc.wizard(["expect-text", 0, title_of(lang)],
                                               ["expect-text", INFO, s(lang, 1100, LABEL)]))
        sc.shot("fr_start")
        # Polish from a French start: the message comes in English; French chosen again
        # switches back without a message.
        message = s("English", 1129, "Tessaline")
        sc.must("choose Polish", sc.wizard(["select", LANGS, LIST["Polish"]]))
        values = sc.must("1129 box", sc.robot(["box", message[:30], 10000]))
        sc.check("1129 text in English", values[0][1] == message, values)
        sc.shot("fr_box_language", box=message[:30])
        sc.must("French again", sc.robot(
            ["box", message[:30], 1000], ["post-click", IDOK], ["wait-gone", 5000],
            ["window", TITLE, 5000], ["expect-text", 0, title_of("English")],
            ["select", LANGS, LIST["French"]], ["no-box", 1000],
            ["wait-text", 0, title_of(lang), 5000], ["expect-text", INFO, s(lang, 1100, LABEL)]))
        sc.must("Mode page", sc.wizard(["click", NEXT], ["click", ADVANCED]))
        sc.shot("fr_mode")
        sc.must("Folder page", sc.wizard(
            ["click", NEXT], ["expect-enabled", BROWSE, 1], ["expect-enabled", FOLDER_PROMPT, 1],
            ["expect-style", FOLDER_EDIT, ES_READONLY, 0],
            ["expect-text", FOLDER_PROMPT, s(lang, 1111, "Tessaline")],
            ["expect-text", FOLDER_EDIT, "Nuvelle\\Tessaline 7"],
            ["set-text", FOLDER_EDIT, folder]))
        sc.shot("fr_folder")
        values = sc.must("Shortcut page", sc.wizard(
            ["click", NEXT], ["expect-check", MENU, 1], ["expect-check", DESKTOP, 1],
            ["text", MENU_EDIT], ["set-text", MENU_EDIT, menu_text], ["click", MENU],
            ["expect-enabled", MENU_EDIT, 0], ["expect-enabled", BROWSE, 0]))
        sc.check("menu folder shown relative to the Start menu",
                 texts(values)[0].endswith("Nuvelle\\Tessaline 7"), values)
        sc.shot("fr_shortcut")
        # Back and Next again: the page saved and reloads its values.
        sc.must("Back keeps the choices", sc.wizard(
            ["click", BACK], ["expect-text", FOLDER_EDIT, folder], ["click", NEXT],
            ["expect-check", MENU, 0], ["expect-text", MENU_EDIT, menu_text]))
        values = sc.must("Progress page", sc.wizard(["click", NEXT], ["text", LOG]))
        summary = texts(values)[0]
        sc.check("summary without quotes and without the menu line",
                 s(lang, 1123, folder) in summary and s(lang, 1125) in summary and
                 s(lang, 1124, "\x00").split("\x00")[0] not in summary, summary)
        status, _ = run_install(sc, lang, "fr")
        sc.check("final status", status == s(lang, 1106, s(lang, 1006)), status)
        sc.shot("fr_progress_done")
        sc.must("End page", sc.wizard(["click", NEXT], ["expect-text", INFO, s(lang, 1120)]))
        sc.shot("fr_end")
        sc.must("Exit", sc.wizard(["post-click", EXIT], ["no-box", 1000], ["wait-gone", 10000]))
        sc.finish(process)
        menu_folder = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\" + menu_text
        check_fresh_machine(sc, folder, menu_folder, language=0, menu=False, desktop=True)
        sc.check("default folder unused", not os.path.exists(
            sc.prefix.unix(default_folders(sc)[0])), "")


def scenario_reinstall():
    with Scenario("reinstall", INSTALLED) as sc:
        install_folder, menu_folder = default_folders(sc)
        process = sc.start()
        sc.must("Start page of a reinstallation", sc.wizard(
            ["expect-text", INFO, s("English", 1102, LABEL) + "\r\n" + s("English", 1104)],
            ["expect-text", STATUS, s("English", 1105, "Next", "Cancel")]))
        sc.shot("en_start_reinstall")
        sc.must("Exit on the Start page does not ask", sc.wizard(
            ["post-click", EXIT], ["no-box", 1500], ["wait-gone", 10000]))
        sc.finish(process)
        process = sc.start()
        sc.must("advanced reinstallation", sc.wizard(
            ["click", NEXT], ["click", ADVANCED], ["click", NEXT],
            ["expect-text", FOLDER_EDIT, install_folder], ["expect-enabled", BROWSE, 0],
            ["expect-enabled", FOLDER_PROMPT, 0], ["expect-style", FOLDER_EDIT, ES_READONLY, 1]))
        sc.shot("en_folder_locked")
        sc.must("Shortcut page", sc.wizard(["click", NEXT], ["expect-check", MENU, 1]))
        sc.shot("en_shortcut")
        # Exit on a later page asks; No stays.
        sc.must("Exit on a later page asks", sc.wizard(["post-click", EXIT]))
        sc.must("No stays", sc.robot(["box", s("English", 1110)[:20], 10000], ["post-click", IDNO],
                                     ["wait-gone", 5000]))
        sc.must("Progress page", sc.wizard(["click", NEXT]))
        status, log = run_install(sc)
        sc.check("final status", status == s("English", 1106, "Next"), status)
        sc.must("Exit", sc.wizard(["post-click", EXIT], ["no-box", 1000], ["wait-gone", 10000]))
        sc.finish(process)
        lines, _ = read_log(sc, install_folder)
        if lines:
            check_merged_log(sc, lines, install_folder, menu_folder)
        check_registry(sc, install_folder, 1)
        check_temp_clean(sc)


def replace_product(sc, install_folder, standin):
    main = sc.prefix.unix(win_join(install_folder, "Tessaline.exe"))
    os.chmod(main, 0o755)
    shutil.copyfile(os.path.join(bin_dir, standin), main)


def scenario_update():
    with Scenario("update", INSTALLED) as sc:
        install_folder, menu_folder = default_folders(sc)
        replace_product(sc, install_folder, "tessaline_7_8_21_9.exe")
        # The samples of the earlier installation are removed: an update must not bring them back.
        samples = [e["name"] for e in PAYLOAD if e["kind"] == "Sample"]
        removed = []
        for d, _, names in os.walk(os.path.join(sc.prefix.path, "drive_c")):
            for n in names:
                if n in samples:
                    os.remove(os.path.join(d, n))
                    removed.append(n)
        sc.check("samples of the first installation found", sorted(removed) == sorted(samples),
                 removed)
        if os.path.exists(sc.record):
            os.remove(sc.record)
        process = sc.start()
        values = sc.must("Start page of an update", sc.wizard(["text", INFO], ["text", STATUS]))
        info, status = texts(values)
        # The earlier version is named by the text of its version resource.
        sc.check("update information", info.startswith("Update from '") and
                 ("7.08u" in info or "7.8.21.9" in info) and info.endswith(f"' to '{LABEL}'."),
                 info)
        sc.check("update status", status == s("English", 1106, "Next"), status)
        sc.shot("en_start_update")
        sc.must("quick update", sc.wizard(["click", NEXT], ["click", NEXT]))
        status, log = run_install(sc)
        sc.must("Exit", sc.wizard(["post-click", EXIT], ["no-box", 1000], ["wait-gone", 10000]))
        sc.finish(process)
        for name in samples:
            sc.check(f"sample {name} not copied", name not in log, "in the progress log")
        sc.check("DirectX step skipped after a completed update", s("English", 1131) not in log, log)
        left = [n for d, _, names in os.walk(os.path.join(sc.prefix.path, "drive_c"))
                for n in names if n in samples]
        sc.check("samples skipped", not left, left)
        check_registration_run(sc, install_folder, update="0007000800150009")
        lines, _ = read_log(sc, install_folder)
        if lines:
            check_log_header(sc, lines, install_folder, menu_folder, update_from=LABEL)
            records = log_records(sc, lines)
            check_files(sc, records, install_folder, skip_kinds=("Sample",))
            sample_records = [r for r in records if r[0] == 0x104]
            sc.check("the earlier sample records survive the merge",
                     len(sample_records) == len(samples), records)
            sc.check("the earlier DirectX record survives the merge",
                     [(r[0], r[1]) for r in records if r[0] == 0x7FF] == [(0x7FF, True)], records)
        main = sc.prefix.unix(win_join(install_folder, "Tessaline.exe"))
        sc.check("the product is the new version again",
                 open(main, "rb").read() == open(os.path.join(bin_dir, "Tessaline.exe"), "rb").read(),
                 "")
        check_registry(sc, install_folder, 1)
        check_temp_clean(sc)


def scenario_newer():
    with Scenario("newer", INSTALLED) as sc:
        install_folder, _ = default_folders(sc)
        replace_product(sc, install_folder, "tessaline_7_8_22_2.exe")
        process = sc.start()
        values = sc.must("Start page of a newer installation", sc.wizard(
            ["expect-enabled", NEXT, 0], ["text", INFO],
            ["expect-text", STATUS, s("English", 1107, "Cancel")]))
        info = texts(values)[0]
        sc.check("newer information", info.startswith(s("English", 1100, LABEL) + "\r\n") and
                 s("English", 1103, "").split("(")[0] in info, info)
        sc.shot("en_start_newer")
        sc.must("Exit without a question", sc.wizard(["post-click", EXIT], ["no-box", 1500],
                                                     ["wait-gone", 10000]))
        sc.finish(process)


def scenario_second_installer():
    with Scenario("second_installer", TEMPLATE) as sc:
        first = sc.start()
        sc.must("first installer", sc.wizard())
        second = sc.start()
        values = sc.must("error 170 box", sc.robot(["box", "", 20000]))
        sc.shot("en_box_busy", box="")
        sc.must("OK", sc.robot(["box", "", 1000], ["post-click", IDOK], ["wait-gone", 5000]))
        sc.check("the second installer ends", winenv.wait_exit(second, 20) is not None, "")
        sc.check("the box shows a system text", values and values[0][1].strip(), values)
        third = sc.start(FRENCH)
        sc.must("error 170 box in a French start", sc.robot(["box", "", 20000]))
        sc.shot("fr_box_busy", box="")
        sc.must("OK", sc.robot(["box", "", 1000], ["post-click", IDOK], ["wait-gone", 5000]))
        sc.check("the third installer ends", winenv.wait_exit(third, 20) is not None, "")
        sc.must("the first goes on", sc.wizard(["expect-enabled", NEXT, 1], ["click", NEXT],
                                               ["expect-check", QUICK, 1]))
        sc.must("Exit asks", sc.wizard(["post-click", EXIT]))
        sc.must("Yes ends", sc.robot(["box", s("English", 1110)[:20], 10000],
                                     ["post-click", IDYES]))
        sc.finish(first)


def scenario_product_running(lang="French", env=FRENCH):
    with Scenario("product_running", TEMPLATE) as sc:
        product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                                  {"NV_STANDIN_LIFETIME_MS": "120000"})
        sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
        process = sc.start(env)
        message = s(lang, 1127, "Tessaline")
        sc.must("close-the-product box", sc.robot(["box", message, 20000]))
        sc.shot("fr_box_close_product", box=message)
        sc.must("Retry while it runs asks again", sc.robot(
            ["box", message, 1000], ["post-click", IDRETRY], ["wait-gone", 5000],
            ["box", message, 10000]))
        sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                                   ["wait-gone", 5000]))
        sc.check("the product ended", winenv.wait_exit(product, 20) is not None, "")
        sc.must("Retry continues", sc.robot(["box", message, 1000], ["post-click", IDRETRY]))
        sc.must("the wizard starts", sc.wizard(["expect-text", 0, title_of(lang)]))
        sc.must("Cancel on the Mode page asks", sc.wizard(["click", NEXT], ["post-click", EXIT]))
        sc.must("1110 in French", sc.robot(["box", s(lang, 1110)[:20], 10000]))
        sc.shot("fr_box_exit", box=s(lang, 1110)[:20])
        sc.must("No stays", sc.robot(["box", s(lang, 1110)[:20], 1000], ["post-click", IDNO],
                                     ["wait-gone", 5000]))
        sc.must("still on the Mode page", sc.wizard(["expect-visible", QUICK, 1]))
        sc.must("Yes ends", sc.wizard(["post-click", EXIT]))
        sc.must("Yes", sc.robot(["box", s(lang, 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)
        nothing_installed(sc, default_folders(sc)[0])


def scenario_cancel():
    """Cancel on a middle page (English): No stays, Yes ends without installing anything."""
    with Scenario("cancel", TEMPLATE) as sc:
        # First the product runs (English 1127 box); closed, Retry goes on.
        product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                                  {"NV_STANDIN_LIFETIME_MS": "120000"})
        sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
        process = sc.start()
        message = s("English", 1127, "Tessaline")
        values = sc.must("close-the-product box", sc.robot(["box", message, 20000]))
        sc.check("1127 text", values[0][1] == message, values)
        sc.shot("en_box_close_product", box=message)
        sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                                   ["wait-gone", 5000]))
        sc.check("the product ended", winenv.wait_exit(product, 20) is not None, "")
        sc.must("Retry continues", sc.robot(["box", message, 1000], ["post-click", IDRETRY]))
        sc.must("to the Folder page", sc.wizard(["click", NEXT], ["click", ADVANCED],
                                                ["click", NEXT], ["expect-visible", FOLDER_EDIT, 1],
                                                ["post-click", EXIT]))
        text = s("English", 1110)
        values = sc.must("1110 box", sc.robot(["box", text[:20], 10000]))
        sc.check("1110 text", values[0][1] == text, values)
        sc.shot("en_box_exit", box=text[:20])
        sc.must("No stays", sc.robot(["box", text[:20], 1000], ["post-click", IDNO],
                                     ["wait-gone", 5000]))
        sc.must("still on the Folder page", sc.wizard(["expect-visible", FOLDER_EDIT, 1],
                                                      ["post-click", EXIT]))
        sc.must("Yes ends", sc.robot(["box", text[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)
        nothing_installed(sc, default_folders(sc)[0])


def scenario_languages():
    """Polish: message 1129 in English, Polish stays selected and is recorded; German after
    Polish switches every text without a message."""
    with Scenario("languages", TEMPLATE) as sc:
        process = sc.start()
        message = s("English", 1129, "Tessaline")
        sc.must("choose Polish", sc.wizard(["select", LANGS, LIST["Polish"]]))
        values = sc.must("1129 box", sc.robot(["box", message[:30], 10000]))
        sc.check("1129 text in English", values[0][1] == message, values)
        sc.shot("en_box_language", box=message[:30])
        values = sc.must("after OK", sc.robot(
            ["box", message[:30], 1000], ["post-click", IDOK], ["wait-gone", 5000],
            ["window", TITLE, 5000], ["selection", LANGS], ["expect-text", 0, title_of("English")],
            ["expect-text", INFO, s("English", 1100, LABEL)]))
        sc.check("Polish stays selected", ("selection", str(LIST["Polish"])) in values, values)
        sc.must("choose German", sc.wizard(["select", LANGS, LIST["German"]], ["no-box", 1500],
                                           ["wait-text", 0, title_of("German"), 5000],
                                           ["expect-text", INFO, s("German", 1100, LABEL)],
                                           ["expect-text", STATUS, s("German", 1106, s("German", 1006))],
                                           ["expect-text", NEXT, s("German", 1006)],
                                           ["expect-text", EXIT, s("German", 1002)]))
        sc.must("German Mode page", sc.wizard(["click", NEXT],
                                              ["expect-text", QUICK, s("German", 1016)],
                                              ["click", BACK]))
        sc.shot("de_start")
        sc.must("Polish again", sc.wizard(["select", LANGS, LIST["Polish"]]))
        sc.must("1129 again", sc.robot(["box", message[:30], 10000], ["post-click", IDOK],
                                       ["wait-gone", 5000]))
        sc.must("quick", sc.wizard(["expect-text", 0, title_of("English")], ["click", NEXT],
                                   ["click", NEXT]))
        run_install(sc)
        sc.must("Exit", sc.wizard(["post-click", EXIT], ["wait-gone", 10000]))
        sc.finish(process)
        value = sc.prefix.reg_query(UNINSTALL_KEY, "NvLanguage")
        sc.check("NvLanguage records Polish", value == ("REG_DWORD", "0xf"), value)


def scenario_stored_dutch():
    with Scenario("stored_dutch", TEMPLATE) as sc:
        sc.check("NvLanguage 5 stored", sc.prefix.reg_add(UNINSTALL_KEY, "NvLanguage",
                                                          "REG_DWORD", 5) == 0, "")
        process = sc.start(FRENCH)
        values = sc.must("starts in English", sc.wizard(
            ["expect-text", 0, title_of("English")], ["selection", LANGS],
            ["expect-text", INFO, s("English", 1100, LABEL)]))
        sc.check("English selected", ("selection", str(LIST["English"])) in values, values)
        sc.must("Exit asks", sc.wizard(["post-click", EXIT]))
        sc.must("Yes", sc.robot(["box", s("English", 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)


def make_broken_installer(sc, folder=None):
    """broken_installer.exe in `folder` (C:\\ of the scenario's machine when none): a copy of the
    installer whose payload has 64 damaged bytes. Returns its Windows path."""
    folder = folder or os.path.join(sc.prefix.path, "drive_c")
    exe, damaged = (os.path.join(folder, n) for n in ("broken_installer.exe", "broken_payload.bin"))
    shutil.copyfile(installer, exe)
    data = bytearray(open(os.path.join(payload_dir, "payload.bz2"), "rb").read())
    for i in range(len(data) // 2, len(data) // 2 + 64):
        data[i] ^= 0x5A
    with open(damaged, "wb") as f:
        f.write(data)
    sc.must("payload replaced", sc.robot(["set-resource", sc.prefix.windows(exe), 260, 134,
                                          sc.prefix.windows(damaged)]))
    return sc.prefix.windows(exe)


def scenario_failed():
    """A copy of the installer whose payload is corrupt: the installation fails, stays on the
    Progress page with Install enabled, and leaves nothing on disk."""
    with Scenario("failed", TEMPLATE) as sc:
        make_broken_installer(sc)
        process = sc.start(exe="C:\\broken_installer.exe")
        sc.must("quick", sc.wizard(["click", NEXT], ["click", NEXT]))
        status, log = run_install(sc)
        sc.check("failure status", status == s("English", 1121, "4"), status)
        sc.check("failure in the log", s("English", 1114) + s("English", 1012) in log, log)
        sc.must("stays on the Progress page", sc.wizard(
            ["expect-text", NEXT, s("English", 1007)], ["expect-enabled", NEXT, 1],
            ["expect-enabled", BACK, 1], ["expect-text", EXIT, s("English", 1002)],
            ["expect-visible", PROGRESS, 1]))
        sc.shot("en_progress_failed")
        nothing_installed(sc, default_folders(sc)[0])
        sc.must("Exit asks", sc.wizard(["post-click", EXIT]))
        sc.must("Yes", sc.robot(["box", s("English", 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)


def scenario_not_administrator():
    """The test build that sees no administrator: message 1126, OK ends, nothing changes."""
    with Scenario("not_administrator", TEMPLATE) as sc:
        for lang, env, picture in (("English", None, "en_box_not_admin"),
                                   ("French", FRENCH, "fr_box_not_admin")):
            process = sc.start(env, exe=NOT_ADMIN_INSTALLER)
            message = s(lang, 1126)
            values = sc.must("1126 box", sc.robot(["box", message[:25], 20000]))
            sc.check("1126 text", values[0][1] == message, values)
            sc.shot(picture, box=message[:25])
            sc.must("OK ends", sc.robot(["box", message[:25], 1000], ["post-click", IDOK],
                                        ["wait-gone", 5000]))
            sc.check("the installer ended", winenv.wait_exit(process, 20) is not None, "")
        ok, _, out = sc.robot(["window", TITLE, 500])
        sc.check("no wizard was shown", not ok, out)
        nothing_installed(sc, default_folders(sc)[0])


# ---- unattended scenarios ----
def run_unattended(sc, options, exe=None, timeout_ms=240000):
    """Runs the installer with `options` (a command-line text) through the robot, which watches
    for windows; returns (exit code or None, seconds taken)."""
    exe = exe or sc.prefix.windows(sc.installer)
    started = time.time()
    ok, values, out = sc.robot(["run-unseen", f'"{exe}" {options}', timeout_ms],
                               env={"NV_STANDIN_RECORD": sc.prefix.windows(sc.record)},
                               timeout=timeout_ms // 1000 + 60)
    took = time.time() - started
    got = dict(values)
    seen = [v for k, v in values if k == "seen"]
    sc.check("no window of the installer appeared", not seen, seen)
    sc.check("the installer ended", "exit-code" in got, out)
    return (int(got["exit-code"]) if "exit-code" in got else None), took


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


def run_lines(lang, install_folder, menu_folder, desktop=True):
    """The summary, the steps that always run and the outcome, as a successful run logs them: the
    steps in the run's language, the outcome in English."""
    quoted = lambda p: f'"{p}"' if " " in p else p  # noqa: E731
    summary = [s(lang, 1100, LABEL), banner(s(lang, 1122)), s(lang, 1123, quoted(install_folder))]
    if menu_folder:
        summary.append(s(lang, 1124, quoted(menu_folder)))
    if desktop:
        summary.append(s(lang, 1125))
    steps = [banner(""), s(lang, 1114) + s(lang, 1011)]
    if menu_folder or desktop:
        steps.append(s(lang, 1117) + s(lang, 1011))
    return summary + steps + [s(lang, 1118) + s(lang, 1011), s(lang, 1119) + s(lang, 1011),
                              s("English", 1120)]


def banner(text, width=72):
    if not text:
        return "-" * width
    enclosed = f" {text} "
    dashes = max(width - len(enclosed), 0)
    return "-" * (dashes // 2) + enclosed + "-" * ((dashes + 1) // 2)


def copied_files(lang, lines):
    prefix = s(lang, 1115, "\x00").split("\x00")[0]
    return [l for l in lines if l.startswith(prefix)]


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


def scenario_unattended_fresh():
    with Scenario("unattended_fresh", TEMPLATE) as sc:
        log = os.path.join(sc.folder, "unattended.log")
        code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 0", code == 0, code)
        install_folder, menu_folder = default_folders(sc)
        check_fresh_machine(sc, install_folder, menu_folder)
        lines = unattended_log(sc, log, 0)
        in_order(sc, "the whole run in the log", lines,
                 ["Run: first installation of 7.8.22.1"] +
                 run_lines("English", install_folder, menu_folder) + ["Exit code: 0."])
        sc.check("every payload file copied and logged once",
                 len(copied_files("English", lines)) == len(PAYLOAD), copied_files("English", lines))
        sc.check("every copy succeeded",
                 all(l.endswith(s("English", 1011)) for l in copied_files("English", lines)), lines)


def scenario_unattended_options():
    """Another folder with blanks, the desktop shortcut only, French; the log in a folder with a
    blank, appended to what is there."""
    with Scenario("unattended_options", TEMPLATE) as sc:
        folder = "C:\\Program Files\\Other Place\\T 7"
        log_folder = sc.prefix.unix("C:\\Log Files")
        os.makedirs(log_folder)
        log = os.path.join(log_folder, "t7.log")
        with open(log, "wb") as f:
            f.write(b"earlier line\r\n")
        code, _ = run_unattended(sc, f'/S /D="{folder}" /SHORTCUTS=desktop /LANG=fr '
                                     f'/LOG="C:\\Log Files\\t7.log"')
        sc.check("exit code 0", code == 0, code)
        install_folder, menu_folder = default_folders(sc)
        check_fresh_machine(sc, folder, menu_folder, language=0, menu=False, desktop=True)
        sc.check("default folder unused", not os.path.exists(sc.prefix.unix(install_folder)), "")
        lines = unattended_log(sc, log, 0, foreign=("earlier line",))
        sc.check("appended to the earlier line", lines[:1] == ["earlier line"], lines[:2])
        in_order(sc, "the French run in the log, its outcome and exit code in English", lines,
                 run_lines("French", folder, None) + ["Exit code: 0."])


def scenario_unattended_reinstall():
    with Scenario("unattended_reinstall", INSTALLED) as sc:
        install_folder, menu_folder = default_folders(sc)
        log = os.path.join(sc.folder, "unattended.log")
        # The installed folder named again (in another case, as tools write it): nothing to
        # ignore.
        code, _ = run_unattended(sc, f'-s "-D={install_folder.upper()}" /log={sc.prefix.windows(log)}')
        sc.check("exit code 0", code == 0, code)
        lines = unattended_log(sc, log, 0)
        in_order(sc, "the reinstallation in the log", lines,
                 ["Run: reinstallation of 7.8.22.1"] +
                 run_lines("English", install_folder, menu_folder))
        sc.check("the installed folder is not said to be ignored",
                 s("English", 1134, "/D", install_folder) not in lines, lines)
        ulog, _ = read_log(sc, install_folder)
        if ulog:
            check_merged_log(sc, ulog, install_folder, menu_folder)
        check_registry(sc, install_folder, 1)
        check_registration_run(sc, install_folder)
        check_temp_clean(sc)


def scenario_unattended_update():
    with Scenario("unattended_update", INSTALLED) as sc:
        install_folder, menu_folder = default_folders(sc)
        replace_product(sc, install_folder, "tessaline_7_8_21_9.exe")
        if os.path.exists(sc.record):
            os.remove(sc.record)
        log = os.path.join(sc.folder, "unattended.log")
        code, _ = run_unattended(sc, f"/S /D=C:\\Elsewhere /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 0", code == 0, code)
        sc.check("the option's folder unused", not os.path.exists(sc.prefix.unix("C:\\Elsewhere")),
                 "")
        lines = unattended_log(sc, log, 0)
        in_order(sc, "the kind of run, the ignored option, then the update in the log", lines,
                 ["Run: update from 7.8.21.9 to 7.8.22.1", s("English", 1134, "/D", install_folder)] +
                 run_lines("English", install_folder, menu_folder))
        sc.check("no sample copied", not any(
            e["name"] in l for e in PAYLOAD if e["kind"] == "Sample" for l in lines), lines)
        check_registration_run(sc, install_folder, update="0007000800150009")
        ulog, _ = read_log(sc, install_folder)
        if ulog:
            check_log_header(sc, ulog, install_folder, menu_folder, update_from=LABEL)
            check_files(sc, log_records(sc, ulog), install_folder, skip_kinds=("Sample",))
        check_registry(sc, install_folder, 1)
        check_temp_clean(sc)


def scenario_unattended_newer():
    with Scenario("unattended_newer", INSTALLED) as sc:
        install_folder, _ = default_folders(sc)
        replace_product(sc, install_folder, "tessaline_7_8_22_2.exe")
        before = machine_state(sc)
        log = os.path.join(sc.folder, "unattended.log")
        code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 1638", code == 1638, code)
        check_unchanged(sc, before)
        lines = unattended_log(sc, log, 1638)
        head, tail = s("English", 1103, "\x00").split("\x00")
        sc.check("the newer version named", len(lines) == 3 and
                 lines[0] == "Run: newer version 7.8.22.2 installed; 7.8.22.1 is not installed over it"
                 and lines[1].startswith(head) and lines[1].endswith(tail), lines)


def refused_at_once(sc, options, code_wanted, reason):
    """A refusal that installs nothing and waits for nothing."""
    log = os.path.join(sc.folder, "unattended.log")
    code, took = run_unattended(sc, f"{options} /LOG={sc.prefix.windows(log)}")
    sc.check(f"exit code {code_wanted}", code == code_wanted, code)
    sc.check("at once", took < 30, f"{took:.1f} s")
    lines = unattended_log(sc, log, code_wanted)
    sc.check("the reason in the log", len(lines) == 2 and (reason is None or lines[0] == reason),
             lines)
    nothing_installed(sc, default_folders(sc)[0])


def scenario_unattended_second_installer():
    with Scenario("unattended_second_installer", TEMPLATE) as sc:
        first = sc.start()
        sc.must("the first installer's wizard", sc.wizard())
        refused_at_once(sc, "/S", 1618, None)
        sc.must("the first goes on", sc.wizard(["expect-enabled", NEXT, 1], ["post-click", EXIT]))
        sc.must("Yes ends", sc.robot(["box", s("English", 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(first)


def scenario_unattended_product_running():
    with Scenario("unattended_product_running", TEMPLATE) as sc:
        product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                                  {"NV_STANDIN_LIFETIME_MS": "120000"})
        sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
        refused_at_once(sc, "/S", 1618, s("English", 1127, "Tessaline"))
        sc.check("the product still runs", product.poll() is None, "")
        sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                                   ["wait-gone", 5000]))
        winenv.wait_exit(product, 20)


def scenario_unattended_corrupt():
    with Scenario("unattended_corrupt", TEMPLATE) as sc:
        make_broken_installer(sc)
        before = machine_state(sc)
        log = os.path.join(sc.folder, "unattended.log")
        code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}",
                                 exe="C:\\broken_installer.exe")
        sc.check("exit code 1603", code == 1603, code)
        check_unchanged(sc, before)
        check_temp_clean(sc)
        lines = unattended_log(sc, log, 1603)
        in_order(sc, "the failure with its code in the log", lines,
                 [banner(""), s("English", 1114) + s("English", 1012), s("English", 1133),
                  s("English", 1121, "4"), s("English", 1144, "1603")])


def scenario_unattended_bad_option():
    with Scenario("unattended_bad_option", TEMPLATE) as sc:
        before = machine_state(sc)
        log = os.path.join(sc.folder, "unattended.log")
        code, _ = run_unattended(sc, f"/S /SHORTCUTS=start /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 87", code == 87, code)
        lines = unattended_log(sc, log, 87)
        sc.check("the option named in the log", lines[:1] == [s("English", 1140, "/SHORTCUTS")],
                 lines)
        code, _ = run_unattended(sc, "/BOGUS /s")
        sc.check("exit code 87 without a log", code == 87, code)
        code, _ = run_unattended(sc, "/S /?")
        sc.check("help with /S: exit code 0", code == 0, code)
        check_unchanged(sc, before)
        # Without /S the refusal is a message box naming the option.
        process = sc.prefix.start([installer, "/D=Apps"], log=os.path.join(sc.folder, "box.log"))
        message = s("English", 1138, "/D")
        values = sc.must("the refusal's box", sc.robot(["box", message, 20000]))
        sc.check("the box's text", values[0][1] == message + "\r\n\r\n" + s("English", 1142),
                 values)
        sc.shot("en_box_bad_option", box=message)
        sc.must("OK ends", sc.robot(["box", message, 1000], ["post-click", IDOK],
                                    ["wait-gone", 5000]))
        sc.check("the installer ended with 0", winenv.wait_exit(process, 20) == 0, "")
        check_unchanged(sc, before)


# ---- the uninstaller's scenarios ----
UNINSTALLER = "C:\\Program Files\\Nuvelle\\Tessaline 7\\Uninstall.exe"
QUESTION, REMOVE_EXAMPLES, RESULT, HEADING, SUMMARY = 1030, 1031, 1016, 1033, 1035


def uninstaller_title(lang="English"):
    return s(lang, 1150) + " \u2013 " + LABEL


def fresh_state():
    """The machine before any installation: the template's files and keys."""
    if not FRESH:
        prefix = winenv.Prefix(TEMPLATE, os.path.join(work, "fresh_state"))
        probe = type("Probe", (), {"prefix": prefix})()
        FRESH.append((machine_state(probe), software_keys(prefix)))
        prefix.close()
    return FRESH[0]


def software_keys(prefix):
    """Every key and value below HKLM\\Software, one line each."""
    return prefix.run(["reg", "query", r"HKLM\Software", "/s"])[1].splitlines()


def kept_files(kinds):
    """File names of the payload that an uninstallation keeps: shared data, and examples unless
    they were removed."""
    return {e["name"] for e in PAYLOAD if e["kind"] in kinds}


def wait_gone(unix_path, timeout=30):
    """Waits until nothing is at `unix_path` any more; True when it went in time."""
    end = time.time() + timeout
    while os.path.exists(unix_path) and time.time() < end:
        time.sleep(0.2)
    return not os.path.exists(unix_path)


def wait_for_finisher(sc, timeout=30):
    """The finisher removes the uninstaller and the installation folder after the uninstaller
    has ended."""
    folder = sc.prefix.unix(UNINSTALLER.rsplit("\\", 1)[0])
    sc.check("the installation folder removed after the uninstaller ended",
             wait_gone(folder, timeout), os.listdir(folder) if os.path.exists(folder) else "")


def check_removed(sc, kept_names):
    """The machine as before the installation but for the kept files and the folders that hold
    them; the temporary folders (the finisher's copy waits there for a restart) and the product
    stand-in's record left out."""
    (before_files, before_keys), before_software = fresh_state()
    files, keys = machine_state(sc)
    temp = [os.path.relpath(t, os.path.join(sc.prefix.path, "drive_c")) for t in temp_folders(sc)]
    kept_paths = {p for p in files if os.path.basename(p) in kept_names}
    kept_folders = set()
    for path in kept_paths:
        folder = os.path.dirname(path)
        while folder:
            kept_folders.add(folder)
            folder = os.path.dirname(folder)
    ignored = lambda p: (any(p == t or p.startswith(t + os.sep) for t in temp) or  # noqa: E731
                         os.path.normpath(p) == "standin_record.txt")
    changed = sorted(p for p in set(files) ^ set(before_files)
                     if not ignored(p) and p not in kept_paths and p not in kept_folders)
    changed += sorted(p for p in set(files) & set(before_files)
                      if files[p] != before_files[p] and not ignored(p))
    sc.check("files as before the installation", not changed, changed[:12])
    sc.check("every kept file still there", {os.path.basename(p) for p in kept_paths} == kept_names,
             kept_paths)
    sc.check("registry as before the installation", keys == before_keys, keys)
    software = software_keys(sc.prefix)
    changed = [line for line in difflib.unified_diff(before_software, software, lineterm="", n=0)
               if line[:1] in "+-" and line[:3] not in ("+++", "---")]
    sc.check("HKLM\\Software as before the installation", not changed, changed[:12])
    record = open(sc.record, encoding="utf-8").read() if os.path.exists(sc.record) else ""
    main = win_join(default_folders(sc)[0], "Tessaline.exe")
    sc.check("the product unregistered itself",
             f'command line: "{main}" /Unregister /Background' in record, record)


def uninstall_wizard(sc, lang="English", remove_examples=False, shots=None):
    """Confirms the removal in the uninstaller's wizard, waits for its end page and exits."""
    process = sc.start(exe=UNINSTALLER)
    title = uninstaller_title(lang)
    sc.must("confirmation page", sc.robot(
        ["window", title, 30000], ["expect-text", QUESTION, s(lang, 1151, LABEL)],
        ["expect-visible", REMOVE_EXAMPLES, 1], ["expect-check", REMOVE_EXAMPLES, 0],
        ["expect-text", IDOK, s(lang, 1154)]))
    if remove_examples:
        sc.must("examples box checked", sc.robot(["window", title, 1000],
                                                 ["click", REMOVE_EXAMPLES],
                                                 ["expect-check", REMOVE_EXAMPLES, 1]))
    if shots:
        sc.shot(shots + "_uninstall_confirm", title=title)
    sc.must("Remove pressed", sc.robot(["window", title, 1000], ["post-click", IDOK]))
    values = sc.must("removal ran", sc.robot(
        ["window", title, 1000], ["wait-text", IDOK, s(lang, 1004), 120000],
        ["text", RESULT], ["text", SUMMARY]))
    if shots:
        sc.shot(shots + "_uninstall_end", title=title)
    sc.check("the end page says the removal is complete", texts(values)[0] == s(lang, 1170),
             values)
    sc.must("Exit ends", sc.robot(["window", title, 1000], ["post-click", IDOK],
                                  ["wait-gone", 10000]))
    sc.check("the uninstaller ended with 0", winenv.wait_exit(process, 30) == 0, "")
    wait_for_finisher(sc)
    return texts(values)[1].split("\r\n")


def run_uninstaller(sc, options):
    return run_unattended(sc, options, exe=UNINSTALLER)


def scenario_uninstall_wizard():
    with Scenario("uninstall_wizard", INSTALLED) as sc:
        summary = uninstall_wizard(sc, shots="en")
        check_removed(sc, kept_files(("SharedData", "Sample")))
        for e in PAYLOAD:
            if e["kind"] == "SharedData":
                sc.check(f"{e['name']} listed as kept", any(
                    l.startswith(s("English", 1166, "\x00").split("\x00")[0]) and e["name"] in l
                    for l in summary), summary)


def scenario_uninstall_update_examples():
    """An update on top of an older version merges the logs; the wizard then removes the
    examples too."""
    with Scenario("uninstall_update_examples", INSTALLED) as sc:
        replace_product(sc, default_folders(sc)[0], "tessaline_7_8_21_9.exe")
        code, _ = run_unattended(sc, "/S")
        sc.check("the update installed", code == 0, code)
        uninstall_wizard(sc, remove_examples=True)
        check_removed(sc, kept_files(("SharedData",)))


def scenario_uninstall_unattended():
    with Scenario("uninstall_unattended", INSTALLED) as sc:
        log = os.path.join(sc.folder, "uninstall.log")
        code, _ = run_uninstaller(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 0", code == 0, code)
        wait_for_finisher(sc)
        check_removed(sc, kept_files(("SharedData", "Sample")))
        lines = unattended_log(sc, log, 0)
        # Every line names its object and ends with its outcome; the uninstall key goes last,
        # and what the finisher removes is said to go once the uninstaller has ended.
        machine = "HKEY_LOCAL_MACHINE\\"
        in_order(sc, "the removal in the log", lines,
                 ["Run: removal of " + LABEL, s("English", 1180, LABEL),
                  s("English", 1160, "Tessaline") + s("English", 1161, "Tessaline", "0"),
                  s("English", 1159, machine + "Software\\Nuvelle\\Tessaline 7 Path") +
                  s("English", 1011),
                  s("English", 1159, machine + UNINSTALL_KEY[5:]) + s("English", 1011),
                  s("English", 1187, UNINSTALLER), s("English", 1170), s("English", 1144, "0")])
        sc.check("every caption has its outcome",
                 all(not l.endswith("...") for l in lines), [l for l in lines if l.endswith("...")])


def scenario_uninstall_tampered_log():
    """Records that name a system file, a file of another folder and a path with ".." are
    refused; the files stay, and so do the uninstall key, the log and the uninstaller, so that
    the removal can be started again: with the log as the installer wrote it, it completes."""
    with Scenario("uninstall_tampered_log", INSTALLED) as sc:
        install_folder = default_folders(sc)[0]
        victims = ["C:\\windows\\system32\\notepad.exe", "C:\\Other\\keep.txt",
                   "C:\\Program Files\\Common Files\\keep2.txt"]
        recorded = victims[:2] + [win_join(install_folder, "..\\..\\Common Files\\keep2.txt")]
        for path in victims[1:]:
            os.makedirs(os.path.dirname(sc.prefix.unix(path)), exist_ok=True)
            open(sc.prefix.unix(path), "w").write("not Tessaline's")
        sc.check("the system file exists", os.path.exists(sc.prefix.unix(victims[0])), "")
        log_file = sc.prefix.unix(win_join(install_folder, "Uninstall.ulog"))
        original, mode = open(log_file, "rb").read(), os.stat(log_file).st_mode
        text = original[2:].decode("utf-16-le")
        count = len(text.split("\r\n")) - 1 - 6
        text += "".join(f"{count + i:04d}:0101:1 -- {p}\r\n" for i, p in enumerate(recorded))
        os.chmod(log_file, 0o644)
        open(log_file, "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
        log = os.path.join(sc.folder, "uninstall.log")
        code, _ = run_uninstaller(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 1603", code == 1603, code)
        for path in victims:
            sc.check(f"{path} untouched", os.path.exists(sc.prefix.unix(path)), path)
        lines = unattended_log(sc, log, 1603)
        for path, text_id in zip(recorded, (1162, 1162, 1163)):
            sc.check(f"{path} refused in the log", s("English", text_id, path) in lines, lines)
        sc.check("the end names the first refusal", s("English", 1184, recorded[-1]) in lines,
                 lines)
        sc.check("the way back is said to stay", s("English", 1183) in lines, lines)
        sc.check("the uninstall key stays", sc.prefix.reg_query(UNINSTALL_KEY, "UninstallString"),
                 "")
        for path in (UNINSTALLER, win_join(install_folder, "Uninstall.ulog")):
            sc.check(f"{path} stays", os.path.exists(sc.prefix.unix(path)), path)
        sc.check("the program files went",
                 not os.path.exists(sc.prefix.unix(win_join(install_folder, "Tessaline.exe"))), "")

        open(log_file, "wb").write(original)
        os.chmod(log_file, mode)
        code, _ = run_uninstaller(sc, "/S")
        sc.check("started again with the installer's log: exit code 0", code == 0, code)
        wait_for_finisher(sc)
        sc.check("the uninstall key went", sc.prefix.reg_query(UNINSTALL_KEY, "UninstallString")
                 is None, "")


def scenario_uninstall_refusals():
    """The product running, a second uninstaller, a missing log: nothing is removed."""
    with Scenario("uninstall_refusals", INSTALLED) as sc:
        before = machine_state(sc)
        product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                                  {"NV_STANDIN_LIFETIME_MS": "120000"})
        sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
        code, _ = run_uninstaller(sc, "/S")
        sc.check("product running: exit code 1618", code == 1618, code)
        process = sc.start(exe=UNINSTALLER)
        message = s("English", 1175, "Tessaline")
        values = sc.must("the product-running box", sc.robot(["box", message[:25], 20000]))
        sc.check("its text", values[0][1] == message, values)
        sc.must("Retry asks again", sc.robot(["box", message[:25], 1000], ["post-click", IDRETRY],
                                             ["sleep", 500], ["box", message[:25], 5000],
                                             ["post-click", IDCANCEL], ["wait-gone", 5000]))
        sc.check("Cancel ends the uninstaller", winenv.wait_exit(process, 20) is not None, "")
        sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                                   ["wait-gone", 5000]))
        winenv.wait_exit(product, 20)

        first = sc.start(exe=UNINSTALLER)
        sc.must("the first uninstaller's window", sc.robot(["window", uninstaller_title(), 30000]))
        code, _ = run_uninstaller(sc, "/S")
        sc.check("second uninstaller: exit code 1618", code == 1618, code)
        sc.must("Cancel ends the first", sc.robot(["window", uninstaller_title(), 1000],
                                                  ["post-click", IDCANCEL], ["wait-gone", 5000]))
        # Wine hands the exit code on to Linux, which keeps its low eight bits: 1602 is 66.
        code = winenv.wait_exit(first, 20)
        sc.check("the first ended as cancelled", code == 1602 % 256, code)

        log_file = sc.prefix.unix(win_join(default_folders(sc)[0], "Uninstall.ulog"))
        # An installation in a folder that holds the system (an earlier installer's, or a log
        # moved there): refused up front, naming the reason, and nothing removed.
        system = "C:\\Program Files"
        copies = [sc.prefix.unix(win_join(system, n)) for n in ("Uninstall.exe", "Uninstall.ulog")]
        shutil.copy(sc.prefix.unix(UNINSTALLER), copies[0])
        text = open(log_file, "rb").read()[2:].decode("utf-16-le").replace(
            "// Install Path : " + default_folders(sc)[0] + "\r\n",
            "// Install Path : " + system + "\r\n")
        open(copies[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
        log = os.path.join(sc.folder, "system-folder.log")
        code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}",
                                 exe=win_join(system, "Uninstall.exe"))
        sc.check("a system folder's log: exit code 1603", code == 1603, code)
        expected = s("English", 1195, s("English", 1190, system))
        sc.check("the refusal names the reason", expected in unattended_log(sc, log, 1603),
                 expected)
        for copy in copies:
            os.chmod(copy, 0o644)
            os.remove(copy)

        # One character changed in a middle entry: the log is refused as a whole.
        original, mode = open(log_file, "rb").read(), os.stat(log_file).st_mode
        lines = original[2:].decode("utf-16-le").split("\r\n")
        middle = 6 + (len(lines) - 7) // 2
        lines[middle] = lines[middle].replace(":1 -- ", ":2 -- ", 1)
        os.chmod(log_file, 0o644)
        open(log_file, "wb").write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        log = os.path.join(sc.folder, "damaged-log.log")
        code, _ = run_uninstaller(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("a damaged log: exit code 1603", code == 1603, code)
        expected = s("English", 1173, win_join(default_folders(sc)[0], "Uninstall.ulog"))
        sc.check("the damaged log is named", expected in unattended_log(sc, log, 1603), expected)
        open(log_file, "wb").write(original)
        os.chmod(log_file, mode)

        os.rename(log_file, log_file + ".away")
        code, _ = run_uninstaller(sc, "/S")
        sc.check("log missing: exit code 1603", code == 1603, code)
        os.rename(log_file + ".away", log_file)
        check_unchanged(sc, before)


def hold_file(sc, path):
    """A program that holds `path` open, as a running product holds its libraries; returned once
    it holds it."""
    ready = os.path.join(sc.folder, "held")
    holder = sc.prefix.start([os.path.join(bin_dir, "payload_hold_file.exe"), path,
                              "file:" + sc.prefix.windows(ready)])
    end = time.time() + 20
    while not os.path.exists(ready) and time.time() < end:
        time.sleep(0.1)
    return holder


def uninstaller_copies(sc):
    """The finisher's copies of the uninstaller in the user's temporary folders."""
    return [os.path.join(root, name) for folder in temp_folders(sc)
            for root, _, names in os.walk(folder) for name in names
            if name.lower() == "uninstall.exe"]


def scenario_uninstall_in_use_then_reinstall():
    """A file in use is left for the restart; an installation made before the restart takes
    that deletion back, and the restart leaves the new installation whole."""
    with Scenario("uninstall_in_use_then_reinstall", INSTALLED) as sc:
        install_folder = default_folders(sc)[0]
        held = win_join(install_folder, "Lang", "Tessaline.de.dll")
        holder = hold_file(sc, held)
        code, _ = run_uninstaller(sc, "/S")
        sc.check("removed but for the file in use: exit code 3010", code == 3010, code)
        holder.kill()
        winenv.wait_exit(holder, 10)
        wait_gone(sc.prefix.unix(UNINSTALLER))  # the finisher's work, before the next run
        code, _ = run_unattended(sc, "/S")
        sc.check("installed again before the restart: exit code 0", code == 0, code)
        pending = sc.prefix.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                      "PendingFileRenameOperations")
        sc.check("no deletion of the installation is pending",
                 not pending or "Tessaline 7" not in pending[1], pending)
        sc.prefix.run(["wineboot", "-r"], timeout=120)
        for path in (held, win_join(install_folder, "Tessaline.exe"), UNINSTALLER,
                     win_join(install_folder, "Uninstall.ulog")):
            sc.check(f"{path} is there after the restart", os.path.exists(sc.prefix.unix(path)),
                     path)
        sc.check("the uninstall key is there after the restart",
                 sc.prefix.reg_query(UNINSTALL_KEY, "UninstallString"), "")


def scenario_uninstall_created_parent():
    """/D=C:\\Apps\\MyRel creates C:\\Apps: the removal takes it too, once it is empty, and a restart
    after the removal finds nothing of the uninstaller left in the temporary folder."""
    with Scenario("uninstall_created_parent", TEMPLATE) as sc:
        install_folder = "C:\\Apps\\MyRel"
        code, _ = run_unattended(sc, f"/S /D={install_folder}")
        sc.check("installed: exit code 0", code == 0, code)
        apps = sc.prefix.unix("C:\\Apps")
        keep = sc.prefix.unix("C:\\Tools")  # a folder the installation did not create
        os.makedirs(keep, exist_ok=True)
        code, _ = run_unattended(sc, "/S", exe=win_join(install_folder, "Uninstall.exe"))
        sc.check("removed: exit code 0", code == 0, code)
        sc.check("the created parent C:\\Apps is gone", wait_gone(apps),
                 os.listdir(apps) if os.path.exists(apps) else "")
        sc.check("C:\\Tools stays", os.path.isdir(keep), "")
        sc.prefix.run(["wineboot", "-r"], timeout=120)
        sc.check("no copy of the uninstaller is left after the restart",
                 not uninstaller_copies(sc), uninstaller_copies(sc))


def scenario_uninstall_file_in_use():
    """A file another program holds is removed at the restart; the exit code says so."""
    with Scenario("uninstall_file_in_use", INSTALLED) as sc:
        held = win_join(default_folders(sc)[0], "Lang", "Tessaline.de.dll")
        holder = hold_file(sc, held)
        log = os.path.join(sc.folder, "uninstall.log")
        code, _ = run_uninstaller(sc, f"/S /LOG={sc.prefix.windows(log)}")
        sc.check("exit code 3010", code == 3010, code)
        lines = unattended_log(sc, log, 3010)
        sc.check("the file named as removed at the restart", s("English", 1165, held) in lines,
                 lines)
        sc.check("the end says a restart completes it", s("English", 1171) in lines, lines)
        pending = sc.prefix.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                      "PendingFileRenameOperations")
        sc.check("the removal is pending", pending and "Tessaline.de.dll" in pending[1], pending)
        holder.kill()
        winenv.wait_exit(holder, 10)
        # The finisher removes the uninstaller; the folders that hold the held file go with it
        # at the restart.
        sc.check("the finisher removed the uninstaller", wait_gone(sc.prefix.unix(UNINSTALLER)),
                 UNINSTALLER)
        sc.prefix.run(["wineboot", "-r"], timeout=120)
        for path in (held, default_folders(sc)[0]):
            sc.check(f"{path} is gone after the restart", not os.path.exists(sc.prefix.unix(path)),
                     path)
        # The finisher's copy (read-only like the installed uninstaller) and its folder too.
        copies = uninstaller_copies(sc)
        sc.check("no copy of the uninstaller is left in the temporary folder after the restart",
                 not copies, copies)


# ---- the gallery: every screen in every installer language, each measured by the fit check ----
GALLERY_TAKEN = {}     # language -> screens taken
GALLERY_MISFITS = []   # one line per text that does not fit
GALLERY_MEASURED = []  # number of texts measured, per screen


class Gallery:
    """One language's walk through the screens: each is photographed and its texts measured."""

    def __init__(self, sc, lang, position, language_id):
        self.sc, self.lang, self.position = sc, lang, position
        # Start-up takes the stored language before the system's.
        sc.check("NvLanguage stored", sc.prefix.reg_add(UNINSTALL_KEY, "NvLanguage", "REG_DWORD",
                                                        language_id) == 0, "")
        self.folder = gallery.folder_of(screenshots, lang)
        os.makedirs(self.folder, exist_ok=True)
        GALLERY_TAKEN.setdefault(lang, set())

    def shot(self, screen, select, frame=True):
        """Screenshot and fit check of the window or box that `select` names."""
        sc = self.sc
        bmp = os.path.join(self.folder, gallery.file_name(screen) + ".bmp")
        ok, values, out = sc.robot(select, ["screenshot", sc.prefix.windows(bmp)], ["fit-check"])
        measured = gallery.measurements(values)
        if not sc.check(f"screenshot {screen}", os.path.exists(bmp), out) or \
                not sc.check(f"fit check of {screen} measured texts", measured, out):
            return
        if frame:
            colours = winenv.distinct_colours(bmp, 12, 40, 80, 150)
            sc.check(f"side picture painted in {screen}", colours >= 16, f"{colours} colours")
        gallery.bmp_to_png(bmp, os.path.join(self.folder, gallery.file_name(screen) + ".png"))
        os.remove(bmp)
        GALLERY_TAKEN[self.lang].add(screen)
        self.record(screen, measured)
        sc.check(f"fit check of {screen} ran", ok or any(not m[0] for m in measured), out)

    def record(self, screen, measured):
        GALLERY_MEASURED.append(len(measured))
        for m in measured:
            if not m[0]:
                line = gallery.describe(self.lang, screen, m)
                GALLERY_MISFITS.append(line)
                self.sc.check("text cut off", False, line)

    def other_texts(self, screen, control, variants, title=TITLE):
        """Texts that `control` of the screen shows only for a moment or after another outcome,
        each put into it and measured there."""
        for text in variants:
            ok, values, out = self.sc.robot(["window", title, 1000], ["set-text", control, text],
                                            ["fit-check"])
            measured = [m for m in gallery.measurements(values) if m[1] == control]
            if self.sc.check(f"{screen}: {text!r} measured", measured and measured[0][5] == text,
                             out):
                self.record(screen, measured)

    def page(self, screen, title=TITLE):
        self.shot(screen, ["window", title, 10000])

    def box(self, screen, text, answer=IDOK):
        """A message box: photographed, measured and answered."""
        self.shot(screen, ["box", text, 20000], frame=False)
        self.sc.must(f"{screen} answered", self.sc.robot(["box", text, 1000],
                                                         ["post-click", answer], ["wait-gone", 5000]))

    def leave_interrupted_run(self):
        """The journal of a run that was killed before it changed anything: the next start
        undoes it and says so."""
        journal = self.sc.prefix.unix(JOURNAL_FOLDER)
        os.makedirs(journal, exist_ok=True)
        with open(os.path.join(journal, "{6d2f0a6e-0000-4000-8000-000000000001}.journal"),
                  "w") as f:
            f.write("Nuvelle installation journal 2\n")

    def held_recovery(self, screen):
        """A killed run whose recovery must delete a file that a program holds: the start names
        the file and offers Retry and Cancel; Cancel ends it, and the machine is cleared after."""
        folder = r"C:\Program Files\Nuvelle\Tessaline 7"
        held = folder + r"\held.dat"
        os.makedirs(self.sc.prefix.unix(folder), exist_ok=True)
        with open(self.sc.prefix.unix(held), "w") as f:
            f.write("held")
        journal = self.sc.prefix.unix(JOURNAL_FOLDER)
        os.makedirs(journal, exist_ok=True)
        escaped = lambda text: text.replace("\\", "\\\\")  # noqa: E731
        bodies = ["0\tplaces\t" + escaped(folder) + "\t\t\t\t",
                  "1\trecord\t1\t-1\t-\t" + escaped(held) + "\t\t"]
        lines = "".join(f"{zlib.crc32(b.encode()):08x}\t{b}\n" for b in bodies)
        path = os.path.join(journal, "{6d2f0a6e-0000-4000-8000-000000000002}.journal")
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write("Nuvelle installation journal 2\n" + lines)
        ready = os.path.join(self.sc.folder, "held.ready")
        holder = self.sc.prefix.start([os.path.join(bin_dir, "payload_hold_file.exe"), held,
                                       "file:" + self.sc.prefix.windows(ready)])
        deadline = time.time() + 30
        while not os.path.exists(ready) and time.time() < deadline:
            time.sleep(0.1)
        self.refused_at_start(screen, s(self.lang, 1146, held, "")[:25], answer=IDCANCEL)
        holder.kill()
        holder.wait()
        shutil.rmtree(journal, ignore_errors=True)
        shutil.rmtree(self.sc.prefix.unix(r"C:\Program Files\Nuvelle"), ignore_errors=True)

    def start(self, *args, exe=None):
        # File names of other languages need a Unix locale that encodes them.
        return self.sc.prefix.start([exe or installer, *args], {"LC_ALL": "C.UTF-8"},
                                    log=os.path.join(self.sc.folder, "programs.log"))

    def refused_at_start(self, screen, text, *args, exe=None, answer=IDOK):
        """A program that refuses to start shows its box; `answer` ends it."""
        process = self.start(*args, exe=exe)
        self.box(screen, text, answer)
        self.sc.check(f"{screen}: the program ended", winenv.wait_exit(process, 20) is not None, "")


def gallery_wizard(g):
    """The fresh machine: the refusals at start-up, every page and box of the wizard, and the
    installation."""
    sc, lang = g.sc, g.lang
    if os.path.exists(NOT_ADMIN_INSTALLER):
        g.refused_at_start("box-not-administrator", s(lang, 1126)[:25], exe=NOT_ADMIN_INSTALLER)
    g.refused_at_start("box-bad-option", s(lang, 1138, "/D")[:25], "/D=Apps")
    g.refused_at_start("box-help", s(lang, 1143)[:20], "/?")
    g.held_recovery("box-recovery-held")

    product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                              {"NV_STANDIN_LIFETIME_MS": "120000"})
    sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
    g.leave_interrupted_run()
    process = g.start()
    g.box("box-interrupted-run", s(lang, 1145)[:25])
    close_product = s(lang, 1127, "Tessaline")[:25]
    g.shot("box-close-product", ["box", close_product, 20000], frame=False)
    sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                              ["wait-gone", 5000]))
    winenv.wait_exit(product, 20)
    sc.must("Retry continues", sc.robot(["box", close_product, 1000], ["post-click", IDRETRY]))
    sc.must("the wizard speaks the language", sc.wizard(["expect-text", 0, title_of(lang)]))
    g.page("start")
    if lang == "English":
        # The check itself fails for a text that its control cannot hold.
        long_text = s(lang, 1106, "Next") * 4
        ok, values, out = sc.wizard(["set-text", STATUS, long_text], ["fit-check"])
        cut = [m for m in gallery.measurements(values) if not m[0]]
        sc.check("the fit check lists a text that is too long", not ok and len(cut) == 1 and
                 cut[0][1] == STATUS and cut[0][5] == long_text and cut[0][3][1] > cut[0][4][1],
                 out)
        sc.must("status restored", sc.wizard(["set-text", STATUS, s(lang, 1106, "Next")]))

    second = g.start()
    g.box("box-busy", "")
    sc.check("the second installer ended", winenv.wait_exit(second, 20) is not None, "")
    about = s(lang, 1003, s(lang, 1000))
    sc.must("About from the system menu", sc.wizard(["sys-command", 16]))
    g.shot("about", ["window", about, 10000], frame=False)
    sc.must("About closed", sc.robot(["window", about, 1000], ["click", IDOK], ["wait-gone", 5000]))

    sc.must("choose Polish", sc.wizard(["select", LANGS, LIST["Polish"]]))
    g.box("box-language", s("English", 1129, "Tessaline")[:30])
    sc.must("back to the language", sc.wizard(["select", LANGS, g.position], ["no-box", 500],
                                              ["wait-text", 0, title_of(lang), 5000]))
    sc.must("Mode page", sc.wizard(["click", NEXT], ["expect-visible", QUICK, 1]))
    g.page("mode")
    values = sc.must("Folder page", sc.wizard(["click", ADVANCED], ["click", NEXT],
                                              ["text", FOLDER_EDIT]))
    folder = texts(values)[0]
    g.page("folder")
    sc.must("a folder text too long", sc.wizard(["set-text", FOLDER_EDIT, "C:\\" + "x" * 300],
                                                ["post-click", NEXT]))
    g.box("box-folder-too-long", "260")
    sc.must("Shortcut page", sc.wizard(["set-text", FOLDER_EDIT, folder], ["click", NEXT],
                                       ["expect-visible", DESKTOP, 1]))
    g.page("shortcut")
    sc.must("Cancel asks", sc.wizard(["post-click", EXIT]))
    g.box("box-exit", s(lang, 1110)[:20], answer=IDNO)
    sc.must("Progress page", sc.wizard(["click", NEXT], ["expect-visible", LOG, 1]))
    g.page("progress")
    # Exit takes its caption when the installation has succeeded, and is enabled right after.
    sc.must("installation", sc.wizard(["post-click", NEXT], ["wait-text", EXIT, s(lang, 1004), 90000],
                                      ["wait-enabled", EXIT, 1, 5000]))
    g.page("progress-done")
    # The status line's texts while the installation runs, and the failure with the longest code.
    g.other_texts("progress-done", STATUS, [s(lang, i) for i in (1114, 1117, 1118, 1119, 1131)] +
                  [s(lang, 1121, "1:80070005")])
    sc.must("End page", sc.wizard(["click", NEXT], ["expect-text", INFO, s(lang, 1120)]))
    g.page("end")
    sc.must("Exit", sc.wizard(["post-click", EXIT], ["wait-gone", 10000]))
    sc.finish(process)


def gallery_existing(g):
    """The Start page of a reinstallation, an update and a newer installation, and the locked
    Folder page."""
    sc, lang = g.sc, g.lang
    install_folder = default_folders(sc)[0]
    process = g.start()
    sc.must("reinstallation", sc.wizard(["expect-text", INFO, s(lang, 1102, LABEL)]))
    g.page("start-reinstall")
    sc.must("locked Folder page", sc.wizard(["click", NEXT], ["click", ADVANCED], ["click", NEXT],
                                            ["expect-enabled", BROWSE, 0]))
    g.page("folder-locked")
    sc.must("Cancel", sc.wizard(["post-click", EXIT]))
    sc.must("Yes", sc.robot(["box", s(lang, 1110)[:20], 10000], ["post-click", IDYES]))
    sc.finish(process)
    main = sc.prefix.unix(win_join(install_folder, "Tessaline.exe"))
    for standin, screen in (("tessaline_7_8_21_9.exe", "start-update"),
                            ("tessaline_7_8_22_2.exe", "start-newer")):
        replace_product(sc, install_folder, standin)
        process = g.start()
        sc.must(screen, sc.wizard(["expect-text", 0, title_of(lang)]))
        g.page(screen)
        sc.must("Exit", sc.wizard(["post-click", EXIT]))
        if screen == "start-update":
            sc.must("Yes", sc.robot(["box", s(lang, 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)
    shutil.copyfile(os.path.join(bin_dir, "Tessaline.exe"), main)
    os.chmod(main, 0o444)


def gallery_uninstaller(g):
    """The uninstaller's boxes and pages, and the removal."""
    sc, lang = g.sc, g.lang
    title = uninstaller_title(lang)
    product = sc.prefix.start([os.path.join(bin_dir, "Tessaline.exe")],
                              {"NV_STANDIN_LIFETIME_MS": "120000"})
    sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
    g.refused_at_start("uninstall-box-close-product", s(lang, 1175, "Tessaline")[:25],
                       exe=UNINSTALLER, answer=IDCANCEL)
    sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                              ["wait-gone", 5000]))
    winenv.wait_exit(product, 20)
    g.refused_at_start("uninstall-box-help", s(lang, 1178)[:20], "/?", exe=UNINSTALLER)
    g.refused_at_start("uninstall-box-bad-option", s(lang, 1177)[:20], "/X", exe=UNINSTALLER)
    if os.path.exists(NOT_ADMIN_UNINSTALLER):
        g.refused_at_start("uninstall-box-not-administrator", s(lang, 1174, "Tessaline")[:25],
                           exe=NOT_ADMIN_UNINSTALLER)
    # A copy of the uninstaller with no log beside it.
    stray = "C:\\Gallery\\Uninstall.exe"
    os.makedirs(os.path.dirname(sc.prefix.unix(stray)), exist_ok=True)
    shutil.copyfile(sc.prefix.unix(UNINSTALLER), sc.prefix.unix(stray))
    g.refused_at_start("uninstall-box-missing-log",
                       s(lang, 1173, "C:\\Gallery\\Uninstall.ulog")[:25], exe=stray)

    g.leave_interrupted_run()
    process = g.start(exe=UNINSTALLER)
    g.box("uninstall-box-interrupted-run", s(lang, 1145)[:25])
    sc.must("confirmation page", sc.robot(["window", title, 30000], ["click", REMOVE_EXAMPLES],
                                          ["expect-check", REMOVE_EXAMPLES, 1]))
    g.page("uninstall-confirm", title)
    sc.must("removal", sc.robot(["window", title, 1000], ["post-click", IDOK],
                                ["wait-text", IDOK, s(lang, 1004), 90000],
                                ["expect-text", RESULT, s(lang, 1170)]))
    g.page("uninstall-end", title)
    g.other_texts("uninstall-end", RESULT, [
        s(lang, 1171), s(lang, 1172, "C:\\Program Files\\Nuvelle\\Tessaline 7\\Tessaline.exe"),
        s(lang, 1184, "C:\\Program Files\\Nuvelle\\Tessaline 7\\Tessaline.exe"), s(lang, 1188)],
        title)
    # The removal page as the removal left it: shown again in place of the end page.
    sc.must("removal page shown", sc.robot(["window", title, 1000], ["show-page", SUMMARY, 0],
                                           ["show-page", HEADING, 1], ["expect-visible", HEADING, 1],
                                           ["expect-visible", SUMMARY, 0]))
    g.page("uninstall-removal", title)
    g.other_texts("uninstall-removal", STATUS, [s(lang, 1159), s(lang, 1160, "Tessaline")], title)
    sc.must("Exit", sc.robot(["window", title, 1000], ["show-page", HEADING, 0],
                             ["show-page", SUMMARY, 1], ["post-click", IDOK], ["wait-gone", 10000]))
    sc.check("the uninstaller ended", winenv.wait_exit(process, 30) is not None, "")


def gallery_failed(g):
    """The Progress page of an installation that failed (a damaged payload)."""
    sc, lang = g.sc, g.lang
    process = g.start(exe=make_broken_installer(sc, sc.folder))
    sc.must("quick", sc.wizard(["click", NEXT], ["click", NEXT], ["post-click", NEXT],
                               ["wait-text", STATUS, s(lang, 1121, "4"), 90000],
                               ["wait-enabled", EXIT, 1, 5000]))
    g.page("progress-failed")
    sc.must("Exit asks", sc.wizard(["post-click", EXIT]))
    sc.must("Yes", sc.robot(["box", s(lang, 1110)[:20], 10000], ["post-click", IDYES]))
    sc.finish(process)


def scenario_gallery(lang, position, language_id):
    with Scenario("gallery_" + lang.lower(), TEMPLATE) as sc:
        g = Gallery(sc, lang, position, language_id)
        # The removal takes the stored language with it: the failed installation comes first.
        gallery_failed(g)
        gallery_wizard(g)
        gallery_existing(g)
        gallery_uninstaller(g)


GALLERY = [("gallery_" + lang.lower(),
            (lambda lang=lang, position=position, language_id=language_id:
             scenario_gallery(lang, position, language_id)))
           for lang, position, language_id in gallery.LANGUAGES]


UNINSTALL = [
    ("uninstall_wizard", scenario_uninstall_wizard),
    ("uninstall_update_examples", scenario_uninstall_update_examples),
    ("uninstall_unattended", scenario_uninstall_unattended),
    ("uninstall_tampered_log", scenario_uninstall_tampered_log),
    ("uninstall_refusals", scenario_uninstall_refusals),
    ("uninstall_file_in_use", scenario_uninstall_file_in_use),
    ("uninstall_created_parent", scenario_uninstall_created_parent),
    ("uninstall_in_use_then_reinstall", scenario_uninstall_in_use_then_reinstall),
]
FRESH = []


def make_release(sc):
    """The release steps of the README on a changed payload: payload pack, payload embed into the
    built installer, scripts/sign.sh with the throw-away test certificate. Returns the signed
    installer and the new payload's entries."""
    folder = os.path.join(sc.folder, "release")
    shutil.copytree(payload_dir, folder)
    # One language library with other bytes, one material fewer, one new.
    with open(os.path.join(folder, "files", "Tessaline.fr.dll"), "wb") as f:
        f.write(b"French resources of the release\r\n" * 300)
    with open(os.path.join(folder, "files", "Glass.mat"), "wb") as f:
        f.write(b"a material only the release has\r\n" * 40)
    manifest = os.path.join(folder, "payload.manifest")
    lines = [line for line in open(manifest, encoding="utf-8").read().splitlines()
             if not line.endswith("files/Wood.mat")]
    lines.append("SharedData\t<CommonData>\\Nuvelle\\Materials\tfiles/Glass.mat")
    with open(manifest, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    win = sc.prefix.windows
    payload_exe = os.path.join(bin_dir, "payload.exe")
    archive, unsigned = os.path.join(folder, "p.bz2"), os.path.join(folder, "unsigned.exe")
    for args in (["pack", win(manifest), win(archive)],
                 ["embed", win(installer), win(archive), win(unsigned)]):
        code, out = sc.prefix.run([payload_exe, *args])
        if not sc.check(f"payload {args[0]}", code == 0, out):
            raise ScenarioFailed(f"payload {args[0]}: {out}")
    certificate = os.path.join(os.path.dirname(work), "test-certificate")
    signed = os.path.join(folder, "InstallTessaline7.08v.exe")
    env = dict(os.environ, NV_SIGN_PKCS12=os.path.join(certificate, "signer.p12"),
               NV_SIGN_PASSWORD="test")
    for step, command in (
            ("test certificate", ["bash", SIGN_SH, "--test-certificate", certificate]),
            ("signing", ["bash", SIGN_SH, unsigned, signed]),
            ("signature verified", ["osslsigncode", "verify", "-CAfile",
                                    os.path.join(certificate, "ca.pem"), "-in", signed])):
        r = subprocess.run(command, env=env, capture_output=True, text=True)
        if not sc.check(step, r.returncode == 0, r.stdout + r.stderr):
            raise ScenarioFailed(step)
    return win(signed), read_payload(folder)


def scenario_unattended_release():
    """A release's installer, signed, with a changed payload installs that payload. A copy of it
    with one byte of the archive flipped (its recorded digest kept) fails at "Preparing
    Installation..." with code 4 and changes nothing."""
    with Scenario("unattended_release", TEMPLATE) as sc:
        exe, payload = make_release(sc)
        archive = bytearray(open(os.path.join(sc.folder, "release", "p.bz2"), "rb").read())
        archive[len(archive) // 3] ^= 0x01
        damaged = os.path.join(sc.folder, "release", "flipped.bz2")
        with open(damaged, "wb") as f:
            f.write(archive)
        broken = os.path.join(sc.prefix.path, "drive_c", "flipped_release.exe")
        shutil.copyfile(os.path.join(sc.folder, "release", "InstallTessaline7.08v.exe"), broken)
        sc.must("payload replaced, digest kept", sc.robot(
            ["set-resource", sc.prefix.windows(broken), 260, 134, sc.prefix.windows(damaged)]))
        before = machine_state(sc)
        log = os.path.join(sc.folder, "flipped.log")
        code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}",
                                 exe="C:\\flipped_release.exe")
        sc.check("one flipped byte: exit code 1603", code == 1603, code)
        check_unchanged(sc, before)
        check_temp_clean(sc)
        os.remove(broken)
        in_order(sc, "the failure at its first step", unattended_log(sc, log, 1603),
                 [s("English", 1114) + s("English", 1012), s("English", 1133),
                  s("English", 1121, "4")])
        code, _ = run_unattended(sc, "/S", exe=exe)
        sc.check("exit code 0", code == 0, code)
        install_folder, menu_folder = default_folders(sc)
        check_fresh_machine(sc, install_folder, menu_folder, payload=payload)
        drive = os.path.join(sc.prefix.path, "drive_c")
        dropped = [os.path.join(d, n) for d, _, names in os.walk(drive) for n in names
                   if n == "Wood.mat"]
        sc.check("the file the release dropped is not installed", not dropped, dropped)


UNATTENDED = [
    ("unattended_fresh", scenario_unattended_fresh),
    ("unattended_options", scenario_unattended_options),
    ("unattended_reinstall", scenario_unattended_reinstall),
    ("unattended_update", scenario_unattended_update),
    ("unattended_newer", scenario_unattended_newer),
    ("unattended_second_installer", scenario_unattended_second_installer),
    ("unattended_product_running", scenario_unattended_product_running),
    ("unattended_corrupt", scenario_unattended_corrupt),
    ("unattended_bad_option", scenario_unattended_bad_option),
    ("unattended_release", scenario_unattended_release),
]

SCENARIOS = [
    ("quick", scenario_quick),
    ("advanced_french", scenario_advanced_french),
    ("reinstall", scenario_reinstall),
    ("update", scenario_update),
    ("newer", scenario_newer),
    ("second_installer", scenario_second_installer),
    ("product_running", scenario_product_running),
    ("languages", scenario_languages),
    ("stored_dutch", scenario_stored_dutch),
    ("cancel", scenario_cancel),
    ("failed", scenario_failed),
    ("not_administrator", scenario_not_administrator),
]
# Wine reports every user as an administrator; a test build of the installer with the support
# library's membership hook stands in for a user without those rights.
NOT_ADMIN_INSTALLER = os.environ.get("NV_E2E_NOT_ADMIN_INSTALLER", "")
NOT_ADMIN_UNINSTALLER = os.environ.get("NV_E2E_NOT_ADMIN_UNINSTALLER", "")
NOT_RUN = {}
SIGN_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign.sh")
if not shutil.which("osslsigncode"):
    NOT_RUN["unattended_release"] = "osslsigncode is not installed (scripts/bootstrap.sh)"
if not os.path.exists(NOT_ADMIN_INSTALLER):
    NOT_RUN["not_administrator"] = "the test build installer_not_admin.exe is missing"

# One template per build folder, shared with the robot tests.
TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(work)), "template")
INSTALLED = os.path.join(work, "installed")
NEEDS_INSTALLATION = ("reinstall", "update", "newer", "unattended_reinstall", "unattended_update",
                      "unattended_newer") + tuple(name for name, _ in UNINSTALL)
# Without names the wizard's scenarios run; "unattended" names all the unattended ones.
if "unattended" in only:
    only.discard("unattended")
    only.update(name for name, _ in UNATTENDED)
if "uninstall" in only:
    only.discard("uninstall")
    only.update(name for name, _ in UNINSTALL)
if "gallery" in only:
    only.discard("gallery")
    only.update(name for name, _ in GALLERY)
# Half of the gallery's languages go to a second process with its own X display (each window is
# photographed from the screen, so two programs must not share one), when xvfb-run is there.
gallery_part = None
named = [name for name, _ in GALLERY if name in only]
if GALLERY_PART is None and len(named) > 1 and shutil.which("xvfb-run"):
    handed = named[len(named) // 2:]
    only.difference_update(handed)
    os.makedirs(work, exist_ok=True)
    part_results = os.path.join(work, "gallery-part.json")
    part_log = open(os.path.join(work, "gallery-part.log"), "w")
    winenv.ensure_template(TEMPLATE)
    gallery_part = subprocess.Popen(
        ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable, os.path.abspath(__file__),
         *sys.argv[1:8], "gallery-part", part_results, *handed],
        stdin=subprocess.DEVNULL, stdout=part_log, stderr=subprocess.STDOUT,
        start_new_session=True)
if only & set(NEEDS_INSTALLATION):
    only.add("quick")
winenv.ensure_template(TEMPLATE)
if GALLERY_PART is None:
    shutil.rmtree(INSTALLED, ignore_errors=True)
os.makedirs(screenshots, exist_ok=True)
started = time.time()
GROUPS = UNATTENDED + UNINSTALL + GALLERY
for name, scenario in SCENARIOS + GROUPS:
    if (only and name not in only) or (not only and (name, scenario) in GROUPS) or name in NOT_RUN:
        continue
    if name in NEEDS_INSTALLATION and not os.path.isdir(INSTALLED):
        print(f"scenario {name}: NOT RUN (needs the state of a successful quick installation)")
        failures.append(f"{name}: not run, the quick installation failed")
        continue
    t0 = time.time()
    print(f"scenario {name} ...", flush=True)
    current.clear()
    try:
        scenario()
    except ScenarioFailed as e:
        print(f"  stopped: {e}")
    except Exception as e:  # a broken scenario must not hide the others
        print(f"  error: {e!r}")
        failures.append(f"{name}: {e!r}")
    sc = current[0] if current else None
    if sc and sc.errors:
        failures.extend(f"{name}: {e}" for e in sc.errors)
        print("\n".join(sc.robot.transcript[-12:]))
    passed = sc is not None and not sc.errors and not any(f.startswith(name + ":") for f in failures)
    print(f"scenario {name}: {'passed' if passed else 'FAILED'} ({time.time() - t0:.1f} s)",
          flush=True)
if GALLERY_PART is not None:
    with open(GALLERY_PART, "w", encoding="utf-8") as f:
        json.dump({"taken": {k: sorted(v) for k, v in GALLERY_TAKEN.items()},
                   "misfits": GALLERY_MISFITS, "measured": GALLERY_MEASURED,
                   "failures": failures}, f)
    sys.exit(1 if failures else 0)
if gallery_part is not None:
    try:
        code = gallery_part.wait(timeout=max(60, 780 - (time.time() - started)))
    except subprocess.TimeoutExpired:
        os.killpg(gallery_part.pid, signal.SIGKILL)
        code = gallery_part.wait()
        failures.append("the gallery's second process did not end in time")
    part_log.close()
    print(open(part_log.name, encoding="utf-8", errors="replace").read(), end="")
    try:
        with open(part_results, encoding="utf-8") as f:
            part = json.load(f)
        for lang, screens in part["taken"].items():
            GALLERY_TAKEN.setdefault(lang, set()).update(screens)
        GALLERY_MISFITS.extend(part["misfits"])
        GALLERY_MEASURED.extend(part["measured"])
        failures.extend(part["failures"])
    except (OSError, ValueError, KeyError) as e:
        failures.append(f"the gallery's second process (exit code {code}) left no results: {e!r}")
shutil.rmtree(INSTALLED, ignore_errors=True)
for name, reason in NOT_RUN.items():
    if not only or name in only:
        print(f"scenario {name}: SKIPPED ({reason})")
if GALLERY_TAKEN:
    count = gallery.write_index(screenshots, GALLERY_TAKEN, GALLERY_MISFITS, sum(GALLERY_MEASURED))
    print(f"gallery: {count} screens in {len(GALLERY_TAKEN)} languages, "
          f"{os.path.join(screenshots, 'index.html')}; the fit check measured "
          f"{sum(GALLERY_MEASURED)} texts, {len(GALLERY_MISFITS)} cut off")
    print("\n".join(GALLERY_MISFITS))
print(f"total {time.time() - started:.1f} s")
if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all scenarios passed")
