#!/usr/bin/env bash
# Builds everything, then starts the installer, build/bin/InstallTessaline7.08v.exe, under Wine.
#
# With a display the installer is simply started there. Without one it runs under Xvfb and is
# driven through a quick installation by tools/robot (robot.exe): a screenshot of every page is
# saved into build/demo-screenshots/ as it goes (the end-to-end tests keep build/screenshots/ for
# theirs), then the wizard is closed. Without robot.exe only the
# first page is captured (xwd) and the installer is closed again.
#
# NV_DEMO_BUILD names another build folder (default: build). The demo installs for real, so it
# has a Wine prefix of its own (<build>/demo-wineprefix), apart from the one the tests use.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${NV_DEMO_BUILD:-build}

if [ "$build" = build ]; then
  bash scripts/bootstrap.sh
  cmake --preset default >/dev/null
  cmake --build --preset default
else
  cmake --preset default -B "$build" >/dev/null
  cmake --build "$build"
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

scripts/wine-run "$installer" &
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
  xwd -root -silent | convert xwd:- "$shots/1-start.png" 2>/dev/null ||
    xwd -root -silent -out "$shots/1-start.xwd"
  kill "$installer_pid" 2>/dev/null || true
fi
wait "$installer_pid" || true
trap - EXIT
echo "== screenshots in $shots"
ls -1 "$shots"
