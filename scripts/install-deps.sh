#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/install-deps.sh [--wine]
#
# A package index that cannot be fetched for a while (a mirror in the middle of a sync) is
# retried a few times. With --wine, 32-bit Wine is installed only where this machine runs
# 32-bit code (scripts/wine-arch.sh); when it cannot be installed, the 64-bit Wine runs go on
# and one line says what was skipped and why: 32-bit Wine never fails the run.
set -euo pipefail

want=(cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev nettle-dev libssl-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
      libz-mingw-w64-dev clang-format clang libclang-rt-dev python3
      freetds-dev)
with_wine=0
[ "${1:-}" = "--wine" ] && with_wine=1

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
UPDATE_TRIES=${DUNMARROW_APT_TRIES:-4}
UPDATE_PAUSE=${DUNMARROW_APT_PAUSE:-15}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# apt-get update, tried again after a pause while it fails.
update() {
  local try
  for ((try = 1; try <= UPDATE_TRIES; try++)); do
    if $SUDO apt-get update -qq; then return 0; fi
    if ((try < UPDATE_TRIES)); then
      echo "apt-get update failed (try $try of $UPDATE_TRIES), again in ${UPDATE_PAUSE}s" >&2
      sleep "$UPDATE_PAUSE"
    fi
  done
  return 1
}

install() {
  echo "installing: $*"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$@" >/dev/null
}

missing=()
for p in "${want[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ "$with_wine" = 1 ]; then
  # 64-bit Wine always: the 64-bit DLL runs under it on every machine. The locale sources make
  # the locales whose code pages the SQL cases also run in.
  for p in wine wine64 iproute2 locales; do
    installed "$p" || missing+=("$p")
  done
fi

updated=0
if [ "${#missing[@]}" -gt 0 ]; then
  # An index that stays out of step leaves the lists of the last update, which may still hold
  # every package asked for: the install says whether they do.
  update || echo "apt-get update failed $UPDATE_TRIES times; installing from the package lists at hand" >&2
  updated=1
  install "${missing[@]}"
fi

if [ "$with_wine" = 1 ]; then
  if [ "$("$(dirname "$0")/wine-arch.sh")" != i686 ]; then
    exit 0  # no 32-bit code runs here: nothing to skip, scripts/test-wine.sh says so
  fi
  if installed wine32:i386 && [ -x /usr/lib/wine/wine ]; then
    exit 0
  fi
  added=0
  skip() {
    # An architecture added here for nothing is taken away again, so that its index cannot
    # fail the machine's later updates.
    [ "$added" = 1 ] && { $SUDO dpkg --remove-architecture i386 2>/dev/null || true; }
    echo "32-bit Wine skipped: $1; the x86 DLL is checked as a file only, the x64 DLL runs under Wine"
    exit 0
  }
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386 || skip "dpkg cannot add the i386 architecture"
    added=1
    updated=0
  fi
  if [ "$updated" = 0 ] || ! apt-cache show wine32:i386 >/dev/null 2>&1; then
    if ! update; then
      # The i386 index failing (a mirror in sync) must not break the next update of the
      # machine's own architecture.
      if ! apt-cache show wine32:i386 >/dev/null 2>&1; then
        skip "apt-get update failed $UPDATE_TRIES times and no i386 package list is at hand"
      fi
    fi
  fi
  install wine32:i386 || skip "apt-get could not install wine32:i386"
  [ -x /usr/lib/wine/wine ] || skip "wine32:i386 is installed but /usr/lib/wine/wine is missing"
fi
