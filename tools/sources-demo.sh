#!/bin/bash
# What a camera shows, end to end: through the registered device and the
# capture client of each architecture (the shipped build, build/x86 and
# build/x64), on an X display of 1920x1080 and a Wine prefix of its own
# (build/sources-demo). It captures the demo window, the primary monitor,
# a region over the window's client area, a crop of the window, the window
# again, and the monitor with and without the pointer, and prints how each
# frame compares with what it should show. Frames go to out/sources (or
# --output DIR). It measures; it does not judge: the demo window repaints
# once a second, so its clock and bar differ between captures.
#
# tools/sources-demo.sh [--output DIR]   (after tools/build.sh)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/out/sources
if [ "${1:-}" = "--output" ]; then out=$(mkdir -p "$2" && cd "$2" && pwd); fi
build=${QM_BUILD_DIR:-$root/build}
if [ -z "${QM_SOURCES_DEMO_INSIDE:-}" ]; then
  export QM_SOURCES_DEMO_INSIDE=1 QM_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1920x1080x24" env QM_BUILD_DIR="$build/sources-demo" \
    "$root/tools/with-wine.sh" bash "$0" --output "$out"
fi
B=$(dirname "$QM_BUILD_DIR")
W64=/usr/lib/wine/wine64
rm -rf "$out"; mkdir -p "$out/x64" "$out/x86"
wine regsvr32 /s "$B/x86/bin/QMCaptureDevice.ax"; echo "regsvr32 x86: $?"
$W64 regsvr32 /s "$B/x64/bin/QMCaptureDevice.ax"; echo "regsvr32 x64: $?"
$W64 "$B/x64/bin/quillmere_demo.exe" --size 852x480 --position 100,100 --fps 1 --seconds 900 &
demo=$!
sleep 5
cap() { # arch name options...
  local arch=$1 name=$2; shift 2
  local loader=wine
  [ "$arch" = x64 ] && loader=$W64
  $loader "$B/$arch/bin/qmcapture.exe" "$@" --frames 4 --save last --output "Z:$out/$arch" --prefix "$name" \
    > "$out/$arch-$name.txt" 2>&1
  echo "$arch $name: exit $? | $(grep -m1 '^format:' "$out/$arch-$name.txt") | $(grep -m1 '^shows:' "$out/$arch-$name.txt") | $(grep -m1 '^pointer:' "$out/$arch-$name.txt")"
}
py() { PYTHONPATH="$root/tools" OUT="$out" python3 -c "from image_compare import *
import glob, os
def last(arch, name): return load(sorted(glob.glob(os.path.join(os.environ['OUT'], arch, name + '-*.png')))[-1])
$1"; }
cap x64 window --use-window Quillmere --crop none --cursor off --size 852x480
cap x64 monitor --use-monitor --cursor off --size 1920x1080
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > "$out/screen.png"
read -r cx cy < <(py "print(*find_offset(last('x64', 'monitor'), last('x64', 'window'), 95, 95, 60))")
echo "the window's client area on the screen, found in the monitor frame: $cx,$cy"
py "print('x64 monitor frame vs the X screen (1920x1080, 1:1): mean difference %.2f levels, %.4f of pixels within 8 levels' % compare(last('x64', 'monitor'), 0, 0, load(os.path.join(os.environ['OUT'], 'screen.png')), 0, 0, 1920, 1080))"
for arch in x64 x86; do
  cap $arch region --use-region "$cx,$cy,852,480" --size 852x480
  cap $arch crop --use-window Quillmere --crop 100,50,568,320 --size 568x320
  cap $arch again --use-window Quillmere --crop none --size 852x480
done
py "
w = last('x64', 'window')
for arch in ('x64', 'x86'):
    print(arch, 'region $cx,$cy,852,480 vs the window frame: mean %.2f levels, %.4f within 8' % compare(last(arch, 'region'), 0, 0, w, 0, 0, 852, 480))
    print(arch, 'crop 100,50,568,320 vs that part of the window frame: mean %.2f levels, %.4f within 8' % compare(last(arch, 'crop'), 0, 0, w, 100, 50, 568, 320))
    print(arch, 'window again (crop none) vs the window frame: mean %.2f levels, %.4f within 8' % compare(last(arch, 'again'), 0, 0, w, 0, 0, 852, 480))"
kill $demo; sleep 2
for arch in x64 x86; do
  cap $arch pointer-on --use-monitor --cursor on --size 1920x1080
  cap $arch pointer-off --use-monitor --cursor off --size 1920x1080
done
py "
for arch in ('x64', 'x86'):
    box = diff_box(last(arch, 'pointer-on'), last(arch, 'pointer-off'))
    print(arch, 'pointer on vs off: differing pixels', 'none' if box is None else 'x %d..%d, y %d..%d (%d pixels)' % (box[0], box[2], box[1], box[3], box[4]))"
$W64 "$B/x64/bin/qmcapture.exe" --use-window Quillmere --crop none --cursor default >/dev/null 2>&1
wineserver -k
echo "sources-demo: frames in $out"
