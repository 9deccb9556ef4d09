#!/usr/bin/env bash
# Builds everything, then runs the payload tool on the embedded demo payload under Wine: lists its
# table, verifies it and extracts it into build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default

export NV_WINEPREFIX=$PWD/build/wineprefix
payload() { scripts/wine-run build/bin/payload.exe "$@"; }
archive=build/payload/payload.bz2
rm -rf build/demo
echo "== payload list $archive"
payload list "$archive"
echo "== payload verify $archive"
payload verify "$archive"
echo "== payload extract $archive --install build/demo/install --samples <abs> --temp build/demo/temp"
payload extract "$archive" --install build/demo/install --samples "Z:$PWD/build/demo/samples" \
  --temp build/demo/temp
echo "== extracted into build/demo (shared data went to the Wine prefix's ProgramData)"
find build/demo -type f | sort
