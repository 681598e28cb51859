#!/bin/bash
# Installs everything the build, the tests and the demo need from Debian's
# packages: the mingw-w64 cross compilers, 32-bit and 64-bit Wine, Xvfb,
# CMake, the GoogleTest sources, zip, NSIS (makensis builds the Windows
# setup program), for the screenshots xwd (x11-apps) with netpbm's
# converters (the installer test reads pixels with them too), chattr
# (e2fsprogs: the installer test makes a folder read-only for root), and a
# Japanese font (IPA Gothic) so that Wine can draw the settings page's
# labels, and an Xorg with the dummy driver and xrandr for the test of
# two monitors (Xvfb gives Wine only one).
# Idempotent and quiet when all is there.
#
# The 32-bit Wine needs the i386 half of many libraries, and a library
# that is Multi-Arch: same must have one version on both architectures.
# A mirror whose i386 index lags behind the amd64 one (a sync in
# progress) offers no such pair at the newest versions, and apt refuses
# ("held broken packages"). Then a version that both architectures offer
# is installed on both: of those apt would install, the ones of the
# highest priority, the newest of them (tools/apt-version-pairs.sh chooses
# it). Where some library has no common version, the 32-bit Wine is left
# out and the x86 tests report "skipped" with that reason (written to the
# build folder's setup-x86-reason.txt), as on a kernel that cannot run
# 32-bit programs.
#
# A failure of apt-get that may pass (a download cut off, a mirror being
# synchronised, the dpkg lock held by another package manager) is tried
# again after a pause. Any other failure, and a refusal that the pairing
# does not resolve though every library has a pair, fails the set-up with
# apt's messages: only a library without a common version is the
# mirror's doing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${QM_BUILD_DIR:-$here/../build}
reason_file=$build/setup-x86-reason.txt

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth cmake googletest zip x11-apps netpbm
  fonts-ipafont-gothic nsis e2fsprogs python3
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
)
# Wine's 32-bit half is of use only where the kernel can execute 32-bit
# programs. Where it cannot, the x86 programs are built but their tests
# and the setup program's test report "skipped", and the i386 packages
# are left out.
i386_runs=1
if ! "$here/can-run-x86.sh" --kernel; then
  i386_runs=0
  echo "setup: this machine cannot execute 32-bit programs: the x86 tests will be built and reported as skipped" >&2
fi

# without NAME...: the package list without those names.
without() {
  local p n keep
  for p in "${packages[@]}"; do
    keep=1
    for n in "$@"; do [ "$p" = "$n" ] && keep=0; done
    [ $keep = 1 ] && echo "$p"
  done
}
if [ $i386_runs = 0 ]; then
  mapfile -t packages < <(without wine32:i386)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
echo "setup: installing ${missing[*]}" >&2
if [ $i386_runs = 1 ] && ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  $sudo dpkg --add-architecture i386
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt's messages are read below, so apt runs in the C locale: otherwise
# they are in the user's language ("Depends:" and "Installed:" among
# them). apt-get gets its variables through env, past sudo's reset of the
# environment.
# apt_cache ARGS...: apt-cache ARGS.
apt_cache() {
  LC_ALL=C apt-cache "$@"
}
# Another package manager (unattended-upgrades, say) may hold the dpkg lock
# for minutes: apt-get waits for it up to lock_wait seconds.
lock_wait=600
# apt_get ARGS...: one run of apt-get ARGS as root, its messages in $log.
apt_get() {
  $sudo env LC_ALL=C DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=$lock_wait "$@" >"$log" 2>&1
}
# passing: whether the messages in $log tell of a failure that may pass: a
# download cut off or refused (the network, a mirror being synchronised),
# or a lock still held after the wait. Such a failure is tried again after
# a pause, up to attempts times in all.
attempts=3
pause=20
passing() {
  grep -E '^[EW]: .*(Failed to fetch|Temporary failure resolving|Could not resolve|Could not connect|Connection timed out|Connection failed|Hash Sum mismatch|File has unexpected size|Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock directory)' \
    "$log" >/dev/null
}

# A mirror that is being synchronised serves index files that do not match
# their release file for a while; apt-get update then reports errors (with
# a failing status or not) and keeps the older index. A download that the
# network cuts off it reports as a warning only. Either may pass, so the
# update is tried again; after the last attempt the install works with the
# indexes there are.
for ((attempt = 1; ; attempt++)); do
  if apt_get update -qq && ! grep '^E:' "$log" >/dev/null && ! passing; then
    break
  fi
  if [ $attempt -ge $attempts ]; then
    echo "setup: apt-get update still reports errors after $attempts attempts; the install goes on with the package indexes there are:" >&2
    grep -E '^[EW]:' "$log" >&2 || true
    break
  fi
  echo "setup: apt-get update reported errors (attempt $attempt of $attempts); trying again in ${pause}s" >&2
  sleep $pause
done

# install ARGS...: apt-get install, tried again while it fails for a reason
# that may pass; its last messages in $log.
install() {
  local attempt
  for ((attempt = 1; ; attempt++)); do
    apt_get install -y -q "$@" && return 0
    passing && [ $attempt -lt $attempts ] || return 1
    echo "setup: apt-get install failed ($(grep -m1 -E '^[EW]: ' "$log" | cut -c4-)); trying again in ${pause}s (attempt $attempt of $attempts)" >&2
    sleep $pause
  done
}
# fail: the set-up fails with apt's messages.
fail() {
  cat "$log" >&2
  echo "setup: apt-get failed: see its messages above" >&2
  exit 1
}
# refused: whether apt refused the install for dependencies it cannot
# meet, as it does when a mirror's architectures are out of step.
refused() {
  grep -E '^The following packages have unmet dependencies:|^E: Unable to correct problems' "$log" >/dev/null
}

if install "${missing[@]}"; then
  rm -f "$reason_file"
  exit 0
fi

# The install failed. A failure that may pass has not passed, and one
# that is not a refusal for unmet dependencies is not the mirror's doing:
# the set-up fails. Where apt refused and i386 packages are among the
# missing, the likely cause is a mirror whose architectures are out of
# step: pair the versions of the Multi-Arch: same libraries the i386
# packages need.
refused || fail
i386_missing=()
for p in "${missing[@]}"; do
  case "$p" in *:i386) i386_missing+=("$p") ;; esac
done
[ ${#i386_missing[@]} -gt 0 ] || fail

# pairs_for NAME...: "pin P V" and "none P" lines for the Multi-Arch: same
# packages among those i386 names whose versions differ.
pairs_for() {
  local same
  same=$(apt_cache show --no-all-versions "$@" 2>/dev/null |
           awk '/^Package:/ { p = $2 } /^Multi-Arch: same/ { print p }' | sort -u)
  [ -n "$same" ] || return 0
  local names=() p
  for p in $same; do names+=("$p" "$p:i386"); done
  apt_cache policy "${names[@]}" 2>/dev/null | "$here/apt-policy-versions.sh" | "$here/apt-version-pairs.sh"
}
# siblings P V: installed amd64 packages built from P's source at another
# version that the archives offer at V (P's -dev package, say, which
# depends on P at exactly its own version): they move to V with P, rather
# than being removed.
siblings() {
  local source
  source=$(dpkg-query -W -f='${source:Package}' "$1" 2>/dev/null || true)
  [ -n "$source" ] || return 0
  dpkg-query -W -f='${binary:Package} ${source:Package} ${Version}\n' 2>/dev/null |
    while read -r q qsource qversion; do
      q=${q%:amd64}
      [ "$qsource" = "$source" ] && [ "$q" != "$1" ] && [ "$q" = "${q%:i386}" ] && [ "$qversion" != "$2" ] || continue
      apt_cache madison "$q" 2>/dev/null | grep -F "| $2 |" >/dev/null && echo "$q=$2"
    done
}

# Each round pairs the i386 libraries that apt names in its refusal (the
# ones it could not install, and what they depend on), then tries again;
# asking about those alone is much faster than about every dependency.
pins=()
chosen=()
unpaired=()
paired=" "
for round in 1 2 3 4 5 6 7 8; do
  asked=()
  while read -r name; do
    case "$paired" in *" ${name%:i386} "*) ;; *) asked+=("$name") ;; esac
  done < <(grep 'Depends:' "$log" | grep -o '[a-z0-9][a-z0-9+.-]*:i386' | sort -u)
  [ ${#asked[@]} -gt 0 ] || break
  added=0
  while read -r kind package version; do
    case "$kind" in
      pin)
        pins+=("$package=$version" "$package:i386=$version")
        chosen+=("$package=$version")
        mapfile -t -O "${#pins[@]}" pins < <(siblings "$package" "$version")
        added=1 ;;
      none) unpaired+=("$package") ;;
    esac
  done < <(pairs_for "${asked[@]}")
  for name in "${asked[@]}"; do paired+="${name%:i386} "; done
  [ ${#unpaired[@]} -eq 0 ] || break
  [ $added = 1 ] || continue
  if install --allow-downgrades --no-remove "${missing[@]}" "${pins[@]}"; then
    echo "setup: the mirror's amd64 and i386 versions of ${#chosen[@]} libraries differ (its i386 index lags behind), so both got the version of the highest priority that both offer, the newest of those: ${chosen[*]}" >&2
    rm -f "$reason_file"
    exit 0
  fi
  refused || fail
done

# Only a library that the mirror offers in no version on both
# architectures is the mirror's doing: then everything but the 32-bit Wine
# is installed, and the reason written down. Where every library was
# paired and apt still refuses, the set-up fails with its messages.
[ ${#unpaired[@]} -gt 0 ] || fail
reason="the package mirror offers no version of ${unpaired[*]} on both amd64 and i386 (its i386 index lags behind)"
mkdir -p "$build"
echo "$reason" >"$reason_file"
echo "setup: leaving out the 32-bit Wine: $reason; the x86 tests will be built and reported as skipped" >&2
mapfile -t rest < <(for p in "${missing[@]}"; do case "$p" in *:i386) ;; *) echo "$p" ;; esac; done)
if [ ${#rest[@]} -gt 0 ] && ! install "${rest[@]}"; then
  fail
fi
exit 0
