#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine (and Xvfb when
# there is no display). Exit status is CTest's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default

prefix="$PWD/build/wineprefix"
end_session() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; rm -f "$prefix.session"; }
jobs=${NV_TEST_JOBS:-2}

status=0
if [ -n "${DISPLAY:-}" ]; then
  ctest --preset default -j "$jobs" "$@" || status=$?
else
  # The Wine session must start on the display the tests use; end it with that display.
  end_session
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset default -j "$jobs" "$@" || status=$?
  end_session
fi
exit $status
