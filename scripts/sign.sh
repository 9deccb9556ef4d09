#!/usr/bin/env bash
# Authenticode signature (SHA-256) for a Windows executable, made with osslsigncode.
#
#   sign.sh IN OUT                      signs IN into OUT (OUT may be IN); OUT is written under a
#                                       temporary name beside it and renamed when complete
#   sign.sh --test-certificate DIR      makes (once) a throw-away test CA and a code-signing
#                                       certificate issued by it in DIR, and prints the
#                                       environment that signs with it
#
# Environment for signing:
#   NV_SIGN_PKCS12          PKCS#12 file with the code-signing certificate, its chain and key
#   NV_SIGN_PASSWORD        the password of that file
#   NV_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server; the signature then stays valid after
#                           the certificate expires. Without it the signature has no time stamp
#                           (a warning says so)
#
# Sign last: embedding a payload (payload embed) changes the file and removes any signature.
set -euo pipefail

die() { echo "sign.sh: $*" >&2; exit 2; }

make_test_certificate() {
  local dir=$1
  mkdir -p "$dir"
  if [ ! -f "$dir/signer.p12" ]; then
    local days=3650 subject="/O=Nuvelle test only"
    openssl req -x509 -newkey rsa:2048 -nodes -days $days -sha256 -keyout "$dir/ca.key" \
      -out "$dir/ca.pem" -subj "$subject/CN=Throw-away test CA" \
      -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout "$dir/signer.key" -out "$dir/signer.csr" \
      -subj "$subject/CN=Throw-away code signing" 2>/dev/null
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=critical,codeSigning" > "$dir/signer.ext"
    openssl x509 -req -in "$dir/signer.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
      -CAcreateserial -days $days -sha256 -extfile "$dir/signer.ext" -out "$dir/signer.pem" \
      2>/dev/null
    printf 'test\n' > "$dir/signer.pass"
    openssl pkcs12 -export -inkey "$dir/signer.key" -in "$dir/signer.pem" \
      -certfile "$dir/ca.pem" -passout "file:$dir/signer.pass" -out "$dir/signer.p12.new"
    mv "$dir/signer.p12.new" "$dir/signer.p12"
  fi
  echo "export NV_SIGN_PKCS12='$dir/signer.p12' NV_SIGN_PASSWORD='test'"
  echo "# verify with: osslsigncode verify -CAfile '$dir/ca.pem' -in FILE"
}

if [ "${1:-}" = --test-certificate ]; then
  [ $# -eq 2 ] || die "usage: sign.sh --test-certificate DIR"
  make_test_certificate "$(realpath -m "$2")"
  exit 0
fi
[ $# -eq 2 ] || die "usage: sign.sh IN OUT | sign.sh --test-certificate DIR"
in=$1 out=$2
command -v osslsigncode >/dev/null || die "osslsigncode is not installed (scripts/bootstrap.sh)"
[ -n "${NV_SIGN_PKCS12:-}" ] && [ -n "${NV_SIGN_PASSWORD+set}" ] ||
  die "set NV_SIGN_PKCS12 and NV_SIGN_PASSWORD (for a test: sign.sh --test-certificate DIR)"
[ -f "$NV_SIGN_PKCS12" ] || die "cannot read $NV_SIGN_PKCS12"
[ -f "$in" ] || die "cannot read $in"

work=$(mktemp -d)
partial=$(mktemp "$(dirname -- "$out")/.sign.XXXXXX")
trap 'rm -rf "$work"; rm -f "$partial"' EXIT
# The password goes through a file only this user can read, never the command line.
(umask 077 && printf '%s' "$NV_SIGN_PASSWORD" > "$work/pass")

timestamp=()
if [ -n "${NV_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$NV_SIGN_TIMESTAMP_URL")
else
  echo "sign.sh: warning: no NV_SIGN_TIMESTAMP_URL, the signature has no time stamp" >&2
fi
rm -f "$partial"
if ! osslsigncode sign -pkcs12 "$NV_SIGN_PKCS12" -readpass "$work/pass" -h sha256 \
       "${timestamp[@]}" -in "$in" -out "$partial" >"$work/log" 2>&1; then
  cat "$work/log" >&2
  die "signing $in failed"
fi
chmod --reference="$in" "$partial"
mv -f "$partial" "$out"
echo "signed $out"
