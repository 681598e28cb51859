#!/bin/bash
# The setup program end to end under Wine, in a Wine prefix of this test's
# own (registration writes HKEY_LOCAL_MACHINE; the prefix that the other
# tests share keeps its registrations as they are):
#
#  1. installs whose target folder cannot be written exit with 2 and
#     register nothing: a folder made read-only from Linux (chattr +i when
#     run as root, whom file modes do not stop; chmod a-w otherwise), and a
#     file where the target folder should be;
#  2. a silent install: the files, both clients listing the device, the
#     registration of each module, the uninstall entry, the shortcuts, the
#     installed settings program opening the device's pages;
#  3. a short capture through the installed x64 module shows the demo
#     window's picture (its corner markers);
#  4. installing the same version again leaves one registration and one
#     uninstall entry;
#  5. an upgrade while a capture holds the x64 module and client loaded:
#     setup moves them aside, puts the new ones in place, exits with 3010
#     and leaves the old ones to be removed at the next restart, which
#     "wineboot -r" plays;
#  6. a silent uninstall through the uninstall entry's QuietUninstallString:
#     the device, files, entry and shortcuts are gone, the user's settings
#     stay; with /REMOVESETTINGS they go too;
#  7. upgrades from an older version (the same files, built by this test
#     with an older version number): in its folder, and into another
#     folder, which removes the older installation.
#
# Along the way, qmcamera's logon entry (HKCU\...\CurrentVersion\Run,
# "QM Capture Camera"): a first silent install adds it only where the
# prefix's Windows has virtual cameras (build 22000 or later); /AUTOSTART
# adds it, the quoted installed x64 qmcamera.exe with --tray; an upgrade
# keeps it; the uninstaller removes it; /NOAUTOSTART removes one that is
# there.
#
# Between 1 and 2, a setup program made by this test from the same script
# with an x86 module that regsvr32 cannot load exits with 3, and its
# uninstaller removes what it installed.
#
# Run by CTest inside tools/with-wine.sh (it needs the display):
#   installer_test.sh --setup FILE --build DIR --work DIR --version X.Y.Z
#                     --script installer.nsi
# --work holds the prefix, a pristine template of it (made once with
# wineboot, then copied for each run) and the logs. Prints one line per
# check; exit status 0 when every check passed, 1 otherwise.
set -uo pipefail

setup= build= work= version= script=
while [ $# -gt 0 ]; do
  case "$1" in
    --script) script=$2; shift 2 ;;
    --setup) setup=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    *) echo "installer test: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
if [ -z "$setup" ] || [ -z "$build" ] || [ -z "$work" ] || [ -z "$version" ] || [ -z "$script" ]; then
  echo "installer test: needs --setup, --build, --work, --version and --script" >&2
  exit 2
fi

# The setup program, its uninstaller and the 32-bit regsvr32 are 32-bit
# programs: on a machine that cannot run those under Wine (a kernel
# without 32-bit support, or no 32-bit Wine), nothing here can run.
# Reported as skipped (77), never as passed; QM_REQUIRE_X86=1 makes it a
# failure.
if ! reason=$("$(dirname "${BASH_SOURCE[0]}")/../../tools/can-run-x86.sh" -v); then
  echo "installer test: SKIPPED: the setup program is a 32-bit program, and $reason. It was built, not run."
  [ "${QM_REQUIRE_X86:-0}" = 1 ] && exit 1
  exit 77
fi

failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
# Ends the test at once: what follows would only repeat the cause.
give_up() { echo "FAILED: $1"; echo "installer test: stopped ($((failures + 1)) failures; logs in $logs)"; exit 1; }
now_ms() { date +%s%3N; }
seconds_since() { local ms=$(($(now_ms) - $1)); printf '%d.%03d' $((ms / 1000)) $((ms % 1000)); }

[ -f "$setup" ] || { echo "FAILED: no setup program at $setup (cmake --build build --target installer)"; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no display: run the test under tools/with-wine.sh"; exit 1; }

export WINEPREFIX=$work/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko prompts; and no menu entries in the Linux desktop for
# the shortcuts that setup creates.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
template=$work/prefix-template
logs=$work/logs
wine32=wine
wine64=/usr/lib/wine/wine64
drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/QM Capture Device"
install_win='C:\Program Files\QM Capture Device'
menu_dir="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/QM Capture Device"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QMCaptureDevice'
uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
device_clsid_key='HKLM\Software\Classes\CLSID\{94521ABB-B63B-42E2-95AB-796E3C67134A}'
settings_key='HKCU\Software\QMCapture'
pending_key='HKLM\System\CurrentControlSet\Control\Session Manager'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
logon_entry='QM Capture Camera'
binaries=(QMCaptureDevice.ax qmsettings.exe qmcapture.exe qmcamera.exe quillmere_demo.exe)
# Setup's exit codes as Linux sees them: only the low 8 bits of a Windows
# exit code survive, so ERROR_SUCCESS_REBOOT_REQUIRED (3010) arrives as 194.
exit_not_installed=2
exit_not_registered=3
exit_reboot_required=$((3010 % 256))

# The read-only folder and the blocking file of step 1.
readonly_win='C:\ReadOnly\QMCaptureDevice'
readonly_dir=$drive_c/ReadOnly/QMCaptureDevice

unlock_readonly() {
  [ -d "$readonly_dir" ] || return 0
  chattr -i "$readonly_dir" 2>/dev/null
  chmod u+w "$readonly_dir" 2>/dev/null
  return 0
}

# Every Wine program's output goes to a log, never to CTest's pipe: Wine's
# helper processes would inherit it and keep CTest waiting.
wine_log() { local log=$logs/$1; shift; "$@" </dev/null >>"$log" 2>&1; }

cleanup() {
  unlock_readonly
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

# --- a prefix of the test's own -------------------------------------------
unlock_readonly
rm -rf "$WINEPREFIX" "$logs"
mkdir -p "$logs"
if [ ! -f "$template/system.reg" ]; then
  started=$(now_ms)
  rm -rf "$template"
  WINEPREFIX=$template wineboot --init </dev/null >"$logs/wineboot.log" 2>&1
  WINEPREFIX=$template wineserver -w
  [ -f "$template/system.reg" ] || give_up "wineboot could not create the template prefix $template"
  echo "note: made the template prefix in $(seconds_since "$started") s"
fi
started=$(now_ms)
cp -a "$template" "$WINEPREFIX" || give_up "cannot copy the template prefix to $WINEPREFIX"
echo "note: copied the prefix in $(seconds_since "$started") s"
echo "note: setup program $(basename "$setup"), $(stat -c %s "$setup") bytes"

# --- helpers ----------------------------------------------------------------
# reg_value VIEW KEY NAME: the data of a value ("" for the default value);
# empty output and status 1 when it is missing. VIEW is 64 or 32.
reg_value() {
  local loader=$wine64 name=$3 out
  [ "$1" = 32 ] && loader=$wine32
  if [ -z "$name" ]; then
    out=$($loader reg query "$2" /ve 2>/dev/null </dev/null) || return 1
    name='(Default)'
  else
    out=$($loader reg query "$2" /v "$name" 2>/dev/null </dev/null) || return 1
  fi
  printf '%s\n' "$out" | tr -d '\r' | awk -v name="$name" -F '    ' '$2 == name { print $4; found = 1 } END { exit !found }'
}
key_exists() {
  local loader=$wine64
  [ "$1" = 32 ] && loader=$wine32
  $loader reg query "$2" </dev/null >/dev/null 2>&1
}
# How many times a client of ARCH (x86 or x64) run from FOLDER (Linux
# path) lists the device.
count_listed() {
  local loader=$wine64 out
  [ "$1" = x86 ] && loader=$wine32
  out=$($loader "$2/qmcapture.exe" --list 2>>"$logs/list.log" </dev/null | tr -d '\r')
  printf '%s\n' "$out" >>"$logs/list.log"
  printf '%s\n' "$out" | grep -cE '^ +[0-9]+ +QM Capture Device$'
}
# run_setup PROGRAM ARGS...: setup's exit code; its time goes to the
# variable last_ms.
run_setup() {
  local started rc program=$1
  shift
  started=$(now_ms)
  $wine32 "$program" "$@" </dev/null >>"$logs/setup.log" 2>&1
  rc=$?
  last_ms=$(($(now_ms) - started))
  return $rc
}
# Waits until every program in the prefix has ended (the uninstaller runs
# on from a copy in the temporary folder after its first process returns).
wait_for_prefix() { wineserver -w >/dev/null 2>&1; }
# Waits (30 s at most) until a path no longer exists.
wait_until_gone() {
  for _ in $(seq 600); do
    [ -e "$1" ] || return 0
    sleep 0.05
  done
}

check_nothing_registered() {
  local what=$1 arch
  for arch in x86 x64; do
    local n
    n=$(count_listed $arch "$build/$arch/bin")
    [ "$n" = 0 ] && pass "$what: the $arch client does not list the device" \
      || fail "$what: the $arch client lists the device $n times"
  done
  key_exists 64 "$device_clsid_key" && fail "$what: the device class is registered (64-bit view)" \
    || pass "$what: no device class in the 64-bit view"
  key_exists 32 "$device_clsid_key" && fail "$what: the device class is registered (32-bit view)" \
    || pass "$what: no device class in the 32-bit view"
  key_exists 64 "$uninstall_key" && fail "$what: the uninstall entry exists" || pass "$what: no uninstall entry"
  [ -e "$menu_dir" ] && fail "$what: the Start menu folder exists" || pass "$what: no Start menu folder"
  [ -e "$install_dir" ] && fail "$what: $install_dir exists" || pass "$what: no installation folder"
}

check_installed_files() {
  local what=$1 arch file
  for arch in x86 x64; do
    for file in "${binaries[@]}"; do
      if [ ! -f "$install_dir/$arch/$file" ]; then
        fail "$what: $arch\\$file is missing"
      elif ! cmp -s "$build/$arch/bin/$file" "$install_dir/$arch/$file"; then
        fail "$what: $arch\\$file differs from the build's"
      fi
    done
  done
  for file in USER-GUIDE.txt uninstall.exe; do
    [ -f "$install_dir/$file" ] || fail "$what: $file is missing"
  done
  pass "$what: files checked (x86 and x64: ${binaries[*]}; USER-GUIDE.txt, uninstall.exe)"
}

check_registered_once() {
  local what=$1 arch n
  for arch in x86 x64; do
    n=$(count_listed $arch "$install_dir/$arch")
    [ "$n" = 1 ] && pass "$what: the installed $arch client lists the device once" \
      || fail "$what: the installed $arch client lists the device $n times (want 1)"
  done
  local got
  got=$(reg_value 64 "$device_clsid_key\\InprocServer32" "")
  [ "$got" = "$install_win\\x64\\QMCaptureDevice.ax" ] && pass "$what: the 64-bit class names the installed x64 module" \
    || fail "$what: the 64-bit class names '$got'"
  got=$(reg_value 32 "$device_clsid_key\\InprocServer32" "")
  [ "$got" = "$install_win\\x86\\QMCaptureDevice.ax" ] && pass "$what: the 32-bit class names the installed x86 module" \
    || fail "$what: the 32-bit class names '$got'"
}

# One entry named "QM Capture Device" in all of Add/Remove Programs, both
# registry views together.
check_one_uninstall_entry() {
  local what=$1 n64 n32
  n64=$($wine64 reg query "$uninstall_root" /s </dev/null 2>/dev/null | tr -d '\r' | grep -cE '^ +DisplayName +REG_SZ +QM Capture Device$')
  n32=$($wine32 reg query "$uninstall_root" /s </dev/null 2>/dev/null | tr -d '\r' | grep -cE '^ +DisplayName +REG_SZ +QM Capture Device$')
  [ "$n64" = 1 ] && [ "$n32" = 0 ] && pass "$what: one uninstall entry" \
    || fail "$what: $n64 uninstall entries in the 64-bit view and $n32 in the 32-bit view (want 1 and 0)"
}

check_entry_value() {
  local name=$1 want=$2 got
  got=$(reg_value 64 "$uninstall_key" "$name")
  [ "$got" = "$want" ] && pass "uninstall entry: $name = $got" || fail "uninstall entry: $name is '$got', want '$want'"
}

# check_logon_entry WHAT yes|no: qmcamera's logon entry is there, starting
# the installed x64 qmcamera.exe minimised to its icon, or it is not.
check_logon_entry() {
  local what=$1 want=$2 got
  if got=$(reg_value 64 "$run_key" "$logon_entry"); then
    if [ "$want" = no ]; then
      fail "$what: the logon entry is there ('$got')"
    elif [ "$got" = "\"$install_win\\x64\\qmcamera.exe\" --tray" ]; then
      pass "$what: the logon entry starts $got"
    else
      fail "$what: the logon entry is '$got', want '\"$install_win\\x64\\qmcamera.exe\" --tray'"
    fi
  else
    [ "$want" = no ] && pass "$what: no logon entry" || fail "$what: no logon entry"
  fi
}

# The colour of one pixel of a PNG as "R G B".
pixel() { pngtopnm "$1" 2>/dev/null | pamcut -left "$2" -top "$3" -width 1 -height 1 | pnmtoplainpnm | tail -n 1 | xargs; }
# near "R G B" R G B: each channel within 60 of the wanted one.
near() {
  local got=($1) want=("$2" "$3" "$4") i
  [ ${#got[@]} = 3 ] || return 1
  for i in 0 1 2; do
    local d=$((got[i] - want[i]))
    [ ${d#-} -le 60 ] || return 1
  done
}

# --- 1. a target that cannot be written ---------------------------------------
mkdir -p "$readonly_dir"
if [ "$(id -u)" = 0 ]; then
  lock_how="chattr +i"
  chattr +i "$readonly_dir" 2>>"$logs/lock.log"
else
  lock_how="chmod a-w"
  chmod a-w "$readonly_dir"
fi
if touch "$readonly_dir/probe" 2>/dev/null; then
  rm -f "$readonly_dir/probe"
  fail "read-only target: $lock_how did not make $readonly_dir read-only (see $logs/lock.log)"
else
  run_setup "$setup" /S "/D=$readonly_win"
  rc=$?
  [ $rc = $exit_not_installed ] && pass "read-only target ($lock_how): setup exits with $rc" \
    || fail "read-only target ($lock_how): setup exits with $rc, want $exit_not_installed"
  [ -z "$(ls -A "$readonly_dir")" ] && pass "read-only target: the folder stays empty" \
    || fail "read-only target: files appeared in $readonly_dir"
fi
unlock_readonly
check_nothing_registered "read-only target"

# A file where the default target folder should be. (Through /D= this
# cannot be tried: setup itself ignores a /D= path with a file in it and
# takes its default folder.)
echo "not a folder" >"$install_dir"
run_setup "$setup" /S
rc=$?
[ $rc = $exit_not_installed ] && pass "a file where the target folder should be: setup exits with $rc" \
  || fail "a file where the target folder should be: setup exits with $rc, want $exit_not_installed"
[ -f "$install_dir" ] && [ "$(cat "$install_dir")" = "not a folder" ] \
  && pass "a file where the target folder should be: the file stays as it was" \
  || fail "a file where the target folder should be: the file was replaced or changed"
rm -rf "$install_dir"
check_nothing_registered "a file where the target folder should be"

# --- a module that cannot be registered -----------------------------------------
broken=$work/broken
rm -rf "$broken"
mkdir -p "$broken/x86" "$broken/x64"
for arch in x86 x64; do
  for file in "${binaries[@]}"; do cp "$build/$arch/bin/$file" "$broken/$arch/"; done
done
echo "not a module" >"$broken/x86/QMCaptureDevice.ax"
if ! makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DX86_DIR="$broken/x86" -DX64_DIR="$broken/x64" \
     -DDOC_DIR="$(dirname "$script")" -DOUTFILE="$broken/setup.exe" "$script" >"$logs/makensis.log" 2>&1; then
  fail "a module that cannot be registered: makensis could not build the setup program (log: $logs/makensis.log)"
else
  run_setup "$broken/setup.exe" /S "/D=C:\Broken"
  rc=$?
  [ $rc = $exit_not_registered ] || fail "an x86 module that regsvr32 cannot load: setup exits with $rc, want $exit_not_registered"
  n86=$(count_listed x86 "$build/x86/bin")
  n64=$(count_listed x64 "$build/x64/bin")
  [ $rc = $exit_not_registered ] && [ "$n86" = 0 ] && [ "$n64" = 1 ] \
    && pass "an x86 module that regsvr32 cannot load: setup exits with 3; only the x64 module is registered" \
    || fail "an x86 module that regsvr32 cannot load: the x86 client lists the device $n86 times, the x64 client $n64 times (want 0 and 1)"
  wine_log uninstall.log $wine32 'C:\Broken\uninstall.exe' /S
  wait_for_prefix
  check_nothing_registered "after uninstalling the setup with a broken module"
  [ -e "$drive_c/Broken" ] && fail "after uninstalling the setup with a broken module: C:\Broken is still there"
fi

# --- 2. silent install ------------------------------------------------------------
run_setup "$setup" /S
rc=$?
install_ms=$last_ms
[ $rc = 0 ] || give_up "silent install: setup exits with $rc, want 0 (log: $logs/setup.log)"
pass "silent install: exit code 0"
check_installed_files "silent install"
check_registered_once "silent install"
check_one_uninstall_entry "silent install"
check_entry_value DisplayName "QM Capture Device"
check_entry_value DisplayVersion "$version"
check_entry_value Publisher "QM Capture"
check_entry_value DisplayIcon "$install_win\\x64\\qmsettings.exe,0"
check_entry_value InstallLocation "$install_win"
check_entry_value UninstallString "\"$install_win\\uninstall.exe\""
check_entry_value QuietUninstallString "\"$install_win\\uninstall.exe\" /S"
check_entry_value NoModify 0x1
check_entry_value NoRepair 0x1
# The logon component is ticked by default only where Windows has the
# virtual cameras that qmcamera serves.
windows_build=$(reg_value 64 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' CurrentBuildNumber)
if [ -n "$windows_build" ] && [ "$windows_build" -ge 22000 ] 2>/dev/null; then
  check_logon_entry "silent install on Windows build $windows_build" yes
else
  check_logon_entry "silent install on Windows build ${windows_build:-unknown} (before Windows 11)" no
fi
# EstimatedSize is in KiB: within 10% of what the folder holds.
size=$(reg_value 64 "$uninstall_key" EstimatedSize)
folder_kib=$(du -sk "$install_dir" | cut -f1)
if [ -n "$size" ] && [ $((size)) -gt $((folder_kib * 9 / 10)) ] && [ $((size)) -lt $((folder_kib * 11 / 10)) ]; then
  pass "uninstall entry: EstimatedSize = $((size)) KiB (folder: $folder_kib KiB)"
else
  fail "uninstall entry: EstimatedSize is '$size', the folder holds $folder_kib KiB"
fi
for shortcut in "QM Capture Settings:x64\\qmsettings.exe" "Uninstall QM Capture Device:uninstall.exe"; do
  name=${shortcut%%:*}
  target="$install_win\\${shortcut#*:}"
  link="$menu_dir/$name.lnk"
  if [ ! -f "$link" ]; then
    fail "shortcut \"$name\" is missing ($link)"
  elif ! LC_ALL=C grep -qaF "$target" "$link"; then
    fail "shortcut \"$name\" does not point to $target"
  else
    pass "shortcut \"$name\" points to $target"
  fi
done

# The settings program from its installed place opens the device's pages.
ready_win='C:\users\Public\qmsettings.ready'
ready=$drive_c/users/Public/qmsettings.ready
rm -f "$ready"
wine_log qmsettings.log $wine64 "$install_dir/x64/qmsettings.exe" --close-after 1 --ready-file "$ready_win"
rc=$?
if [ $rc = 0 ] && grep -q "QM Capture Device" "$ready" 2>/dev/null; then
  pass "the installed settings program opened the frame \"$(head -n 1 "$ready" | tr -d '\r')\""
else
  fail "the installed settings program: exit code $rc, frame $( [ -s "$ready" ] && echo seen || echo 'never seen') (log: $logs/qmsettings.log)"
fi

# --- 3. a capture through the installed x64 module -----------------------------
frames_win='C:\users\Public\frames'
frames=$drive_c/users/Public/frames
demo_ready_win='C:\users\Public\demo.ready'
demo_ready=$drive_c/users/Public/demo.ready
rm -rf "$frames" "$demo_ready"
$wine64 "$install_dir/x64/quillmere_demo.exe" --seconds 60 --ready-file "$demo_ready_win" \
  </dev/null >>"$logs/demo.log" 2>&1 &
demo_pid=$!
for _ in $(seq 300); do
  [ -e "$demo_ready" ] && break
  kill -0 $demo_pid 2>/dev/null || break
  sleep 0.1
done
if [ ! -e "$demo_ready" ]; then
  fail "capture: the installed demo window did not appear (log: $logs/demo.log)"
else
  wine_log capture.log $wine64 "$install_dir/x64/qmcapture.exe" --size 568x320 --fps 30 --frames 20 \
    --save last --output "$frames_win" --prefix frame
  rc=$?
  shot=$frames/frame-000019.png
  if [ $rc != 0 ] || [ ! -f "$shot" ]; then
    fail "capture: qmcapture exits with $rc and saved no last frame (log: $logs/capture.log)"
  else
    # The demo's corner markers: red, green, blue, white clockwise from the
    # top left, each 1/18 of the window's height (17 px at 320 rows).
    ok=1
    for corner in "4 4 255 0 0 top-left red" "563 4 0 255 0 top-right green" \
                  "563 315 0 0 255 bottom-right blue" "4 315 255 255 255 bottom-left white"; do
      set -- $corner
      got=$(pixel "$shot" "$1" "$2")
      if ! near "$got" "$3" "$4" "$5"; then
        ok=0
        fail "capture: the $6 $7 marker is '$got' at ($1,$2)"
      fi
    done
    [ $ok = 1 ] && pass "capture through the installed x64 module shows the demo window (all four corner markers)"
  fi
fi
kill $demo_pid 2>/dev/null
wait $demo_pid 2>/dev/null

# --- 4. the same version again ------------------------------------------------------
# With the logon component ticked on the command line.
run_setup "$setup" /S /AUTOSTART
rc=$?
[ $rc = 0 ] && pass "reinstall /AUTOSTART: exit code 0" || fail "reinstall /AUTOSTART: setup exits with $rc, want 0"
check_registered_once "reinstall"
check_one_uninstall_entry "reinstall"
check_logon_entry "reinstall /AUTOSTART" yes

# --- 5. upgrade while a capture holds the x64 module --------------------------------
$wine64 "$install_dir/x64/qmcapture.exe" --seconds 8 --save none </dev/null >"$logs/held.log" 2>&1 &
held_pid=$!
for _ in $(seq 200); do
  grep -q '^format:' "$logs/held.log" 2>/dev/null && break
  kill -0 $held_pid 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^format:' "$logs/held.log"; then
  fail "upgrade in use: the capture that holds the module did not start (log: $logs/held.log)"
else
  run_setup "$setup" /S
  rc=$?
  [ $rc = $exit_reboot_required ] && pass "upgrade in use: setup exits with 3010 (restart needed)" \
    || fail "upgrade in use: setup exits with $rc, want $exit_reboot_required (3010)"
  for file in QMCaptureDevice.ax qmcapture.exe; do
    [ -f "$install_dir/x64/$file.old" ] && pass "upgrade in use: x64\\$file in use moved aside" \
      || fail "upgrade in use: no x64\\$file.old"
  done
  pending=$(reg_value 64 "$pending_key" PendingFileRenameOperations)
  [[ "$pending" == *'x64\QMCaptureDevice.ax.old'* ]] && pass "upgrade in use: the old module is removed at restart" \
    || fail "upgrade in use: no pending removal of the old module ('$pending')"
  check_installed_files "upgrade in use"
  check_registered_once "upgrade in use"
  check_logon_entry "upgrade in use (keeps what the user has)" yes
fi
wait $held_pid
rc=$?
[ $rc = 0 ] && pass "upgrade in use: the running capture went on to its end" \
  || fail "upgrade in use: the running capture ended with $rc (log: $logs/held.log)"
# A restart of the prefix carries out the pending file operations.
wine_log wineboot.log $wine32 wineboot -r
wait_for_prefix
if ls "$install_dir/x64/"*.old >/dev/null 2>&1; then
  fail "restart: $(ls "$install_dir/x64/"*.old | xargs -n1 basename | tr '\n' ' ')still there"
else
  pass "restart: the old files are gone"
fi
check_registered_once "after the restart"

# --- 6. uninstall ----------------------------------------------------------------------
$wine64 reg add "$settings_key" /v TitleText /t REG_SZ /d "kept by the uninstaller" /f </dev/null >/dev/null 2>&1
quiet=$(reg_value 64 "$uninstall_key" QuietUninstallString)
program=${quiet%\" *}
program=${program#\"}
started=$(now_ms)
wine_log uninstall.log $wine32 "$program" /S
rc=$?
# The time until the uninstaller's copy removed the folder; what it does
# after that (shortcuts, entry) takes milliseconds.
wait_until_gone "$install_dir"
uninstall_ms=$(($(now_ms) - started))
wait_for_prefix
[ $rc = 0 ] && pass "silent uninstall ($quiet): exit code 0" || fail "silent uninstall: exit code $rc"
check_nothing_registered "uninstall"
got=$(reg_value 64 "$settings_key" TitleText)
[ "$got" = "kept by the uninstaller" ] && pass "uninstall: the user's settings stay" \
  || fail "uninstall: the user's settings are gone ('$got')"
check_logon_entry "uninstall" no

# An entry left from elsewhere goes when the logon component is unticked.
$wine64 reg add "$run_key" /v "$logon_entry" /t REG_SZ /d '"C:\Elsewhere\qmcamera.exe" --tray' /f \
  </dev/null >/dev/null 2>&1
reg_value 64 "$run_key" "$logon_entry" >/dev/null || fail "install again /NOAUTOSTART: could not add the entry to remove"
run_setup "$setup" /S /NOAUTOSTART
rc=$?
[ $rc = 0 ] && pass "install again /NOAUTOSTART: exit code 0" || fail "install again: setup exits with $rc"
check_logon_entry "install again /NOAUTOSTART" no
wine_log uninstall.log $wine32 "$install_dir/uninstall.exe" /S /REMOVESETTINGS
# The uninstaller runs on as a copy of itself after the program started
# here has exited: its work is done when the folder is gone.
wait_until_gone "$install_dir"
wait_for_prefix
key_exists 64 "$settings_key" && fail "uninstall /REMOVESETTINGS: $settings_key is still there" \
  || pass "uninstall /REMOVESETTINGS: the user's settings are gone"
check_nothing_registered "uninstall /REMOVESETTINGS"

# --- 7. upgrading an older version ---------------------------------------------------
# The same files under an older version number, installed into another
# folder: setup over it stays in that folder; setup with /D= elsewhere has
# the old installation removed by its own uninstaller.
older_version=0.9.0
if ! makensis -V2 -INPUTCHARSET UTF8 -DVERSION=$older_version -DX86_DIR="$build/x86/bin" \
     -DX64_DIR="$build/x64/bin" -DDOC_DIR="$(dirname "$script")" -DOUTFILE="$work/older-setup.exe" "$script" \
     >"$logs/makensis.log" 2>&1; then
  fail "older version: makensis could not build the setup program (log: $logs/makensis.log)"
else
  run_setup "$work/older-setup.exe" /S '/D=C:\OldPlace'
  rc=$?
  got=$(reg_value 64 "$uninstall_key" DisplayVersion)
  [ $rc = 0 ] && [ "$got" = $older_version ] && pass "older version: installed $got into C:\OldPlace" \
    || fail "older version: setup exits with $rc, DisplayVersion '$got'"
  install_dir=$drive_c/OldPlace
  install_win='C:\OldPlace'
  run_setup "$setup" /S
  rc=$?
  got=$(reg_value 64 "$uninstall_key" DisplayVersion)
  [ $rc = 0 ] && [ "$got" = "$version" ] && pass "upgrade over $older_version: exit code 0, DisplayVersion $got" \
    || fail "upgrade over $older_version: setup exits with $rc, DisplayVersion '$got'"
  got=$(reg_value 64 "$uninstall_key" InstallLocation)
  [ "$got" = "$install_win" ] && pass "upgrade over $older_version: stays in the earlier folder $got" \
    || fail "upgrade over $older_version: InstallLocation is '$got', want $install_win"
  check_registered_once "upgrade over $older_version"
  check_one_uninstall_entry "upgrade over $older_version"

  run_setup "$work/older-setup.exe" /S || fail "older version again over the new one: setup exits with $?"
  install_dir=$drive_c/NewPlace
  install_win='C:\NewPlace'
  run_setup "$setup" /S '/D=C:\NewPlace'
  rc=$?
  wait_for_prefix
  [ $rc = 0 ] && pass "upgrade into another folder: exit code 0" \
    || fail "upgrade into another folder: setup exits with $rc"
  [ -e "$drive_c/OldPlace" ] && fail "upgrade into another folder: C:\OldPlace is still there" \
    || pass "upgrade into another folder: the earlier folder is gone"
  got=$(reg_value 64 "$uninstall_key" InstallLocation)
  [ "$got" = "$install_win" ] && pass "upgrade into another folder: InstallLocation $got" \
    || fail "upgrade into another folder: InstallLocation is '$got', want $install_win"
  check_installed_files "upgrade into another folder"
  check_registered_once "upgrade into another folder"
  check_one_uninstall_entry "upgrade into another folder"
  wine_log uninstall.log $wine32 "$install_dir/uninstall.exe" /S
  wait_until_gone "$install_dir"
  wait_for_prefix
  check_nothing_registered "after the upgrades"
  [ -e "$install_dir" ] && fail "after the upgrades: $install_win is still there"
fi

echo "note: silent install $(printf '%d.%03d' $((install_ms / 1000)) $((install_ms % 1000))) s," \
  "silent uninstall $(printf '%d.%03d' $((uninstall_ms / 1000)) $((uninstall_ms % 1000))) s" \
  "(from starting the program to its exit, and to its folder being gone)"
if [ $failures -gt 0 ]; then
  echo "installer test: $failures checks failed (logs in $logs)"
  exit 1
fi
echo "installer test: every check passed"
