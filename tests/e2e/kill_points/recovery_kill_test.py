#!/usr/bin/env python3
"""Crash-consistent installation under Wine: a real unattended installation is killed at named
points of its run, and the next start of the installer must put the machine back as it was.

The installer build of this test (installer_kill_points.exe, 34-entry payload) reports every
point of its run: each entry written ahead to its journal file ("journal.record", "journal.end",
...; the entry is on disk, its change not yet made) and the ends of the install steps
("install.extracted", "install.log-header", ...). Told NV_KILL_AT=NAME:N it stops at the N-th
point called NAME and recovery_probe ends it there from outside with TerminateProcess. The
installer is then started again (/S): its start-up recovers the interrupted run and is ended at
"startup.recovered", before it installs anything. The machine's state -- every file and folder
on C: outside the Windows folder with its CRC-32 and read-only bit, and everything below
HKLM\\Software (the uninstall key included) -- must then equal the state before the killed run,
and no backup, working folder or journal may be left. A point after the run's commit mark must
leave the finished installation instead, equal to an uninterrupted run's.

Recovery interrupted: for chosen points the recovery itself is killed at its undo steps
("recover.undo", "recover.delete"), and the next start must still reach the same state.

Machines: fresh (nothing installed), same (this version installed), older (the product replaced
by version 7.8.21.9 and its uninstall key saying so), and bare: a fresh machine with an
installer whose payload lacks its uninstaller (--bare-installer), which can write no uninstall
log and must still end its journal. On the fresh machine the recovery of a late point also meets
the new main program held open by another program: that start must end with 1618, name the file
and keep the journal, and the start after the program ended must restore the machine.

Usage: recovery_kill_test.py INSTALLER PROBE BIN_DIR WORK [--full] [--machines LIST]
                             [--bare-installer INSTALLER]
Without --full a representative part of the points runs (CTest); --full runs every point of
every machine and interrupts the recovery at every step for one late point per machine.
Exit code 77 (skipped) without an X display or without the built programs."""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import winenv  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("installer")
parser.add_argument("probe")
parser.add_argument("bin_dir")
parser.add_argument("work")
parser.add_argument("--full", action="store_true")
parser.add_argument("--machines", default=None)
parser.add_argument("--bare-installer", default=None)
args = parser.parse_args()
if args.machines is None:
    args.machines = "fresh,same,older" + (",bare" if args.bare_installer else "")
for path in (args.installer, args.probe):
    if not os.path.exists(path):
        print(f"SKIP: {path} has not been built")
        sys.exit(77)
if not os.environ.get("DISPLAY"):
    print("SKIP: no X display; run the tests under xvfb-run")
    sys.exit(77)

WORK = os.path.abspath(args.work)
TEMPLATE = os.path.join(os.path.dirname(WORK), "template")
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline 7"
RUN_TIMEOUT_MS = 120000


def quiet(argv, env):
    subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)


class Machine:
    """A prefix copied from a prepared one, with its own wineserver."""

    def __init__(self, source, folder, installer=None):
        self.folder = folder
        self.path = os.path.join(folder, "prefix")
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["cp", "-a", source, self.path], check=True)
        self.env = winenv.wine_env(self.path)
        quiet(["wineserver", "-p5"], self.env)
        quiet(["wine", "cmd", "/c", "exit"], self.env)
        self.prefix = winenv.Prefix.__new__(winenv.Prefix)  # its path helpers only
        self.prefix.path = self.path
        self.prefix.processes = []
        self.prefix.env = self.env
        self.installer = self.prefix.windows(installer or args.installer)
        self.probe = self.prefix.windows(args.probe)

    def run(self, argv, env=None):
        return self.prefix.run(argv, extra_env=env, timeout=RUN_TIMEOUT_MS // 1000 + 60)

    def installer_run(self, options, kill_at=None, step_log=None):
        """The installer with `options`, stopped at `kill_at` ("NAME:N"); "killed", "exit N" or
        "timeout"."""
        env = {}
        if kill_at:
            env["NV_KILL_AT"] = kill_at
        if step_log:
            env["NV_STEP_LOG"] = self.prefix.windows(step_log)
        _, out = self.run([args.probe, "run-until", "nvkill", str(RUN_TIMEOUT_MS), self.installer,
                           *options], env)
        return out.strip().splitlines()[-1] if out.strip() else "no output"

    def state(self):
        files = winenv.drive_files(self.path)
        saved = os.path.join(self.folder, "software.reg")
        code, out = self.run([args.probe, "registry", "Software", self.prefix.windows(saved)])
        if code != 0:
            raise RuntimeError(f"the registry could not be saved: {out}")
        return files, registry_keys(saved)

    def close(self):
        quiet(["wineserver", "-k"], self.env)
        quiet(["wineserver", "-w"], self.env)


def registry_keys(path):
    """The keys of a registry file that Wine saved, each with its values' lines; the times Wine
    keeps of every key's last change are left out."""
    keys, current = {}, None
    for line in open(path, encoding="utf-8", errors="replace").read().splitlines():
        if line.startswith("["):
            current = line[:line.rindex("]") + 1]
            keys[current] = []
        elif current is not None and line and not line.startswith("#time="):
            keys[current].append(line)
    return {key: "\n".join(lines) for key, lines in keys.items()}


def links_by_name(state):
    """A state whose shell links count by their names alone: a link records its target's file
    times, which differ from run to run."""
    files = {p: ("<link>" if p.lower().endswith(".lnk") else v) for p, v in state[0].items()}
    return files, state[1]


def differences(got, want):
    """What differs between two states, in words (at most a few lines each)."""
    found = []
    changed = sorted({p for p, _ in set(got[0].items()) ^ set(want[0].items())})
    for path in changed[:8]:
        found.append(f"file {path}: {got[0].get(path, 'absent')} != {want[0].get(path, 'absent')}")
    got_reg, want_reg = got[1], want[1]
    keys = sorted(k for k in set(got_reg) | set(want_reg) if got_reg.get(k) != want_reg.get(k))
    for key in keys[:4]:
        found.append(f"registry {key}: {got_reg.get(key, 'absent')!r} != "
                     f"{want_reg.get(key, 'absent')!r}")
    return found


def leftovers(state):
    """Backups, working folders, journal files and the journal folder in a state."""
    names = [p for p in state[0] if os.path.basename(p).lower().startswith(("nv", "nuvelle_"))
             and os.sep + "temp" + os.sep in (os.sep + p.lower())]
    names += [p for p in state[0] if p.lower().endswith((".journal", ".key", ".value", ".backup"))
              or "nuvelle journal" in p.lower()]
    return sorted(set(names))


def prepare(kind, folder):
    """The base prefix of a machine kind, ready to copy."""
    base = Machine(TEMPLATE, folder)
    if kind in ("same", "older"):
        result = base.installer_run(["/S"])
        if result != "exit 0":
            raise RuntimeError(f"preparing the {kind} machine: the installation gave {result}")
    if kind == "older":
        main = base.prefix.unix(r"C:\Program Files\Nuvelle\Tessaline 7\Tessaline.exe")
        os.chmod(main, 0o755)
        shutil.copyfile(os.path.join(args.bin_dir, "tessaline_7_8_21_9.exe"), main)
        os.chmod(main, 0o555)
        key = "HKLM\\" + UNINSTALL_KEY
        base.prefix.reg_add(key, "DisplayName", "REG_SZ", "Tessaline 7.08u")
        base.prefix.reg_add(key, "DisplayVersion", "REG_SZ", "7.8.21.9")
    base.close()
    return base.path


class Tally:
    def __init__(self):
        self.points = {}       # machine -> kill points checked
        self.restored = {}     # machine -> points whose state was right
        self.recovery = {}     # machine -> recovery interruptions checked
        self.recovery_ok = {}
        self.failures = []

    def add(self, table, machine, n=1):
        table[machine] = table.get(machine, 0) + n


# The named steps that the representative part always stops at.
REPRESENTATIVE_STEPS = ("install.extracted", "install.registry", "install.log-header",
                        "install.committed", "journal.commit")


def choose(points, full):
    """The kill points to run: every one with --full, else a representative part: the first
    entry, some named steps and every twentieth entry."""
    if full:
        return points
    return [(name, n) for i, (name, n) in enumerate(points)
            if i == 0 or name in REPRESENTATIVE_STEPS or i % 20 == 9]


MAIN_PROGRAM = r"C:\Program Files\Nuvelle\Tessaline 7\Tessaline.exe"


def held_recovery(machine, late_label, log, tally, check, restore):
    """A run killed at `late_label`, then a start while a program holds the new main program
    open: the start must end with 1618 and name the file, keep the journal, install nothing; the
    start after the program ended must restore the machine."""
    label = f"{late_label}, the main program held during the recovery"
    if machine.installer_run(["/S"], kill_at=late_label) != "killed":
        tally.failures.append(f"fresh {label}: the run was not stopped")
        restore()
        return
    ready = os.path.join(machine.folder, "held.ready")
    if os.path.exists(ready):
        os.remove(ready)
    holder = machine.prefix.start([machine.prefix.windows(os.path.join(args.bin_dir, "payload_hold_file.exe")),
                                   MAIN_PROGRAM, "file:" + machine.prefix.windows(ready)])
    deadline = time.time() + 60
    while not os.path.exists(ready) and time.time() < deadline and holder.poll() is None:
        time.sleep(0.1)
    if os.path.exists(log):
        os.remove(log)
    refused = machine.installer_run(["/S", f"/LOG={machine.prefix.windows(log)}"])
    text = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
    journals = [p for p in machine.state()[0] if p.lower().endswith(".journal")]
    holder.kill()
    holder.wait()
    problems = []
    if not os.path.exists(ready):
        problems.append("the holder did not start")
    if refused != "exit 1618":
        problems.append(f"the start while the file was held gave {refused}")
    if "could not be undone completely" not in text or "Tessaline.exe" not in text:
        problems.append("the /LOG file does not name the held file")
    if not journals:
        problems.append("the journal did not stay for the next start")
    if problems:
        tally.failures.append(f"fresh {label}: " + "; ".join(problems))
        restore()
        return
    if machine.installer_run(["/S"], kill_at="startup.recovered:1") != "killed":
        tally.failures.append(f"fresh {label}: the start after the program ended did not recover")
        restore()
        return
    check(label, 0, tally.recovery, tally.recovery_ok)


def run_machine(kind, tally):
    folder = os.path.join(WORK, kind)
    base = prepare(kind, os.path.join(folder, "base"))
    installer = args.bare_installer if kind == "bare" else args.installer

    # The reference: an uninterrupted run, its points and the installed state it leaves.
    machine = Machine(base, os.path.join(folder, "work"), installer)
    before = machine.state()
    steps_file = os.path.join(folder, "steps.txt")
    if os.path.exists(steps_file):
        os.remove(steps_file)
    result = machine.installer_run(["/S"], step_log=steps_file)
    if result != "exit 0":
        raise RuntimeError(f"{kind}: the uninterrupted installation gave {result}")
    installed = machine.state()
    if leftovers(installed):
        tally.failures.append(f"{kind}: a finished run left {leftovers(installed)}")
    steps = open(steps_file).read().split()
    counts, points = {}, []
    for name in steps:
        counts[name] = counts.get(name, 0) + 1
        if not name.startswith("startup."):
            points.append((name, counts[name]))
    commit = steps.index("journal.commit") if "journal.commit" in steps else len(steps)
    commit_point = next(i for i, p in enumerate(points) if p == ("journal.commit", 1))
    print(f"{kind}: {len(points)} points in an uninterrupted run ({commit} before its commit)",
          flush=True)
    machine.close()

    machine = Machine(base, os.path.join(folder, "work"), installer)
    if machine.state() != before:
        raise RuntimeError(f"{kind}: the copied machine differs from its base")
    log = os.path.join(folder, "recovery.log")
    chosen = choose(points, args.full)
    # The recovery is interrupted after the last point before the commit, where it has most to do.
    late = points[commit_point - 1]

    def restore():
        nonlocal machine
        machine.close()
        machine = Machine(base, os.path.join(folder, "work"), installer)

    def check(label, index, counter_all, counter_ok):
        finished = index >= commit_point
        want = installed if finished else before
        got = machine.state()
        left = [f"left: {p}" for p in leftovers(got)]
        if finished:
            got, want = links_by_name(got), links_by_name(want)
        found = differences(got, want) + left
        tally.add(counter_all, kind)
        if found:
            tally.failures.append(f"{kind} {label}: " + "; ".join(found))
            restore()
            return False
        tally.add(counter_ok, kind)
        if finished:
            restore()
        return True

    def recover(options=None, kill_at="startup.recovered:1"):
        return machine.installer_run(options or ["/S"], kill_at=kill_at)

    started = time.time()
    for name, n in chosen:
        index = points.index((name, n))
        label = f"{name}:{n}"
        killed = machine.installer_run(["/S"], kill_at=label)
        if killed != "killed":
            tally.failures.append(f"{kind} {label}: the run was not stopped there ({killed})")
            restore()
            continue
        if os.path.exists(log):
            os.remove(log)
        recovered = recover(["/S", f"/LOG={machine.prefix.windows(log)}"])
        if recovered != "killed":
            tally.failures.append(f"{kind} {label}: the recovering start gave {recovered}")
            restore()
            continue
        # The unattended start writes the recovery to its log, once a run was undone.
        text = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
        undone = "An interrupted installation was found and undone" in text
        if index < commit_point and not undone:
            tally.failures.append(f"{kind} {label}: the /LOG file does not tell the recovery")
        check(label, index, tally.points, tally.restored)

    late_label = f"{late[0]}:{late[1]}"
    if kind == "fresh":
        held_recovery(machine, late_label, log, tally, check, restore)

    # Recoveries killed at their own steps, then started once more. First the number of steps a
    # recovery of the late point takes.
    recovery_log = os.path.join(folder, "recovery_steps.txt")
    if os.path.exists(recovery_log):
        os.remove(recovery_log)
    undo_steps = 0
    if machine.installer_run(["/S"], kill_at=late_label) == "killed" and \
            machine.installer_run(["/S"], kill_at="startup.recovered:1",
                                  step_log=recovery_log) == "killed":
        undo_steps = open(recovery_log).read().split().count("recover.undo")
    check(f"{late_label} (counting the recovery's steps)", commit_point - 1, {}, {})
    interruptions = [f"recover.undo:{j}" for j in range(1, undo_steps + 1)] + ["recover.delete:1"]
    if not args.full:
        interruptions = [f"recover.undo:{max(undo_steps // 2, 1)}", "recover.delete:1"]
    for step in interruptions:
        label = f"{late_label}, then the recovery at {step}"
        if machine.installer_run(["/S"], kill_at=late_label) != "killed":
            tally.failures.append(f"{kind} {label}: the run was not stopped")
            restore()
            continue
        stopped = machine.installer_run(["/S"], kill_at=step)
        again = recover() if stopped == "killed" else stopped
        if again != "killed":
            tally.failures.append(f"{kind} {label}: the recovery gave {stopped}, then {again}")
            restore()
            continue
        check(label, commit_point - 1, tally.recovery, tally.recovery_ok)
    machine.close()
    print(f"{kind}: {tally.points.get(kind, 0)} kill points, {tally.restored.get(kind, 0)} "
          f"restored; {tally.recovery.get(kind, 0)} recoveries interrupted, "
          f"{tally.recovery_ok.get(kind, 0)} restored ({time.time() - started:.0f} s)", flush=True)


def main():
    winenv.ensure_template(TEMPLATE)
    tally = Tally()
    started = time.time()
    for kind in args.machines.split(","):
        try:
            run_machine(kind, tally)
        except Exception as error:  # one machine's failure must not hide the others
            tally.failures.append(f"{kind}: {error!r}")
    points = sum(tally.points.values())
    restored = sum(tally.restored.values())
    recoveries = sum(tally.recovery.values())
    recoveries_ok = sum(tally.recovery_ok.values())
    total, ok = points + recoveries, restored + recoveries_ok
    print(f"kill points: {points} ({', '.join(f'{k} {v}' for k, v in tally.points.items())}); "
          f"recoveries interrupted: {recoveries}; restored: {ok}/{total} "
          f"({100.0 * ok / total if total else 0:.1f} %) in {time.time() - started:.0f} s")
    if tally.failures:
        print("\n".join(tally.failures))
        return 1
    shutil.rmtree(WORK, ignore_errors=True)
    return 0


sys.exit(main())
