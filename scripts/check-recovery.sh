#!/usr/bin/env bash
# The whole kill matrix of the crash-consistent installation: the recovery test's installer build
# is killed at every named point of an installation on a fresh machine, on one with this version
# and on one with an older version installed, and its recovery itself at every step of one late
# point per machine; each time the next start must leave the machine exactly as before. CTest runs
# a representative part of it (E2E.RecoveryKillPoints); this runs all of it (about 20 minutes on
# two cores). Extra arguments go to the test script (e.g. --machines fresh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target installer_kill_points installer_kill_points_bare recovery_probe \
  tessaline_7_8_21_9 payload_hold_file

test=(python3 tests/e2e/kill_points/recovery_kill_test.py build/bin/installer_kill_points.exe
      build/bin/recovery_probe.exe build/bin build/e2e/recovery-full --full \
      --bare-installer build/bin/installer_kill_points_bare.exe "$@")
if [ -n "${DISPLAY:-}" ]; then
  "${test[@]}"
else
  xvfb-run -a -s "-screen 0 1024x768x24" "${test[@]}"
fi
