#!/bin/bash
# Runs a command with a Wine prefix of the build folder's own
# (build/wineprefix, never ~/.wine) and a running wineserver, all under
# one Xvfb display so that programs can create real windows.
#
# A wineserver started without a display keeps a desktop that can never
# create windows, so the server is started here, under the display. It is
# started before the command with its output detached: CTest waits for
# the output pipe to close, and Wine's helper processes would inherit it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to install Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "${QM_UNDER_XVFB:-}" ]; then
  export QM_UNDER_XVFB=1
  # Large enough for a 1920x1080 window with its frame: the benchmarks
  # capture windows of the full-HD size, and a window partly off the
  # screen reads back only in part.
  exec xvfb-run -a -s "-screen 0 2560x1440x24" "$0" "$@"
fi

wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
mkdir -p "$build"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: creating the Wine prefix $WINEPREFIX" >&2
  # Through the 64-bit loader where the 32-bit one cannot run at all.
  wineboot --init </dev/null >/dev/null 2>&1 || /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
fi
wineserver -p </dev/null >/dev/null 2>&1
# The helper processes (services, rpcss, ...) are started here, detached:
# started later by a test, they would keep CTest's output pipe open. The
# 64-bit loader starts them in the 64-bit prefix; where the 32-bit one cannot
# run at all (a kernel without 32-bit support), it is the only one that can.
if [ -x /usr/lib/wine/wine64 ]; then
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
else
  wine wineboot </dev/null >/dev/null 2>&1 || true
fi

set +e
"$@"
rc=$?
wineserver -k >/dev/null 2>&1
exit $rc
