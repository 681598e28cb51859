#!/bin/bash
# The main job, in one command on a fresh Debian machine: installs what is
# missing, builds both architectures, registers both modules in the build
# folder's Wine prefix, and then
#   1. captures a standby frame through each client while no demo window
#      exists,
#   2. starts the demo window (quillmere_demo.exe),
#   3. captures a few seconds through the 64-bit and the 32-bit client,
#   4. captures briefly at every output size through both clients,
#   5. captures 1280x720 and 1920x1080 at 60 fps through both clients,
#   6. captures 1280x720 in a YUV format through each client (the 64-bit
#      one YUY2, the 32-bit one NV12), the PNG frames converted from it by
#      the client,
# writing PNG frames, each client's summary and a SUMMARY.txt into the
# output folder. Exits non-zero when any step failed.
#
# Usage: tools/demo.sh [--output DIR] [--seconds N]
#   --output DIR   where the results go (default out/demo; what an earlier
#                  run wrote there is replaced)
#   --seconds N    length of each of the two main captures (default 3)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build}

usage() { sed -n '2,20s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }

out=$root/out/demo
seconds=3
while [ $# -gt 0 ]; do
  case "$1" in
    --output) [ $# -ge 2 ] || { echo "demo: --output needs a folder" >&2; exit 2; }; out=$2; shift 2 ;;
    --output=*) out=${1#*=}; shift ;;
    --seconds) [ $# -ge 2 ] || { echo "demo: --seconds needs a number" >&2; exit 2; }; seconds=$2; shift 2 ;;
    --seconds=*) seconds=${1#*=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "demo: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done
case "$seconds" in
  ''|*[!0-9]*|0) echo "demo: --seconds needs a whole number of seconds, at least 1" >&2; exit 2 ;;
esac
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${QM_DEMO_UNDER_WINE:-}" ]; then
  "$root/tools/setup.sh"
  echo "demo: building both architectures" >&2
  "$root/tools/build.sh" >/dev/null
  # Only what this script writes is removed from the output folder.
  rm -rf "$out/standby" "$out/x64" "$out/x86" "$out/sizes" "$out/fps60" "$out/yuv" "$out/SUMMARY.txt" "$out/demo-window.png" "$out/logs"
  QM_DEMO_UNDER_WINE=1 exec "$root/tools/with-wine.sh" "${BASH_SOURCE[0]}" --output "$out" --seconds "$seconds"
fi

# From here on: under Xvfb, with the build's Wine prefix and a running wineserver.
cd "$root"
wine32=wine
wine64=/usr/lib/wine/wine64
# Nothing here plays sound; without the ALSA driver, Wine's audio probing
# does not clutter the logs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winealsa.drv="
mkdir -p "$out/logs"
failures=()
summary=$out/SUMMARY.txt
# The architectures this machine can run: a kernel without 32-bit support
# runs no 32-bit program, and without the 32-bit Wine neither does Wine,
# so the x86 module is built but not shown.
arches=(x64 x86)
runs_x86=1
if ! x86_reason=$("$root/tools/can-run-x86.sh" -v); then
  arches=(x64)
  runs_x86=0
  echo "demo: $x86_reason: the x86 module and client are skipped" >&2
fi

# client ARCH: the capture client of one architecture; loader ARCH: the
# Wine loader that runs that architecture's programs.
client() { echo "$build/$1/bin/qmcapture.exe"; }
loader() { if [ "$1" = x64 ]; then echo "$wine64"; else echo "$wine32"; fi; }

# Windows paths for the clients' --output and --summary.
winpath() { $wine64 winepath -w "$1" 2>/dev/null; }

# value FILE KEY: one value of a client summary (empty when absent).
value() { [ -f "$1" ] && sed -n "s/^$2=//p" "$1" | head -n1 | tr -d '\r' || true; }

describe_regsvr32() {
  case "$1" in
    0) echo "ok" ;;
    3) echo "regsvr32 exit code 3: the module could not be loaded" ;;
    4) echo "regsvr32 exit code 4: the module does not export DllRegisterServer" ;;
    5) echo "regsvr32 exit code 5: DllRegisterServer failed" ;;
    *) echo "regsvr32 exit code $1" ;;
  esac
}

{
  echo "QM Capture Device demo, $(date '+%Y-%m-%d %H:%M:%S')"
  echo "output: $out"
  echo
  if [ $runs_x86 = 0 ]; then
    echo "x86: skipped, $x86_reason"
    echo "The x86 module was built, not run."
    echo
  fi
} >"$summary"

# 1. Registration of both modules in this prefix (32-bit registrations
# land in the WOW64 view, 64-bit ones in the native view).
for arch in "${arches[@]}"; do
  module=$build/$arch/bin/QMCaptureDevice.ax
  set +e
  "$(loader $arch)" regsvr32 /s "$module" >"$out/logs/regsvr32-$arch.log" 2>&1
  rc=$?
  set -e
  text=$(describe_regsvr32 $rc)
  echo "registration $arch: $text ($module)" >>"$summary"
  if [ $rc -ne 0 ]; then
    failures+=("registering the $arch module failed ($text)")
    echo "demo: registering $module failed: $text" >&2
  else
    echo "demo: registered $module" >&2
  fi
done
echo >>"$summary"

# capture NAME ARCH ARGS...: one run of the ARCH client with its summary
# and log in NAME/ of the output folder.
capture() {
  local name=$1 arch=$2
  shift 2
  local log=$out/logs/${name//\//-}.stderr.log
  mkdir -p "$out/$name"
  echo "demo: capturing $name: qmcapture $*" >&2
  set +e
  "$(loader "$arch")" "$(client "$arch")" "$@" --output "$(winpath "$out/$name")" \
    --summary "$(winpath "$out/$name/summary.txt")" >"$out/$name/qmcapture.log" 2>"$log"
  local rc=$?
  set -e
  # The client's own messages (lines starting "qmcapture:") join its log;
  # Wine's diagnostics stay in logs/.
  grep '^qmcapture:' "$log" >>"$out/$name/qmcapture.log" || true
  if [ $rc -ne 0 ]; then
    local why
    why=$(grep -m1 '^qmcapture:' "$log" || echo "exit code $rc")
    failures+=("$name capture failed: ${why#qmcapture: }")
    echo "demo: $name capture failed: ${why#qmcapture: }" >&2
  fi
  return 0
}

# report NAME TITLE: the summary lines of one capture.
report() {
  local name=$1 title=$2 file=$out/$1/summary.txt
  echo "$title" >>"$summary"
  if [ "$(value "$file" result)" != ok ]; then
    echo "  FAILED: $(value "$file" error)" >>"$summary"
    echo >>"$summary"
    return
  fi
  {
    echo "  format: $(value "$file" width)x$(value "$file" height) $(value "$file" subtype)," \
      "$(value "$file" format_fps) fps (AvgTimePerFrame $(value "$file" avg_time_per_frame))"
    echo "  frames: $(value "$file" frames) in $(value "$file" elapsed_seconds) s" \
      "(stopped by: $(value "$file" stop_reason))"
    echo "  frame rate: $(value "$file" steady_fps) fps from the second frame on;" \
      "$(value "$file" delivered_fps) fps over all frames;" \
      "timestamps say $(value "$file" timestamp_fps) fps"
    echo "  first interval: $(value "$file" first_arrival_interval_ms) ms" \
      "(the first frame is sent while the graph is paused; the next is due when its clock starts)"
    for source in sample arrival; do
      echo "  interval from $source times (ms): p50 $(value "$file" ${source}_interval_p50_ms)" \
        " p90 $(value "$file" ${source}_interval_p90_ms)  p99 $(value "$file" ${source}_interval_p99_ms)" \
        " max $(value "$file" ${source}_interval_max_ms)"
    done
    echo "  timestamps contiguous: $(value "$file" timestamps_contiguous)" \
      "($(value "$file" timestamp_gaps) gaps, $(value "$file" timestamp_overlaps) overlaps" \
      "in $(value "$file" timestamp_pairs_checked) pairs)"
    local count i
    count=$(value "$file" saved_count)
    for ((i = 0; i < ${count:-0}; i++)); do
      local png
      png=$(value "$file" "saved\\.$i\\.file")
      echo "  frame $(value "$file" "saved\\.$i\\.frame"): $name/${png##*\\}" \
        "(mean level $(value "$file" "saved\\.$i\\.mean_level"))"
    done
    echo
  } >>"$summary"
}

# mean_of NAME INDEX: mean level of the INDEXth saved frame, as an integer.
mean_of() { local v; v=$(value "$out/$1/summary.txt" "saved\\.$2\\.mean_level"); echo "${v%%.*}"; }

# 2. The standby frame through each client: no window of the demo's class
# exists yet. The last frame is saved.
for arch in "${arches[@]}"; do
  capture standby/$arch $arch --size 852x480 --fps 30 --frames 10 --save last --prefix standby
done

# 3. The demo window, and a screenshot of it.
ready=$out/logs/demo-window.ready
rm -f "$ready"
sizes=(204x360 272x480 432x768 568x320 852x480 1136x640 720x1280 1080x1920 1280x720 1920x1080)
hd_sizes=(1280x720 1920x1080)
# The YUV format each architecture's client asks for: one per client, so
# that both the packed and a planar layout go through a real host path.
declare -A yuv_format=([x64]=yuy2 [x86]=nv12)
yuv_size=1280x720
yuv_seconds=2
sweep_seconds=1.5
# Open long enough for every capture below, and closed by this script
# before that.
$wine64 "$build/x64/bin/quillmere_demo.exe" --seconds $((seconds * 2 + (${#sizes[@]} + ${#hd_sizes[@]} + 1) * 2 * 4 + 60)) \
  --ready-file "$(winpath "$ready")" >"$out/logs/demo-window.log" 2>&1 &
demo_pid=$!
for _ in $(seq 150); do
  [ -f "$ready" ] && break
  kill -0 $demo_pid 2>/dev/null || break
  sleep 0.2
done
if [ ! -f "$ready" ]; then
  failures+=("the demo window did not appear (see logs/demo-window.log)")
  echo "demo: the demo window did not appear" >&2
fi
# Let the pattern run a moment, so that the screenshot shows it moving.
sleep 1
shot_note="not taken (xwd, xwdtopnm or pnmtopng missing)"
if command -v xwd >/dev/null && command -v xwdtopnm >/dev/null && command -v pnmtopng >/dev/null; then
  # The window alone (its client area, the picture the device copies);
  # the whole screen when the window cannot be picked by its title.
  if xwd -name Quillmere -silent -display "$DISPLAY" 2>/dev/null | xwdtopnm 2>/dev/null |
    pnmtopng >"$out/demo-window.png" 2>/dev/null; then
    shot_note="demo-window.png (the demo window as the screen showed it)"
  elif xwd -root -silent -display "$DISPLAY" | xwdtopnm 2>/dev/null | pnmtopng >"$out/demo-window.png" 2>/dev/null; then
    shot_note="demo-window.png (the whole screen with the demo window)"
  else
    rm -f "$out/demo-window.png"
    shot_note="not taken (xwd failed)"
  fi
fi

# 4. The main captures at 30 fps: the 64-bit client with the x64 module at
# the largest landscape size, the 32-bit client with the x86 module at the
# largest portrait size (the window is stretched to fit).
capture x64 x64 --size 1136x640 --fps 30 --seconds "$seconds" --save first,last,every:30
[ $runs_x86 = 0 ] || capture x86 x86 --size 432x768 --fps 30 --seconds "$seconds" --save first,last,every:30

# 5. Every size through both clients, briefly, keeping the last frame.
for size in "${sizes[@]}"; do
  for arch in "${arches[@]}"; do
    capture "sizes/$arch-$size" $arch --size "$size" --fps 30 --seconds $sweep_seconds --save last --prefix "$size"
  done
done

# 6. The HD sizes at 60 fps through both clients, keeping the last frame.
for size in "${hd_sizes[@]}"; do
  for arch in "${arches[@]}"; do
    capture "fps60/$arch-$size" $arch --size "$size" --fps 60 --seconds 2 --save last --prefix "$size"
  done
done

# 7. One YUV format through each client: the client asks the device for it
# through IAMStreamConfig, the sample grabber takes it as it comes, and
# the PNG frames are the client's own BT.601 limited-range conversion of
# it back to RGB (what a host of that format shows).
for arch in "${arches[@]}"; do
  capture "yuv/$arch-${yuv_format[$arch]}" $arch --format "${yuv_format[$arch]}" --size $yuv_size --fps 30 \
    --seconds $yuv_seconds --save first,last --prefix "${yuv_format[$arch]}"
done

kill $demo_pid 2>/dev/null || true
wait $demo_pid 2>/dev/null || true

# 8. Checks of the pictures: the standby frames are (nearly) black, the
# last frame of each capture with the window shows it.
check_picture() {
  local name=$1 index=$2 want=$3 level
  [ "$(value "$out/$name/summary.txt" result)" = ok ] || return 0
  level=$(mean_of "$name" "$index")
  [ -n "$level" ] || return 0
  if [ "$want" = dark ] && [ "$level" -ge 40 ]; then
    failures+=("the $name standby frame is not dark (mean level $level)")
  elif [ "$want" = bright ] && [ "$level" -lt 40 ]; then
    failures+=("the last $name frame looks like a standby frame (mean level $level)")
  fi
}
check_last_picture() {
  local count
  count=$(value "$out/$1/summary.txt" saved_count)
  if [ -n "$count" ] && [ "$count" -gt 0 ]; then
    check_picture "$1" $((count - 1)) bright
  fi
}
for arch in "${arches[@]}"; do
  check_picture standby/$arch 0 dark
  check_last_picture $arch
  for size in "${sizes[@]}"; do
    check_last_picture "sizes/$arch-$size"
  done
  for size in "${hd_sizes[@]}"; do
    check_last_picture "fps60/$arch-$size"
  done
  check_last_picture "yuv/$arch-${yuv_format[$arch]}"
done

report standby/x64 "standby frame, 64-bit client, x64 module, no demo window:"
[ $runs_x86 = 0 ] || report standby/x86 "standby frame, 32-bit client, x86 module, no demo window:"
report x64 "64-bit client, x64 module, 1136x640 at 30 fps for $seconds s:"
[ $runs_x86 = 0 ] || report x86 "32-bit client, x86 module, 432x768 at 30 fps for $seconds s:"
for arch in x64 x86; do
  bits=64
  [ $arch = x64 ] || bits=32
  name=${yuv_format[$arch]}
  if [ $arch = x86 ] && [ $runs_x86 = 0 ]; then
    {
      echo "${name^^}, 32-bit client, x86 module, $yuv_size at 30 fps: skipped, $x86_reason"
      echo
    } >>"$summary"
    continue
  fi
  title="${name^^}, $bits-bit client, $arch module, $yuv_size at 30 fps for $yuv_seconds s"
  report "yuv/$arch-$name" "$title (PNG frames converted by the client from ${name^^}):"
done

# sweep_cell ARCH SIZE [FOLDER]: the frame rate from the second frame on,
# or FAILED.
sweep_cell() {
  local file=$out/${3:-sizes}/$1-$2/summary.txt
  if [ "$1" = x86 ] && [ $runs_x86 = 0 ]; then
    printf '%11s' skipped
    return
  fi
  if [ "$(value "$file" result)" = ok ]; then
    printf '%7s fps' "$(value "$file" steady_fps)"
  else
    printf '%11s' FAILED
  fi
}
{
  echo "every size at 30 fps for $sweep_seconds s (frame rate from the second frame on;"
  echo "last frames in sizes/):"
  echo "  size        64-bit client  32-bit client"
  for size in "${sizes[@]}"; do
    printf '  %-10s  %s     %s\n' "$size" "$(sweep_cell x64 "$size")" "$(sweep_cell x86 "$size")"
  done
  echo
  echo "HD sizes at 60 fps for 2 s (frame rate from the second frame on;"
  echo "last frames in fps60/):"
  echo "  size        64-bit client  32-bit client"
  for size in "${hd_sizes[@]}"; do
    printf '  %-10s  %s     %s\n' "$size" "$(sweep_cell x64 "$size" fps60)" "$(sweep_cell x86 "$size" fps60)"
  done
  echo
} >>"$summary"

echo "screenshot: $shot_note" >>"$summary"
echo >>"$summary"
if [ ${#failures[@]} -eq 0 ]; then
  echo "result: OK" >>"$summary"
else
  echo "result: FAILED" >>"$summary"
  for f in "${failures[@]}"; do
    echo "  - $f" >>"$summary"
  done
fi

echo >&2
cat "$summary" >&2
echo >&2
echo "demo: results in $out (SUMMARY.txt, demo-window.png, standby/, x64/, x86/, sizes/, fps60/, yuv/, logs/)" >&2
[ ${#failures[@]} -eq 0 ]
