"""The wizard's scenarios, run when the script names no group: the quick installation (whose
machine later scenarios start from) and an advanced French one, a reinstallation, an update and
a newer version found installed, a second installer and the running product at start-up, the
language choices, Cancel, a failed installation and a user who is no administrator."""
import os
import shutil
import subprocess

import winenv
from e2e_common import (ADVANCED, BACK, BROWSE, DESKTOP, ES_READONLY, EXIT, FOLDER_EDIT,
                        FOLDER_PROMPT, FRENCH, IDNO, IDOK, IDRETRY, IDYES, INFO, LABEL, LANGS, LIST,
                        LOG, MENU, MENU_EDIT, NEXT, NOT_ADMIN_INSTALLER, PROGRESS, QUICK, STATUS,
                        TITLE, UNINSTALL_KEY, Scenario, cfg, default_folders, make_broken_installer,
                        replace_product, s, texts, title_of, win_join)
from e2e_checks import (check_files, check_fresh_machine, check_log_header, check_merged_log,
                        check_registration_run, check_registry, check_temp_clean, log_records,
                        nothing_installed, read_log)


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


def scenario_quick():
    sc = Scenario("quick", cfg.template)
    try:
        install_folder, menu_folder, _ = quick_install(sc, shots="en")
        check_fresh_machine(sc, install_folder, menu_folder)
    finally:
        if not sc.errors:
            # The state of this machine is the earlier installation of later scenarios.
            winenv._quiet(["wineserver", "-k"], sc.prefix.env)
            winenv._quiet(["wineserver", "-w"], sc.prefix.env)
            shutil.rmtree(cfg.installed, ignore_errors=True)
            subprocess.run(["cp", "-a", sc.prefix.path, cfg.installed], check=True)
        sc.close()
    return sc


def scenario_advanced_french():
    """French advanced installation: another folder, another menu folder, only the desktop."""
    with Scenario("advanced_french", cfg.template) as sc:
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
    with Scenario("reinstall", cfg.installed) as sc:
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


def scenario_update():
    with Scenario("update", cfg.installed) as sc:
        install_folder, menu_folder = default_folders(sc)
        replace_product(sc, install_folder, "tessaline_7_8_21_9.exe")
        # The samples of the earlier installation are removed: an update must not bring them back.
        samples = [e["name"] for e in cfg.payload if e["kind"] == "Sample"]
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
                 open(main, "rb").read() ==
                 open(os.path.join(cfg.bin_dir, "Tessaline.exe"), "rb").read(),
                 "")
        check_registry(sc, install_folder, 1)
        check_temp_clean(sc)


def scenario_newer():
    with Scenario("newer", cfg.installed) as sc:
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
    with Scenario("second_installer", cfg.template) as sc:
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
    with Scenario("product_running", cfg.template) as sc:
        product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
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
    with Scenario("cancel", cfg.template) as sc:
        # First the product runs (English 1127 box); closed, Retry goes on.
        product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
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
    with Scenario("languages", cfg.template) as sc:
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
    with Scenario("stored_dutch", cfg.template) as sc:
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


def scenario_failed():
    """A copy of the installer whose payload is corrupt: the installation fails, stays on the
    Progress page with Install enabled, and leaves nothing on disk."""
    with Scenario("failed", cfg.template) as sc:
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
    with Scenario("not_administrator", cfg.template) as sc:
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

NOT_RUN = {}
if not os.path.exists(NOT_ADMIN_INSTALLER):
    NOT_RUN["not_administrator"] = "the test build installer_not_admin.exe is missing"
NEEDS_INSTALLATION = ("reinstall", "update", "newer")
