#!/usr/bin/env python3
"""The robot against robot_fixture.exe: finding the window, clicks (sent and posted), texts,
enabled and check states, combo selection with its notification, message boxes, edit texts,
screenshots, the fit check of texts against their controls, programs that must show no window,
shortcut read-back and resource replacement, and its failure reports.

Usage: robot_test.py ROBOT_EXE FIXTURE_EXE WORK_FOLDER"""
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winenv  # noqa: E402

robot_exe, fixture_exe, work = sys.argv[1:4]
failures = []
if not os.environ.get("DISPLAY"):
    print("SKIP: no X display; run the tests under xvfb-run")
    sys.exit(77)


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")
        print(f"FAIL {name}: {detail}")


winenv.ensure_template(os.path.join(work, "..", "template"))
prefix = winenv.Prefix(os.path.join(work, "..", "template"), work)
robot = winenv.Robot(prefix, robot_exe)
title = "Robot Fixture \u2013 Dialog"
try:
    fixture = prefix.start([fixture_exe])
    ok, values, out = robot(["window", "Fixture \u2013 Dia", 20000], ["text", 0], ["text", 110],
                            ["click", 101], ["click", 101], ["text", 110])
    check("window found and texts read", ok and values[1:] == [
        ("text", title), ("text", "none"), ("text", "clicked 2")], out)

    ok, values, out = robot(["window", title, 1000], ["expect-enabled", 103, 0],
                            ["expect-enabled", 101, 1], ["expect-check", 130, 1],
                            ["click", 131], ["expect-check", 131, 1], ["expect-check", 130, 0],
                            ["click", 132], ["expect-check", 132, 1])
    check("enabled and check states, radio and check box clicks", ok, out)

    ok, _, out = robot(["window", title, 1000], ["expect-enabled", 103, 1])
    check("a wrong enabled state fails", not ok and "FAIL expect-enabled" in out, out)
    ok, _, out = robot(["window", title, 1000], ["click", 999])
    check("a missing control fails", not ok and "no control 999" in out, out)
    ok, _, out = robot(["window", "No Such Window", 300])
    check("a missing window fails after its timeout", not ok and "FAIL window" in out, out)
    ok, _, out = robot(["jump", 1])
    check("an unknown verb is refused", not ok and "cannot understand" in out, out)

    ok, values, out = robot(["window", title, 1000], ["select", 120, 2],
                            ["wait-text", 110, "selected 2", 3000], ["selection", 120])
    check("combo selection notifies the parent", ok and ("selection", "2") in values, out)
    ok, _, out = robot(["window", title, 1000], ["select", 120, 7])
    check("a combo index beyond the list fails", not ok and "no item 7" in out, out)

    ok, _, out = robot(["window", title, 1000], ["expect-style", 140, 0x80, 1],
                       ["expect-style", 140, 0x800, 0])
    check("edit style: auto-scroll set, read-only clear", ok, out)
    ok, _, out = robot(["window", title, 1000], ["expect-style", 140, 0x800, 1])
    check("a missing style bit fails", not ok and "FAIL expect-style" in out, out)

    ok, values, out = robot(["window", title, 1000], ["set-text", 140, "C:\\Apps\\T\u00e9st"],
                            ["text", 140])
    check("edit text set and read back", ok and ("text", "C:\\Apps\\T\u00e9st") in values, out)

    bmp = os.path.join(work, "fixture.bmp")
    ok, values, out = robot(["window", title, 1000], ["post-click", 102],
                            ["box", "Really", 5000], ["screenshot", prefix.windows(bmp)],
                            ["post-click", 7], ["wait-gone", 5000], ["window", title, 1000],
                            ["wait-text", 110, "answered no", 3000])
    check("message box found, read and answered", ok and
          ("box", "Really proceed?\r\nSecond line.") in values, out)
    data = open(bmp, "rb").read() if os.path.exists(bmp) else b""
    if len(data) > 54:
        width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
        pixels = data[54:]
        check("screenshot is a 24-bit BMP of the box", data[:2] == b"BM" and bits == 24 and
              width > 100 and height > 50 and len(pixels) >= width * height * 3, (width, height))
        check("screenshot is not blank", len(set(pixels[: width * height * 3])) > 2,
              "a single colour")
    else:
        check("screenshot written", False, out)

    ok, _, out = robot(["window", title, 1000], ["post-click", 102], ["box", "Really", 5000],
                       ["post-click", 6], ["window", title, 2000],
                       ["wait-text", 110, "answered yes", 3000])
    check("Yes answered", ok, out)
    ok, _, out = robot(["window", title, 1000], ["no-box", 300])
    check("no box shown", ok, out)
    ok, _, out = robot(["window", title, 1000], ["post-click", 102], ["no-box", 2000])
    check("no-box fails when a box appears", not ok and "unexpected message box" in out, out)
    robot(["box", "", 3000], ["post-click", 7])

    # fit-check: every text control measured with its own font; a text too long for its control
    # (or for the part of it inside the dialog) makes the command fail and is listed.
    fit_line = r"(-?\d+) (\w+) needs (\d+)x(\d+), has (\d+)x(\d+): (.*)"

    def measured(values):
        return {int(m[1]): (verb, m[2], (int(m[3]), int(m[4])), (int(m[5]), int(m[6])))
                for verb, value in values if verb in ("fit", "misfit")
                for m in [re.fullmatch(fit_line, value, re.S)] if m}

    ok, values, out = robot(["window", title, 1000], ["fit-check"])
    sizes = measured(values)
    check("every text fits as designed", ok and all(v[0] == "fit" for v in sizes.values()) and
          {k: v[1] for k, v in sizes.items() if k in (101, 110, 130, 132, 150, 152)} ==
          {101: "button", 110: "static", 130: "check", 132: "check", 150: "group",
           152: "static"} and 151 not in sizes and 140 not in sizes, out)
    if 132 in sizes and 152 in sizes:
        check("the check box's glyph is not room for text",
              sizes[132][3][0] + 13 <= sizes[152][3][0], (sizes[132], sizes[152]))
    for control, text in ((101, "Count every click twice"),
                          (110, "A status line that is much too long for the one line it has "
                                "in this little dialog"),
                          (130, "Quick installation"),
                          (150, "A caption wider than its frame"),
                          (151, "one\r\ntwo\r\nthree\r\nfour"),
                          (151, "Three lines hold this text only when it is short, and this "
                                "one is not short at all: it goes on for five lines or more "
                                "in a static this narrow"),
                          (153, "Beyond the edge")):
        ok, values, out = robot(["window", title, 1000], ["set-text", control, text],
                                ["fit-check"])
        cut = {k: v for k, v in measured(values).items() if v[0] == "misfit"}
        check(f"fit-check lists {control} with {text!r}", not ok and list(cut) == [control] and
              (cut[control][2][0] > cut[control][3][0] or cut[control][2][1] > cut[control][3][1])
              and "FAIL fit-check" in out, out)
        robot(["window", title, 1000], ["set-text", control, "" if control in (151, 153) else "Ok"])
    for text in ("one\r\ntwo\r\nthree", "A sentence that the static wraps into two lines"):
        ok, values, out = robot(["window", title, 1000], ["set-text", 151, text],
                                ["set-text", 153, "Edge"], ["fit-check"])
        check(f"{text!r} fits the three-line static, a short text the visible part",
              ok and measured(values).get(151, ("",))[0] == "fit" and
              measured(values).get(153, ("",))[0] == "fit", out)
    ok, values, out = robot(["window", title, 1000], ["post-click", 102], ["box", "Really", 5000],
                            ["fit-check"], ["post-click", 7], ["wait-gone", 5000])
    check("a message box's text and buttons are measured",
          ok and measured(values).get(0xFFFF, ("",))[1] == "static", out)

    ok, _, out = robot(["window", title, 1000], ["click", 2], ["wait-gone", 5000])
    check("Close ends the fixture", ok and winenv.wait_exit(fixture, 10) == 2, out)
    fixture = prefix.start([fixture_exe])
    ok, _, out = robot(["window", title, 20000], ["close"], ["wait-gone", 5000])
    check("close ends the fixture through WM_CLOSE", ok and winenv.wait_exit(fixture, 10) == 2, out)

    # run-unseen: a program without windows passes with its exit code; the fixture's dialog is
    # seen (and the fixture, which does not end by itself, stopped at the time-out).
    ok, values, out = robot(["run-unseen", f'"{prefix.windows(robot_exe)}" sleep 300', 20000])
    check("a program without windows passes", ok and ("exit-code", "0") in values and
          not [v for k, v in values if k == "seen"], out)
    ok, values, out = robot(["run-unseen", f'"{prefix.windows(robot_exe)}" jump', 20000])
    check("its exit code is printed", ok and ("exit-code", "2") in values, out)
    ok, values, out = robot(["run-unseen", f'"{prefix.windows(fixture_exe)}"', 5000])
    seen = [v for k, v in values if k == "seen"]
    check("a shown window fails the run and is named", not ok and
          any(title in v for v in seen) and "did not end in time" in out, out)

    # Shortcuts are read back for real in the installer scenarios; here only the refusal.
    ok, values, out = robot(["link-target", "C:\\no such.lnk"])
    check("a missing shortcut fails", not ok and "cannot load" in out, out)

    # Resource replacement on a copy of the fixture: the dialog resource becomes other bytes,
    # and the program then fails to show it.
    copy = os.path.join(work, "prefix", "drive_c", "fixture_copy.exe")
    with open(fixture_exe, "rb") as f, open(copy, "wb") as g:
        g.write(f.read())
    junk = os.path.join(work, "prefix", "drive_c", "junk.bin")
    with open(junk, "wb") as f:
        f.write(b"\x00" * 8)
    before = open(copy, "rb").read()
    ok, _, out = robot(["set-resource", "C:\\fixture_copy.exe", 5, 200, "C:\\junk.bin"])
    check("set-resource succeeds", ok and open(copy, "rb").read() != before, out)
    code, _ = prefix.run(["C:\\fixture_copy.exe"], timeout=30)
    check("the replaced dialog no longer shows (DialogBoxParamW gives -1)", code == 255, code)
    ok, _, out = robot(["set-resource", "C:\\missing.exe", 5, 200, "C:\\junk.bin"])
    check("set-resource on a missing file fails", not ok and "BeginUpdateResourceW" in out, out)
finally:
    prefix.close(keep=bool(failures))

if failures:
    print("\n".join(robot.transcript))
    sys.exit(1)
print("robot tests passed")
