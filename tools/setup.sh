#!/bin/bash
# Installs everything the build, the tests and the demo need from Debian's
# packages: the mingw-w64 cross compilers, 32-bit and 64-bit Wine, Xvfb,
# CMake, the GoogleTest sources, zip, NSIS (makensis builds the Windows
# setup program), for the screenshots xwd (x11-apps) with netpbm's
# converters (the installer test reads pixels with them too), chattr
# (e2fsprogs: the installer test makes a folder read-only for root), and a
# Japanese font (IPA Gothic) so that Wine can draw the settings page's
# labels.
# Idempotent and quiet when all is there.
#
# The 32-bit Wine needs the i386 half of many libraries, and a library
# that is Multi-Arch: same must have one version on both architectures.
# A mirror whose i386 index lags behind the amd64 one (a sync in
# progress) offers no such pair at the newest versions, and apt refuses
# ("held broken packages"). Then the newest version that both
# architectures offer is installed on both (tools/apt-version-pairs.sh
# chooses it). Where some library has no common version, the 32-bit Wine
# is left out and the x86 tests report "skipped" with that reason
# (written to the build folder's setup-x86-reason.txt), as on a kernel
# that cannot run 32-bit programs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${QM_BUILD_DIR:-$here/../build}
reason_file=$build/setup-x86-reason.txt

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth cmake googletest zip x11-apps netpbm
  fonts-ipafont-gothic nsis e2fsprogs python3
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
export DEBIAN_FRONTEND=noninteractive
# A mirror that is being synchronised serves index files that do not match
# their release file for a while; apt-get then reports errors (and may still
# exit with 0) and keeps the older index. Trying again helps only when the
# sync ends meanwhile, so it is tried once more; after that the install
# works with what the indexes offer.
for attempt in 1 2; do
  if ! $sudo apt-get update -qq 2>&1 | grep '^E:' >/dev/null; then
    break
  fi
  echo "setup: apt-get update reported errors (attempt $attempt of 2)" >&2
  [ $attempt -lt 2 ] && sleep 15
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# install ARGS...: apt-get install, its messages in $log.
install() {
  $sudo apt-get install -y -q "$@" >"$log" 2>&1
}

if install "${missing[@]}"; then
  rm -f "$reason_file"
  exit 0
fi

# The install was refused. Where i386 packages are among the missing, the
# likely cause is a mirror whose architectures are out of step: pair the
# versions of the Multi-Arch: same libraries the i386 packages need.
i386_missing=()
for p in "${missing[@]}"; do
  case "$p" in *:i386) i386_missing+=("$p") ;; esac
done
if [ ${#i386_missing[@]} -eq 0 ]; then
  cat "$log" >&2
  exit 1
fi

# pairs_for NAME...: "pin P V" and "none P" lines for the Multi-Arch: same
# packages among those i386 names whose versions differ.
pairs_for() {
  local same
  same=$(apt-cache show --no-all-versions "$@" 2>/dev/null |
           awk '/^Package:/ { p = $2 } /^Multi-Arch: same/ { print p }' | sort -u)
  [ -n "$same" ] || return 0
  local names=() p
  for p in $same; do names+=("$p" "$p:i386"); done
  apt-cache policy "${names[@]}" 2>/dev/null | "$here/apt-policy-versions.sh" | "$here/apt-version-pairs.sh"
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
      apt-cache madison "$q" 2>/dev/null | grep -F "| $2 |" >/dev/null && echo "$q=$2"
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
    echo "setup: the mirror's amd64 and i386 versions of ${#chosen[@]} libraries differ (its i386 index lags behind), so both got the newest version both offer: ${chosen[*]}" >&2
    rm -f "$reason_file"
    exit 0
  fi
done

# No pairing worked: everything but the 32-bit Wine, and the reason.
if [ ${#unpaired[@]} -gt 0 ]; then
  reason="the package mirror offers no version of ${unpaired[*]} on both amd64 and i386 (its i386 index lags behind)"
else
  reason="apt could not install it from this mirror: $(grep -m1 '^E:' "$log" || echo 'unmet dependencies')"
fi
mkdir -p "$build"
echo "$reason" >"$reason_file"
echo "setup: leaving out the 32-bit Wine: $reason; the x86 tests will be built and reported as skipped" >&2
mapfile -t rest < <(for p in "${missing[@]}"; do case "$p" in *:i386) ;; *) echo "$p" ;; esac; done)
if [ ${#rest[@]} -gt 0 ] && ! install "${rest[@]}"; then
  cat "$log" >&2
  exit 1
fi
exit 0
