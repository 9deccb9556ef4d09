#!/usr/bin/env bash
# Checks that a build depends only on its sources.
#
#   check-reproducible.sh                 builds the release executables (release-executables.txt:
#                                         the shipped programs and payload.exe) twice from the
#                                         working tree's files (those git tracks or would track),
#                                         each time in another temporary
#                                         folder at another time, prints the SHA-256 of each
#                                         program of both builds and fails when any differs
#   check-reproducible.sh --inspect BUILD checks one build folder: no time stamp in the PE header
#                                         of a release executable, and none of the build's
#                                         folders (source, build, dependencies) in one of them or
#                                         in the payload archive's table
# Exit status 0 when all is well, 1 when a check fails, 2 for a build that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# inspect BUILD: the single-build checks.
inspect() {
  local build=$1
  python3 - "$build" <<'PY'
import bz2, os, re, struct, sys
build = sys.argv[1]
needles = open(os.path.join(build, "build-folders.txt"), encoding="utf-8").read().split("\n")
needles = [n for n in needles if n]
def found_in(data):
    hits = []
    for needle in needles:
        # As written, with backslashes, and as tools mangle paths into symbol names.
        for form in (needle, needle.replace("/", "\\"), re.sub(r"[^A-Za-z0-9]", "_", needle)):
            if form.encode() in data or form.encode("utf-16-le") in data:
                hits.append(form)
    return sorted(set(hits))
failed = False
names = open(os.path.join(build, "release-executables.txt")).read().split()
for name in names:
    data = open(os.path.join(build, "bin", name), "rb").read()
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    stamp = struct.unpack_from("<I", data, nt + 8)[0]
    hits = found_in(data)
    if stamp:
        print(f"{name}: time stamp {stamp:#x} in the PE header")
    if hits:
        print(f"{name}: names the build's folders: {', '.join(hits)}")
    failed |= bool(stamp or hits)
archive = os.path.join(build, "payload", "payload.bz2")
if os.path.exists(archive):
    hits = found_in(bz2.decompress(open(archive, "rb").read()))
    if hits:
        print(f"payload.bz2: names the build's folders: {', '.join(hits)}")
    failed |= bool(hits)
print(f"{build}: {len(names)} release executables: " +
      ("FAILED" if failed else "no time stamp, no build folder"))
sys.exit(1 if failed else 0)
PY
}

if [ "${1:-}" = --inspect ]; then
  [ $# -eq 2 ] || { echo "usage: check-reproducible.sh [--inspect BUILD]" >&2; exit 2; }
  inspect "$2"
  exit
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nv-reproducible.XXXXXX")
status=0
# The two builds stay for a look when they differ.
cleanup() {
  WINEPREFIX="$work/wineprefix" wineserver -k >/dev/null 2>&1 || true
  if [ $status -eq 1 ]; then echo "the builds are in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# build FOLDER: copies the tracked files into FOLDER, builds the release executables there.
build() {
  local src=$1
  mkdir -p "$src"
  # The working tree as it is: tracked files and new ones git does not ignore.
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     xargs -0 cp --parents -t "$src")
  echo "== $(date -u '+%H:%M:%S') building in $src"
  # One Wine prefix for both builds (the build runs payload.exe to pack the demo payload).
  (cd "$src" && cmake --preset default -DBUILD_TESTING=OFF -DNV_WINEPREFIX="$work/wineprefix" \
     >"$work/configure.log" 2>&1 && cmake --build --preset default --target release_executables \
     -- -j"${NV_BUILD_JOBS:-2}" >"$work/build.log" 2>&1) ||
    { tail -30 "$work/configure.log" "$work/build.log" >&2; echo "build in $src failed" >&2; exit 2; }
}

first="$work/first/tessaline"
second="$work/second/in/a/deeper/folder/tessaline-src"
build "$first"
sleep 2  # a different second at least, whatever the machine's speed
build "$second"

echo "== SHA-256 of the release executables ($(git -C "$root" describe --always --dirty))"
while read -r name; do
  a=$(sha256sum "$first/build/bin/$name" | cut -d' ' -f1)
  b=$(sha256sum "$second/build/bin/$name" | cut -d' ' -f1)
  if [ "$a" = "$b" ]; then
    echo "$a  $name  identical"
  else
    echo "$a  $name  (first build)"
    echo "$b  $name  (second build) DIFFERS"
    status=1
  fi
done < "$first/build/release-executables.txt"
inspect "$first/build" || status=1
inspect "$second/build" || status=1
[ $status -eq 0 ] && echo "reproducible" || echo "NOT reproducible"
exit $status
