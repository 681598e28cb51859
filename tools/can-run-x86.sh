#!/bin/bash
# Exits with 0 when this machine can execute 32-bit x86 programs, 1 when it
# cannot. A kernel built without 32-bit support (as in some virtual
# machines) refuses every i386 program, Wine's 32-bit loader among them,
# with "Exec format error"; then neither the x86 test programs nor the
# 32-bit setup program can run here, whatever is installed.
#
# The probe is a 96-byte static i386 program that only exits with 7: the
# ELF header, one loadable segment, and "mov eax,1; mov ebx,7; int 0x80".
# It is written beside this script, not in /tmp, which may be mounted
# without execution. With -v the result is also printed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
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
if [ $rc -eq 7 ]; then
  [ "${1:-}" = -v ] && echo "this machine runs 32-bit x86 programs"
  exit 0
fi
[ "${1:-}" = -v ] && echo "this machine cannot run 32-bit x86 programs (the probe exited with $rc; 126 is \"Exec format error\": a kernel without 32-bit support)"
exit 1
