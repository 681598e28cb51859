#!/bin/bash
# The test command: installs what is missing, builds both architectures
# and runs every test program of both under Wine. CTest's summary line is
# the last output. Extra arguments go to ctest (for example -R x64).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
"$root/tools/build.sh"
# CTest prints no output of a skipped test: the reason is said here once.
if ! "$root/tools/can-run-x86.sh"; then
  echo "test: $("$root/tools/can-run-x86.sh" -v): the x86 test programs and the installer test will be reported as skipped" >&2
fi
exec "$root/tools/with-wine.sh" ctest --test-dir "$build" -j"$(nproc)" --output-on-failure "$@"
