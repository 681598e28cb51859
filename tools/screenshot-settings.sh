#!/bin/bash
# Takes a picture of a settings page as applications show it: registers
# the x64 module in the build folder's Wine prefix, opens the standard
# property frame on the device with qmsettings.exe under Xvfb, and
# writes the frame window, cut from the screen by its title, as a PNG.
# The page shows the device's default settings (with --monitor, a monitor
# chosen): the script first removes the settings stored in the build's
# prefix. The demo window runs meanwhile,
# so that the window page lists it and shows its thumbnail. The module
# stays registered there afterwards, as after tools/demo.sh.
#
# Usage: tools/screenshot-settings.sh [--page N] [--monitor] [--output FILE]
#   --page N        the page shown: 1 the settings page (default), 2 the
#                   window page
#   --monitor       the window page with a monitor chosen (the primary):
#                   stored before the frame opens; implies --page 2
#   --output FILE   where the picture goes (default docs/settings-page.png,
#                   docs/window-page.png for page 2, docs/monitor-page.png
#                   with --monitor)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}

usage() { sed -n '2,19s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }

output=
page=1
monitor=
while [ $# -gt 0 ]; do
  case "$1" in
    --monitor) monitor=1; page=2; shift ;;
    --output) [ $# -ge 2 ] || { echo "screenshot: --output needs a file" >&2; exit 2; }; output=$2; shift 2 ;;
    --output=*) output=${1#*=}; shift ;;
    --page) [ $# -ge 2 ] || { echo "screenshot: --page needs a number" >&2; exit 2; }; page=$2; shift 2 ;;
    --page=*) page=${1#*=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "screenshot: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done
case "$page" in
  1) output=${output:-$root/docs/settings-page.png} ;;
  2) if [ -n "$monitor" ]; then
       output=${output:-$root/docs/monitor-page.png}
     else
       output=${output:-$root/docs/window-page.png}
     fi ;;
  *) echo "screenshot: --page is 1 or 2, not '$page'" >&2; exit 2 ;;
esac
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

if [ -z "${QM_SCREENSHOT_UNDER_WINE:-}" ]; then
  "$root/tools/setup.sh"
  echo "screenshot: building" >&2
  "$root/tools/build.sh" >/dev/null
  QM_SCREENSHOT_UNDER_WINE=1 exec "$root/tools/with-wine.sh" "${BASH_SOURCE[0]}" --page "$page" ${monitor:+--monitor} \
    --output "$output"
fi

# From here on: under Xvfb, with the build's Wine prefix and a running wineserver.
wine64=/usr/lib/wine/wine64
module=$build/x64/bin/QMCaptureDevice.ax
tool=$build/x64/bin/qmsettings.exe
demo=$build/x64/bin/quillmere_demo.exe
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winealsa.drv="
work=$(mktemp -d)
demo_pid=
trap '[ -z "$demo_pid" ] || kill $demo_pid 2>/dev/null; rm -rf "$work"' EXIT

# The dialog font "MS Shell Dlg" is Tahoma under Wine, which links to
# "MS UI Gothic" for Japanese characters; without such a font the labels
# come out as boxes. The IPA Gothic fonts stand in for the Japanese
# Windows fonts.
if ! fc-list :lang=ja family | grep -q IPAPGothic; then
  echo "screenshot: the IPA Gothic fonts are missing (fonts-ipafont-gothic); Japanese labels will show as boxes" >&2
fi
replacements='HKCU\Software\Wine\Fonts\Replacements'
$wine64 reg add "$replacements" /v "MS UI Gothic" /t REG_SZ /d IPAPGothic /f >/dev/null
$wine64 reg add "$replacements" /v "MS PGothic" /t REG_SZ /d IPAPGothic /f >/dev/null
$wine64 reg add "$replacements" /v "MS Gothic" /t REG_SZ /d IPAGothic /f >/dev/null
# There is no window manager under Xvfb: Wine draws the frame's caption
# itself, for this program only, so that the picture shows it.
$wine64 reg add 'HKCU\Software\Wine\AppDefaults\qmsettings.exe\X11 Driver' /v Decorated /t REG_SZ /d N /f \
  >/dev/null
$wine64 reg delete 'HKCU\Software\QMCapture' /f >/dev/null 2>&1 || true
if [ -n "$monitor" ]; then
  # A monitor without a name: the primary, the page's first monitor item.
  $wine64 reg add 'HKCU\Software\QMCapture' /v SourceKind /t REG_SZ /d 1 /f >/dev/null
fi

set +e
$wine64 regsvr32 /s "$module" >"$work/regsvr32.log" 2>&1
rc=$?
set -e
if [ $rc -ne 0 ]; then
  echo "screenshot: regsvr32 could not register $module (exit code $rc)" >&2
  exit 1
fi

# The demo window, small and beside the frame (a covered window reads back
# black under Xvfb), for the window page's list and thumbnail; it closes
# by itself.
demo_ready=$work/demo.ready
$wine64 "$demo" --size 480x270 --position 600,40 --seconds 30 --ready-file "$($wine64 winepath -w "$demo_ready" 2>/dev/null)" >"$work/demo.log" 2>&1 &
demo_pid=$!
for _ in $(seq 100); do
  [ -e "$demo_ready" ] && break
  sleep 0.2
done
[ -e "$demo_ready" ] || echo "screenshot: the demo window did not appear; the window list will lack it" >&2

ready=$work/frame.ready
$wine64 "$tool" --page "$page" --close-after 5 --ready-file "$($wine64 winepath -w "$ready" 2>/dev/null)" >"$work/qmsettings.log" 2>&1 &
frame_pid=$!
for _ in $(seq 150); do
  [ -s "$ready" ] && break
  kill -0 $frame_pid 2>/dev/null || break
  sleep 0.2
done
if [ ! -s "$ready" ]; then
  echo "screenshot: the property frame did not appear:" >&2
  cat "$work/qmsettings.log" >&2
  kill $frame_pid 2>/dev/null || true
  exit 1
fi
title=$(head -n1 "$ready" | tr -d '\r')
# Time for the page to paint its controls.
sleep 1
set +e
xwd -name "$title" -silent -display "$DISPLAY" | xwdtopnm 2>/dev/null | pnmtopng >"$work/frame.png" 2>/dev/null
shot=$?
wait $frame_pid
frame_rc=$?
kill $demo_pid 2>/dev/null
wait $demo_pid 2>/dev/null
demo_pid=
set -e
if [ $shot -ne 0 ] || [ ! -s "$work/frame.png" ]; then
  echo "screenshot: xwd could not take the window \"$title\"" >&2
  exit 1
fi
if [ $frame_rc -ne 0 ]; then
  echo "screenshot: qmsettings.exe ended with exit code $frame_rc:" >&2
  cat "$work/qmsettings.log" >&2
  exit 1
fi
# The prefix's settings are the defaults again, as tests that run in it
# expect (a monitor chosen above would show in their captures).
$wine64 reg delete 'HKCU\Software\QMCapture' /f >/dev/null 2>&1 || true
cp "$work/frame.png" "$output"
size=$(pngtopnm "$output" | pnmfile | sed -n 's/.*, \([0-9]*\) by \([0-9]*\).*/\1x\2/p' || true)
echo "screenshot: \"$title\" ($size pixels) written to $output" >&2
