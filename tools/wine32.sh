#!/bin/bash
# Runs a 32-bit Windows program under Wine: CTest's launcher for the x86
# test programs. On a machine whose kernel cannot execute 32-bit programs
# at all (tools/can-run-x86.sh), the program cannot run whatever is
# installed: it is then reported as skipped (exit 77, which the x86 CTest
# entries take as "skipped"), never as passed. QM_REQUIRE_X86=1 makes that
# a failure instead, for a machine that must run them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ! "$root/tools/can-run-x86.sh"; then
  echo "SKIPPED: $(basename "${1:-program}") is a 32-bit program, and this machine's kernel cannot execute 32-bit programs (\"Exec format error\"). It was built, not run." >&2
  [ "${QM_REQUIRE_X86:-0}" = 1 ] && exit 1
  exit 77
fi
exec /usr/bin/wine "$@"
