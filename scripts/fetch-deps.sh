#!/usr/bin/env bash
# Fetches the Debian source packages of the third-party libraries (bzip2, Boost 1.81), checks
# them against their .dsc checksums and extracts the parts the build uses into a cache outside
# the work tree. Prints nothing but errors when the cache is already complete.
#
#   NV_DEPS_DIR   cache folder (default: ~/.cache/tessaline-deps)
set -euo pipefail

deps=${NV_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tessaline-deps}
stamp="$deps/.complete-v1"
[ -f "$stamp" ] && exit 0

mkdir -p "$deps/download"
cd "$deps/download"

if ! ls bzip2_1.0.8.orig.tar.gz boost1.81_1.81.0.orig.tar.xz >/dev/null 2>&1; then
  apt-get source --download-only bzip2 boost1.81 >/dev/null
fi

# Every orig tarball must match the SHA-256 its .dsc lists.
verify() {
  local dsc=$1 file=$2 want
  want=$(awk -v f="$file" '/^Checksums-Sha256:/{s=1;next} /^[^ ]/{s=0} s && $3==f {print $1}' "$dsc")
  [ -n "$want" ] || { echo "no checksum for $file in $dsc" >&2; exit 1; }
  echo "$want  $file" | sha256sum -c --quiet - || { echo "checksum mismatch: $file" >&2; exit 1; }
}
verify "$(ls bzip2_1.0.8-*.dsc | head -n1)" bzip2_1.0.8.orig.tar.gz
verify "$(ls boost1.81_1.81.0-*.dsc | head -n1)" boost1.81_1.81.0.orig.tar.xz

cd "$deps"
rm -rf bzip2-1.0.8 boost
tar -xzf download/bzip2_1.0.8.orig.tar.gz \
  bzip2-1.0.8/{blocksort.c,huffman.c,crctable.c,randtable.c,compress.c,decompress.c,bzlib.c,bzlib.h,bzlib_private.h,LICENSE}

# Boost: only the dependency closure of iostreams, format, uuid, algorithm and system.
libs="algorithm align array assert atomic bind chrono concept_check config container container_hash
conversion core date_time describe detail dynamic_bitset endian exception format function
function_types functional fusion integer intrusive io iostreams iterator lexical_cast move mp11 mpl
numeric/conversion optional phoenix pool predef preprocessor proto random range ratio rational
regex serialization smart_ptr spirit static_assert system thread throw_exception tokenizer tti
tuple type_index type_traits typeof unordered utility uuid variant variant2 winapi"
with_src="atomic chrono container date_time exception iostreams random regex serialization system thread"
list=$(mktemp)
{
  echo boost/CMakeLists.txt
  echo boost/LICENSE_1_0.txt
  echo boost/tools/cmake/include
  for l in $libs; do echo "boost/libs/$l/CMakeLists.txt"; echo "boost/libs/$l/include"; done
  for l in $with_src; do echo "boost/libs/$l/src"; done
  echo boost/libs/atomic/cmake
  echo boost/libs/atomic/config
  echo boost/libs/config/checks/architecture
} > "$list"
tar -xJf download/boost1.81_1.81.0.orig.tar.xz -T "$list"
rm -f "$list"
touch "$stamp"
