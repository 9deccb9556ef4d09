"""The uninstaller's scenarios start from the quick installation's machine and compare the
machine after the removal with the one before the installation. They run when named, or all with
"uninstall"."""
import difflib
import os
import shutil
import time

import winenv
from e2e_common import (IDCANCEL, IDOK, IDRETRY, LABEL, QUESTION, REMOVE_EXAMPLES, RESULT, SUMMARY,
                        UNINSTALLER, UNINSTALL_KEY, Scenario, cfg, default_folders, replace_product,
                        run_unattended, s, texts, uninstaller_title, win_join)
from e2e_checks import check_unchanged, in_order, machine_state, temp_folders, unattended_log


FRESH = []  # fresh_state()'s measurement, taken once per run


def fresh_state():
    """The machine before any installation: the template's files and keys."""
    if not FRESH:
        prefix = winenv.Prefix(cfg.template, os.path.join(cfg.work, "fresh_state"))
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
    return {e["name"] for e in cfg.payload if e["kind"] in kinds}


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
    with Scenario("uninstall_wizard", cfg.installed) as sc:
        summary = uninstall_wizard(sc, shots="en")
        check_removed(sc, kept_files(("SharedData", "Sample")))
        for e in cfg.payload:
            if e["kind"] == "SharedData":
                sc.check(f"{e['name']} listed as kept", any(
                    l.startswith(s("English", 1166, "\x00").split("\x00")[0]) and e["name"] in l
                    for l in summary), summary)


def scenario_uninstall_update_examples():
    """An update on top of an older version merges the logs; the wizard then removes the
    examples too."""
    with Scenario("uninstall_update_examples", cfg.installed) as sc:
        replace_product(sc, default_folders(sc)[0], "tessaline_7_8_21_9.exe")
        code, _ = run_unattended(sc, "/S")
        sc.check("the update installed", code == 0, code)
        uninstall_wizard(sc, remove_examples=True)
        check_removed(sc, kept_files(("SharedData",)))


def scenario_uninstall_unattended():
    with Scenario("uninstall_unattended", cfg.installed) as sc:
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
    with Scenario("uninstall_tampered_log", cfg.installed) as sc:
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
    with Scenario("uninstall_refusals", cfg.installed) as sc:
        before = machine_state(sc)
        product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
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
    holder = sc.prefix.start([os.path.join(cfg.bin_dir, "payload_hold_file.exe"), path,
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
    with Scenario("uninstall_in_use_then_reinstall", cfg.installed) as sc:
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
    with Scenario("uninstall_created_parent", cfg.template) as sc:
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
    with Scenario("uninstall_file_in_use", cfg.installed) as sc:
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

NEEDS_INSTALLATION = tuple(name for name, _ in UNINSTALL)
