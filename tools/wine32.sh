#!/bin/bash
# Runs a 32-bit Windows program under Wine: CTest's launcher for the x86
# test programs. On a machine that cannot run 32-bit programs under Wine
# (tools/can-run-x86.sh: a kernel without 32-bit support, or no 32-bit
# Wine because the mirror had no matching versions of its libraries), the
# program is reported as skipped (exit 77, which the x86 CTest entries
# take as "skipped"), with the reason, never as passed. QM_REQUIRE_X86=1
# makes that a failure instead, for a machine that must run them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ! reason=$("$root/tools/can-run-x86.sh" -v); then
  echo "SKIPPED: $(basename "${1:-program}") is a 32-bit program, and $reason. It was built, not run." >&2
  [ "${QM_REQUIRE_X86:-0}" = 1 ] && exit 1
  exit 77
fi
exec /usr/bin/wine "$@"
