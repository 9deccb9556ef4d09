#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to cross-build the installer and run its tests
# under Wine: 32-bit Wine (with the i386 architecture) where the machine runs 32-bit code, 64-bit
# Wine and the x86-64 cross compiler where it runs 64-bit code only (scripts/wine-arch).
# Idempotent: packages already present are left alone.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

# A mirror in the middle of a sync makes 'apt-get update' fail for one index; try again, and
# let the install that follows decide whether what was fetched is enough.
apt_update() {
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    echo "apt-get update failed (attempt $attempt), retrying" >&2
    sleep 5
  done
  return 0
}

packages=(cmake ninja-build g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
          wine wine64 xvfb xauth x11-apps xdotool imagemagick fonts-wine
          bzip2 lbzip2 xz-utils dpkg-dev googletest bc time osslsigncode openssl
          python3-jsonschema python3-yaml
          nsis)  # makensis: the installers scripts/bench-install.sh measures ours against
if [ "$(bash "$(dirname "$0")/wine-arch")" = win64 ]; then
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
else
  packages+=(wine32:i386)
fi
i386=false
for p in "${packages[@]}"; do [ "$p" = wine32:i386 ] && i386=true; done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if $i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  apt_update
  # When the mirror's i386 security index is stale or missing, the i386 libraries Wine needs
  # cannot match the versions of their amd64 twins; preferring the release suite resolves that.
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    $SUDO apt-get install -y -qq --no-install-recommends -t bookworm "${missing[@]}"
fi

# Source packages need deb-src entries for the same mirror and suites as the binary ones.
src_list=/etc/apt/sources.list.d/nv-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$src_list" >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $SUDO tee /etc/apt/sources.list.d/nv-deb-src.list >/dev/null
  fi
  apt_update
fi
