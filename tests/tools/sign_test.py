#!/usr/bin/env python3
"""scripts/sign.sh with a throw-away test CA: the signed installer verifies against that CA and
no other, one flipped byte breaks it, a time stamp comes from the configured RFC 3161 server (a
local one answered by `openssl ts`), and a signing that cannot be completed writes no OUT.
Embedding a payload into a signed installer says so and gives an unsigned copy that signs again.

Usage: sign_test.py SIGN_SH WINE_RUN PAYLOAD_EXE INSTALLER WORK_FOLDER
Exit code 77 (skipped) when osslsigncode or openssl is missing."""
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
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


def path(name):
    return os.path.join(work, name)


def run(args, env=None):
    r = subprocess.run(args, capture_output=True, text=True, cwd=work,
                       env={**os.environ, "NO_PROXY": "127.0.0.1", **(env or {})})
    return r.returncode, r.stdout + r.stderr


def certificate(folder):
    """Environment that signs with a test certificate made (once) in `folder`."""
    rc, out = run(["bash", sign_sh, "--test-certificate", path(folder)])
    check(f"test certificate in {folder}", rc == 0, out)
    return {"NV_SIGN_PKCS12": path(f"{folder}/signer.p12"), "NV_SIGN_PASSWORD": "test"}


def sign(source, target, env):
    return run(["bash", sign_sh, path(source), path(target)], env)


def verify(name, ca="cert/ca.pem"):
    return run(["osslsigncode", "verify", "-CAfile", path(ca), "-TSA-CAfile", path(ca),
                "-in", path(name)])


class TimeStampAuthority(http.server.BaseHTTPRequestHandler):
    """Answers RFC 3161 requests with `openssl ts -reply`, signed by a TSA certificate of the CA."""
    requests = 0

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as t:
            open(os.path.join(t, "query"), "wb").write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", path("tsa/tsa.cnf"),
                            "-queryfile", os.path.join(t, "query"), "-signer", path("tsa/tsa.pem"),
                            "-inkey", path("tsa/tsa.key"), "-out", os.path.join(t, "reply")],
                           capture_output=True)
            reply = open(os.path.join(t, "reply"), "rb").read()
        TimeStampAuthority.requests += 1
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def start_time_stamp_authority():
    os.makedirs(path("tsa"))
    with open(path("tsa/tsa.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=critical,timeStamping\n")
    with open(path("tsa/tsa.cnf"), "w") as f:
        f.write(f"[tsa]\ndefault_tsa = local\n[local]\nserial = {path('tsa/serial')}\n"
                "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                "digests = sha256, sha384, sha512\naccuracy = secs:1\n"
                "ess_cert_id_alg = sha256\n")
    with open(path("tsa/serial"), "w") as f:
        f.write("01\n")
    for args in (["req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa/tsa.key", "-out",
                  "tsa/tsa.csr", "-subj", "/CN=Throw-away time stamps"],
                 ["x509", "-req", "-in", "tsa/tsa.csr", "-CA", "cert/ca.pem", "-CAkey",
                  "cert/ca.key", "-CAcreateserial", "-days", "30", "-extfile", "tsa/tsa.ext",
                  "-out", "tsa/tsa.pem"]):
        rc, out = run(["openssl", *args])
        check(f"openssl {args[0]} for the TSA", rc == 0, out)
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampAuthority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}/"


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
shutil.copyfile(built_installer, path("setup.exe"))
env = certificate("cert")
other = certificate("other")

rc, out = run(["bash", sign_sh, path("setup.exe"), path("unsigned.exe")])
check("without a certificate: refused", rc != 0 and "NV_SIGN_PKCS12" in out, out)
check("without a certificate: no OUT", not os.path.exists(path("unsigned.exe")), "")

rc, out = sign("setup.exe", "signed.exe", env)
check("sign", rc == 0 and "no time stamp" in out, out)
check("signed: a certificate table", PeFile(path("signed.exe")).certificate_table()[1] > 0, "")
rc, out = verify("signed.exe")
check("verifies against the test CA", rc == 0, out)
digests = [line for line in out.splitlines() if "digest algorithm" in line.lower()]
check("SHA-256 digests", digests and all("SHA256" in line.upper() for line in digests), digests)
rc, out = verify("signed.exe", ca="other/ca.pem")
check("does not verify against another CA", rc != 0, out)

signed = PeFile(path("signed.exe"))
payload_at = signed.offset(signed.entries[2][0]) + signed.entries[2][1] - 100
for where, offset in (("in the code", signed.offset(0x1000) + 16), ("in the resources", payload_at)):
    data = bytearray(signed.data)
    data[offset] ^= 0x01
    with open(path("flipped.exe"), "wb") as f:
        f.write(data)
    rc, out = verify("flipped.exe")
    check(f"one byte flipped {where}: verification fails", rc != 0, out)

url = start_time_stamp_authority()
rc, out = sign("setup.exe", "stamped.exe", {**env, "NV_SIGN_TIMESTAMP_URL": url})
check("sign with a time stamp", rc == 0 and "no time stamp" not in out, out)
check("the time-stamp server was asked", TimeStampAuthority.requests == 1,
      TimeStampAuthority.requests)
tsa_der = subprocess.run(["openssl", "x509", "-in", path("tsa/tsa.pem"), "-outform", "DER"],
                         capture_output=True).stdout
check("the time stamp is in the signature",
      tsa_der and os.path.exists(path("stamped.exe")) and
      tsa_der in open(path("stamped.exe"), "rb").read(), "TSA certificate not found")
rc, out = verify("stamped.exe")
check("a time-stamped signature verifies", rc == 0, out)
rc, out = sign("setup.exe", "unstamped.exe", {**env, "NV_SIGN_TIMESTAMP_URL": "http://127.0.0.1:9/"})
check("an unreachable time-stamp server: refused", rc != 0, out)
check("an unreachable time-stamp server: no OUT", not os.path.exists(path("unstamped.exe")),
      os.listdir(work))
check("no partial file left", not [n for n in os.listdir(work) if n.startswith(".sign")],
      os.listdir(work))

# Embedding into a signed installer: the copy has no certificate table and is signed afresh.
with open(path("m.txt"), "w") as f:
    f.write("SharedData\t<CommonData>\\Nuvelle\tm.txt\n")
run([wine_run, payload_exe, "pack", "m.txt", "payload.bz2"])
rc, out = run([wine_run, payload_exe, "embed", "signed.exe", "payload.bz2", "embedded.exe"])
check("embedding into a signed installer says the signature is gone",
      rc == 0 and "note:" in out and "sign" in out, out)
check("the copy carries no certificate table",
      os.path.exists(path("embedded.exe")) and
      PeFile(path("embedded.exe")).certificate_table() == (0, 0), "")
rc, out = sign("embedded.exe", "embedded.exe", env)
check("the copy signs in place", rc == 0, out)
rc, out = verify("embedded.exe")
check("the signed copy verifies", rc == 0, out)

if not failures:
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
