#!/usr/bin/env python3
"""scripts/sign.sh with a throw-away test CA: the signed installer verifies against it with
SHA-256 digests, one flipped byte breaks it, a time stamp comes from the configured RFC 3161
server (a local one answered by `openssl ts`), an unreachable one or no certificate writes no
OUT. Embedding into a signed installer says so and gives an unsigned copy that signs again.
payload winget writes the package manager's manifest for the signed installer and refuses,
leaving nothing behind, a bad URL, an unsigned installer, a file that is not an installer and a
folder that holds the manifest's files already.

Usage: sign_test.py SIGN_SH WINE_RUN PAYLOAD_EXE INSTALLER WORK_FOLDER
Exit code 77 (skipped) when osslsigncode or openssl is missing."""
import http.server
import os
import shutil
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_file import PeFile  # noqa: E402

sign_sh, wine_run, payload_exe, built_installer, work = map(os.path.abspath, sys.argv[1:6])
if not shutil.which("osslsigncode") or not shutil.which("openssl"):
    print("SKIP: osslsigncode or openssl is not installed (scripts/bootstrap.sh installs them)")
    sys.exit(77)
failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")
        print(f"FAIL {name}: {detail}")


def run(*args, **env):
    r = subprocess.run(args, capture_output=True, text=True, cwd=work,
                       env={**os.environ, "NO_PROXY": "127.0.0.1", **env})
    return r.returncode, r.stdout + r.stderr


def sign(source, target, **env):
    return run("bash", sign_sh, source, target, NV_SIGN_PKCS12="cert/signer.p12",
               NV_SIGN_PASSWORD="test", **env)


def verify(name):
    return run("osslsigncode", "verify", "-CAfile", "cert/ca.pem", "-TSA-CAfile", "cert/ca.pem",
               "-in", name)


class TimeStamps(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 server: `openssl ts -reply` with a time-stamping certificate of the test CA."""
    asked = 0

    def do_POST(self):
        with open(os.path.join(work, "query.tsq"), "wb") as f:
            f.write(self.rfile.read(int(self.headers["Content-Length"])))
        run("openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "query.tsq",
            "-signer", "tsa.pem", "-inkey", "tsa.key", "-out", "reply.tsr")
        reply = open(os.path.join(work, "reply.tsr"), "rb").read()
        TimeStamps.asked += 1
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
shutil.copyfile(built_installer, os.path.join(work, "setup.exe"))
rc, out = run("bash", sign_sh, "--test-certificate", "cert")
check("test certificate", rc == 0, out)

rc, out = run("bash", sign_sh, "setup.exe", "unsigned.exe")
check("without a certificate: refused, no OUT",
      rc != 0 and "NV_SIGN_PKCS12" in out and not os.path.exists(os.path.join(work, "unsigned.exe")),
      out)
rc, out = sign("setup.exe", "signed.exe")
check("sign, warning of the missing time stamp", rc == 0 and "no time stamp" in out, out)
rc, out = verify("signed.exe")
check("verifies against the test CA", rc == 0, out)
digests = [line for line in out.splitlines() if "digest algorithm" in line.lower()]
check("SHA-256 digests", digests and all("SHA256" in line.upper() for line in digests), digests)
signed = PeFile(os.path.join(work, "signed.exe"))
for where, rva in (("in the code", 0x1010), ("in the payload", sum(signed.entries[2]) - 0x100)):
    data = bytearray(signed.data)
    data[signed.offset(rva)] ^= 0x01
    with open(os.path.join(work, "flipped.exe"), "wb") as f:
        f.write(data)
    check(f"one byte flipped {where}: verification fails", verify("flipped.exe")[0] != 0)

# The time-stamp server's certificate ends up in the signature it stamped.
with open(os.path.join(work, "tsa.cnf"), "w") as f:
    f.write("[tsa]\ndefault_tsa = local\n[local]\nserial = serial\nsigner_digest = sha256\n"
            "default_policy = 1.2.3.4.1\ndigests = sha256\naccuracy = secs:1\n")
rc, out = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key",
              "-out", "tsa.pem", "-subj", "/CN=Throw-away time stamps", "-CA", "cert/ca.pem",
              "-CAkey", "cert/ca.key", "-addext", "extendedKeyUsage=critical,timeStamping")
check("time-stamping certificate", rc == 0, out)
server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
threading.Thread(target=server.serve_forever, daemon=True).start()
rc, out = sign("setup.exe", "stamped.exe",
               NV_SIGN_TIMESTAMP_URL=f"http://127.0.0.1:{server.server_port}/")
stamped = open(os.path.join(work, "stamped.exe"), "rb").read() if rc == 0 else b""
check("signed with a time stamp from the server", rc == 0 and TimeStamps.asked == 1 and
      subprocess.run(["openssl", "x509", "-in", os.path.join(work, "tsa.pem"), "-outform", "DER"],
                     capture_output=True).stdout in stamped, out)
check("a time-stamped signature verifies", verify("stamped.exe")[0] == 0)
rc, out = sign("setup.exe", "unstamped.exe", NV_SIGN_TIMESTAMP_URL="http://127.0.0.1:9/")
check("an unreachable time-stamp server: refused, no OUT, no partial file",
      rc != 0 and not [n for n in os.listdir(work) if n.startswith((".sign", "unstamped"))],
      os.listdir(work))

# The package manager's manifest is written for the signed installer only. Each refusal: exit
# code 2, one line naming the reason, no file or folder left, an existing manifest file as it was.
URL = "https://downloads.nuvelle.example/InstallTessaline7.08v.exe"
MANIFEST = ["Nuvelle.Tessaline.installer.yaml", "Nuvelle.Tessaline.locale.en-US.yaml",
            "Nuvelle.Tessaline.yaml"]


def winget(installer, url, outdir):
    return run(wine_run, payload_exe, "winget", installer, url, outdir)


def snapshot():
    return {os.path.relpath(os.path.join(d, n), work): open(os.path.join(d, n), "rb").read()
            for d, _, names in os.walk(work) for n in names}


rc, out = winget("signed.exe", URL, "written")
check("winget writes the three files for the signed installer",
      rc == 0 and sorted(os.listdir(os.path.join(work, "written"))) == MANIFEST, out)
os.makedirs(os.path.join(work, "kept"))
with open(os.path.join(work, "kept", MANIFEST[0]), "w") as f:
    f.write("# an earlier release's manifest\n")
shutil.copyfile(payload_exe, os.path.join(work, "payload.exe"))
for case, installer, url, outdir, message in [
        ("a URL that is not http(s)", "signed.exe", "ftp://downloads.nuvelle.example/x.exe", "new",
         "must start with http:// or https://"),
        ("a URL without host", "signed.exe", "https:///x.exe", "new", "names no host"),
        ("an unsigned installer", "setup.exe", URL, "new", "is not signed"),
        ("a program that is not an installer", "payload.exe", URL, "new", "not an installer"),
        ("a file that is not a program", "tsa.cnf", URL, "new", "not a Windows executable"),
        ("an OUTDIR whose files exist", "signed.exe", URL, "written", "exists already"),
        ("an OUTDIR with one of the files", "signed.exe", URL, "kept", "exists already")]:
    before = snapshot()
    rc, out = winget(installer, url, outdir)
    check(f"winget refuses {case}", rc == 2 and len(out.strip().splitlines()) == 1 and
          message in out, f"rc={rc} {out}")
    check(f"winget refusing {case} leaves nothing", snapshot() == before and
          not os.path.exists(os.path.join(work, "new")), sorted(set(snapshot()) ^ set(before)))

# Embedding into a signed installer: the copy has no certificate table and is signed afresh.
with open(os.path.join(work, "m.txt"), "w") as f:
    f.write("SharedData\t<CommonData>\\Nuvelle\tm.txt\n"
            "MainProgram\t<InstallPath>\tm.txt\n"
            "Uninstaller\t<InstallPath>\\Bin\tm.txt\n")
run(wine_run, payload_exe, "pack", "m.txt", "p.bz2", NV_WINEPREFIX=os.environ["NV_WINEPREFIX"])
rc, out = run(wine_run, payload_exe, "embed", "signed.exe", "p.bz2", "embedded.exe")
check("embedding into a signed installer says the signature is gone", rc == 0 and "note:" in out,
      out)
check("the copy carries no certificate table", rc == 0 and
      PeFile(os.path.join(work, "embedded.exe")).certificate_table() == (0, 0))
rc, out = sign("embedded.exe", "embedded.exe")
check("the copy signs in place and verifies", rc == 0 and verify("embedded.exe")[0] == 0, out)

if not failures:
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
