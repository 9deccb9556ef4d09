"""Wine prefixes and the robot for the end-to-end tests.

One template prefix per build folder is created once (inside the test's X display, with the
X11 driver's unmanaged-window setting), and beside it, when a test asks for one, a template per
display scale (a copy whose registry sets the DPI); every scenario works in a copy of one of them
(`cp -a`), with its own wineserver, so that no state leaks from one scenario into the next. Programs started here
never get a pipe as their output: Wine's helper processes inherit the streams of the program
that starts a session and outlive it, so output goes through files."""
import fcntl
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import zlib

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
# 32-bit Wine, or 64-bit Wine (with "wine" and "wineboot" from scripts/wine64) on a machine that
# runs 64-bit code only: scripts/wine-arch decides, as for every other test.
WINE_ARCH = subprocess.run([os.path.join(SCRIPTS, "wine-arch")], capture_output=True,
                           text=True, check=True).stdout.strip()
# A program that fails to start ends within this many seconds.
QUICK_END = 5.0
BASE_ENV = {"WINEARCH": WINE_ARCH, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def wine_env(prefix, extra=None):
    env = dict(os.environ)
    env.update(BASE_ENV)
    if WINE_ARCH == "win64":
        env["PATH"] = os.path.join(os.path.abspath(SCRIPTS), "wine64") + os.pathsep + env["PATH"]
    env["WINEPREFIX"] = prefix
    if extra:
        env.update(extra)
    return env


def _quiet(args, env, timeout=300):
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


# The DPI of a display at 100 %.
BASE_DPI = 96


def template_at(template, dpi):
    """The template prefix whose display has `dpi` (the template itself at 96)."""
    return template if dpi == BASE_DPI else f"{template}-{dpi}dpi"


def ensure_template(template, dpi=BASE_DPI):
    """Creates the template prefix once (guarded by a lock file beside it); with another `dpi`,
    the template at that DPI beside it: a copy of the first whose programs see a display of that
    many dots per inch (Wine takes it from the registry's LogPixels)."""
    path = template_at(template, dpi)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if dpi != BASE_DPI:
        ensure_template(template)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(path, ".e2e-ready")):
            return path
        shutil.rmtree(path, ignore_errors=True)
        env = wine_env(path)
        _quiet(["wineserver", "-k"], env)
        if dpi == BASE_DPI:
            _quiet(["wineboot", "-i"], env, timeout=600)
            _quiet(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                    "/t", "REG_SZ", "/d", "N", "/f"], env)
        else:
            subprocess.run(["cp", "-a", template, path], check=True)
            os.remove(os.path.join(path, ".e2e-ready"))
            _quiet(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                    "/t", "REG_DWORD", "/d", str(dpi), "/f"], env)
        _quiet(["wineserver", "-w"], env, timeout=120)
        open(os.path.join(path, ".e2e-ready"), "w").close()
    return path


class Prefix:
    """A fresh copy of the template with its own wineserver for one scenario."""

    def __init__(self, template, folder):
        self.folder = folder
        self.path = os.path.join(folder, "prefix")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        subprocess.run(["cp", "-a", template, self.path], check=True)
        self.processes = []
        self.env = wine_env(self.path)
        # A server that stays a few seconds after its last client; the first program then
        # creates the desktop on the test's display.
        _quiet(["wineserver", "-p5"], self.env)
        _quiet(["wine", "cmd", "/c", "exit"], self.env, timeout=120)
        self.user = self._user_name()

    def _user_name(self):
        users = os.path.join(self.path, "drive_c", "users")
        names = [n for n in os.listdir(users) if n.lower() != "public"]
        return names[0]

    def unix(self, windows_path):
        """The unix path of a C: path in this prefix."""
        assert windows_path[1:3] == ":\\", windows_path
        rest = windows_path[3:].replace("\\", "/")
        path = os.path.join(self.path, "drive_c")
        # Case-insensitive walk, as Windows resolves names.
        for part in [p for p in rest.split("/") if p]:
            try:
                match = next((n for n in os.listdir(path) if n.lower() == part.lower()), part)
            except (FileNotFoundError, NotADirectoryError):
                match = part
            path = os.path.join(path, match)
        return path

    def windows(self, unix_path):
        """The Windows path of a unix path: on C: inside the prefix, else on Z:."""
        unix_path = os.path.abspath(unix_path)
        drive = os.path.join(self.path, "drive_c")
        if unix_path.startswith(drive + os.sep):
            return "C:\\" + os.path.relpath(unix_path, drive).replace("/", "\\")
        return "Z:" + unix_path.replace("/", "\\")

    def start(self, args, extra_env=None, log=None):
        """Starts a Windows program in the background; its output goes to `log`."""
        p = Started(args, wine_env(self.path, extra_env), log)
        self.processes.append(p)
        return p

    def restart_unstarted(self, since):
        """Wine now and then fails to start a program: it ends before running any of its own
        code. The program started last, when it has ended though nothing has seen or awaited it
        since its start (no robot run succeeded after `since`), is started again, once; a line
        for the output says so, empty when nothing was restarted."""
        if not self.processes:
            return ""
        p = self.processes[-1]
        if p.restarted or p.awaited or p.started < since or p.poll() is None or \
                p.ended is None or p.ended - p.started > QUICK_END:
            return ""
        note = (f"({os.path.basename(p.args[0])} ended with {p.returncode} before anything saw "
                f"it{p.output_tail()}; started again)\n")
        p.restart()
        return note

    def run(self, args, extra_env=None, timeout=120):
        """Runs a Windows program to its end: (exit code, output)."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(["wine", *args], env=wine_env(self.path, extra_env),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace").replace("\r", "")

    def reg_query(self, key, value):
        """(type, data) of a registry value read with `wine reg query`, or None."""
        code, out = self.run(["reg", "query", key, "/v", value])
        if code != 0:
            return None
        # Lines of a value: "    <name>    <type>    <data>" (names may hold blanks).
        for line in out.splitlines():
            parts = line.strip().split("    ")
            if len(parts) >= 2 and parts[0] == value and parts[1].startswith("REG_"):
                return parts[1], "    ".join(parts[2:])
        return None

    def reg_add(self, key, value, kind, data):
        return self.run(["reg", "add", key, "/v", value, "/t", kind, "/d", str(data), "/f"])[0]

    def close(self, keep=False):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
        _quiet(["wineserver", "-k"], self.env)
        _quiet(["wineserver", "-w"], self.env)
        if not keep:
            shutil.rmtree(self.path, ignore_errors=True)


class Started:
    """A program started in the background, with what it takes to start it again."""

    def __init__(self, args, env, log):
        self.args, self.env, self.log = list(args), env, log
        self.restarted = False
        self.awaited = False  # set once a test has waited for its end
        self._spawn()

    def _spawn(self):
        self.log_offset = os.path.getsize(self.log) if self.log and os.path.exists(self.log) else 0
        out = open(self.log or os.devnull, "ab")
        self.popen = subprocess.Popen(["wine", *self.args], env=self.env,
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT)
        out.close()
        self.started = time.monotonic()
        self.ended = None
        popen = self.popen

        def watch():
            popen.wait()
            if self.popen is popen:
                self.ended = time.monotonic()
        threading.Thread(target=watch, daemon=True).start()

    def restart(self):
        self.restarted = True
        self._spawn()

    def output_tail(self):
        """The last lines the program printed, as ": <lines>", or ""."""
        if not self.log or not os.path.exists(self.log):
            return ""
        with open(self.log, "rb") as f:
            f.seek(self.log_offset)
            lines = f.read().decode("utf-8", "replace").strip().splitlines()[-3:]
        return ": " + " | ".join(lines) if lines else ""

    @property
    def returncode(self):
        return self.popen.returncode

    def poll(self):
        return self.popen.poll()

    def wait(self, timeout=None):
        code = self.popen.wait(timeout=timeout)
        self.awaited = True
        return code

    def kill(self):
        self.popen.kill()


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"\\": "\\", "r": "\r", "n": "\n", "t": "\t"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Robot:
    """Runs robot.exe in a prefix: each call is one robot run over a list of commands."""

    def __init__(self, prefix, exe):
        self.prefix = prefix
        self.exe = exe
        self.transcript = []
        self.last_success = 0.0

    def __call__(self, *commands, timeout=180, env=None):
        """commands: lists of words; returns (ok, printed values as (verb, text) pairs, output).
        `env` is added to the robot's environment (and so to the programs it starts)."""
        args = [self.exe]
        for i, command in enumerate(commands):
            if i:
                args.append("--")
            args.extend(str(w) for w in command)
        code, out = self.prefix.run(args, extra_env=env, timeout=timeout)
        if code != 0 and not out.strip() and str(commands[0][0]) in ("window", "box"):
            # The robot prints a line for every command it finishes and for every failure, so
            # silence means it did not get past its first command (Wine failed to start it, or it
            # crashed there). A first command that only looks for a window changes nothing, so
            # the run is repeated once.
            first = f"(the robot printed nothing and ended with {code}; run again)\n"
            code, out = self.prefix.run(args, extra_env=env, timeout=timeout)
            out = first + (out or f"(again nothing, exit code {code})\n")
        if code != 0 and str(commands[0][0]) in ("window", "box") and \
                out.lstrip("(").startswith(("FAIL window:", "FAIL box:", "the robot printed")):
            # Nothing was found for the first command: when the program that should show it
            # was never really started, it is started again and the run repeated.
            note = self.prefix.restart_unstarted(self.last_success)
            if note:
                code, out = self.prefix.run(args, extra_env=env, timeout=timeout)
                out = note + out
        if code == 0:
            self.last_success = time.monotonic()
        self.transcript.append(" -- ".join(" ".join(str(w) for w in c) for c in commands))
        self.transcript.append(out)
        values = []
        for line in out.splitlines():
            verb, sep, rest = line.partition(": ")
            if sep:
                values.append((verb, unescape(rest)))
        return code == 0, values, out


def distinct_colours(bmp, left, top, right, bottom):
    """Number of colours in a rectangle (top-down pixel coordinates) of a 24-bit BMP."""
    with open(bmp, "rb") as f:
        data = f.read()
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from(
        "<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    colours = set()
    for y in range(max(top, 0), min(bottom, abs(height))):
        row = abs(height) - 1 - y if height > 0 else y
        start = offset + row * stride
        for x in range(max(left, 0), min(right, width)):
            colours.add(data[start + 3 * x:start + 3 * x + 3])
    return len(colours)


def to_png(bmp, png):
    """Converts a BMP to PNG with ImageMagick when it is there; returns the file kept."""
    if shutil.which("convert"):
        if subprocess.run(["convert", bmp, png], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            os.remove(bmp)
            return png
    return bmp


def wait_exit(process, timeout):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def drive_files(prefix_path):
    """Every folder and file on the prefix's C: but the Windows folder, by path relative to C::
    "<dir>", "<other>" for anything but a plain file (a link), else the CRC-32 of the content and
    whether the file is read-only."""
    drive = os.path.join(prefix_path, "drive_c")
    files = {}
    for d, dirs, names in os.walk(drive):
        rel = os.path.relpath(d, drive)
        if rel.split(os.sep)[0].lower() == "windows":
            dirs[:] = []
            continue
        for n in dirs:
            files[os.path.join(rel, n)] = "<dir>"
        for n in names:
            path = os.path.join(d, n)
            if os.path.islink(path) or not os.path.isfile(path):
                files[os.path.join(rel, n)] = "<other>"
                continue
            with open(path, "rb") as f:
                files[os.path.join(rel, n)] = (zlib.crc32(f.read()),
                                               not os.stat(path).st_mode & 0o222)
    return files
