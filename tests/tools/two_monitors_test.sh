#!/bin/bash
# qmcapture with two monitors: Xvfb gives Wine one monitor whatever its
# options, so this test starts an Xorg of its own with the dummy driver and
# two RandR outputs, and a Wine prefix of its own under the build folder.
# It checks that --monitors lists both, that --use-monitor 2 stores the
# second's device name, that a second monitor left of the primary has a
# negative X, and that with the second turned off the listing shows one
# and the camera shows the primary.
#
# two_monitors_test.sh QMCAPTURE_EXE WORK_FOLDER
# Exit status 0 passed, 1 failed, 77 skipped (no Xorg, dummy driver,
# xrandr or 64-bit Wine, or an Xorg that does not start), with the reason.
set -uo pipefail

client=${1:?usage: two_monitors_test.sh QMCAPTURE_EXE WORK_FOLDER}
folder=${2:?usage: two_monitors_test.sh QMCAPTURE_EXE WORK_FOLDER}
# Wine takes only an absolute prefix.
work=$(mkdir -p "$folder" && cd "$folder" && pwd)/two-monitors
# A display number of this test alone (xvfb-run -a counts down from 99).
display=:73
wine=/usr/lib/wine/wine64

skip() {
  echo "two_monitors_test: skipped: $*"
  exit 77
}
failures=0
fail() {
  echo "two_monitors_test: FAILED: $*" >&2
  failures=$((failures + 1))
}

command -v Xorg >/dev/null || skip "no Xorg (package xserver-xorg-core)"
command -v xrandr >/dev/null || skip "no xrandr (package x11-xserver-utils)"
ls /usr/lib/xorg/modules/drivers/dummy_drv.so >/dev/null 2>&1 ||
  skip "no dummy video driver (package xserver-xorg-video-dummy)"
[ -x "$wine" ] || skip "no 64-bit Wine loader at $wine"
[ -f "$client" ] || { echo "two_monitors_test: no client at $client" >&2; exit 1; }
[ -e "/tmp/.X${display#:}-lock" ] && skip "display $display is taken (/tmp/.X${display#:}-lock)"

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=$display

# One dummy device with room for two 1280x720 outputs side by side.
cat >"$work/xorg-dummy.conf" <<'EOF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "1280x720" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1280x720"
    Virtual 2560 720
  EndSubSection
EndSection
EOF

Xorg "$display" -config "$work/xorg-dummy.conf" -noreset -novtswitch -sharevts -nolisten tcp \
  -logfile "$work/xorg.log" >"$work/xorg.out" 2>&1 &
xorg=$!
cleanup() {
  wineserver -k >/dev/null 2>&1
  kill "$xorg" 2>/dev/null
  wait "$xorg" 2>/dev/null
}
trap cleanup EXIT

for _ in $(seq 1 100); do
  xrandr --query >/dev/null 2>&1 && break
  kill -0 "$xorg" 2>/dev/null || skip "Xorg did not start: $(grep -m1 -E '^\(EE\)|Fatal' "$work/xorg.log" "$work/xorg.out" 2>/dev/null | tail -1)"
  sleep 0.1
done
xrandr --query >/dev/null 2>&1 || skip "Xorg did not answer on $display within 10 s"

# layout SECOND_X: the primary at 0,0 and the second at SECOND_X,0 (or off);
# Wine reads the monitors when its server starts, so it starts afresh.
layout() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  if [ "$1" = off ]; then
    xrandr --output DUMMY1 --off --output DUMMY0 --mode 1280x720 --pos 0x0 --primary --fb 1280x720
  elif [ "$1" -lt 0 ]; then
    # Left of the primary: X puts the second at 0 and the primary right of it.
    xrandr --fb 2560x720 --output DUMMY1 --mode 1280x720 --pos 0x0 \
      --output DUMMY0 --mode 1280x720 --pos 1280x0 --primary
  else
    xrandr --fb 2560x720 --output DUMMY0 --mode 1280x720 --pos 0x0 --primary \
      --output DUMMY1 --mode 1280x720 --pos "${1}x0"
  fi
}

qmcapture() {
  "$wine" "$client" "$@" 2>>"$work/client.err" | tr -d '\r'
}

xrandr --addmode DUMMY1 1280x720 || skip "the dummy driver gave no second output DUMMY1"
layout 1280 || skip "xrandr could not set two outputs"

echo "two_monitors_test: making the Wine prefix $WINEPREFIX"
# A first wineboot that ends before it has written the prefix (seen once,
# right after another Wine server of the machine ended) is run again.
for _ in 1 2; do
  "$wine" wineboot --init </dev/null >>"$work/wineboot.log" 2>&1
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] && break
done
[ -f "$WINEPREFIX/system.reg" ] || { echo "two_monitors_test: no Wine prefix made (see $work/wineboot.log)" >&2; exit 1; }

xrandr --listmonitors
listing=$(qmcapture --monitors)
if ! grep -q '^Monitors (2):$' <<<"$listing"; then
  # Seen once on a prefix just made: Wine's first server had not taken
  # the second output in. A server started afresh reads the outputs again.
  echo "two_monitors_test: Wine lists $(grep -c '^[ *] [0-9]' <<<"$listing") monitors; its server is started afresh"
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  listing=$(qmcapture --monitors)
fi
echo "$listing"
grep -q '^Monitors (2):$' <<<"$listing" || fail "--monitors does not list two monitors"
grep -qE '^  1 +\\\\\.\\DISPLAY[0-9]+ +0,0 +1280x720 +primary$' <<<"$listing" ||
  fail "monitor 1 is not the primary at 0,0"
second=$(sed -nE 's/^  2 +(\\\\\.\\DISPLAY[0-9]+) +1280,0 +1280x720$/\1/p' <<<"$listing")
[ -n "$second" ] || fail "monitor 2 is not at 1280,0"

stored=$(qmcapture --use-monitor 2)
echo "$stored"
grep -qF "stored: SourceKind 1 (monitor), SourceMonitor \"$second\"" <<<"$stored" ||
  fail "--use-monitor 2 did not report storing $second"
value=$("$wine" reg query 'HKCU\Software\QMCapture' /v SourceMonitor 2>/dev/null | tr -d '\r' |
  sed -nE 's/^ +SourceMonitor +REG_SZ +(.*)$/\1/p')
[ "$value" = "$second" ] || fail "SourceMonitor is '$value', not '$second'"
listing=$(qmcapture --monitors)
grep -qE '^\* 2 ' <<<"$listing" && grep -q '^\* the camera shows monitor 2$' <<<"$listing" ||
  fail "--monitors does not star monitor 2: $listing"

layout -1280
listing=$(qmcapture --monitors)
echo "$listing"
grep -q '^Monitors (2):$' <<<"$listing" || fail "two monitors, the second on the left: not listed"
grep -qE '^[ *] 2 +\\\\\.\\DISPLAY[0-9]+ +-1280,0 +1280x720$' <<<"$listing" ||
  fail "the monitor left of the primary has no negative X"

layout off
listing=$(qmcapture --monitors)
echo "$listing"
grep -q '^Monitors (1):$' <<<"$listing" || fail "with the second off, --monitors does not list one"
grep -qF "* the camera shows monitor 1, the primary: $second is not connected" <<<"$listing" ||
  fail "with the second off, the camera does not fall back to the primary"
qmcapture --use-monitor 2 >/dev/null
status=$?
[ "$status" -eq 1 ] || fail "--use-monitor 2 with one monitor exited with $status, not 1"

if [ -s "$work/client.err" ]; then
  echo "client messages:"
  cat "$work/client.err"
fi
if [ "$failures" -ne 0 ]; then
  echo "two_monitors_test: $failures checks failed (logs in $work)" >&2
  exit 1
fi
echo "two_monitors_test: passed"
