#!/usr/bin/env bash
# The release in one command: packs the reviewed payload manifest, embeds the archive into the
# built installer, signs the result and writes the package manager's manifest for it.
#
#   release.sh MANIFEST URL [OUTDIR]
#
# MANIFEST  the payload manifest (payload manifest STAGING OUT writes one; review it first)
# URL       where the signed installer will be downloaded from (http:// or https://)
# OUTDIR    the release folder, new or empty (default: release). It receives
#             OUTDIR/InstallTessaline7.08v.exe    the signed installer
#             OUTDIR/winget/Nuvelle.Tessaline*.yaml  the package manager's manifest
#
# Environment:
#   NV_SIGN_PKCS12, NV_SIGN_PASSWORD, NV_SIGN_TIMESTAMP_URL   as for scripts/sign.sh
#   NV_INSTALLER   the built installer (default build/bin/InstallTessaline7.08v.exe); never changed
#   NV_PAYLOAD     payload.exe (default build/bin/payload.exe)
#   NV_WINEPREFIX  the Wine prefix payload.exe runs in (default build/wineprefix)
# Default paths are below the repository. The release is made in a temporary folder beside
# OUTDIR and renamed to OUTDIR only when complete: a failure leaves no OUTDIR behind.
set -euo pipefail

die() { echo "release.sh: $*" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
[ $# -eq 2 ] || [ $# -eq 3 ] || die "usage: release.sh MANIFEST URL [OUTDIR]"
manifest=$1 url=$2 outdir=${3:-release}
installer=${NV_INSTALLER:-$root/build/bin/InstallTessaline7.08v.exe}
payload=${NV_PAYLOAD:-$root/build/bin/payload.exe}
export NV_WINEPREFIX=${NV_WINEPREFIX:-$root/build/wineprefix}
name=InstallTessaline7.08v.exe

[ -f "$manifest" ] || die "cannot read the manifest $manifest"
[ -f "$installer" ] || die "no built installer $installer (build it, or set NV_INSTALLER)"
[ -f "$payload" ] || die "no payload.exe at $payload (build it, or set NV_PAYLOAD)"
case ${url,,} in
  http://?* | https://?*) ;;
  *) die "the URL must start with http:// or https://: $url" ;;
esac
if [ -e "$outdir" ] || [ -L "$outdir" ]; then
  [ -d "$outdir" ] && [ ! -L "$outdir" ] || die "$outdir is not a folder: name a new one"
  [ -z "$(ls -A -- "$outdir")" ] || die "$outdir is not empty: a release writes a new folder"
fi
parent=$(dirname -- "$outdir")
[ -d "$parent" ] || die "no folder $parent for $outdir"

# A Unix path as payload.exe sees it under Wine: on drive Z:, which is the Unix root.
windows_path() {
  local full
  full=$(realpath -m -- "$1")
  printf 'Z:%s' "${full//\//\\}"
}
payload_tool() { "$here/wine-run" "$payload" "$@"; }

work=$(mktemp -d)
partial=$(mktemp -d "$parent/.release.XXXXXX")
trap 'rm -rf -- "$work" "$partial"' EXIT

payload_tool pack "$(windows_path "$manifest")" "$(windows_path "$work/payload.bz2")" ||
  die "payload pack refused $manifest"
payload_tool embed "$(windows_path "$installer")" "$(windows_path "$work/payload.bz2")" \
  "$(windows_path "$work/unsigned.exe")" || die "payload embed failed"
bash "$here/sign.sh" "$work/unsigned.exe" "$partial/$name" || die "signing failed"
payload_tool winget "$(windows_path "$partial/$name")" "$url" \
  "$(windows_path "$partial/winget")" || die "payload winget failed"

# mktemp made the folder for this user alone; the release gets the usual permissions.
chmod "$(printf '%o' $((0777 & ~$(umask))))" "$partial"
# rename(2) takes the place of an empty OUTDIR, and fails for one that has been filled since.
mv -T -- "$partial" "$outdir" || die "cannot move the release to $outdir"
echo "release in $outdir:"
echo "  $outdir/$name  SHA-256 $(sha256sum "$outdir/$name" | cut -d' ' -f1)"
for file in "$outdir"/winget/*.yaml; do echo "  $file"; done
