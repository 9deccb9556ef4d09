#!/usr/bin/env python3
"""The robot against robot_fixture.exe: finding the window, clicks (sent and posted), texts,
enabled and check states, combo selection with its notification, message boxes, edit texts,
screenshots, programs that must show no window, shortcut read-back and resource replacement, and
its failure reports.

Usage: robot_test.py ROBOT_EXE FIXTURE_EXE WORK_FOLDER"""
import os
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
