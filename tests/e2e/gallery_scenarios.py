"""The gallery's scenarios, one per installer language and display scale (96 and 144 DPI),
photograph every page, message box and the About box of the installer and every page of the
uninstaller into SCREENSHOTS/<language>/ and SCREENSHOTS/144dpi/<language>/ (see gallery.py) and
have the robot measure every text on them; a text that does not fit its control fails the
scenario. On each window of a wizard the robot's picture check must find the side picture, the
icon and the flags drawn for the scale (see picture_checks.py). Each walks the wizard with one
installation, the Start pages of an existing installation, the uninstaller with one removal and a
failed installation. Two more check the Start page at 120 and 192 DPI in English. They run when
named, or all with "gallery" (shared out among processes on displays of their own, started by
installer_e2e_test.py); the run ends with SCREENSHOTS/index.html."""
import os
import shutil
import time
import zlib

import gallery
import picture_checks
import winenv
from e2e_common import (ADVANCED, BROWSE, DESKTOP, EXIT, FOLDER_EDIT, HEADING, IDCANCEL, IDNO, IDOK,
                        IDRETRY, IDYES, INFO, JOURNAL_FOLDER, LABEL, LANGS, LIST, LOG, NEXT,
                        NOT_ADMIN_INSTALLER, NOT_ADMIN_UNINSTALLER, QUICK, REMOVE_EXAMPLES, RESULT,
                        STATUS, SUMMARY, TITLE, UNINSTALLER, UNINSTALL_KEY, Scenario, cfg,
                        default_folders, make_broken_installer, replace_product, s, texts, title_of,
                        uninstaller_title, win_join)


# ---- the gallery: every screen in every installer language, each measured by the fit check ----
GALLERY_TAKEN = {}     # (language, dpi) -> screens taken
GALLERY_MISFITS = []   # one line per text that does not fit
GALLERY_MEASURED = []  # number of texts measured, per screen


class Gallery:
    """One language's walk through the screens at one display scale: each is photographed, its
    texts measured and, on a wizard's window, its pictures checked."""

    def __init__(self, sc, lang, position, language_id, dpi):
        self.sc, self.lang, self.position, self.dpi = sc, lang, position, dpi
        # Start-up takes the stored language before the system's.
        sc.check("NvLanguage stored", sc.prefix.reg_add(UNINSTALL_KEY, "NvLanguage", "REG_DWORD",
                                                        language_id) == 0, "")
        self.folder = gallery.folder_of(cfg.screenshots, lang, dpi)
        os.makedirs(self.folder, exist_ok=True)
        GALLERY_TAKEN.setdefault((lang, dpi), set())

    def shot(self, screen, select, frame=True, icon=False):
        """Screenshot and fit check of the window or box that `select` names; the picture check of
        a wizard's window (`frame`) or of a window with a static icon (`icon`)."""
        sc = self.sc
        bmp = os.path.join(self.folder, gallery.file_name(screen) + ".bmp")
        pictures = [["picture-check"]] if frame or icon else []
        ok, values, out = sc.robot(select, ["screenshot", sc.prefix.windows(bmp)], *pictures,
                                   ["fit-check"])
        measured = gallery.measurements(values)
        if not sc.check(f"screenshot {screen}", os.path.exists(bmp), out) or \
                not sc.check(f"fit check of {screen} measured texts", measured, out):
            return
        what = f"{screen} at {self.dpi} DPI"
        if frame:
            picture_checks.check_frame(sc.check, what, self.dpi, values, bmp)
        if icon:
            picture_checks.check_icon(sc.check, what, self.dpi, values)
        gallery.bmp_to_png(bmp, os.path.join(self.folder, gallery.file_name(screen) + ".png"))
        os.remove(bmp)
        GALLERY_TAKEN[(self.lang, self.dpi)].add(screen)
        self.record(screen, measured)
        sc.check(f"fit check of {screen} ran", ok or any(not m[0] for m in measured), out)

    def record(self, screen, measured):
        GALLERY_MEASURED.append(len(measured))
        for m in measured:
            if not m[0]:
                line = gallery.describe(self.lang, screen, m, self.dpi)
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
        holder = self.sc.prefix.start([os.path.join(cfg.bin_dir, "payload_hold_file.exe"), held,
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
        return self.sc.prefix.start([exe or cfg.installer, *args], {"LC_ALL": "C.UTF-8"},
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

    product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
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
    if lang == "English" and g.dpi == winenv.BASE_DPI:
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
    g.shot("about", ["window", about, 10000], frame=False, icon=True)
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
    shutil.copyfile(os.path.join(cfg.bin_dir, "Tessaline.exe"), main)
    os.chmod(main, 0o444)


def gallery_uninstaller(g):
    """The uninstaller's boxes and pages, and the removal."""
    sc, lang = g.sc, g.lang
    title = uninstaller_title(lang)
    product = sc.prefix.start([os.path.join(cfg.bin_dir, "Tessaline.exe")],
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


def gallery_name(lang, dpi):
    return "gallery_" + lang.lower() + ("" if dpi == winenv.BASE_DPI else f"_{dpi}dpi")


def scenario_gallery(lang, position, language_id, dpi):
    with Scenario(gallery_name(lang, dpi), winenv.ensure_template(cfg.template, dpi)) as sc:
        g = Gallery(sc, lang, position, language_id, dpi)
        # The removal takes the stored language with it: the failed installation comes first.
        gallery_failed(g)
        gallery_wizard(g)
        gallery_existing(g)
        gallery_uninstaller(g)


def scenario_start_at(dpi):
    """The Start page at `dpi` in English: the pictures chosen for its scale, the texts fitting."""
    with Scenario(f"gallery_start_{dpi}dpi", winenv.ensure_template(cfg.template, dpi)) as sc:
        lang, position, language_id = next(l for l in gallery.LANGUAGES if l[0] == "English")
        g = Gallery(sc, lang, position, language_id, dpi)
        process = g.start()
        g.page("start")
        sc.must("Exit", sc.wizard(["post-click", EXIT]))
        sc.must("Yes", sc.robot(["box", s(lang, 1110)[:20], 10000], ["post-click", IDYES]))
        sc.finish(process)


GALLERY = [(gallery_name(lang, dpi),
            (lambda lang=lang, position=position, language_id=language_id, dpi=dpi:
             scenario_gallery(lang, position, language_id, dpi)))
           for dpi in gallery.DPIS for lang, position, language_id in gallery.LANGUAGES]
GALLERY += [(f"gallery_start_{dpi}dpi", (lambda dpi=dpi: scenario_start_at(dpi)))
            for dpi in gallery.CHECKED_DPIS]
# The display each scenario runs at.
GALLERY_DPI = {**{gallery_name(lang, dpi): dpi for dpi in gallery.DPIS
                  for lang, *_ in gallery.LANGUAGES},
               **{f"gallery_start_{dpi}dpi": dpi for dpi in gallery.CHECKED_DPIS}}
