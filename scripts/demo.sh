#!/usr/bin/env bash
# Builds what the demo needs (the installer with its embedded demo payload, and the robot that
# drives it), then starts the installer, build/bin/InstallTessaline7.08v.exe, under Wine.
#
# With a display the installer is simply started there. Without one it runs under Xvfb and is
# driven through a quick installation by tools/robot (robot.exe): a PNG screenshot of every page
# is saved into build/demo-screenshots/ as it goes (the end-to-end tests keep build/screenshots/
# for theirs), then the wizard is closed, and one line says what happened. Without robot.exe only
# the first page is captured and the installer is closed again.
#
# NV_DEMO_BUILD names another build folder (default: build). The demo installs for real, so it
# has a Wine prefix of its own (<build>/demo-wineprefix), apart from the one the tests use; a
# second run finds the first installation there and reinstalls.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${NV_DEMO_BUILD:-build}

# Built once: the run inside Xvfb (below) finds it done.
if [ -z "${NV_DEMO_IN_XVFB:-}" ]; then
  if [ "$build" = build ]; then
    bash scripts/bootstrap.sh
    cmake --preset default >/dev/null
    cmake --build --preset default --target installer robot
  else
    cmake --preset default -B "$build" >/dev/null
    cmake --build "$build" --target installer robot
  fi
fi

export NV_WINEPREFIX=$PWD/$build/demo-wineprefix
installer=$build/bin/InstallTessaline7.08v.exe
title="Tessaline 7.08v"

if [ -n "${DISPLAY:-}" ] && [ -z "${NV_DEMO_IN_XVFB:-}" ]; then
  echo "== starting $installer on $DISPLAY"
  exec scripts/wine-run "$installer"
fi

if [ -z "${DISPLAY:-}" ]; then
  # No display: run this script again inside a private X server.
  export NV_DEMO_IN_XVFB=1 NV_DEMO_BUILD=$build
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --driven
fi

# Inside Xvfb: start the installer, drive it, save the screenshots.
shots=$build/demo-screenshots
rm -rf "$shots"
mkdir -p "$shots"
winpath() { printf 'Z:%s' "$(realpath -m "$1")"; }

# The run's /LOG file tells afterwards what kind of run it was and where it installed.
log=$build/demo.log
rm -f "$log"
scripts/wine-run "$installer" "/LOG=$(winpath "$log" | tr / '\\')" &
installer_pid=$!
trap 'kill $installer_pid 2>/dev/null || true' EXIT

if [ -x "$build/bin/robot.exe" ]; then
  shot() { printf -- '-- screenshot %s ' "$(winpath "$shots/$1.bmp")"; }
  # Start, Mode, Progress (before and after the installation), End; quick mode skips the
  # Folder and Shortcut pages.
  # shellcheck disable=SC2046
  scripts/wine-run "$build/bin/robot.exe" window "$title" 30000 $(shot 1-start) \
    -- click 1 $(shot 2-mode) \
    -- click 1 $(shot 3-progress) \
    -- post-click 1 -- wait-text 1 ">" 300000 $(shot 4-installed) \
    -- click 1 $(shot 5-end) \
    -- click 2 -- wait-gone 30000
else
  sleep 10
  xwd -root -silent | convert xwd:- "$shots/1-start.png"
  kill "$installer_pid" 2>/dev/null || true
fi
wait "$installer_pid" || true
trap - EXIT
# The robot saves bitmaps; the screenshots are kept as PNG.
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

# One line: what the installer did, where, in which prefix, and where the pictures are.
field() { sed -n "s/^[0-9-]* [0-9:.]* $1: \(.*\)\r\?$/\1/p" "$log" 2>/dev/null | tail -1; }
run=$(field Run)
folder=$(sed -n 's/^[0-9-]* [0-9:.]* Installation Folder: "\?\([^"]*\)"\?\.\r\?$/\1/p' "$log" 2>/dev/null | tail -1)
outcome=$(grep -B1 'Exit code:' "$log" 2>/dev/null | head -1 | cut -c25- | tr -d '\r')
count=$(find "$shots" -name '*.png' | wc -l)
if [ -n "$run" ]; then
  echo "== $run: ${outcome:-no outcome logged} Installed in $folder, Wine prefix $NV_WINEPREFIX; $count screenshots in $shots"
else
  echo "== the installer logged no run (see $log); Wine prefix $NV_WINEPREFIX; $count screenshots in $shots"
fi
