#!/usr/bin/env bash
# Maps a 4 MiB tmpfs as drive N: of the test prefix, so that the install sequence's disk-full case
# can run; `unmount` takes it away again. Without the right to mount (not root, or the mount is
# refused) nothing is mapped and the test skips itself. Always exits 0.
# usage: small_drive.sh mount|unmount <folder> <wine prefix> <wine-run script>
set -u
mode=$1 folder=$2 prefix=$3 runner=$4
link="$prefix/dosdevices/n:"

if [ "$mode" = unmount ]; then
  [ -L "$link" ] && [ "$(readlink "$link")" = "$folder" ] && rm -f "$link"
  mountpoint -q "$folder" && umount "$folder"
  rmdir "$folder" 2>/dev/null
  exit 0
fi

[ "$(id -u)" = 0 ] || exit 0
# The prefix is made by the first program run through the test runner.
[ -f "$prefix/system.reg" ] || NV_WINEPREFIX="$prefix" "$runner" cmd /c exit >/dev/null 2>&1
[ -d "$prefix/dosdevices" ] || exit 0
[ -e "$link" ] && [ "$(readlink "$link")" != "$folder" ] && exit 0  # N: belongs to someone else
mkdir -p "$folder"
mountpoint -q "$folder" || mount -t tmpfs -o size=4m tmpfs "$folder" 2>/dev/null || exit 0
touch "$folder/nv_small_drive"
ln -sfn "$folder" "$link"
exit 0
