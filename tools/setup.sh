#!/bin/bash
# Installs everything the build, the tests and the demo need from Debian's
# packages: the mingw-w64 cross compilers, 32-bit and 64-bit Wine, Xvfb,
# CMake, the GoogleTest sources, zip, NSIS (makensis builds the Windows
# setup program), for the screenshots xwd (x11-apps) with netpbm's
# converters (the installer test reads pixels with them too), chattr
# (e2fsprogs: the installer test makes a folder read-only for root), and a
# Japanese font (IPA Gothic) so that Wine can draw the settings page's
# labels.
# Idempotent and quiet when all is there.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth cmake googletest zip x11-apps netpbm
  fonts-ipafont-gothic nsis e2fsprogs python3
)
# Wine's 32-bit half is of use only where the kernel can execute 32-bit
# programs. Where it cannot, the x86 programs are built but their tests
# and the setup program's test report "skipped", and the i386 packages
# (and their mirror, which is not always in step with amd64's) are left out.
i386_runs=1
if ! "$(dirname "${BASH_SOURCE[0]}")/can-run-x86.sh"; then
  i386_runs=0
  kept=()
  for p in "${packages[@]}"; do
    [ "$p" = wine32:i386 ] || kept+=("$p")
  done
  packages=("${kept[@]}")
  echo "setup: this machine cannot execute 32-bit programs: the x86 tests will be built and reported as skipped" >&2
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
echo "setup: installing ${missing[*]}" >&2
if [ $i386_runs = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror that is being synchronised serves index files that do not match
# their release file for a while; apt-get then reports errors (and may still
# exit with 0). The update is tried again a few times, and the install is
# attempted whatever the last update said: it names the packages that
# cannot be had.
for attempt in 1 2 3 4 5; do
  if ! $sudo apt-get update -qq 2>&1 | grep -q '^E:'; then
    break
  fi
  echo "setup: apt-get update reported errors (attempt $attempt of 5)" >&2
  [ $attempt -lt 5 ] && sleep $((attempt * 20))
done
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
