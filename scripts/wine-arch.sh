#!/usr/bin/env bash
# Prints the Windows architecture the Wine test runs use on this machine: i686 (the 32-bit
# DLL, under 32-bit Wine) where the kernel runs 32-bit x86 programs, x86_64 (the same sources
# built for 64-bit Windows, under 64-bit Wine) where it does not. Some virtual machines run
# 64-bit user code only: there a 32-bit program fails with "Exec format error", and 32-bit Wine
# cannot start. DUNMARROW_WINE_ARCH=i686|x86_64 overrides the choice.
set -euo pipefail

if [ -n "${DUNMARROW_WINE_ARCH:-}" ]; then
  echo "$DUNMARROW_WINE_ARCH"
  exit 0
fi

# The smallest 32-bit x86 Linux program: an ELF header, one loadable segment and
# "xor ebx, ebx; mov eax, 1; int 0x80" (exit(0)).
probe=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
printf '\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
if "$probe" 2>/dev/null; then
  echo i686
else
  echo x86_64
fi
