#!/bin/bash
# Exits with 0 when this machine can run 32-bit x86 Windows programs under
# Wine, 1 when it cannot, for one of two reasons:
# - a kernel built without 32-bit support (as in some virtual machines)
#   refuses every i386 program, Wine's 32-bit loader among them, with
#   "Exec format error"; no package can change that;
# - the 32-bit Wine (wine32:i386) is not installed: tools/setup.sh leaves
#   it out when the mirror offers no matching versions of its libraries,
#   and writes why into the build folder (setup-x86-reason.txt).
# With --kernel only the first is asked (what tools/setup.sh needs to
# know before it installs anything).
#
# The probe is a 96-byte static i386 program that only exits with 7: the
# ELF header, one loadable segment, and "mov eax,1; mov ebx,7; int 0x80".
# It is written beside this script, not in /tmp, which may be mounted
# without execution. With -v the result is also printed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
verbose=0 kernel_only=0
for argument in "$@"; do
  case "$argument" in
    -v) verbose=1 ;;
    --kernel) kernel_only=1 ;;
  esac
done
probe=$(mktemp "$here/.x86-probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
{
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  printf '\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80'
} >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
rc=$?
if [ $rc -ne 7 ]; then
  [ $verbose = 1 ] && echo "this machine cannot run 32-bit x86 programs (the probe exited with $rc; 126 is \"Exec format error\": a kernel without 32-bit support)"
  exit 1
fi
if [ $kernel_only = 0 ] &&
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  if [ $verbose = 1 ]; then
    reason_file=${QM_BUILD_DIR:-$here/../build}/setup-x86-reason.txt
    reason="tools/setup.sh has not installed it"
    [ -s "$reason_file" ] && reason=$(cat "$reason_file")
    echo "this machine runs 32-bit programs, but the 32-bit Wine (wine32:i386) is not installed: $reason"
  fi
  exit 1
fi
[ $verbose = 1 ] && echo "this machine runs 32-bit x86 programs"
exit 0
