#!/usr/bin/env python3
"""End-to-end scenarios of the shipped installer under Wine, driven by robot.exe.

Every scenario runs in a fresh copy of a template prefix; the scenarios that need an earlier
installation start from a copy of the prefix that the fresh quick installation left behind.
After each scenario the machine is checked: installed files and their CRC-32 against the demo
payload, read-only executables, the uninstall log's bytes, the uninstall key's values, the
product path value, the shortcuts read back, the working folder and backups gone.
Screenshots (PNG when ImageMagick is there) of the pages and message boxes go to SCREENSHOTS.

This script reads the command line, picks the scenarios and runs them; each group lives in a
module of its own beside it: wizard_scenarios.py (the wizard's, run when no group is named),
unattended_scenarios.py ("unattended"), uninstall_scenarios.py ("uninstall") and
gallery_scenarios.py ("gallery"). A group's name runs all of its scenarios; a scenario's name
runs that one. What they share is in e2e_common.py (the configuration, strings, the Scenario and
its robot calls) and e2e_checks.py (the checks of the machine and of the logs).

Usage: installer_e2e_test.py INSTALLER ROBOT BIN_DIR PAYLOAD_DIR STRINGS_RC WORK SCREENSHOTS
         [scenario ... | unattended | uninstall | gallery]
Exit code 77 (reported by CTest as skipped) when the installer has not been built or there is
no X display."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gallery  # noqa: E402
import unattended_scenarios  # noqa: E402
import uninstall_scenarios  # noqa: E402
import winenv  # noqa: E402
import wizard_scenarios  # noqa: E402
from e2e_common import ScenarioFailed, cfg, current  # noqa: E402
from gallery_scenarios import (GALLERY, GALLERY_DPI, GALLERY_MEASURED,  # noqa: E402
                               GALLERY_MISFITS, GALLERY_TAKEN)
from unattended_scenarios import UNATTENDED  # noqa: E402
from uninstall_scenarios import UNINSTALL  # noqa: E402
from wizard_scenarios import SCENARIOS  # noqa: E402

cfg.set_paths(sys.argv[1:8])
only = set(sys.argv[8:])
# "gallery-part RESULTS name...": the named gallery scenarios of a further process on a display of
# its own, their outcome written to RESULTS for the first.
GALLERY_PART = None
if sys.argv[8:9] == ["gallery-part"]:
    GALLERY_PART = sys.argv[9]
    only = set(sys.argv[10:])
if not os.environ.get("DISPLAY"):
    print("SKIP: no X display; run the tests under xvfb-run")
    sys.exit(77)
if not os.path.exists(cfg.installer):
    print(f"SKIP: {cfg.installer} has not been built yet; the scenarios need it")
    sys.exit(77)
cfg.load()

failures = []
# The scenarios that cannot run on this machine, each with the reason.
NOT_RUN = {**unattended_scenarios.NOT_RUN, **wizard_scenarios.NOT_RUN}
# The scenarios that start from the machine the quick installation left behind.
NEEDS_INSTALLATION = (wizard_scenarios.NEEDS_INSTALLATION +
                      unattended_scenarios.NEEDS_INSTALLATION +
                      uninstall_scenarios.NEEDS_INSTALLATION)
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
# The gallery's scenarios are shared out, in turn, among this process and further ones, each with
# an X display of its own (each window is photographed from the screen, so two programs must not
# share one), when xvfb-run is there. The scenarios mostly wait for windows, so the processes
# overlap well even on two cores. A scenario at more than 144 DPI needs a larger screen than the
# tests' own: the first further process has one as large as its scenarios need.
GALLERY_DISPLAYS = int(os.environ.get("NV_GALLERY_DISPLAYS", "4"))
gallery_parts = []
named = [name for name, _ in GALLERY if name in only]
cramped = [name for name in named if GALLERY_DPI[name] > gallery.ROOMY_DPI]
if GALLERY_PART is None and (len(named) > 1 or cramped) and shutil.which("xvfb-run"):
    displays = max(2, min(GALLERY_DISPLAYS, len(named)))
    os.makedirs(cfg.work, exist_ok=True)
    for template_dpi in sorted({GALLERY_DPI[name] for name in named}):
        winenv.ensure_template(cfg.template, template_dpi)
    roomy = [name for name in named if GALLERY_DPI[name] <= gallery.ROOMY_DPI]
    shares = [roomy[part::displays] for part in range(displays)]
    shares[1][:0] = cramped
    for part in range(1, displays):
        only.difference_update(shares[part])
        results = os.path.join(cfg.work, f"gallery-part{part}.json")
        log = open(os.path.join(cfg.work, f"gallery-part{part}.log"), "w")
        dpi = max([gallery.ROOMY_DPI] + [GALLERY_DPI[name] for name in shares[part]])
        process = subprocess.Popen(
            ["xvfb-run", "-a", "-s", "-screen 0 " + gallery.screen_for(dpi), sys.executable,
             os.path.abspath(__file__), *sys.argv[1:8], "gallery-part", results, *shares[part]],
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True)
        gallery_parts.append((process, log, results))
if only & set(NEEDS_INSTALLATION):
    only.add("quick")
winenv.ensure_template(cfg.template)
if GALLERY_PART is None:
    shutil.rmtree(cfg.installed, ignore_errors=True)
os.makedirs(cfg.screenshots, exist_ok=True)
started = time.time()
GROUPS = UNATTENDED + UNINSTALL + GALLERY
for name, scenario in SCENARIOS + GROUPS:
    if (only and name not in only) or (not only and (name, scenario) in GROUPS) or name in NOT_RUN:
        continue
    if name in NEEDS_INSTALLATION and not os.path.isdir(cfg.installed):
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
        json.dump({"taken": [[lang, dpi, sorted(screens)]
                             for (lang, dpi), screens in GALLERY_TAKEN.items()],
                   "misfits": GALLERY_MISFITS, "measured": GALLERY_MEASURED,
                   "failures": failures}, f)
    sys.exit(1 if failures else 0)
for process, log, results in gallery_parts:
    try:
        code = process.wait(timeout=max(60, 780 - (time.time() - started)))
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        code = process.wait()
        failures.append("a gallery process did not end in time")
    log.close()
    print(open(log.name, encoding="utf-8", errors="replace").read(), end="")
    try:
        with open(results, encoding="utf-8") as f:
            part = json.load(f)
        for lang, dpi, screens in part["taken"]:
            GALLERY_TAKEN.setdefault((lang, dpi), set()).update(screens)
        GALLERY_MISFITS.extend(part["misfits"])
        GALLERY_MEASURED.extend(part["measured"])
        failures.extend(part["failures"])
    except (OSError, ValueError, KeyError) as e:
        failures.append(f"a gallery process (exit code {code}) left no results: {e!r}")
shutil.rmtree(cfg.installed, ignore_errors=True)
for name, reason in NOT_RUN.items():
    if not only or name in only:
        print(f"scenario {name}: SKIPPED ({reason})")
if GALLERY_TAKEN:
    count = gallery.write_index(cfg.screenshots, GALLERY_TAKEN, GALLERY_MISFITS,
                                sum(GALLERY_MEASURED))
    print(f"gallery: {count} screens in {len({lang for lang, _ in GALLERY_TAKEN})} languages "
          f"at {sorted({dpi for _, dpi in GALLERY_TAKEN})} DPI, "
          f"{os.path.join(cfg.screenshots, 'index.html')}; the fit check measured "
          f"{sum(GALLERY_MEASURED)} texts, {len(GALLERY_MISFITS)} cut off")
    print("\n".join(GALLERY_MISFITS))
print(f"total {time.time() - started:.1f} s")
if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all scenarios passed")
