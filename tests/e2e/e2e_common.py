"""What every scenario group of the end-to-end script shares: the run's configuration (`cfg`,
filled once from the command line by installer_e2e_test.py), the installer's names and control
IDs, its localized strings (`s`), the demo payload, the Scenario with its robot calls, and the
runs several groups make (an unattended run, a replaced product, a damaged installer)."""
import os
import re
import shutil
import time
import zlib

import winenv


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
# The uninstaller of the default installation and the controls of its pages.
UNINSTALLER = "C:\\Program Files\\Nuvelle\\Tessaline 7\\Uninstall.exe"
QUESTION, REMOVE_EXAMPLES, RESULT, HEADING, SUMMARY = 1030, 1031, 1016, 1033, 1035
# Wine reports every user as an administrator; a test build of the installer with the support
# library's membership hook stands in for a user without those rights.
NOT_ADMIN_INSTALLER = os.environ.get("NV_E2E_NOT_ADMIN_INSTALLER", "")
NOT_ADMIN_UNINSTALLER = os.environ.get("NV_E2E_NOT_ADMIN_UNINSTALLER", "")


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


def s(lang, base, *inserts):
    text = cfg.strings[lang][base]
    # An untranslated message falls back to English, then to French.
    if text == "#":
        text = cfg.strings["English"][base]
    if text == "#":
        text = cfg.strings["French"][base]
    for i, insert in enumerate(inserts, 1):
        text = text.replace(f"%{i}", insert)
    return text


def title_of(lang):
    return s(lang, 1000) + " \u2013 " + LABEL


def uninstaller_title(lang="English"):
    return s(lang, 1150) + " \u2013 " + LABEL


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


KIND_CODE = {"LanguageLibrary": 0, "MainProgram": 1, "Uninstaller": 2, "SharedData": 3,
             "Sample": 4}


class Config:
    """The run's paths, from the command line, and what is read from them. The entry script
    fills `cfg` once, before any scenario runs; the scenarios read it."""

    def set_paths(self, paths):
        """INSTALLER ROBOT BIN_DIR PAYLOAD_DIR STRINGS_RC WORK SCREENSHOTS, as given."""
        (self.installer, self.robot_exe, self.bin_dir, self.payload_dir, self.strings_rc,
         self.work, self.screenshots) = map(os.path.abspath, paths)
        # One template per build folder, shared with the robot tests.
        self.template = os.path.join(os.path.dirname(self.work), "template")
        # The machine that the fresh quick installation left behind.
        self.installed = os.path.join(self.work, "installed")

    def load(self):
        """The installer's string tables and the demo payload's entries."""
        self.strings = read_strings(self.strings_rc)
        self.payload = read_payload(self.payload_dir)


cfg = Config()
current = []  # the scenario being run, for the report when it stops early


class ScenarioFailed(Exception):
    pass


class Scenario:
    def __init__(self, name, template):
        self.name = name
        self.folder = os.path.join(cfg.work, name)
        self.prefix = winenv.Prefix(template, self.folder)
        self.robot = winenv.Robot(self.prefix, cfg.robot_exe)
        self.errors = []
        self.record = os.path.join(self.prefix.path, "drive_c", "standin_record.txt")
        self.installer = cfg.installer
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
        os.makedirs(cfg.screenshots, exist_ok=True)
        bmp = os.path.join(cfg.screenshots, picture + ".bmp")
        select = ["box", box, 10000] if box is not None else ["window", title, 10000]
        ok, _, out = self.robot(select, ["screenshot", self.prefix.windows(bmp)])
        if self.check(f"screenshot {picture}", ok, out):
            if box is None:
                # Every page shows the side picture: a painted one has many colours, an empty
                # panel one or two.
                colours = winenv.distinct_colours(bmp, 12, 40, 80, 150)
                self.check(f"side picture painted in {picture}", colours >= 16,
                           f"{colours} colours")
            winenv.to_png(bmp, os.path.join(cfg.screenshots, picture + ".png"))

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


# ---- the scenario's machine: its folders, a replaced product, a damaged installer ----
def win_join(*parts):
    return "\\".join(p.rstrip("\\") for p in parts)


def default_folders(sc):
    program_files = "C:\\Program Files"
    menu_root = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
    return win_join(program_files, "Nuvelle", "Tessaline 7"), win_join(menu_root, "Nuvelle",
                                                                      "Tessaline 7")


def replace_product(sc, install_folder, standin):
    main = sc.prefix.unix(win_join(install_folder, "Tessaline.exe"))
    os.chmod(main, 0o755)
    shutil.copyfile(os.path.join(cfg.bin_dir, standin), main)


def make_broken_installer(sc, folder=None):
    """broken_installer.exe in `folder` (C:\\ of the scenario's machine when none): a copy of the
    installer whose payload has 64 damaged bytes. Returns its Windows path."""
    folder = folder or os.path.join(sc.prefix.path, "drive_c")
    exe, damaged = (os.path.join(folder, n) for n in ("broken_installer.exe", "broken_payload.bin"))
    shutil.copyfile(cfg.installer, exe)
    data = bytearray(open(os.path.join(cfg.payload_dir, "payload.bz2"), "rb").read())
    for i in range(len(data) // 2, len(data) // 2 + 64):
        data[i] ^= 0x5A
    with open(damaged, "wb") as f:
        f.write(data)
    sc.must("payload replaced", sc.robot(["set-resource", sc.prefix.windows(exe), 260, 134,
                                          sc.prefix.windows(damaged)]))
    return sc.prefix.windows(exe)


# ---- unattended runs ----
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
