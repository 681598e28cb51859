#!/bin/bash
# The test command: installs what is missing, builds both architectures
# and runs every test program of both under Wine. CTest's summary comes
# last but one; the last line says how long the set-up, the build and the
# tests took. Extra arguments go to ctest (for example -R x64).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}
started=$SECONDS
"$root/tools/setup.sh"
set_up=$SECONDS
"$root/tools/build.sh"
built=$SECONDS
# CTest prints no output of a skipped test: the reason is said here once.
if ! reason=$("$root/tools/can-run-x86.sh" -v); then
  echo "test: $reason: the x86 test programs and the installer test will be reported as skipped" >&2
fi
rc=0
"$root/tools/with-wine.sh" ctest --test-dir "$build" -j"$(nproc)" --output-on-failure "$@" || rc=$?
minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
echo "test: set-up $(minutes $((set_up - started))), build $(minutes $((built - set_up))), tests $(minutes $((SECONDS - built))), in all $(minutes $((SECONDS - started)))"
exit $rc
