"""The unattended scenarios run the installer with /S through the robot's run-unseen, which
fails when any top-level window of the installer's process is shown; they check the exit code,
the machine afterwards and the /LOG file's lines. They run when named, or all with "unattended".
One of them installs a release's installer: the demo payload changed, packed, embedded into the
built installer and signed with a throw-away test certificate, as the README's release steps
do."""
import os
import shutil
import subprocess

import winenv
from e2e_common import (EXIT, IDOK, IDYES, LABEL, NEXT, Scenario, ScenarioFailed, cfg,
                        default_folders, make_broken_installer, read_payload, replace_product,
                        run_unattended, s)
from e2e_checks import (check_files, check_fresh_machine, check_log_header, check_merged_log,
                        check_registration_run, check_registry, check_temp_clean, check_unchanged,
                        in_order, log_records, machine_state, nothing_installed, read_log,
                        unattended_log)


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


def scenario_unattended_fresh():
    with Scenario("unattended_fresh", cfg.template) as sc:
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
                 len(copied_files("English", lines)) == len(cfg.payload),
                 copied_files("English", lines))
        sc.check("every copy succeeded",
                 all(l.endswith(s("English", 1011)) for l in copied_files("English", lines)), lines)


def scenario_unattended_options():
    """Another folder with blanks, the desktop shortcut only, French; the log in a folder with a
    blank, appended to what is there."""
    with Scenario("unattended_options", cfg.template) as sc:
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
    with Scenario("unattended_reinstall", cfg.installed) as sc:
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
    with Scenario("unattended_update", cfg.installed) as sc:
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
            e["name"] in l for e in cfg.payload if e["kind"] == "Sample" for l in lines), lines)
        check_registration_run(sc, install_folder, update="0007000800150009")
        ulog, _ = read_log(sc, install_folder)
        if ulog:
            check_log_header(sc, ulog, install_folder, menu_folder, update_from=LABEL)
            check_files(sc, log_records(sc, ulog), install_folder, skip_kinds=("Sample",))
        check_registry(sc, install_folder, 1)
        check_temp_clean(sc)


def scenario_unattended_newer():
    with Scenario("unattended_newer", cfg.installed) as sc:
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
    with Scenario("unattended_second_installer", cfg.template) as sc:
        first = sc.start()
        sc.must("the first installer's wizard", sc.wizard())
        refused_at_once(sc, "/S", 1618, None)
        sc.must("the first goes on", sc.wizard(["expect-enabled", NEXT, 1], ["post-click", EXIT]))
        sc.must("Yes ends", sc.robot(["box", s("English", 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(first)


def scenario_unattended_product_running():
    with Scenario("unattended_product_running", cfg.template) as sc:
        product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
                                  {"NV_STANDIN_LIFETIME_MS": "120000"})
        sc.must("the product shows its window", sc.robot(["window", "Tessaline", 20000]))
        refused_at_once(sc, "/S", 1618, s("English", 1127, "Tessaline"))
        sc.check("the product still runs", product.poll() is None, "")
        sc.must("the product is closed", sc.robot(["window", "Tessaline", 1000], ["close"],
                                                   ["wait-gone", 5000]))
        winenv.wait_exit(product, 20)


def damaged_run(sc, exe, log_name):
    """Runs the damaged installer `exe` (a Windows path) unattended with a /LOG file: it ends
    with 1603 at its first step with code 4 and leaves the machine and the temporary folder as
    they were. Returns the log's lines."""
    before = machine_state(sc)
    log = os.path.join(sc.folder, log_name)
    code, _ = run_unattended(sc, f"/S /LOG={sc.prefix.windows(log)}", exe=exe)
    sc.check("exit code 1603", code == 1603, code)
    check_unchanged(sc, before)
    check_temp_clean(sc)
    lines = unattended_log(sc, log, 1603)
    in_order(sc, "the failure with its code at the first step", lines,
             [banner(""), s("English", 1114) + s("English", 1012), s("English", 1133),
              s("English", 1121, "4"), "Exit code: 1603."])
    return lines


def scenario_unattended_corrupt():
    with Scenario("unattended_corrupt", cfg.template) as sc:
        damaged_run(sc, make_broken_installer(sc), "unattended.log")


def scenario_unattended_bad_option():
    with Scenario("unattended_bad_option", cfg.template) as sc:
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
        process = sc.prefix.start([cfg.installer, "/D=Apps"],
                                  log=os.path.join(sc.folder, "box.log"))
        message = s("English", 1138, "/D")
        values = sc.must("the refusal's box", sc.robot(["box", message, 20000]))
        sc.check("the box's text", values[0][1] == message + "\r\n\r\n" + s("English", 1142),
                 values)
        sc.shot("en_box_bad_option", box=message)
        sc.must("OK ends", sc.robot(["box", message, 1000], ["post-click", IDOK],
                                    ["wait-gone", 5000]))
        sc.check("the installer ended with 0", winenv.wait_exit(process, 20) == 0, "")
        check_unchanged(sc, before)


SIGN_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign.sh")


def make_release(sc):
    """The release steps of the README on a changed payload: payload pack, payload embed into the
    built installer, scripts/sign.sh with the throw-away test certificate. Returns the signed
    installer and the new payload's entries."""
    folder = os.path.join(sc.folder, "release")
    shutil.copytree(cfg.payload_dir, folder)
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
    payload_exe = os.path.join(cfg.bin_dir, "payload.exe")
    archive, unsigned = os.path.join(folder, "p.bz2"), os.path.join(folder, "unsigned.exe")
    for args in (["pack", win(manifest), win(archive)],
                 ["embed", win(cfg.installer), win(archive), win(unsigned)]):
        code, out = sc.prefix.run([payload_exe, *args])
        if not sc.check(f"payload {args[0]}", code == 0, out):
            raise ScenarioFailed(f"payload {args[0]}: {out}")
    certificate = os.path.join(os.path.dirname(cfg.work), "test-certificate")
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
    with Scenario("unattended_release", cfg.template) as sc:
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
        damaged_run(sc, "C:\\flipped_release.exe", "flipped.log")
        os.remove(broken)
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

NOT_RUN = {}
if not shutil.which("osslsigncode"):
    NOT_RUN["unattended_release"] = "osslsigncode is not installed (scripts/bootstrap.sh)"
NEEDS_INSTALLATION = ("unattended_reinstall", "unattended_update", "unattended_newer")
