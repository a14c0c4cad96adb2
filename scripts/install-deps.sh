#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/install-deps.sh [--wine]
set -euo pipefail

want=(cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev nettle-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev clang-format clang libclang-rt-dev)
with_wine=0
[ "${1:-}" = "--wine" ] && with_wine=1

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$with_wine" = 1 ]; then
  # Wine for the architecture this machine can run (scripts/wine-arch.sh): 32-bit Wine for
  # the 32-bit DLL, or 64-bit Wine and the 64-bit cross compiler where 32-bit code cannot run.
  wine_pkgs=(wine python3 iproute2)
  if [ "$("$(dirname "$0")/wine-arch.sh")" = i686 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
      need_update=1
    fi
    wine_pkgs+=(wine32:i386)
  else
    wine_pkgs+=(wine64 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)
  fi
  for p in "${wine_pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

if [ "${#missing[@]}" -gt 0 ] || [ "${need_update:-0}" = 1 ]; then
  $SUDO apt-get update -qq
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
fi
