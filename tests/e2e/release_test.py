#!/usr/bin/env python3
"""A release from a staging folder to an installed product, as the release engineer makes it.

The demo payload's files are laid out by kind and token in a staging folder (with one language
library only this release has), `payload manifest` lists them and scripts/release.sh packs,
embeds, signs with a throw-away test certificate and writes the package manager's manifest.
Then: the signature verifies against the test CA; the three YAML files validate against the
package manager's JSON schemas and name the signed file's SHA-256; the installer, started with
the manifest's own switches in a fresh Wine prefix, ends with a code the manifest calls success,
installs into the folder given, writes the log asked for, and its uninstall key, named by the
manifest's ProductCode, holds exactly the manifest's DisplayName, Publisher and DisplayVersion.

Usage: release_test.py INSTALLER PAYLOAD_EXE ROBOT PAYLOAD_DIR SCHEMAS WORK
Exit code 77 (reported by CTest as skipped) when the installer has not been built."""
import hashlib
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winenv  # noqa: E402

installer, payload_exe, robot_exe, payload_dir, schemas, work = map(os.path.abspath, sys.argv[1:7])
SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
URL = "https://downloads.nuvelle.example/tessaline/7.08v/InstallTessaline7.08v.exe"
UNINSTALL_KEYS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# The manifest files by type, each with its schema.
MANIFESTS = {"version": "Nuvelle.Tessaline.yaml",
             "installer": "Nuvelle.Tessaline.installer.yaml",
             "defaultLocale": "Nuvelle.Tessaline.locale.en-US.yaml"}

if not os.path.exists(installer):
    print(f"SKIP: {installer} has not been built yet")
    sys.exit(77)
missing = []
if not os.path.isdir(schemas):
    missing.append(f"the package manager's schemas are not in {schemas} "
                   "(set the CMake cache variable NV_WINGET_SCHEMAS to their folder)")
try:
    import jsonschema
    import yaml
except ImportError as e:
    missing.append(f"{e.name} cannot be imported by {sys.executable}: install python3-jsonschema "
                   "and python3-yaml (scripts/bootstrap.sh)")
if not shutil.which("osslsigncode"):
    missing.append("osslsigncode is not installed (scripts/bootstrap.sh)")
if missing:
    print("FAIL: " + "\nFAIL: ".join(missing))
    sys.exit(1)

failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(name)
        print(f"FAIL {name}: {detail}")
    return condition


def run(*args, **env):
    r = subprocess.run(args, capture_output=True, text=True, encoding="utf-8", errors="replace",
                       cwd=work, env={**os.environ, **env})
    return r.returncode, (r.stdout + r.stderr).replace("\r", "")


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def stop(reason):
    print(f"FAIL {reason}; {len(failures)} failed")
    sys.exit(1)


shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "tmp"))

# ---- the staging folder: the demo payload by kind and token, and a file of this release ----
staged = {}
for line in open(os.path.join(payload_dir, "payload.manifest"), encoding="utf-8"):
    line = line.rstrip("\r\n")
    if not line or line.startswith("#"):
        continue
    kind, destination, source = line.split("\t")
    token, _, below = destination.partition(">")
    rel = os.path.join(kind, token.lstrip("<"), *[p for p in below.split("\\") if p],
                       os.path.basename(source))
    staged[rel] = open(os.path.join(payload_dir, source), "rb").read()
release_only = os.path.join("LanguageLibrary", "InstallPath", "Lang", "Tessaline.it.dll")
staged[release_only] = b"Italian resources only this release has\r\n" * 200
for rel, data in staged.items():
    path = os.path.join(work, "stage", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)

wine_run = os.path.join(SCRIPTS, "wine-run")
code, out = run(wine_run, payload_exe, "manifest", "stage", "release.manifest")
if not check("payload manifest", code == 0 and f"{len(staged)} entries" in out, out):
    stop("no manifest to release")

# ---- the release in one command ----
code, out = run("bash", os.path.join(SCRIPTS, "sign.sh"), "--test-certificate", "cert")
check("test certificate", code == 0, out)
template_digest = digest(installer)
release_env = dict(NV_INSTALLER=installer, NV_PAYLOAD=payload_exe,
                   NV_SIGN_PKCS12=os.path.join(work, "cert", "signer.p12"), NV_SIGN_PASSWORD="test",
                   TMPDIR=os.path.join(work, "tmp"))
code, out = run("bash", os.path.join(SCRIPTS, "release.sh"), "release.manifest", URL, "release",
                **release_env)
print(out)
signed = os.path.join(work, "release", "InstallTessaline7.08v.exe")
if not check("release.sh", code == 0 and os.path.isfile(signed), out):
    stop("no release")
check("the built installer unchanged", digest(installer) == template_digest)
# release.sh's own temporary folders (mktemp's names; Wine keeps a folder of its own in TMPDIR).
leftovers = [n for n in os.listdir(os.path.join(work, "tmp")) if n.startswith("tmp.")] + \
    [n for n in os.listdir(work) if n.startswith(".release")]
check("no temporary folder left", not leftovers, leftovers)
signed_digest = digest(signed)
code, out = run("bash", os.path.join(SCRIPTS, "release.sh"), "release.manifest", URL, "release",
                **release_env)
check("a second release into the same folder is refused and changes nothing",
      code != 0 and "not empty" in out and digest(signed) == signed_digest and
      sorted(os.listdir(os.path.join(work, "release"))) == ["InstallTessaline7.08v.exe", "winget"],
      out)

code, out = run("osslsigncode", "verify", "-CAfile", os.path.join("cert", "ca.pem"), "-in", signed)
check("the signature verifies against the test CA", code == 0, out)

# ---- the package manager's manifest ----
winget = os.path.join(work, "release", "winget")
check("the manifest's files", sorted(os.listdir(winget)) == sorted(MANIFESTS.values()),
      os.listdir(winget))
docs = {}
for kind, name in MANIFESTS.items():
    path = os.path.join(winget, name)
    if not check(f"{name} written", os.path.isfile(path)):
        continue
    text = open(path, encoding="utf-8").read()
    schema = json.load(open(os.path.join(schemas, f"manifest.{kind}.1.10.0.json"), encoding="utf-8"))
    check(f"{name} names its schema", text.splitlines()[0].lower() ==
          f"# yaml-language-server: $schema={schema['$id']}".lower(), text.splitlines()[0])
    docs[kind] = yaml.safe_load(text)
    errors = [f"{'/'.join(map(str, e.path))}: {e.message}"
              for e in jsonschema.Draft7Validator(schema).iter_errors(docs[kind])]
    check(f"{name} valid against its schema", not errors, errors)
if len(docs) != len(MANIFESTS):
    stop("the manifest is incomplete")
check("one package and version in all three files",
      len({(d["PackageIdentifier"], d["PackageVersion"]) for d in docs.values()}) == 1,
      [(d["PackageIdentifier"], d["PackageVersion"]) for d in docs.values()])
installer_doc = docs["installer"]
entry = installer_doc["Installers"][0]
check("InstallerSha256 is the signed installer's", entry["InstallerSha256"].lower() == signed_digest,
      entry["InstallerSha256"])
check("InstallerUrl", entry["InstallerUrl"] == URL, entry["InstallerUrl"])


def setting(key):
    """An installer's setting: its own, else the manifest's root-level one."""
    return entry.get(key, installer_doc.get(key))


switches = setting("InstallerSwitches")
apps = setting("AppsAndFeaturesEntries")[0]
product_code = setting("ProductCode")
check("the installed-programs entry names the package's version and product code",
      apps["DisplayVersion"] == installer_doc["PackageVersion"] and
      apps.get("ProductCode") == product_code, apps)

# ---- the installation the package manager would start ----
TEMPLATE = os.path.join(os.path.dirname(work), "template")
winenv.ensure_template(TEMPLATE)
prefix = winenv.Prefix(TEMPLATE, os.path.join(work, "machine"))
try:
    folder, log = r"C:\Release Test\Tessaline", r"C:\Release Logs\install.log"
    command = " ".join([f'"{prefix.windows(signed)}"', switches["Silent"],
                        switches["InstallLocation"].replace("<INSTALLPATH>", folder),
                        switches["Log"].replace("<LOGPATH>", log)])
    ok, values, out = winenv.Robot(prefix, robot_exe)(["run-unseen", command, 240000], timeout=300)
    exit_code = dict(values).get("exit-code")
    allowed = {0, *(setting("InstallerSuccessCodes") or [])}
    check(f"{command}: exit code 0, a success for the manifest",
          ok and exit_code == "0" and int(exit_code) in allowed, out)
    for rel in ("Tessaline.exe", "Uninstall.exe"):
        path = os.path.join(prefix.unix(folder), rel)
        check(f"{rel} installed in {folder}", os.path.isfile(path), path)
    own = os.path.join(prefix.unix(folder), "Lang", "Tessaline.it.dll")
    check("the release's own file installed as staged", os.path.isfile(own) and
          open(own, "rb").read() == staged[release_only], own)
    check(f"the log {log} written", os.path.isfile(prefix.unix(log)), log)
    key = UNINSTALL_KEYS + "\\" + product_code
    for value in ("DisplayName", "Publisher", "DisplayVersion"):
        found = prefix.reg_query(key, value)
        check(f"{key} {value} is the manifest's", found == ("REG_SZ", apps[value]),
              f"{found} != {apps[value]!r}")
finally:
    prefix.close(keep=bool(failures))

if not failures:
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
