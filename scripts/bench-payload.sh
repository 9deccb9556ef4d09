#!/usr/bin/env bash
# Benchmark of the payload extractor (not a test): packs a ~100 MB, 74-entry payload of mixed
# data, then prints the time of verify + extract (with the CRC read-back) under Wine, in one
# process as the installer does it, against native `bzip2 -dc` and the parallel `lbzip2 -dc -n 2`
# of the same stream, and the extractor's peak memory for a 10 MB and a 300 MB payload.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target payload >/dev/null

work=${NV_BENCH_DIR:-$PWD/build/bench}
export NV_WINEPREFIX=$PWD/build/wineprefix
run() { scripts/wine-run build/bin/payload.exe "$@"; }

# make_payload NAME TOTAL_MB: 74 files of mixed data (text, structured binary, incompressible).
make_payload() {
  local name=$1 mb=$2 dir="$work/$1"
  if [ ! -f "$dir/payload.bz2" ]; then
    rm -rf "$dir" && mkdir -p "$dir/files"
    python3 scripts/bench_data.py "$dir" "$mb"
    run pack "$dir/payload.manifest" "$dir/payload.bz2" >/dev/null
  fi
}

# peak_kb NAME: peak resident memory of the extracting process, in KiB.
peak_kb() {
  local dir="$work/$1"
  rm -rf "$dir/out"
  /usr/bin/time -f "%M" -o "$dir/time.txt" scripts/wine-run build/bin/payload.exe extract \
    "$dir/payload.bz2" --install "$dir/out/install" --samples "$dir/out/samples" \
    --temp "$dir/out/temp" >/dev/null
  cat "$dir/time.txt"
}

make_payload p100 100
make_payload p10 10
make_payload p300 300
dir="$work/p100"

# Best of three for every side: the machine's other load only ever adds time.
run verify "$dir/payload.bz2" >/dev/null  # warm the Wine session and the file cache
elapsed() { local start; start=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $start" | bc; }
# One process, as the installer: verify the whole stream, rewind, extract with the CRC read-back.
install_run() {
  rm -rf "$dir/out"
  run extract "$dir/payload.bz2" --verify --install "$dir/out/install" \
    --samples "$dir/out/samples" --temp "$dir/out/temp" >/dev/null
}
native_run() { bzip2 -dc "$dir/payload.bz2" >/dev/null; }
lbzip2_run() { lbzip2 -dc -n 2 "$dir/payload.bz2" >/dev/null; }
# The sides take turns, so that a spell of load on the machine falls on all alike.
wine_times=() native_times=() lbzip2_times=()
for i in 1 2 3; do
  wine_times+=("$(elapsed install_run)")
  native_times+=("$(elapsed native_run)")
  lbzip2_times+=("$(elapsed lbzip2_run)")
done
best() { printf '%s\n' "$@" | sort -n | head -n1; }
wine_s=$(best "${wine_times[@]}")
native_s=$(best "${native_times[@]}")
lbzip2_s=$(best "${lbzip2_times[@]}")

m10=$(peak_kb p10)
m300=$(peak_kb p300)
printf 'payload: %s bytes compressed, %s entries\n' "$(stat -c %s "$dir/payload.bz2")" \
  "$(run list "$dir/payload.bz2" | wc -l)"
printf 'verify+extract+CRC under Wine: %.2f s (one process)\n' "$wine_s"
printf 'native bzip2 -dc:              %.2f s\n' "$native_s"
printf 'ratio:                         %.2f (target <= 2.15)\n' "$(echo "$wine_s / $native_s" | bc -l)"
printf 'lbzip2 -dc -n 2:               %.2f s\n' "$lbzip2_s"
printf 'ratio to lbzip2:               %.2f (target <= 2.5)\n' "$(echo "$wine_s / $lbzip2_s" | bc -l)"
printf 'peak memory 10 MB payload:     %d KiB\n' "$m10"
printf 'peak memory 300 MB payload:    %d KiB\n' "$m300"
printf 'difference:                    %d KiB (target < 1024)\n' "$((m300 - m10))"
