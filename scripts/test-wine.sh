#!/usr/bin/env bash
# Runs the Windows builds' tests under Wine for every architecture this machine can run: the
# x64 build always, the x86 build where the kernel runs 32-bit code (scripts/wine-arch.sh) and
# 32-bit Wine is installed. Ends with one line per architecture saying whether it ran.
# usage: scripts/test-wine.sh LINUX_BUILD X86_BUILD X64_BUILD JOBS
set -uo pipefail

linux_build=$1 x86_build=$2 x64_build=$3 jobs=$4
here=$(dirname "$0")

# Configures, builds and tests one Windows build under Wine; the conformance checks compare it
# with the Linux build.
run() {
  local build=$1 toolchain=$2
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$toolchain.cmake" -DDUNMARROW_LINUX_BUILD="$linux_build" &&
    cmake --build "$build" -j "$jobs" &&
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
}

summary=()
failed=0
if run "$x64_build" x86_64; then
  summary+=("Wine x64: ran, passed ($x64_build)")
else
  summary+=("Wine x64: ran, FAILED ($x64_build)")
  failed=1
fi

if [ "$("$here/wine-arch.sh")" != i686 ]; then
  summary+=("Wine x86: not run, this machine does not run 32-bit code ($x86_build checked as a file only)")
elif [ ! -x /usr/lib/wine/wine ]; then
  summary+=("Wine x86: not run, 32-bit Wine is not installed (see scripts/install-deps.sh above)")
elif run "$x86_build" i686; then
  summary+=("Wine x86: ran, passed ($x86_build)")
else
  summary+=("Wine x86: ran, FAILED ($x86_build)")
  failed=1
fi

printf '%s\n' "${summary[@]}"
exit $failed
