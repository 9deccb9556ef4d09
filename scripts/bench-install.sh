#!/usr/bin/env bash
# Benchmark of a whole silent installation (not a test): our installer against NSIS installers
# (solid bzip2 and solid lzma) of the same files, under Wine, in paired rounds; then the native
# decompression floors of the same data and the sizes of the three installers.
#
#   NV_BENCH_ROUNDS  rounds (default 7); each round runs the three installers once, the order
#                    reversed every other round, then the three floors. 0 only prepares: builds,
#                    generates the files, packs and compiles the installers
#   NV_BENCH_MB      size of the generated files in MB (default 100: 74 files, ~109 MB with the
#                    product and the uninstaller)
#   NV_BENCH_DIR     work folder (default build/bench-install); files, archives and installers
#                    made there are reused while they are newer than what they are made from
#
# Every timed run installs into an empty folder of a fresh copy of a template prefix, whose
# wineserver and session are started, and left to come to rest, before the clock starts. Times:
# wall clock from the start of the launcher (scripts/bench_launch.c) to its end; CPU is user +
# system time of the whole Wine process tree (scripts/bench_install.py explains how it is read).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target installer payload Tessaline uninstaller_program >/dev/null

rounds=${NV_BENCH_ROUNDS:-7}
mb=${NV_BENCH_MB:-100}
work=${NV_BENCH_DIR:-$root/build/bench-install}
helper="python3 $root/scripts/bench_install.py"
arch=$(scripts/wine-arch)
export WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WINEPREFIX DISPLAY
if [ "$arch" = win64 ]; then
  export PATH="$root/scripts/wine64:$PATH"
  cc=x86_64-w64-mingw32-gcc
else
  cc=i686-w64-mingw32-gcc
fi
mkdir -p "$work"

# stale OUT INPUT...: true when OUT is missing or older than any of the inputs (or their files).
stale() {
  local out=$1
  shift
  [ ! -e "$out" ] || [ -n "$(find "$@" -newer "$out" -print -quit)" ]
}
# payload ARGS...: the build's payload tool, under the build's test prefix.
payload() { NV_WINEPREFIX=$root/build/wineprefix scripts/wine-run build/bin/payload.exe "$@"; }

# The files: bench_data.py's 74, with the product stand-in and the uninstaller the build made.
data=$work/data-$mb
if [ ! -f "$data/payload.manifest" ]; then
  rm -rf "$data" && mkdir -p "$data/files"
  python3 scripts/bench_data.py "$data" "$mb" --programs build/bin/Tessaline.exe build/bin/Uninstall.exe
fi
for program in Tessaline.exe Uninstall.exe; do
  cmp -s "build/bin/$program" "$data/files/$program" || cp "build/bin/$program" "$data/files/$program"
done
archive=$data/payload.bz2
if stale "$archive" "$data/files" "$data/payload.manifest"; then
  payload pack "$data/payload.manifest" "$archive" >/dev/null
fi

# Our installer: a copy of the built one with this payload in place of the demo payload. The
# installers live beside the files they carry, one set per size.
ours=$data/ours/InstallTessaline7.08v.exe
mkdir -p "$data/ours"
if stale "$ours" "$archive" build/bin/InstallTessaline7.08v.exe; then
  payload embed build/bin/InstallTessaline7.08v.exe "$archive" "$ours" >/dev/null
fi

# The NSIS installers, each script beside its output.
for compressor in bzip2 lzma; do
  out=$data/nsis-$compressor/Tessaline-nsis-$compressor.exe
  mkdir -p "$data/nsis-$compressor"
  if stale "$out" "$data/files" "$data/payload.manifest" scripts/bench_install.py; then
    $helper nsi "$data/payload.manifest" "$compressor" "$data/nsis-$compressor/installer.nsi" "$out"
    makensis -V2 "$data/nsis-$compressor/installer.nsi" >"$data/nsis-$compressor/makensis.log"
  fi
done

# The floors' xz side: the same files in one tar (fixed order, owners and times), one xz block.
tarball=$data/files.tar.xz
if stale "$tarball" "$data/files"; then
  tar -C "$data" --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -cf - files |
    xz -6 -T1 -c >"$tarball"
fi

# The launcher: the same literal command line for every installer (see bench_launch.c).
launcher=$work/bench_launch.exe
if stale "$launcher" scripts/bench_launch.c; then
  "$cc" -O2 -s -o "$launcher" scripts/bench_launch.c
fi

# The template prefix, made once; every run works in a fresh copy of it.
template=$work/template
if [ ! -f "$template/.bench-ready" ]; then
  rm -rf "$template"
  WINEPREFIX=$template wineboot -i </dev/null >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w </dev/null >/dev/null 2>&1
  touch "$template/.bench-ready"
fi

install_folder='C:\Program Files\Nuvelle\Tessaline 7'
win_path() { printf 'Z:%s' "${1//\//\\}"; }
declare -A command_line=(
  [ours]="\"$(win_path "$ours")\" /S /D=\"$install_folder\""
  [bzip2]="\"$(win_path "$data/nsis-bzip2/Tessaline-nsis-bzip2.exe")\" /S /D=$install_folder"
  [lzma]="\"$(win_path "$data/nsis-lzma/Tessaline-nsis-lzma.exe")\" /S /D=$install_folder"
)

run_prefix=$work/run/prefix
results=$work/results.txt
log=$work/run.log
# The run prefix's wineserver is started persistent: it must not outlive the benchmark.
trap 'WINEPREFIX=$run_prefix wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
: >"$results"
: >"$log"

# fresh_prefix: a copy of the template with its wineserver up and its session started and idle.
fresh_prefix() {
  if [ -d "$run_prefix" ]; then
    WINEPREFIX=$run_prefix wineserver -k </dev/null >/dev/null 2>&1 || true
    WINEPREFIX=$run_prefix wineserver -w </dev/null >/dev/null 2>&1 || true
    rm -rf "$run_prefix"
  fi
  mkdir -p "$(dirname "$run_prefix")"
  cp -a "$template" "$run_prefix"
  WINEPREFIX=$run_prefix wineserver -p </dev/null >/dev/null 2>&1
  WINEPREFIX=$run_prefix wine cmd /c exit </dev/null >>"$log" 2>&1
  WINEPREFIX=$run_prefix $helper settle "$run_prefix"
}

# timed ROUND NAME PREFIX COMMAND...: one measured run, its line added to the results.
timed() {
  local round=$1 name=$2 prefix=$3
  shift 3
  local one=$work/run/one.txt
  : >"$one"
  echo "== round $round: $name" >>"$log"
  WINEPREFIX=$prefix $helper time "$prefix" "$one" "$log" -- "$@"
  echo "$round $name $(cat "$one")" >>"$results"
  cut -d' ' -f1 "$one"
}

install_run() {
  local round=$1 name=$2 code
  fresh_prefix
  if [ "$name" = "${order[0]}" ]; then
    # Once a round: what starting a trivial program costs in this warm session.
    code=$(NV_BENCH_COMMAND="cmd.exe /c exit" timed "$round" start "$run_prefix" wine "$launcher")
    WINEPREFIX=$run_prefix $helper settle "$run_prefix"
  fi
  code=$(NV_BENCH_COMMAND=${command_line[$name]} timed "$round" "$name" "$run_prefix" wine "$launcher")
  if [ "$code" != 0 ]; then
    echo "round $round: $name ended with exit code $code (log: $log)" >&2
    exit 1
  fi
  if ! WINEPREFIX=$run_prefix $helper check "$run_prefix" "$data/payload.manifest" "$install_folder" >"$work/run/check.txt"; then
    echo "round $round: the installation by $name is incomplete:" >&2
    cat "$work/run/check.txt" >&2
    exit 1
  fi
}

floor_run() {
  local round=$1 name=$2 command=$3
  timed "$round" "$name" /nonexistent sh -c "$command >/dev/null" >/dev/null
}

if [ "$rounds" = 0 ]; then
  echo "Prepared in $work; nothing measured (NV_BENCH_ROUNDS=0)."
  exit 0
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) = 1 ]; then order=(ours bzip2 lzma); else order=(lzma bzip2 ours); fi
  for name in "${order[@]}"; do
    install_run "$round" "$name"
  done
  floor_run "$round" floor-bzip2 "bzip2 -dc '$archive'"
  floor_run "$round" floor-lbzip2 "lbzip2 -dc -n 2 '$archive'"
  floor_run "$round" floor-xz "xz -dc '$tarball'"
done
WINEPREFIX=$run_prefix wineserver -k </dev/null >/dev/null 2>&1 || true
WINEPREFIX=$run_prefix wineserver -w </dev/null >/dev/null 2>&1 || true
rm -rf "$work/run"

echo "Machine: $(nproc) processors; load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
echo "Wine: $(wine --version) ($arch); $rounds paired rounds"
printf 'Payload: %d entries, %s bytes of files\n' "$(grep -c . "$data/payload.manifest")" \
  "$(du -cb "$data/files"/* | tail -n1 | cut -f1)"
echo "Sizes:"
printf '  %-44s%12d bytes\n' "ours (InstallTessaline7.08v.exe)" "$(stat -c %s "$ours")" \
  "NSIS, SetCompressor /SOLID bzip2" "$(stat -c %s "$data/nsis-bzip2/Tessaline-nsis-bzip2.exe")" \
  "NSIS, SetCompressor /SOLID lzma" "$(stat -c %s "$data/nsis-lzma/Tessaline-nsis-lzma.exe")" \
  "our payload archive (bzip2)" "$(stat -c %s "$archive")" \
  "tar of the files, xz -6" "$(stat -c %s "$tarball")"
$helper report "$results"
